// A station closes the rows its children could not (killed, or their
// ledger refused the finish): from what it saw of each end, over a "cut off"
// another program wrote meanwhile, and later when the ledger cannot take it now.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "ledger/ledger.h"
#include "supervisor/ended_child_row.h"

namespace {

// A child that began its board under uuid and ended without closing it.
void ChildThatCouldNotFinish(const std::string& path, const std::string& uuid) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string error;
    const auto ledger = Ledger::Open(path, error);
    BoardRecord board = BoardIdentity("tamsolt-cli", "setting.ini", "");
    board.uuid = uuid;
    board.startedUtc = UtcNow();
    _exit(ledger && ledger->BeginBoard(board, error) ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(EndedChildRows, TheStationClosesWhatItsChildrenCouldNotAndKeepsWhatItCannotYet) {
  char pattern[] = "/tmp/ended-rows-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string dir = pattern;
  LedgerOptions options;
  options.path = dir + "/ledger.sqlite";
  const std::string full = NewUuid(), failed = NewUuid();
  ChildThatCouldNotFinish(options.path, full);
  ChildThatCouldNotFinish(options.path, failed);
  std::string error;
  {
    EndedChildRows rows(options);
    SqliteDatabase other;  // another process writing, for longer than a close waits
    ASSERT_TRUE(other.Open(options.path, false, error)) << error;
    ASSERT_TRUE(other.Execute("BEGIN IMMEDIATE", error)) << error;
    rows.Close(full, 11, "done, record lost", 30);  // written, its record lost
    EXPECT_EQ(rows.Kept(), 1u);
    ASSERT_TRUE(other.Execute("ROLLBACK", error)) << error;
    rows.Close(failed, 8, "transfer gave up", 20);
    EXPECT_EQ(rows.Kept(), 0u);
  }
  const auto ledger = Ledger::OpenForReading(options.path, error);
  ASSERT_TRUE(ledger) << error;
  std::map<std::string, BoardOutcome> outcomes;
  ASSERT_TRUE(ledger->ForEachBoard("", "", [&](const StoredBoard& b) {
    if (b.outcome) outcomes[b.board.uuid] = *b.outcome;
  }, error)) << error;
  ASSERT_EQ(outcomes.size(), 2u);
  EXPECT_EQ(outcomes[full].code, 0);
  EXPECT_EQ(outcomes[full].word, "done");
  EXPECT_EQ(outcomes[full].message, "");
  EXPECT_EQ(outcomes[failed].code, 8);
  EXPECT_EQ(outcomes[failed].message, "transfer gave up");
  std::filesystem::remove_all(dir);
}

}  // namespace
