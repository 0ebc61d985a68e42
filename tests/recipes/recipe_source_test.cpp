// A station's takes: the active version with its images cached and checked,
// or, with the line database away, the last version held whole; never one
// held in part.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <iterator>

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
  // A published image never changes: the damage goes past the tables' own refusal.
  ASSERT_TRUE(owner.Exec("SET session_replication_role = replica"));
  ASSERT_TRUE(owner.Exec("UPDATE recipe_image_pieces SET data = overlay(data placing '\\xff00ff'::bytea from 5)"));
  RecipeSource source("line3", url, folder.Path() + "/cache", -1);
  const RecipeTake take = source.Take();
  EXPECT_EQ(take.end, RecipeTake::End::kRefused);
  EXPECT_NE(take.reason.find("RCDB: the stored image " + Sha256OfFile(files[kKindRcdb]).substr(0, 12) +
                             " in the line database is damaged"),
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

// After a rollback to a version this station never held, a failure to take
// that version whole refuses the board with its cause: the version rolled
// back from, held whole in the cache, is never written while the database answers.
TEST(RecipeSource, AfterARollbackOnlyTheActiveVersionIsEverWritten) {
  const struct {
    const char* what;
    const char* damage;  // SQL on version 1's image, as the owner bypassing the tables' refusals
    const char* reason;
  } cases[] = {
      {"a stored piece damaged", "UPDATE recipe_image_pieces SET data = overlay(data placing '\\x00'::bytea from 3) WHERE sha256 = $1",
       "RCDB: the stored image"},
      {"a piece missing", "DELETE FROM recipe_image_pieces WHERE sha256 = $1", "piece 0 is missing"},
      {"no enabled row", "UPDATE recipe_rows SET enabled = false, sha256 = NULL, bytes = NULL, file_name = NULL "
                         "WHERE name = 'line3' AND version = 1 AND $1 <> ''", "it has no enabled row"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OneRowRecipe line(11);
    auto& [folder, url, owner, files] = line;
    const std::string first = Sha256OfFile(files[kKindRcdb]);
    files[kKindRcdb] = folder.File("bad.rdb", 1060, 12);
    ASSERT_EQ(PublishFiles(owner, "line3", files), 2);
    RecipeSource source("line3", url, folder.Path() + "/cache", -1);
    ASSERT_EQ(source.Take().recipe->version, 2);  // held whole: the cache's last
    ASSERT_TRUE(owner.Exec("SET session_replication_role = replica"));
    ASSERT_TRUE(owner.Exec(c.damage, {PgValue::Text(first)})) << owner.Error();
    ASSERT_TRUE(owner.Exec("RESET session_replication_role"));
    std::string error;
    ASSERT_TRUE(ActivateVersion(owner, "line3", 1, "qe", error) || std::string(c.what) == "no enabled row")
        << error;
    if (std::string(c.what) == "no enabled row") {
      // The tables refuse to make it active; one made so anyway is refused by the station.
      EXPECT_NE(error.find("has no enabled row"), std::string::npos) << error;
      ASSERT_TRUE(owner.Exec("SET session_replication_role = replica"));
      ASSERT_TRUE(owner.Exec("UPDATE recipe_active SET version = 1 WHERE name = 'line3'"));
    }
    const RecipeTake take = source.Take();
    EXPECT_EQ(take.end, RecipeTake::End::kRefused) << take.reason;
    EXPECT_FALSE(take.recipe);
    EXPECT_NE(take.reason.find("line3 version 1, the active version, cannot be taken"), std::string::npos)
        << take.reason;
    EXPECT_NE(take.reason.find(c.reason), std::string::npos) << take.reason;
  }
}

// The tables keep a published version as it was: its rows, its images and
// the version itself refuse a change, and only a role that may change the
// recipes can hold publishing up.
TEST(RecipeStore, APublishedVersionNeverChanges) {
  OneRowRecipe line(13);
  auto& [folder, url, owner, files] = line;
  for (const char* change : {"UPDATE recipe_rows SET file_name = 'other.rdb'",
                             "UPDATE recipe_image_pieces SET data = '\\x00'::bytea",
                             "DELETE FROM recipes", "TRUNCATE recipe_images CASCADE"}) {
    EXPECT_FALSE(owner.Exec(change)) << change;
    EXPECT_NE(owner.Error().find("a published recipe never changes"), std::string::npos) << owner.Error();
  }
}

// The rows a station writes from its cache are those it took: a version file
// edited on disk, or one behind a planted link, is refused.
TEST(ImageCache, RowsChangedOnDiskOrBehindALinkAreRefused) {
  OneRowRecipe line(14);
  auto& [folder, url, owner, files] = line;
  const std::string cache = folder.Path() + "/cache";
  RecipeSource source("line3", url, cache, -1);
  const RecipeTake take = source.Take();
  ASSERT_TRUE(take.recipe);
  const std::string digest = VersionRowsDigest(*take.recipe);
  ImageCache images(cache);
  std::string error;
  ASSERT_TRUE(images.LoadVersion("line3", 1, digest, error)) << error;
  // A planted image named by its own digest, and the row pointed at it.
  const std::string planted = folder.File("planted.rdb", 1060, 15);
  const std::string plantedDigest = Sha256OfFile(planted);
  std::filesystem::copy_file(planted, cache + "/" + plantedDigest);
  std::string rows;
  {
    std::ifstream in(cache + "/recipes/line3/1");
    rows.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string original = Sha256OfFile(files[kKindRcdb]);
  rows.replace(rows.find(original), original.size(), plantedDigest);
  std::ofstream(cache + "/recipes/line3/1", std::ios::trunc) << rows;
  EXPECT_FALSE(images.LoadVersion("line3", 1, digest, error));
  EXPECT_NE(error.find("were changed on disk"), std::string::npos) << error;
  // Away, the station refuses the edited version rather than write it.
  SwitchableServer server;
  RecipeSource away("line3", server.Through(url), cache, -1);
  const RecipeTake refused = away.Take();
  EXPECT_EQ(refused.end, RecipeTake::End::kRefused);
  EXPECT_NE(refused.reason.find("were changed on disk"), std::string::npos) << refused.reason;

  // recipes/line3 a link to a folder elsewhere: nothing is written through it, nothing read.
  const std::string elsewhere = folder.Path() + "/elsewhere";
  std::filesystem::create_directories(elsewhere);
  std::filesystem::remove_all(cache + "/recipes/line3");
  std::filesystem::create_directory_symlink(elsewhere, cache + "/recipes/line3");
  EXPECT_FALSE(images.SaveVersion(*take.recipe, error));
  EXPECT_NE(error.find("not a folder of the image cache"), std::string::npos) << error;
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
  EXPECT_FALSE(images.LastWhole("line3"));
}

// Temporary files left by a fetch or a write whose process is gone are
// removed by the next take; one still being written (its lock held) stays.
TEST(ImageCache, LeftoversOfAFetchThatDiedAreRemoved) {
  OneRowRecipe line(16);
  auto& [folder, url, owner, files] = line;
  const std::string cache = folder.Path() + "/cache";
  std::filesystem::create_directories(cache + "/recipes/line3");
  const std::string dead = cache + "/.fetching-dead01", live = cache + "/.fetching-live01",
                    deadRows = cache + "/recipes/line3/1.new-dead01";
  for (const std::string& path : {dead, live, deadRows}) std::ofstream(path) << "part";
  const int held = open(live.c_str(), O_RDONLY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  RecipeSource source("line3", url, cache, -1);
  EXPECT_EQ(source.Take().end, RecipeTake::End::kTaken);
  EXPECT_FALSE(std::filesystem::exists(dead));
  EXPECT_FALSE(std::filesystem::exists(deadRows));
  EXPECT_TRUE(std::filesystem::exists(live));
  close(held);
}

// A cache whose disk refuses the image says why, in the system's words (here
// a file-size limit stands in for a full disk), and leaves no temporary.
TEST(ImageCache, AWriteTheDiskRefusesIsToldWithTheSystemsReason) {
  TestFolder folder;
  ImageCache cache(folder.Path() + "/cache");
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit small = before;
  small.rlim_cur = 1000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string bytes(5000, 'x');
  std::string error;
  const bool stored = cache.Store(
      std::string(64, 'a'), [&](const ImageCache::Sink& sink, std::string&) { return sink(bytes.data(), bytes.size()); },
      error);
  setrlimit(RLIMIT_FSIZE, &before);
  std::signal(SIGXFSZ, previous);
  EXPECT_FALSE(stored);
  EXPECT_NE(error.find("cannot write it into the image cache " + folder.Path() + "/cache: " + std::strerror(EFBIG)),
            std::string::npos) << error;
  for (const auto& entry : std::filesystem::directory_iterator(folder.Path() + "/cache")) {
    ADD_FAILURE() << "left behind: " << entry.path();
  }
}

// A database that answers without an active version of the recipe refuses
// the board: it is no outage, so the version held whole is not written.
TEST(RecipeSource, NoActiveVersionIsARefusalNotAnOutage) {
  OneRowRecipe line(17);
  auto& [folder, url, owner, files] = line;
  RecipeSource source("line3", url, folder.Path() + "/cache", -1);
  ASSERT_EQ(source.Take().end, RecipeTake::End::kTaken);
  ASSERT_TRUE(owner.Exec("DELETE FROM recipe_active"));
  const RecipeTake take = source.Take();
  EXPECT_EQ(take.end, RecipeTake::End::kRefused);
  EXPECT_NE(take.reason.find("the line database has no active version of the recipe line3"), std::string::npos)
      << take.reason;
}

// The database back with the version the station wrote from its cache: said
// once, though nothing switched, so no view keeps saying "from the cache".
TEST(RecipeSource, TheDatabaseBackWithTheSameVersionIsToldOnce) {
  OneRowRecipe line(18);
  auto& [folder, url, owner, files] = line;
  SwitchableServer server;
  server.Up();
  RecipeSource::Clock::time_point now{};
  RecipeSource source("line3", server.Through(url), folder.Path() + "/cache", -1, [&] { return now; });
  ASSERT_EQ(source.Take().end, RecipeTake::End::kTaken);
  server.Down();
  ASSERT_TRUE(source.Take().awayIsNew);
  server.Up();
  now += kRecipeAwayRetry;
  const RecipeTake back = source.Take();
  EXPECT_EQ(back.end, RecipeTake::End::kTaken);
  EXPECT_FALSE(back.switched);
  EXPECT_TRUE(back.backIsNew);
  EXPECT_FALSE(source.Take().backIsNew);
}
