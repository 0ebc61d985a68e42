-- Version 4: indexes for the line's own questions over every station's
-- boards (docs/ledger.md, "Questions the line database answers"): one day or
-- any span across the line, the failures of a span, and every board that got
-- a given image. Only indexes: a station on version 3 inserts its boards as
-- before. Every statement may run again (IF NOT EXISTS). Applied by the
-- tables' owner.

-- A span of days across all stations (the older index leads with the station).
CREATE INDEX IF NOT EXISTS boards_started ON boards (started_utc);
-- The failures of a span: only the boards not done, by time.
CREATE INDEX IF NOT EXISTS boards_failed_started ON boards (started_utc)
  WHERE outcome_code <> 0;
-- Every board that got a given image, by its digest.
CREATE INDEX IF NOT EXISTS images_sha256 ON images (sha256);

INSERT INTO tamsolt_schema_version (version)
  SELECT 4 WHERE NOT EXISTS (SELECT 1 FROM tamsolt_schema_version WHERE version >= 4);
