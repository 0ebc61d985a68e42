// The recipes in the line database (linedb/schema_v3.sql): images
// stored once by SHA-256 and moved in pieces, versions published and
// activated by the tables' owner, read by the stations. Every statement goes
// through PgConnection, so its waits end at its deadline or stop descriptor.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "linedb/pg_connection.h"
#include "recipes/recipe.h"

// The bytes of one statement of an image's upload or fetch.
inline constexpr std::size_t kRecipePieceBytes = 256 * 1024;

// The line database's version that brings the recipe tables.
inline constexpr int kRecipeSchemaVersion = 3;

// Brings the line database's tables up to date when this role owns them
// (the publishing commands run as the owner), so the recipe tables are
// there; a database that has them is left alone, so a role that may only
// read them learns what it may not do from the statement it tries. False,
// with the reason, when they are not there and this role may not add them.
bool EnsureRecipeTables(PgConnection& db, std::string& error);

// Stores the file's bytes under its SHA-256 unless an image of that digest is
// there; uploaded tells which. The digest is that of the bytes read.
struct StoredImage {
  std::string sha256;
  std::uint64_t bytes = 0;
  bool uploaded = false;
};
std::optional<StoredImage> StoreImageFile(PgConnection& db, const std::string& path, std::string& error);

// Version n+1 of name with these rows, made active, in one transaction;
// rows[i].sha256 must already be stored. The version, or nothing (error).
std::optional<int> PublishVersion(PgConnection& db, const RecipeVersion& recipe, const std::string& by,
                                  std::string& error);

// Makes version of name the active one (it must exist).
bool ActivateVersion(PgConnection& db, const std::string& name, int version, const std::string& by,
                     std::string& error);

// Every version of every name, by name and version, with its rows.
std::optional<std::vector<RecipeVersion>> ListRecipes(PgConnection& db, std::string& error);

// The active version of name with its rows, in one statement. Nothing with
// error empty: the name has no active version.
std::optional<RecipeVersion> ActiveRecipe(PgConnection& db, const std::string& name, std::string& error);

// Fetches the image of that digest piece by piece into sink (each piece
// once, in order); false with error when it is missing, short or cut.
bool FetchImage(PgConnection& db, const std::string& sha256,
                const std::function<bool(const char* data, std::size_t size)>& sink, std::string& error);
