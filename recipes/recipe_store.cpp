#include "recipes/recipe_store.h"

#include "linedb/line_schema.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <vector>

#include "engine/sha256.h"
#include "record/transfer_context.h"

namespace {

// Taken for a publication's transaction, so that two publishers number
// their versions one after the other. A table lock, not an advisory one: a
// role that may only read the recipes (the stations') cannot take it, so no
// station can hold publishing up; readers are never held by it.
constexpr const char* kPublishLock = "LOCK TABLE recipes IN SHARE ROW EXCLUSIVE MODE";
constexpr const char* kTimeText = "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'";

std::optional<std::uint8_t> KindOfItem(const std::string& item) {
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    if (item == KindName(kind)) return kind;
  }
  return std::nullopt;
}

std::string Value(const PgResult& result, int row, int column) {
  return PQgetvalue(result.get(), row, column);
}

PgValue Number(long long value) { return PgValue::Text(std::to_string(value)); }

// Columns item, enabled, file_name, sha256, bytes from column first on.
void ReadRow(const PgResult& result, int row, int first, RecipeVersion& recipe) {
  const std::optional<std::uint8_t> kind = KindOfItem(Value(result, row, first));
  if (!kind) return;  // the table's CHECK keeps other items out
  RecipeRow& out = recipe.rows[*kind];
  out.enabled = Value(result, row, first + 1) == "t";
  out.fileName = Value(result, row, first + 2);
  out.sha256 = Value(result, row, first + 3);
  out.bytes = std::strtoull(Value(result, row, first + 4).c_str(), nullptr, 10);
}

bool Failed(PgConnection& db, const std::string& what, std::string& error) {
  error = what + ": " + db.Error();
  db.Rollback();
  return false;
}

}  // namespace

bool EnsureRecipeTables(PgConnection& db, std::string& error) {
  const std::optional<LineSchema> schema = EnsureLineSchema(db);
  if (!schema) {
    error = db.Error();
    return false;
  }
  if (schema->version >= kRecipeSchemaVersion) return true;
  error = "the recipe tables are not there: " + schema->behind;
  return false;
}

std::optional<StoredImage> StoreImageFile(PgConnection& db, const std::string& path, std::string& error) {
  StoredImage image;
  image.sha256 = Sha256OfFile(path);
  std::ifstream file(path, std::ios::binary);
  if (image.sha256.empty() || !file) {
    error = "cannot read \"" + path + "\"";
    return std::nullopt;
  }
  file.seekg(0, std::ios::end);
  image.bytes = static_cast<std::uint64_t>(file.tellg());
  file.seekg(0);
  PgResult there = db.Exec("SELECT 1 FROM recipe_images WHERE sha256 = $1", {PgValue::Text(image.sha256)});
  if (!there) {
    error = "the line database's images: " + db.Error();
    return std::nullopt;
  }
  if (PQntuples(there.get()) > 0) return image;
  const long long pieces = static_cast<long long>((image.bytes + kRecipePieceBytes - 1) / kRecipePieceBytes);
  if (!db.Exec("BEGIN") ||
      !db.Exec("INSERT INTO recipe_images (sha256, bytes, pieces) VALUES ($1, $2, $3)",
               {PgValue::Text(image.sha256), Number(static_cast<long long>(image.bytes)), Number(pieces)})) {
    // Another publisher stored the same image first: it is there.
    if (db.LastState() == "23505") {
      db.Rollback();
      return image;
    }
    Failed(db, "storing the image of \"" + path + "\"", error);
    return std::nullopt;
  }
  // The bytes sent are hashed again: a file changed since its digest was taken is not stored under it.
  Sha256 sent;
  std::string piece(kRecipePieceBytes, '\0');
  for (long long at = 0; at < pieces; ++at) {
    file.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::string bytes = piece.substr(0, static_cast<std::size_t>(file.gcount()));
    sent.Update(bytes);
    if (!db.Exec("INSERT INTO recipe_image_pieces (sha256, piece, data) VALUES ($1, $2, $3)",
                 {PgValue::Text(image.sha256), Number(at), PgValue::Bytes(bytes)})) {
      Failed(db, "storing the image of \"" + path + "\"", error);
      return std::nullopt;
    }
  }
  if (HexDigest(sent.Finish()) != image.sha256) {
    error = "\"" + path + "\" changed while it was being stored";
    db.Rollback();
    return std::nullopt;
  }
  if (!db.Exec("COMMIT")) {
    Failed(db, "storing the image of \"" + path + "\"", error);
    return std::nullopt;
  }
  image.uploaded = true;
  return image;
}

