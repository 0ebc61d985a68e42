// The recipe tables: images stored once and moved in pieces, versions
// numbered and activated by the owner, nothing but reading for the stations.
#include <gtest/gtest.h>

#include <sstream>

#include "engine/image_files.h"
#include "recipe_test_files.h"
#include "record/transfer_context.h"

namespace {

std::string Fetched(PgConnection& db, const std::string& sha256, std::string& error) {
  std::string bytes;
  const bool ok = FetchImage(db, sha256, [&](const char* data, std::size_t size) {
    bytes.append(data, size);
    return true;
  }, error);
  return ok ? bytes : "(failed)";
}

std::string Slurp(const std::string& path) {
  std::stringstream bytes;
  bytes << std::ifstream(path, std::ios::binary).rdbuf();
  return bytes.str();
}

}  // namespace

// The largest file any row accepts goes up and comes back byte for byte, in
// pieces, and is stored once however often it is published.
TEST(RecipeStore, TheLargestImageARowAcceptsRoundTripsInPieces) {
  std::uint32_t largest = 0;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    largest = std::max(largest, MaxFileSize(kind, DownloadMode::kBatch));
  }
  TestFolder folder;
  const std::string path = folder.File("font.bin", largest, 1);
  PgConnection db(FreshLineDatabase());
  std::string why;
  ASSERT_TRUE(EnsureRecipeTables(db, why)) << why;
  std::string error;
  const std::optional<StoredImage> first = StoreImageFile(db, path, error);
  ASSERT_TRUE(first) << error;
  EXPECT_TRUE(first->uploaded);
  EXPECT_EQ(first->bytes, largest);
  const std::optional<StoredImage> again = StoreImageFile(db, path, error);
  ASSERT_TRUE(again) << error;
  EXPECT_FALSE(again->uploaded);
  PgResult pieces = db.Exec("SELECT count(*), max(length(data)) FROM recipe_image_pieces");
  ASSERT_TRUE(pieces);
  EXPECT_EQ(std::string(PQgetvalue(pieces.get(), 0, 0)),
            std::to_string((largest + kRecipePieceBytes - 1) / kRecipePieceBytes));
  EXPECT_EQ(std::string(PQgetvalue(pieces.get(), 0, 1)), std::to_string(kRecipePieceBytes));
  EXPECT_TRUE(Fetched(db, first->sha256, error) == Slurp(path)) << error;
  // A piece lost (past the tables' own refusal): the fetch fails rather than deliver a short image.
  ASSERT_TRUE(db.Exec("SET session_replication_role = replica"));
  ASSERT_TRUE(db.Exec("DELETE FROM recipe_image_pieces WHERE piece = 1"));
  EXPECT_EQ(Fetched(db, first->sha256, error), "(failed)");
  EXPECT_NE(error.find("piece 1 is missing"), std::string::npos) << error;
}

TEST(RecipeStore, VersionsAreNumberedActivatedAndListed) {
  TestFolder folder;
  PgConnection db(FreshLineDatabase());
  std::array<std::string, 9> files;
  files[kKindRcdb] = folder.File("a.rdb", 1060, 2);
  EXPECT_EQ(PublishFiles(db, "line3", files), 1);
  files[kKindFont] = folder.File("b.font", 4096, 3);
  EXPECT_EQ(PublishFiles(db, "line3", files), 2);
  EXPECT_EQ(PublishFiles(db, "line4", files), 1);
  std::string error;
  ASSERT_TRUE(ActivateVersion(db, "line3", 1, "tester", error)) << error;
  EXPECT_FALSE(ActivateVersion(db, "line3", 3, "tester", error));
  EXPECT_EQ(error, "there is no line3 version 3");
  const std::optional<RecipeVersion> active = ActiveRecipe(db, "line3", error);
  ASSERT_TRUE(active) << error;
  EXPECT_EQ(active->version, 1);
  EXPECT_TRUE(active->rows[kKindRcdb].enabled);
  EXPECT_FALSE(active->rows[kKindFont].enabled);
  EXPECT_EQ(active->rows[kKindRcdb].sha256, Sha256OfFile(files[kKindRcdb]));
  EXPECT_FALSE(ActiveRecipe(db, "line9", error));
  EXPECT_EQ(error, "");  // no such recipe is no error
  const std::optional<std::vector<RecipeVersion>> all = ListRecipes(db, error);
  ASSERT_TRUE(all) << error;
  std::string listed;
  for (const RecipeVersion& recipe : *all) {
    listed += recipe.name + "/" + std::to_string(recipe.version) + (recipe.active ? "*" : "") + "/" +
              recipe.rows[kKindFont].fileName + " ";
  }
  EXPECT_EQ(listed, "line3/1*/ line3/2/b.font line4/1*/b.font ");
}

