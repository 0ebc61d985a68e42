-- Version 2: boards.log_lost, true for a board written whose log file lost
-- lines (--log-file on a full disk): the board itself was written, so its
-- outcome stays done. Run by the tables' owner (ALTER TABLE); stations of
-- version 1 go on inserting without it.
ALTER TABLE boards ADD COLUMN IF NOT EXISTS log_lost boolean NOT NULL DEFAULT false;

INSERT INTO tamsolt_schema_version (version)
  SELECT 2 WHERE NOT EXISTS (SELECT 1 FROM tamsolt_schema_version WHERE version >= 2);
