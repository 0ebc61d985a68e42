-- Version 3: recipes, a line's images and enabled rows published once under
-- a name and a version, one version of each name active; and every board
-- names the recipe and version it was written from. Every statement may run
-- again (IF NOT EXISTS). Applied by the tables' owner (the publishing
-- commands do it first); the stations only read the recipe tables
-- (linedb/station_role.sql) and insert boards without the two columns until
-- the owner has applied it.

-- Each image once, by its SHA-256, its bytes in pieces (recipe_image_pieces)
-- so that neither side holds more than a piece per statement. The header row
-- is added in the transaction that adds the pieces: an image present is whole.
CREATE TABLE IF NOT EXISTS recipe_images (
  sha256     text PRIMARY KEY CHECK (sha256 ~ '^[0-9a-f]{64}$'),
  bytes      bigint NOT NULL CHECK (bytes >= 0),
  pieces     integer NOT NULL CHECK (pieces >= 0),
  stored_utc timestamptz NOT NULL DEFAULT now(),
  stored_by  text NOT NULL DEFAULT session_user
);
CREATE TABLE IF NOT EXISTS recipe_image_pieces (
  sha256 text NOT NULL REFERENCES recipe_images (sha256),
  piece  integer NOT NULL CHECK (piece >= 0),
  data   bytea NOT NULL,
  PRIMARY KEY (sha256, piece)
);

-- A version of a name is never changed once published: a change is a new version.
CREATE TABLE IF NOT EXISTS recipes (
  name         text NOT NULL CHECK (name ~ '^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$'),
  version      integer NOT NULL CHECK (version > 0),
  created_utc  timestamptz NOT NULL DEFAULT now(),
  created_by   text NOT NULL,                        -- the publisher's login name
  created_role text NOT NULL DEFAULT session_user,   -- the database role that published it
  note         text NOT NULL DEFAULT '',
  PRIMARY KEY (name, version)
);

-- The nine rows of a version: an enabled row names its file and image.
CREATE TABLE IF NOT EXISTS recipe_rows (
  name      text NOT NULL,
  version   integer NOT NULL,
  item      text NOT NULL CHECK (item IN ('BOOT', 'HOST', 'RCDB', 'FONT', 'LANG', 'FV', 'BMP', 'PIC', 'TDB')),
  enabled   boolean NOT NULL,
  file_name text,                                    -- the file's name when it was published
  sha256    text REFERENCES recipe_images (sha256),
  bytes     bigint,
  PRIMARY KEY (name, version, item),
  FOREIGN KEY (name, version) REFERENCES recipes (name, version),
  CHECK (enabled = (sha256 IS NOT NULL) AND enabled = (bytes IS NOT NULL) AND enabled = (file_name IS NOT NULL))
);

-- Which version of a name the stations write; a rollback is a row changed here.
CREATE TABLE IF NOT EXISTS recipe_active (
  name           text PRIMARY KEY,
  version        integer NOT NULL,
  activated_utc  timestamptz NOT NULL DEFAULT now(),
  activated_by   text NOT NULL,
  activated_role text NOT NULL DEFAULT session_user,
  FOREIGN KEY (name, version) REFERENCES recipes (name, version)
);

-- Every board names the recipe and version it was written from ('' and NULL
-- without one).
ALTER TABLE boards ADD COLUMN IF NOT EXISTS recipe text NOT NULL DEFAULT '';
ALTER TABLE boards ADD COLUMN IF NOT EXISTS recipe_version integer;

INSERT INTO tamsolt_schema_version (version)
  SELECT 3 WHERE NOT EXISTS (SELECT 1 FROM tamsolt_schema_version WHERE version >= 3);

-- The stations read the recipes: a line whose owner brings the tables to
-- this version (by publishing) must not find every station refused.
DO $$
BEGIN
  IF EXISTS (SELECT 1 FROM pg_roles WHERE rolname = 'tamsolt_station') THEN
    GRANT SELECT ON recipes, recipe_rows, recipe_active, recipe_images, recipe_image_pieces TO tamsolt_station;
  END IF;
END $$;
