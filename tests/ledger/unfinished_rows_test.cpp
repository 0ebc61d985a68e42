// Rows whose writer could not finish them: a writer that died mid-run is
// closed by the next program for what it was, with the images it reached;
// a finish the ledger could not take is kept and written with the next board.
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>

#include "ledger/board_recorder.h"
#include "ledger/ledger.h"
#include "ledger/writer_identity.h"
#include "tests/ledger/ledger_scratch.h"

// Writers that end as a kill would (no finish, no clean-up): one mid-way
// through its second image, one after its device answered the end exchange.
TEST_F(LedgerTest, TheNextProgramClosesTheRowsOfWritersThatDied) {
  for (const bool endAnswered : {false, true}) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::string error;
      const auto ledger = Ledger::Open(path, error);
      if (!ledger) _exit(1);
      BoardRecorder recorder(ledger.get(), Board(), nullptr);
      std::vector<ImageRecord> rows(3);
      rows[0].kind = "BOOT", rows[1].kind = "HOST", rows[2].kind = "RCDB";
      recorder.DeviceOpened("001:004", "1-1.3", rows);
      recorder.ItemStarted("BOOT", 10, std::string(64, 'b'));
      recorder.ItemFinished("BOOT");
      recorder.ItemStarted("HOST", 20, std::string(64, 'h'));
      if (endAnswered) recorder.EndAnswered();
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  // This process's own running board is a writer alive, and one of another
  // pid namespace (a container) cannot be judged: both left as they are.
  std::string error;
  const auto alive = Ledger::Open(path, error);
  ASSERT_TRUE(alive) << error;
  // The second writer closed the first's row when it opened the ledger.
  EXPECT_EQ(alive->ClosedCutOffBoards(), 1);
  ASSERT_TRUE(alive->BeginBoard(Board("1-1.4"), error));
  const auto elsewhere = alive->BeginBoard(Board("1-1.5"), error);
  ASSERT_TRUE(elsewhere) << error;
  {
    std::istringstream fields(ThisWriter());
    std::string boot, pidNamespace, pid, start;
    fields >> boot >> pidNamespace >> pid >> start;
    SqliteStatement other(alive->Database(), "UPDATE boards SET writer = ?1 WHERE id = ?2");
    other.BindText(1, boot + " pid:[1] 1 1");
    other.BindInt(2, *elsewhere);
    ASSERT_TRUE(other.Run());
  }

  const auto next = Ledger::Open(path, error);
  ASSERT_TRUE(next) << error;
  EXPECT_EQ(next->ClosedCutOffBoards(), 0);
  const std::vector<StoredBoard> boards = ReadAll(*next);
  ASSERT_EQ(boards.size(), 4u);
  ASSERT_TRUE(boards[0].outcome && boards[1].outcome);
  EXPECT_FALSE(boards[2].outcome) << "a living writer's board was closed";
  EXPECT_FALSE(boards[3].outcome) << "a writer that cannot be judged was taken for dead";

  const BoardOutcome& cut = *boards[0].outcome;
  EXPECT_EQ(cut.code, 10);
  EXPECT_EQ(cut.word, "cut off");
  EXPECT_NE(cut.message.find("ended without closing the board"), std::string::npos) << cut.message;
  ASSERT_EQ(boards[0].images.size(), 3u);
  EXPECT_EQ(boards[0].images[0].result, "written");
  EXPECT_EQ(boards[0].images[0].sha256, std::string(64, 'b'));
  EXPECT_EQ(boards[0].images[1].result, "failed");
  EXPECT_EQ(boards[0].images[1].bytes, 20u);
  EXPECT_EQ(boards[0].images[2].result, "not reached");
  // It ended, as far as anything tells, when its last image started.
  EXPECT_EQ(cut.finishedUtc, boards[0].images[1].startedUtc);
  EXPECT_GE(cut.seconds, 0.0);

  EXPECT_EQ(boards[1].outcome->code, 0) << "the device held every image";
  EXPECT_EQ(boards[1].outcome->word, "done");

  // The station knew better: its close replaces a cut off not yet forwarded.
  BoardOutcome interrupted{UtcNow(), 3, 10, "interrupted", "interrupted: the station ended its writer"};
  bool closed = false;
  ASSERT_TRUE(next->CloseRunningBoard(boards[0].board.uuid, interrupted, closed, error)) << error;
  EXPECT_TRUE(closed);
  ASSERT_TRUE(next->CloseRunningBoard(boards[1].board.uuid, interrupted, closed, error)) << error;
  EXPECT_FALSE(closed) << "a board closed done was closed again";
  EXPECT_EQ(ReadAll(*next)[0].outcome->word, "interrupted");
}

TEST_F(LedgerTest, AWriterIsJudgedByItsProcessAndItsStart) {
  const std::string me = ThisWriter();
  ASSERT_FALSE(me.empty());
  EXPECT_EQ(JudgeWriter(me), WriterState::kAlive);
  EXPECT_EQ(WriterPid(me), static_cast<long>(getpid()));
  std::istringstream fields(me);
  std::string boot, pidNamespace, pid, start;
  fields >> boot >> pidNamespace >> pid >> start;
  // The same pid taken again by a later process, a machine booted since.
  EXPECT_EQ(JudgeWriter(boot + " " + pidNamespace + " " + pid + " 1"), WriterState::kGone);
  EXPECT_EQ(JudgeWriter("another-boot " + pidNamespace + " " + pid + " " + start), WriterState::kGone);
  EXPECT_EQ(JudgeWriter(boot + " pid:[1] " + pid + " " + start), WriterState::kUnknown);
  EXPECT_EQ(JudgeWriter(""), WriterState::kUnknown);
}

// A finish that waits out the lock another process holds is kept, and
// written before the next board begins.
TEST_F(LedgerTest, AFinishThatCouldNotBeWrittenIsWrittenWithTheNextBoard) {
  std::string error;
  const auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  const auto id = ledger->BeginBoard(Board(), error);
  ASSERT_TRUE(id) << error;
  ImageRecord image{"RCDB", "/x", 1, std::string(64, 'c'), false, UtcNow(), UtcNow(), "written"};
  {
    SqliteDatabase other;
    ASSERT_TRUE(other.Open(path, false, error)) << error;
    ASSERT_TRUE(other.Execute("BEGIN IMMEDIATE", error)) << error;
    EXPECT_FALSE(ledger->FinishBoard(*id, {UtcNow(), 1, 0, "done", ""}, {image}, error));
    EXPECT_EQ(ledger->PendingFinishes(), 1u);
    ASSERT_TRUE(other.Execute("ROLLBACK", error)) << error;
  }
  ASSERT_TRUE(ledger->BeginBoard(Board(), error)) << error;
  EXPECT_EQ(ledger->PendingFinishes(), 0u);
  const std::vector<StoredBoard> boards = ReadAll(*ledger);
  ASSERT_EQ(boards.size(), 2u);
  ASSERT_TRUE(boards[0].outcome);
  EXPECT_EQ(boards[0].outcome->word, "done");
  ASSERT_EQ(boards[0].images.size(), 1u);
  EXPECT_EQ(boards[0].images[0].result, "written");
}
