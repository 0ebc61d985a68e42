// The ledger file: created with the umask, its schema, any bytes stored
// exactly, and two processes writing at once.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "ledger/ledger_report.h"
#include "ledger_scratch.h"

namespace {

int CountRows(Ledger& ledger, const char* sql) {
  SqliteStatement count(ledger.Database(), sql);
  return count.Step() == SQLITE_ROW ? static_cast<int>(count.Int(0)) : -1;
}

TEST_F(LedgerTest, FileModeFollowsTheUmaskButNeverTheWorldsWrite) {
  const struct {
    mode_t umask;
    mode_t mode;
  } cases[] = {{022, 0644}, {002, 0664}, {000, 0664}, {077, 0600}};
  for (const auto& c : cases) {
    std::filesystem::remove_all(dir + "/state");
    const mode_t before = umask(c.umask);
    std::string error;
    const auto ledger = Ledger::Open(path, error);
    umask(before);
    ASSERT_TRUE(ledger) << error;
    struct stat facts {};
    ASSERT_EQ(stat(path.c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, c.mode) << std::oct << c.umask;
    // The folders it made: the group may read, others nothing, whatever the umask.
    ASSERT_EQ(stat(std::filesystem::path(path).parent_path().c_str(), &facts), 0);
    EXPECT_EQ(facts.st_mode & 0777, 0750u) << std::oct << c.umask;
  }
}

TEST_F(LedgerTest, SchemaVersionWalAndAFutureVersionRefused) {
  std::string error;
  {
    const auto ledger = Ledger::Open(path, error);
    ASSERT_TRUE(ledger) << error;
    EXPECT_EQ(CountRows(*ledger, "PRAGMA user_version"), 4);
    SqliteStatement mode(ledger->Database(), "PRAGMA journal_mode");
    ASSERT_EQ(mode.Step(), SQLITE_ROW);
    EXPECT_EQ(mode.Bytes(0), "wal");
    ASSERT_TRUE(ledger->Database().get() != nullptr);
    SqliteDatabase raw;
    ASSERT_TRUE(raw.Open(path, false, error));
    ASSERT_TRUE(raw.Execute("PRAGMA user_version = 5", error)) << error;
  }
  EXPECT_FALSE(Ledger::Open(path, error));
  EXPECT_NE(error.find("schema version 5"), std::string::npos) << error;
  error.clear();
  EXPECT_FALSE(Ledger::OpenForReading(path, error));
  EXPECT_NE(error.find("schema version 5"), std::string::npos) << error;
}

// A ledger that version 1 of this program wrote (a board done, one whose log
// file was full, another done) is brought to this version in place: the board
// whose log lines were lost is done, with the loss flagged; the boards name no recipe.
// A reader that may write (--report) brings it up as a writer does.
TEST_F(LedgerTest, AVersion1LedgerIsMigratedInPlace) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(TAMSOLT_LEDGER_FIXTURES "/version1.sqlite", path);
  std::string error;
  const auto ledger = Ledger::OpenForReading(path, error);
  ASSERT_TRUE(ledger) << error;
  EXPECT_EQ(CountRows(*ledger, "PRAGMA user_version"), 4);
  EXPECT_EQ(CountRows(*ledger, "SELECT COUNT(*) FROM boards WHERE recipe = '' AND recipe_version IS NULL"), 3);
  std::vector<StoredBoard> boards;
  ASSERT_TRUE(ledger->ForEachBoard("", "", [&](const StoredBoard& b) { boards.push_back(b); }, error));
  ASSERT_EQ(boards.size(), 3u);
  for (std::size_t i = 0; i < boards.size(); ++i) {
    ASSERT_TRUE(boards[i].outcome);
    EXPECT_EQ(boards[i].outcome->code, 0) << i;
    EXPECT_EQ(boards[i].outcome->word, "done") << i;
    EXPECT_EQ(boards[i].outcome->logLost, i == 1) << i;
    EXPECT_EQ(boards[i].images.size(), 1u) << i;
  }
  // A new board on the migrated ledger carries its flag and its recipe.
  BoardRecord board = BoardIdentity("tamsolt-cli", "setting.ini", "");
  board.uuid = NewUuid();
  board.startedUtc = UtcNow();
  board.recipe = "line3";
  board.recipeVersion = 7;
  const auto id = ledger->BeginBoard(board, error);
  ASSERT_TRUE(id) << error;
  ASSERT_TRUE(ledger->FinishBoard(*id, {UtcNow(), 1, 0, "done", "", true}, {}, error)) << error;
  EXPECT_EQ(CountRows(*ledger, "SELECT COUNT(*) FROM boards WHERE log_lost = 1"), 2);
  boards.clear();
  ASSERT_TRUE(ledger->ForEachBoard("", "", [&](const StoredBoard& b) { boards.push_back(b); }, error));
  ASSERT_EQ(boards.size(), 4u);
  EXPECT_EQ(boards[3].board.recipe + "@" + std::to_string(boards[3].board.recipeVersion), "line3@7");
  EXPECT_EQ(boards[0].board.recipe + "@" + std::to_string(boards[0].board.recipeVersion), "@0");
}

// A version-2 ledger that already has the report's covering index (without
// the recipe) is brought up with the index made anew, not refused because
// it is there.
TEST_F(LedgerTest, AVersion2LedgerWithTheReportsIndexIsBroughtUp) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::filesystem::copy_file(TAMSOLT_LEDGER_FIXTURES "/version1.sqlite", path);
  std::string error;
  {
    SqliteDatabase raw;
    ASSERT_TRUE(raw.Open(path, false, error)) << error;
    ASSERT_TRUE(raw.Execute("ALTER TABLE boards ADD COLUMN log_lost INTEGER NOT NULL DEFAULT 0;"
                            "CREATE INDEX images_board ON images(board_id);"
                            "CREATE INDEX boards_started ON boards(started_utc, slot, outcome_code, outcome, "
                            "seconds, finished_utc);"
                            "PRAGMA user_version = 2;", error)) << error;
  }
  const auto ledger = Ledger::OpenExisting(path, error);
  ASSERT_TRUE(ledger) << error;
  EXPECT_EQ(CountRows(*ledger, "PRAGMA user_version"), kLedgerSchemaVersion);
  EXPECT_EQ(CountRows(*ledger, "SELECT count(*) FROM pragma_index_info('boards_started') WHERE name = 'recipe'"), 1);
}

