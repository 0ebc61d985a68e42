-- The rights of the role the line page's service reads as
-- (tamsolt_line_reader, docs/line.md): it reads the boards and their images,
-- the recipes and the stations' live rows, and can change nothing. The
-- images' stored pieces are not its to read. Run as the tables' owner, after
-- the tables are made:  CREATE ROLE tamsolt_line_reader LOGIN;  then this file.
GRANT USAGE ON SCHEMA public TO tamsolt_line_reader;
GRANT SELECT ON tamsolt_schema_version, boards, images TO tamsolt_line_reader;
DO $$
BEGIN
  IF to_regclass('recipe_active') IS NOT NULL THEN
    GRANT SELECT ON recipes, recipe_rows, recipe_active TO tamsolt_line_reader;
  END IF;
  IF to_regclass('line_slots') IS NOT NULL THEN
    GRANT SELECT ON line_stations, line_slots TO tamsolt_line_reader;
  END IF;
END $$;
