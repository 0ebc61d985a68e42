-- The rights of the role the stations connect as (tamsolt_station): add
-- boards and images, and read only what the inserts need (the schema version,
-- the id of a board just added, the uuid a duplicate is recognised by). It
-- can neither change nor delete a record. Run as the tables' owner, after
-- schema.sql:  CREATE ROLE tamsolt_station LOGIN;  then this file.
GRANT USAGE ON SCHEMA public TO tamsolt_station;
GRANT SELECT ON tamsolt_schema_version TO tamsolt_station;
GRANT SELECT (id, uuid), INSERT ON boards TO tamsolt_station;
GRANT INSERT ON images TO tamsolt_station;
-- Recipes (version 3, linedb/schema_v3.sql, applied before this file): the stations
-- read the versions, their rows and images, and can neither publish nor
-- activate one. Skipped while the tables are missing; run this file again
-- once they are there.
DO $$
BEGIN
  IF to_regclass('recipe_active') IS NOT NULL THEN
    GRANT SELECT ON recipes, recipe_rows, recipe_active, recipe_images, recipe_image_pieces TO tamsolt_station;
  END IF;
END $$;
-- The live rows of the line page (version 6, linedb/schema_v6.sql): each
-- station keeps its own (row-level security by login role). Skipped while
-- the tables are missing.
DO $$
BEGIN
  IF to_regclass('line_slots') IS NOT NULL THEN
    GRANT SELECT, INSERT, UPDATE ON line_stations, line_slots TO tamsolt_station;
    GRANT DELETE ON line_slots TO tamsolt_station;
  END IF;
END $$;
