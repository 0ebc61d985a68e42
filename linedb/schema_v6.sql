-- Version 6: what each station is doing now, for the line page. A station
-- that forwards keeps one row of its own in line_stations (its heartbeat,
-- program version and the recipe version it writes) and one per slot in
-- line_slots (the slot as its last slot-state said it). A row belongs to the
-- login role that made it, and only that role may change it: give each
-- station a login role of its own in tamsolt_station (linedb/station_role.sql)
-- and no station can speak for another. The stations' role still cannot
-- change a board or a recipe. Every change is notified on the channel
-- tamsolt_line with the station's name, for the page's service. Every
-- statement may run again. Applied by the tables' owner.

CREATE TABLE IF NOT EXISTS line_stations (
  station text PRIMARY KEY,
  owner name NOT NULL DEFAULT session_user,
  program_version text NOT NULL,
  started_utc timestamptz NOT NULL,
  heartbeat_utc timestamptz NOT NULL,
  recipe text,                -- null: the station writes the rows of its settings file
  recipe_version integer,
  recipe_away boolean NOT NULL DEFAULT false,  -- its version comes from the image cache
  stopped boolean NOT NULL DEFAULT false       -- said so as it ended (else only the heartbeat ages)
);

CREATE TABLE IF NOT EXISTS line_slots (
  station text NOT NULL REFERENCES line_stations (station) ON DELETE CASCADE,
  slot text NOT NULL,         -- the hub port
  name text NOT NULL DEFAULT '',  -- the station's [slots] name for it
  owner name NOT NULL DEFAULT session_user,
  state text NOT NULL,        -- empty, writing, done, failed, interrupted
  present boolean NOT NULL DEFAULT false,
  taken boolean NOT NULL DEFAULT false,
  not_taken text NOT NULL DEFAULT '',
  item text NOT NULL DEFAULT '',
  percent integer NOT NULL DEFAULT 0,
  reason text NOT NULL DEFAULT '',
  reason_kind text NOT NULL DEFAULT '',
  check_slot boolean NOT NULL DEFAULT false,
  text text NOT NULL DEFAULT '',  -- as the station's screen shows it
  since_utc timestamptz NOT NULL,
  PRIMARY KEY (station, slot)
);

-- A row is its maker's: the owner it was made with is kept, and only that
-- role sees it to change it. Everyone who may read the table reads all rows.
CREATE OR REPLACE FUNCTION tamsolt_live_owner_kept() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
  NEW.owner := OLD.owner;
  RETURN NEW;
END $$;

DO $$
DECLARE
  live text;
BEGIN
  FOREACH live IN ARRAY ARRAY['line_stations', 'line_slots'] LOOP
    EXECUTE format('ALTER TABLE %I ENABLE ROW LEVEL SECURITY', live);
    EXECUTE format('DROP POLICY IF EXISTS %I ON %I', live || '_read', live);
    EXECUTE format('CREATE POLICY %I ON %I FOR SELECT USING (true)', live || '_read', live);
    EXECUTE format('DROP POLICY IF EXISTS %I ON %I', live || '_own', live);
    EXECUTE format('CREATE POLICY %I ON %I FOR ALL USING (owner = session_user) '
                   'WITH CHECK (owner = session_user)', live || '_own', live);
    EXECUTE format('DROP TRIGGER IF EXISTS %I ON %I', live || '_owner_kept', live);
    EXECUTE format('CREATE TRIGGER %I BEFORE UPDATE ON %I FOR EACH ROW '
                   'EXECUTE FUNCTION tamsolt_live_owner_kept()', live || '_owner_kept', live);
  END LOOP;
END $$;

-- The page's service listens here: the station's name, for a change of its
-- live rows or a board of it. A station writes its slots together with its
-- own row (the heartbeat at least), so that row's notice tells of both.
CREATE OR REPLACE FUNCTION tamsolt_notify_line() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
  PERFORM pg_notify('tamsolt_line', COALESCE(NEW.station, ''));
  RETURN NULL;
END $$;
DROP TRIGGER IF EXISTS line_stations_notify ON line_stations;
CREATE TRIGGER line_stations_notify AFTER INSERT OR UPDATE ON line_stations
  FOR EACH ROW EXECUTE FUNCTION tamsolt_notify_line();
DROP TRIGGER IF EXISTS boards_notify ON boards;
CREATE TRIGGER boards_notify AFTER INSERT ON boards
  FOR EACH ROW EXECUTE FUNCTION tamsolt_notify_line();

-- The stations' role keeps its live rows; the page's role only reads.
DO $$
BEGIN
  IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'tamsolt_station') THEN
    GRANT SELECT, INSERT, UPDATE ON line_stations, line_slots TO tamsolt_station;
    GRANT DELETE ON line_slots TO tamsolt_station;
  END IF;
END $$;

INSERT INTO tamsolt_schema_version (version)
  SELECT 6 WHERE NOT EXISTS (SELECT 1 FROM tamsolt_schema_version WHERE version >= 6);
