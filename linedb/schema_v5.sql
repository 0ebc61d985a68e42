-- Version 5: what a recipe promises, held by the tables themselves. A
-- version once published never changes, nor do its rows or the images
-- stored for it (a change is a new version), and a version with no enabled
-- row is never the active one. Only triggers: a station on version 4 inserts
-- its boards as before. Every statement may run again. Applied by the
-- tables' owner.

CREATE OR REPLACE FUNCTION tamsolt_published_never_changes() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
  RAISE EXCEPTION 'a published recipe never changes (%: %): publish a new version instead',
    TG_TABLE_NAME, TG_OP USING ERRCODE = 'integrity_constraint_violation';
END $$;

DO $$
DECLARE
  kept text;
BEGIN
  FOREACH kept IN ARRAY ARRAY['recipes', 'recipe_rows', 'recipe_images', 'recipe_image_pieces'] LOOP
    EXECUTE format('DROP TRIGGER IF EXISTS %I ON %I', kept || '_never_change', kept);
    EXECUTE format('CREATE TRIGGER %I BEFORE UPDATE OR DELETE ON %I FOR EACH ROW '
                   'EXECUTE FUNCTION tamsolt_published_never_changes()', kept || '_never_change', kept);
    EXECUTE format('DROP TRIGGER IF EXISTS %I ON %I', kept || '_never_emptied', kept);
    EXECUTE format('CREATE TRIGGER %I BEFORE TRUNCATE ON %I FOR EACH STATEMENT '
                   'EXECUTE FUNCTION tamsolt_published_never_changes()', kept || '_never_emptied', kept);
  END LOOP;
END $$;

-- The active version writes something: at least one of its rows is enabled.
CREATE OR REPLACE FUNCTION tamsolt_active_has_an_enabled_row() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
  IF NOT EXISTS (SELECT 1 FROM recipe_rows
                 WHERE name = NEW.name AND version = NEW.version AND enabled) THEN
    RAISE EXCEPTION '% version % has no enabled row: it cannot be the active version',
      NEW.name, NEW.version USING ERRCODE = 'check_violation';
  END IF;
  RETURN NEW;
END $$;
DROP TRIGGER IF EXISTS recipe_active_has_an_enabled_row ON recipe_active;
CREATE TRIGGER recipe_active_has_an_enabled_row BEFORE INSERT OR UPDATE ON recipe_active
  FOR EACH ROW EXECUTE FUNCTION tamsolt_active_has_an_enabled_row();

INSERT INTO tamsolt_schema_version (version)
  SELECT 5 WHERE NOT EXISTS (SELECT 1 FROM tamsolt_schema_version WHERE version >= 5);
