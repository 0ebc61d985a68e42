-- The line database: every finished board of every station, once, with the
-- images written to it. The columns are those of each station's local ledger
-- (SQLite), with PostgreSQL's own types: times as timestamptz, file paths as
-- bytea since a path may hold any bytes, and the board's uuid unique, so a
-- board sent twice (a cut send, two processes at once) is stored once.
-- Version 1, the first of the steps (linedb/line_schema.h): the stations
-- create these tables when they are missing; each later version is a file
-- of its own (schema_v2.sql, ...) run after this one.
CREATE TABLE IF NOT EXISTS tamsolt_schema_version (
  version     integer NOT NULL,
  applied_utc timestamptz NOT NULL DEFAULT now()
);

CREATE TABLE IF NOT EXISTS boards (
  id              bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  uuid            uuid NOT NULL UNIQUE,
  started_utc     timestamptz NOT NULL,
  finished_utc    timestamptz NOT NULL,
  seconds         double precision,
  station         text NOT NULL,
  slot            text NOT NULL,
  device          text NOT NULL,
  program         text NOT NULL,
  version         text NOT NULL,
  operator        text NOT NULL,
  settings_path   bytea NOT NULL,
  settings_sha256 text NOT NULL,
  outcome_code    integer,
  outcome         text,
  message         text NOT NULL DEFAULT '',
  received_utc    timestamptz NOT NULL DEFAULT now()  -- when the line database got it
);
CREATE INDEX IF NOT EXISTS boards_station_started ON boards (station, started_utc);

CREATE TABLE IF NOT EXISTS images (
  id           bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  board_id     bigint NOT NULL REFERENCES boards (id),
  kind         text NOT NULL,
  path         bytea NOT NULL,
  bytes        bigint NOT NULL,
  sha256       text NOT NULL,
  pinned       boolean NOT NULL,
  started_utc  timestamptz,
  finished_utc timestamptz,
  result       text NOT NULL
);
CREATE INDEX IF NOT EXISTS images_board ON images (board_id);

INSERT INTO tamsolt_schema_version (version)
  SELECT 1 WHERE NOT EXISTS (SELECT 1 FROM tamsolt_schema_version);