// Each query finds its rows through its index, in a new ledger and in one
// brought up from version 1 (whose steps add them in place):
// the report reads the covering index alone, and a span's two ends both
// bound the search.
TEST_F(LedgerTest, EveryQueryUsesItsIndexInNewAndMigratedLedgers) {
  const struct {
    std::string query;
    const char* step;
  } cases[] = {
      {"SELECT kind FROM images WHERE board_id = 2 ORDER BY id", "SEARCH images USING INDEX images_board (board_id=?)"},
      {ReportSpanQuery(false), "SEARCH boards USING COVERING INDEX boards_started (started_utc>?)"},
      {ReportSpanQuery(true), "SEARCH boards USING COVERING INDEX boards_started (started_utc>? AND started_utc<?)"},
      {BoardsInSpanQuery(true), "SEARCH boards USING INDEX boards_started (started_utc>? AND started_utc<?)"},
  };
  for (const bool migrated : {false, true}) {
    std::filesystem::remove_all(dir + "/state");
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    if (migrated) std::filesystem::copy_file(TAMSOLT_LEDGER_FIXTURES "/version1.sqlite", path);
    std::string error;
    const auto ledger = migrated ? Ledger::OpenExisting(path, error) : Ledger::Open(path, error);
    ASSERT_TRUE(ledger) << error;
    for (const auto& c : cases) {
      SqliteStatement plan(ledger->Database(), ("EXPLAIN QUERY PLAN " + c.query).c_str());
      std::string steps;
      while (plan.Step() == SQLITE_ROW) steps += plan.Bytes(3) + "\n";
      EXPECT_NE(steps.find(c.step), std::string::npos) << migrated << " " << c.query << "\n" << steps;
    }
  }
}