std::optional<int> PublishVersion(PgConnection& db, const RecipeVersion& recipe, const std::string& by,
                                  std::string& error) {
  const PgValue name = PgValue::Text(recipe.name);
  if (!db.Exec("BEGIN") || !db.Exec(kPublishLock)) {
    Failed(db, "publishing " + recipe.name, error);
    return std::nullopt;
  }
  PgResult next = db.Exec("SELECT coalesce(max(version), 0) + 1 FROM recipes WHERE name = $1", {name});
  if (!next) {
    Failed(db, "publishing " + recipe.name, error);
    return std::nullopt;
  }
  const int version = std::atoi(PQgetvalue(next.get(), 0, 0));
  if (!db.Exec("INSERT INTO recipes (name, version, created_by, note) VALUES ($1, $2, $3, $4)",
               {name, Number(version), PgValue::Text(by), PgValue::Text(recipe.note)})) {
    Failed(db, "publishing " + recipe.name, error);
    return std::nullopt;
  }
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const RecipeRow& row = recipe.rows[kind];
    const bool on = row.enabled;
    if (!db.Exec("INSERT INTO recipe_rows (name, version, item, enabled, file_name, sha256, bytes)"
                 " VALUES ($1, $2, $3, $4, $5, $6, $7)",
                 {name, Number(version), PgValue::Text(KindName(kind)), PgValue::Text(on ? "true" : "false"),
                  on ? PgValue::Text(row.fileName) : PgValue::Null(),
                  on ? PgValue::Text(row.sha256) : PgValue::Null(),
                  on ? Number(static_cast<long long>(row.bytes)) : PgValue::Null()})) {
      Failed(db, "publishing " + recipe.name, error);
      return std::nullopt;
    }
  }
  if (!ActivateVersion(db, recipe.name, version, by, error)) return std::nullopt;
  if (!db.Exec("COMMIT")) {
    Failed(db, "publishing " + recipe.name, error);
    return std::nullopt;
  }
  return version;
}

bool ActivateVersion(PgConnection& db, const std::string& name, int version, const std::string& by,
                     std::string& error) {
  PgResult done = db.Exec(
      "INSERT INTO recipe_active (name, version, activated_by)"
      " SELECT name, version, $3 FROM recipes WHERE name = $1 AND version = $2"
      " ON CONFLICT (name) DO UPDATE SET version = EXCLUDED.version, activated_utc = now(),"
      " activated_by = EXCLUDED.activated_by, activated_role = session_user",
      {PgValue::Text(name), Number(version), PgValue::Text(by)});
  if (!done) return Failed(db, "activating " + RecipeLabel(name, version), error);
  if (std::string(PQcmdTuples(done.get())) != "1") {
    error = "there is no " + RecipeLabel(name, version);
    db.Rollback();
    return false;
  }
  return true;
}