// The stations' role, with linedb/station_role.sql's grants, reads a version
// and its images and can neither publish nor activate one.
TEST(RecipeStore, TheStationsRoleOnlyReads) {
  const std::string url = FreshLineDatabase();
  PgConnection owner(url);
  std::stringstream schema, rights;
  schema << std::ifstream(TAMSOLT_SOURCE_DIR "/linedb/schema.sql").rdbuf();
  rights << std::ifstream(TAMSOLT_SOURCE_DIR "/linedb/station_role.sql").rdbuf();
  ASSERT_TRUE(owner.ExecScript(
      "DO $$ BEGIN CREATE ROLE tamsolt_station LOGIN; EXCEPTION WHEN duplicate_object THEN END $$"))
      << owner.Error();
  ASSERT_TRUE(owner.ExecScript(schema.str().c_str())) << owner.Error();
  ASSERT_TRUE(owner.ExecScript(rights.str().c_str())) << owner.Error();
  {
    // Tables of version 1: the station may not bring them up, and is told who does.
    PgConnection early(url.substr(0, url.find(" user=")) + " user=tamsolt_station");
    std::string why;
    EXPECT_FALSE(EnsureRecipeTables(early, why));
    EXPECT_NE(why.find("-f linedb/schema_v3.sql"), std::string::npos) << why;
  }
  TestFolder folder;
  std::array<std::string, 9> files;
  files[kKindRcdb] = folder.File("a.rdb", 1060, 4);
  // The owner's publish brings the tables up, and the stations may read them at once.
  ASSERT_EQ(PublishFiles(owner, "line3", files), 1);
  // The recipes' step added the boards' columns to the forwarding's table.
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM information_schema.columns WHERE table_name = 'boards'"
                           " AND column_name IN ('recipe', 'recipe_version')"),
            std::vector<std::string>{"2"});

  PgConnection station(url.substr(0, url.find(" user=")) + " user=tamsolt_station");
  std::string error;
  const std::optional<RecipeVersion> active = ActiveRecipe(station, "line3", error);
  ASSERT_TRUE(active) << error;
  EXPECT_EQ(Fetched(station, active->rows[kKindRcdb].sha256, error), Slurp(files[kKindRcdb])) << error;
  EXPECT_TRUE(EnsureRecipeTables(station, error)) << error;  // there: nothing to do
  RecipeVersion next = *active;
  next.name = "line3";
  EXPECT_FALSE(PublishVersion(station, next, "station", error));
  EXPECT_NE(error.find("permission denied"), std::string::npos) << error;
  EXPECT_FALSE(ActivateVersion(station, "line3", 1, "station", error));
  EXPECT_NE(error.find("permission denied"), std::string::npos) << error;
  EXPECT_FALSE(StoreImageFile(station, folder.File("b.rdb", 100, 5), error));
  EXPECT_NE(error.find("permission denied"), std::string::npos) << error;
  EXPECT_EQ(QueryRows(url, "SELECT count(*) FROM recipes"), std::vector<std::string>{"1"});
}