TEST_F(LedgerTest, UnwritablePlacesAreRefusedWithTheReason) {
  std::string error;
  EXPECT_FALSE(Ledger::Open("/proc/tamsolt/ledger.sqlite", error));
  EXPECT_NE(error.find("/proc/tamsolt"), std::string::npos) << error;
  EXPECT_FALSE(Ledger::OpenExisting(dir + "/none.sqlite", error));
}

TEST_F(LedgerTest, AnyBytesAreStoredAndReadBackExactly) {
  std::string error;
  const auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  const std::string odd = std::string("/share/it's; DROP TABLE boards;--\xff\xfe\x80/") + '\0' + "x.bin";
  BoardRecord board = Board("1-1'; --");
  board.operatorName = "o'brien\"; --";
  board.settingsPath = odd;
  const auto id = ledger->BeginBoard(board, error);
  ASSERT_TRUE(id) << error;
  ImageRecord image{"BOOT", odd, 512, std::string(64, 'b'), true, UtcNow(), UtcNow(), "written"};
  ASSERT_TRUE(ledger->FinishBoard(*id, {UtcNow(), 2.5, 7, "begin refused", "it's \"refused\";"},
                                  {image}, error))
      << error;
  std::vector<StoredBoard> stored;
  ASSERT_TRUE(ledger->ForEachBoard("", "", [&](const StoredBoard& b) { stored.push_back(b); }, error));
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(stored[0].board.settingsPath, odd);
  EXPECT_EQ(stored[0].board.operatorName, board.operatorName);
  EXPECT_EQ(stored[0].board.slot, board.slot);
  ASSERT_TRUE(stored[0].outcome);
  EXPECT_EQ(stored[0].outcome->message, "it's \"refused\";");
  EXPECT_EQ(stored[0].outcome->code, 7);
  ASSERT_EQ(stored[0].images.size(), 1u);
  EXPECT_EQ(stored[0].images[0].path, odd);
  EXPECT_TRUE(stored[0].images[0].pinned);
  EXPECT_EQ(CountRows(*ledger, "SELECT COUNT(*) FROM boards WHERE typeof(settings_path) = 'blob'"), 1);
  // A board is finished once only.
  EXPECT_FALSE(ledger->FinishBoard(*id, {UtcNow(), 1, 0, "done", ""}, {}, error));
  EXPECT_EQ(CountRows(*ledger, "SELECT COUNT(*) FROM images"), 1);
}

TEST_F(LedgerTest, TwoProcessesRecordingAtOnceBothLand) {
  constexpr int kBoardsEach = 40;
  std::string error;
  int ready[2];  // both children create the file and its schema at once
  ASSERT_EQ(pipe(ready), 0);
  pid_t children[2];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      char go = 0;
      close(ready[1]);
      if (read(ready[0], &go, 1) < 0) _exit(3);  // both start together
      std::string childError;
      const auto ledger = Ledger::Open(path, childError);
      if (!ledger) _exit(1);
      for (int i = 0; i < kBoardsEach; ++i) {
        const auto id = ledger->BeginBoard(Board(), childError);
        ImageRecord image{"RCDB", "/x", 1, std::string(64, 'c'), false, "", "", "not reached"};
        if (!id || !ledger->FinishBoard(*id, {UtcNow(), 1, 0, "done", ""}, {image}, childError)) _exit(2);
      }
      _exit(0);
    }
  }
  close(ready[0]);
  close(ready[1]);  // releases both children at once
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  const auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger);
  EXPECT_EQ(CountRows(*ledger, "SELECT COUNT(*) FROM boards WHERE finished_utc IS NOT NULL"), 2 * kBoardsEach);
  EXPECT_EQ(CountRows(*ledger, "SELECT COUNT(*) FROM images"), 2 * kBoardsEach);
  SqliteStatement check(ledger->Database(), "PRAGMA integrity_check");
  ASSERT_EQ(check.Step(), SQLITE_ROW);
  EXPECT_EQ(check.Bytes(0), "ok");
}

}  // namespace