std::optional<std::vector<RecipeVersion>> ListRecipes(PgConnection& db, std::string& error) {
  const std::string sql =
      std::string("SELECT r.name, r.version, to_char(r.created_utc AT TIME ZONE 'UTC', ") + kTimeText +
      "), r.created_by, r.note, a.version IS NOT NULL,"
      " coalesce(to_char(a.activated_utc AT TIME ZONE 'UTC', " + kTimeText + "), ''),"
      " coalesce(a.activated_by, ''), w.item, w.enabled, coalesce(w.file_name, ''),"
      " coalesce(w.sha256, ''), coalesce(w.bytes, 0)"
      " FROM recipes r JOIN recipe_rows w ON w.name = r.name AND w.version = r.version"
      " LEFT JOIN recipe_active a ON a.name = r.name AND a.version = r.version"
      " ORDER BY r.name, r.version";
  PgResult result = db.Exec(sql.c_str());
  if (!result) {
    error = "the line database's recipes: " + db.Error();
    return std::nullopt;
  }
  std::vector<RecipeVersion> recipes;
  for (int row = 0; row < PQntuples(result.get()); ++row) {
    const std::string name = Value(result, row, 0);
    const int version = std::atoi(Value(result, row, 1).c_str());
    if (recipes.empty() || recipes.back().name != name || recipes.back().version != version) {
      RecipeVersion recipe;
      recipe.name = name;
      recipe.version = version;
      recipe.createdUtc = Value(result, row, 2);
      recipe.createdBy = Value(result, row, 3);
      recipe.note = Value(result, row, 4);
      recipe.active = Value(result, row, 5) == "t";
      recipe.activatedUtc = Value(result, row, 6);
      recipe.activatedBy = Value(result, row, 7);
      recipes.push_back(std::move(recipe));
    }
    ReadRow(result, row, 8, recipes.back());
  }
  return recipes;
}

std::optional<RecipeVersion> ActiveRecipe(PgConnection& db, const std::string& name, std::string& error) {
  error.clear();
  PgResult result = db.Exec(
      "SELECT a.version, w.item, w.enabled, coalesce(w.file_name, ''), coalesce(w.sha256, ''),"
      " coalesce(w.bytes, 0) FROM recipe_active a JOIN recipe_rows w USING (name, version)"
      " WHERE a.name = $1",
      {PgValue::Text(name)});
  if (!result) {
    error = "the line database's recipe " + name + ": " + db.Error();
    return std::nullopt;
  }
  if (PQntuples(result.get()) == 0) return std::nullopt;
  RecipeVersion recipe;
  recipe.name = name;
  recipe.version = std::atoi(Value(result, 0, 0).c_str());
  recipe.active = true;
  for (int row = 0; row < PQntuples(result.get()); ++row) ReadRow(result, row, 1, recipe);
  return recipe;
}

bool FetchImage(PgConnection& db, const std::string& sha256,
                const std::function<bool(const char* data, std::size_t size)>& sink, std::string& error) {
  const PgValue digest = PgValue::Text(sha256);
  PgResult header = db.Exec("SELECT bytes, pieces FROM recipe_images WHERE sha256 = $1", {digest});
  if (!header || PQntuples(header.get()) == 0) {
    error = "the image " + sha256.substr(0, 12) + " from the line database: " +
            (header ? std::string("not there") : db.Error());
    return false;
  }
  const std::uint64_t bytes = std::strtoull(Value(header, 0, 0).c_str(), nullptr, 10);
  const int pieces = std::atoi(Value(header, 0, 1).c_str());
  std::uint64_t got = 0;
  for (int piece = 0; piece < pieces; ++piece) {
    PgResult part = db.ExecBinary("SELECT data FROM recipe_image_pieces WHERE sha256 = $1 AND piece = $2",
                                  {digest, Number(piece)});
    if (!part || PQntuples(part.get()) != 1) {
      error = "the image " + sha256.substr(0, 12) + " from the line database: " +
              (part ? "piece " + std::to_string(piece) + " is missing" : db.Error());
      return false;
    }
    const std::size_t size = static_cast<std::size_t>(PQgetlength(part.get(), 0, 0));
    got += size;
    if (!sink(PQgetvalue(part.get(), 0, 0), size)) {
      error = "the image " + sha256.substr(0, 12) + ": cannot write it into the cache";
      return false;
    }
  }
  if (got != bytes) {
    error = "the image " + sha256.substr(0, 12) + " from the line database is " + std::to_string(got) +
            " bytes, not " + std::to_string(bytes);
    return false;
  }
  return true;
}
