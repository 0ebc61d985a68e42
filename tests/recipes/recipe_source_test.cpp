// A station's takes: the active version with its images cached and checked,
// or, with the line database away, the last version held whole; never one
// held in part.
#include <gtest/gtest.h>
#include <unistd.h>

#include "recipe_test_files.h"
#include "recipes/recipe_source.h"
#include "record/transfer_context.h"

namespace {

enum class Cache { kEmpty, kWhole, kAltered, kRemoved };

struct TakeCase {
  const char* what;
  Cache cache;          // after a first take with the database there (none: kEmpty)
  bool databaseUp;      // for the take checked
  RecipeTake::End end;
  int fetched;
  const char* reason;   // a part of the reason, "" for none
};

void Alter(const std::string& path) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(10);
  file.put('\x5a');  // the same size, another digest
}

// A fresh line database with line3 version 1: one RCDB row of 1060 bytes.
struct OneRowRecipe {
  explicit OneRowRecipe(unsigned seed) {
    files[kKindRcdb] = folder.File("a.rdb", 1060, seed);
    EXPECT_EQ(PublishFiles(owner, "line3", files), 1);
  }
  TestFolder folder;
  const std::string url = FreshLineDatabase();
  PgConnection owner{url};
  std::array<std::string, 9> files;
};

}  // namespace

TEST(RecipeSource, TakesWithTheDatabaseThereOrAwayAndTheCacheWholeOrNot) {
  const TakeCase cases[] = {
      {"first take", Cache::kEmpty, true, RecipeTake::End::kTaken, 2, ""},
      {"unchanged cache", Cache::kWhole, true, RecipeTake::End::kTaken, 0, ""},
      {"altered image fetched again", Cache::kAltered, true, RecipeTake::End::kTaken, 1, ""},
      {"away, cache whole", Cache::kWhole, false, RecipeTake::End::kAway, 0, "line database"},
      {"away, nothing cached", Cache::kEmpty, false, RecipeTake::End::kRefused, 0,
       "no version of the recipe line3 is held whole"},
      {"away, image altered", Cache::kAltered, false, RecipeTake::End::kRefused, 0,
       "line3 version 1 is held only in part"},
      {"away, image removed", Cache::kRemoved, false, RecipeTake::End::kRefused, 0, "FONT's image"},
  };
  TestFolder folder;
  const std::string url = FreshLineDatabase();
  PgConnection owner(url);
  std::array<std::string, 9> files;
  files[kKindRcdb] = folder.File("a.rdb", 1060, 6);
  files[kKindFont] = folder.File("b.font", 300000, 7);  // two pieces
  ASSERT_EQ(PublishFiles(owner, "line3", files), 1);
  const std::string font = Sha256OfFile(files[kKindFont]);
  for (const TakeCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string cache = folder.Path() + "/cache-" + std::to_string(&c - cases);
    SwitchableServer server;
    server.Up();
    RecipeSource source("line3", server.Through(url), cache, -1);
    if (c.cache != Cache::kEmpty) {
      ASSERT_EQ(source.Take().end, RecipeTake::End::kTaken);
      if (c.cache == Cache::kAltered) Alter(cache + "/" + font);
      if (c.cache == Cache::kRemoved) std::filesystem::remove(cache + "/" + font);
    }
    if (!c.databaseUp) server.Down();
    const RecipeTake take = source.Take();
    EXPECT_EQ(take.end, c.end) << take.reason;
    EXPECT_EQ(take.fetched, c.fetched);
    EXPECT_NE(take.reason.find(c.reason), std::string::npos) << take.reason;
    if (take.recipe) {
      EXPECT_EQ(take.recipe->version, 1);
      EXPECT_EQ(Sha256OfFile(cache + "/" + font), font);
    }
    // The database away is told once, however many boards it lasts.
    EXPECT_EQ(take.awayIsNew, c.end == RecipeTake::End::kAway);
    if (c.end == RecipeTake::End::kAway) {
      EXPECT_FALSE(source.Take().awayIsNew);
    }
  }
}

// A version published between two boards is the next board's. While the
// database is away it is asked again only once its retry period has passed
// (on the take's clock); the first take that reaches it is no longer away.
TEST(RecipeSource, ANewVersionIsTakenAtTheNextTake) {
  OneRowRecipe line(8);
  auto& [folder, url, owner, files] = line;
  SwitchableServer server;
  server.Up();
  RecipeSource::Clock::time_point now{};
  RecipeSource source("line3", server.Through(url), folder.Path() + "/cache", -1, [&] { return now; });
  RecipeTake take = source.Take();
  EXPECT_TRUE(take.switched);
  EXPECT_FALSE(source.Take().switched);
  files[kKindRcdb] = folder.File("c.rdb", 1060, 9);
  ASSERT_EQ(PublishFiles(owner, "line3", files), 2);
  server.Down();
  take = source.Take();
  EXPECT_EQ(take.end, RecipeTake::End::kAway);
  EXPECT_EQ(take.recipe->version, 1);
  server.Up();
  now += kRecipeAwayRetry - std::chrono::seconds(1);
  take = source.Take();
  EXPECT_FALSE(take.askedDatabase);
  EXPECT_EQ(take.end, RecipeTake::End::kAway);
  EXPECT_EQ(take.recipe->version, 1);
  EXPECT_NE(take.reason.find("line database"), std::string::npos) << take.reason;
  now += std::chrono::seconds(1);
  take = source.Take();
  EXPECT_TRUE(take.askedDatabase);
  EXPECT_EQ(take.end, RecipeTake::End::kTaken);
  EXPECT_EQ(take.recipe->version, 2);
  EXPECT_TRUE(take.switched);
  EXPECT_EQ(take.fetched, 1);
  EXPECT_FALSE(take.awayIsNew);
  EXPECT_TRUE(take.backIsNew);  // told, so that no one goes on reading "away"
  EXPECT_FALSE(source.Take().backIsNew);
}

// An image whose stored bytes no longer match its digest (a piece altered in
// the database) is never cached: with nothing cached before, nothing is written.
TEST(RecipeSource, AFetchedImageIsCheckedAgainstItsDigest) {
  OneRowRecipe line(10);
  auto& [folder, url, owner, files] = line;
  ASSERT_TRUE(owner.Exec("UPDATE recipe_image_pieces SET data = overlay(data placing '\\xff00ff'::bytea from 5)"));
  RecipeSource source("line3", url, folder.Path() + "/cache", -1);
  const RecipeTake take = source.Take();
  EXPECT_EQ(take.end, RecipeTake::End::kRefused);
  EXPECT_NE(take.reason.find("RCDB: the image " + Sha256OfFile(files[kKindRcdb]).substr(0, 12) +
                             " fetched has another SHA-256"),
            std::string::npos)
      << take.reason;
  EXPECT_FALSE(std::filesystem::exists(folder.Path() + "/cache/" + Sha256OfFile(files[kKindRcdb])));
}

// A digest names a file in the cache, so one that is not 64 hex digits (a
// line database whose checks were dropped) is refused before it is a path.
TEST(ImageCache, ADigestThatIsNotOneIsNeverAPath) {
  TestFolder folder;
  ImageCache cache(folder.Path() + "/cache");
  std::string error;
  const auto fill = [](const ImageCache::Sink& sink, std::string&) { return sink("x", 1); };
  EXPECT_FALSE(cache.Store("../escaped", fill, error));
  EXPECT_NE(error.find("\"../escaped\" is not a SHA-256"), std::string::npos) << error;
  EXPECT_FALSE(std::filesystem::exists(folder.Path() + "/escaped"));
  EXPECT_FALSE(cache.Holds("../cache", 0));
}
