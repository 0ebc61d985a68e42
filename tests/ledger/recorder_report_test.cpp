// A board recorded from what the host hears, and the report's figures on a
// ledger built here.
#include <cstdlib>
#include "ledger/board_recorder.h"
#include "ledger/ledger_report.h"
#include "ledger_scratch.h"

namespace {

std::vector<ImageRecord> Rows(std::initializer_list<const char*> kinds) {
  std::vector<ImageRecord> rows;
  for (const char* kind : kinds) rows.push_back(ImageRecord{kind, std::string("/img/") + kind, 0, "", kind[0] == 'B', "", "", ""});
  return rows;
}

TEST_F(LedgerTest, RecorderMarksWrittenFailedAndNotReached) {
  std::string error;
  auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  std::vector<std::string> problems;
  BoardRecorder recorder(ledger.get(), Board(), [&](const std::string& p) { problems.push_back(p); });
  recorder.BoxShown("before any device");  // a refusal at the press is no board
  recorder.DeviceOpened("001:007", "1-2", Rows({"BOOT", "RCDB", "FV"}));
  ASSERT_TRUE(recorder.Running());
  // Running: started but not finished.
  ASSERT_EQ(ReadAll(*ledger).size(), 1u);
  EXPECT_FALSE(ReadAll(*ledger)[0].outcome);
  recorder.ItemStarted("BOOT", 500, std::string(64, '1'));
  recorder.ItemFinished("BOOT");
  recorder.ItemStarted("RCDB", 106, std::string(64, '2'));
  recorder.BoxShown("no reply");
  recorder.Finish(8, "transfer gave up");
  EXPECT_FALSE(recorder.Running());
  recorder.Finish(0, "done");  // once only

  const auto boards = ReadAll(*ledger);
  ASSERT_EQ(boards.size(), 1u);
  ASSERT_TRUE(boards[0].outcome);
  EXPECT_EQ(boards[0].outcome->code, 8);
  EXPECT_EQ(boards[0].outcome->word, "transfer gave up");
  EXPECT_EQ(boards[0].outcome->message, "no reply");
  EXPECT_EQ(boards[0].board.device, "001:007");
  EXPECT_EQ(boards[0].board.slot, "1-2");
  ASSERT_EQ(boards[0].images.size(), 3u);
  const struct {
    const char* result;
    std::uint64_t bytes;
    bool started;
    bool finished;
    bool pinned;
  } expected[] = {{"written", 500, true, true, true}, {"failed", 106, true, true, false},
                  {"not reached", 0, false, false, false}};
  for (std::size_t i = 0; i < 3; ++i) {
    const ImageRecord& image = boards[0].images[i];
    EXPECT_EQ(image.result, expected[i].result) << i;
    EXPECT_EQ(image.bytes, expected[i].bytes) << i;
    EXPECT_EQ(!image.startedUtc.empty(), expected[i].started) << i;
    EXPECT_EQ(!image.finishedUtc.empty(), expected[i].finished) << i;
    EXPECT_EQ(image.pinned, expected[i].pinned) << i;
  }
  EXPECT_EQ(boards[0].images[0].sha256, std::string(64, '1'));
  EXPECT_TRUE(problems.empty());
  EXPECT_FALSE(recorder.Failed());
}

TEST_F(LedgerTest, ADoneBoardKeepsNoMessageAndAFailedWriteIsReported) {
  std::string error;
  auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  std::vector<std::string> problems;
  BoardRecorder recorder(ledger.get(), Board(), [&](const std::string& p) { problems.push_back(p); });
  recorder.DeviceOpened("001:002", "", Rows({"RCDB"}));
  recorder.BoxShown("下载完成");
  recorder.Finish(0, "done");
  ASSERT_EQ(ReadAll(*ledger).size(), 1u);
  EXPECT_EQ(ReadAll(*ledger)[0].outcome->message, "");
  // A board whose row cannot be inserted is reported, not fatal.
  BoardRecorder twice(ledger.get(), Board(), [&](const std::string& p) { problems.push_back(p); });
  SqliteStatement clash(ledger->Database(), "CREATE TRIGGER refuse BEFORE INSERT ON boards BEGIN SELECT RAISE(ABORT, 'full'); END");
  ASSERT_TRUE(clash.Run());
  twice.DeviceOpened("001:003", "", Rows({"RCDB"}));
  twice.Finish(0, "done");
  EXPECT_TRUE(twice.Failed());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("full"), std::string::npos) << problems[0];
}

TEST_F(LedgerTest, ReportCountsPerOutcomeSlotAndDay) {
  std::string error;
  auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  const struct {
    const char* started;
    const char* slot;
    int code;  // -1: still running
    double seconds;
  } boards[] = {{"2026-12-01T08:00:00.000Z", "1-1", 0, 30},
                {"2026-12-01T09:00:00.000Z", "1-2", 0, 50},
                {"2026-12-02T08:00:00.000Z", "1-1", 8, 90},  // gave up after its time-out
                {"2026-12-02T09:00:00.000Z", "1-1", 0, 40},
                {"2026-12-03T09:00:00.000Z", "1-2", -1, 0}};
  for (const auto& b : boards) {
    BoardRecord board = Board(b.slot);
    board.startedUtc = b.started;
    const auto id = ledger->BeginBoard(board, error);
    ASSERT_TRUE(id) << error;
    if (b.code >= 0) {
      ASSERT_TRUE(ledger->FinishBoard(*id, {b.started, b.seconds, b.code, b.code == 0 ? "done" : "transfer gave up", ""}, {}, error));
    }
  }
  LedgerReport report;
  ASSERT_TRUE(BuildReport(*ledger, "", "", report, error)) << error;
  EXPECT_EQ(report.boards, 5);
  EXPECT_EQ(report.running, 1);
  EXPECT_EQ(report.done, 3);
  EXPECT_DOUBLE_EQ(report.meanSeconds, 40);
  EXPECT_DOUBLE_EQ(report.slowestSeconds, 50);
  ASSERT_EQ(report.perOutcome.size(), 3u);
  EXPECT_EQ(report.perOutcome[0].key, "running");
  EXPECT_EQ(report.perOutcome[0].code, -1);  // no code: printed as the word alone, null in JSON
  EXPECT_EQ(report.perOutcome[1].key, "done");
  EXPECT_EQ(report.perOutcome[1].boards, 3);
  EXPECT_EQ(report.perOutcome[2].code, 8);
  ASSERT_EQ(report.perSlot.size(), 2u);
  EXPECT_EQ(report.perSlot[0].key, "1-1");
  EXPECT_EQ(report.perSlot[0].boards, 3);
  EXPECT_EQ(report.perSlot[0].done, 2);
  ASSERT_EQ(report.perDay.size(), 3u);
  EXPECT_EQ(report.perDay[1].key, "2026-12-02");
  EXPECT_EQ(report.perDay[1].done, 1);

  LedgerReport since;
  ASSERT_TRUE(BuildReport(*ledger, "2026-12-02", "", since, error));
  EXPECT_EQ(since.boards, 3);
  EXPECT_DOUBLE_EQ(since.slowestSeconds, 40);
  EXPECT_EQ(ReadAll(*ledger, "2026-12-03").size(), 1u);
}

// The slots to check first: the highest failure rate over the boards done or
// failed; an interrupted or running board counts for neither.
TEST_F(LedgerTest, ReportListsSlotsByFailureRate) {
  std::string error;
  auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  const struct {
    const char* slot;
    int code;  // -1: still running
  } boards[] = {{"1-1", 0}, {"1-1", 0},  {"1-1", 8}, {"1-2", 7},  {"1-2", 8},  {"1-2", 0},
                {"1-2", -1}, {"1-3", 10}, {"1-3", 0}, {"1-3", -1}, {"1-4", 5}};
  for (const auto& b : boards) {
    const auto id = ledger->BeginBoard(Board(b.slot), error);
    ASSERT_TRUE(id) << error;
    if (b.code >= 0) {
      ASSERT_TRUE(ledger->FinishBoard(*id, {"2026-12-08T10:00:00.000Z", 30, b.code, "word", ""}, {}, error)) << error;
    }
  }
  LedgerReport report;
  ASSERT_TRUE(BuildReport(*ledger, "", "", report, error)) << error;
  const struct {
    const char* slot;
    std::int64_t boards, done, failed;
    double rate;
  } expected[] = {{"1-4", 1, 0, 1, 1.0}, {"1-2", 4, 1, 2, 2.0 / 3}, {"1-1", 3, 2, 1, 1.0 / 3},
                  {"1-3", 3, 1, 0, 0.0}};
  ASSERT_EQ(report.slotsByFailureRate.size(), std::size(expected));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    const ReportGroup& g = report.slotsByFailureRate[i];
    EXPECT_EQ(g.key, expected[i].slot) << i;
    EXPECT_EQ(g.boards, expected[i].boards) << i;
    EXPECT_EQ(g.done, expected[i].done) << i;
    EXPECT_EQ(g.failed, expected[i].failed) << i;
    EXPECT_DOUBLE_EQ(FailureRate(g), expected[i].rate) << i;
  }
  EXPECT_EQ(report.perSlot.front().key, "1-1");  // the slot table keeps the slots' order
}

// Days are the station's local days: in UTC+8 the day of 8 December starts
// at 16:00 UTC on the 7th, and a board just before it belongs to the 7th.
TEST_F(LedgerTest, DaysAreTheStationsLocalDays) {
  const char* before = std::getenv("TZ");
  const std::string saved = before != nullptr ? before : "";
  setenv("TZ", "CST-8", 1);
  tzset();
  EXPECT_EQ(LocalDayStartUtc("2026-12-08"), "2026-12-07T16:00:00.000Z");
  EXPECT_EQ(LocalDayStartUtc("2026-12-08T03:00:00Z"), "2026-12-08T03:00:00Z");
  EXPECT_EQ(LocalDayStartUtc("2026-1x-08"), "");
  // Where summer time is kept, a July day starts an hour earlier in UTC than a December one.
  setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
  tzset();
  EXPECT_EQ(LocalDayStartUtc("2026-07-08"), "2026-07-07T22:00:00.000Z");
  EXPECT_EQ(LocalDayStartUtc("2026-12-08"), "2026-12-07T23:00:00.000Z");
  setenv("TZ", "CST-8", 1);
  tzset();
  std::string error;
  auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  for (const char* started : {"2026-12-07T15:59:59.999Z", "2026-12-07T16:00:00.000Z",
                              "2026-12-08T15:59:59.999Z", "2026-12-08T16:00:00.000Z"}) {
    BoardRecord board = Board("1-1");
    board.startedUtc = started;
    const auto id = ledger->BeginBoard(board, error);
    ASSERT_TRUE(id) << error;
    ASSERT_TRUE(ledger->FinishBoard(*id, {started, 30, 0, "done", ""}, {}, error)) << error;
  }
  LedgerReport day;
  ASSERT_TRUE(BuildReport(*ledger, LocalDayStartUtc("2026-12-08"), LocalDayStartUtc("2026-12-09"),
                          day, error)) << error;
  EXPECT_EQ(day.boards, 2);
  ASSERT_EQ(day.perDay.size(), 1u);
  EXPECT_EQ(day.perDay[0].key, "2026-12-08");
  std::vector<StoredBoard> boards;
  ASSERT_TRUE(ledger->ForEachBoard(LocalDayStartUtc("2026-12-08"), LocalDayStartUtc("2026-12-09"),
                                   [&](const StoredBoard& b) { boards.push_back(b); }, error));
  ASSERT_EQ(boards.size(), 2u);
  EXPECT_EQ(boards.front().board.startedUtc, "2026-12-07T16:00:00.000Z");
  if (before != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace

// A ledger whose images table a reader cannot ask (changed by hand, or by
// another program) is an error, never its boards without their images.
TEST_F(LedgerTest, AnImagesTableThatCannotBeAskedIsAnErrorNotBoardsWithoutImages) {
  std::string error;
  auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  ASSERT_TRUE(ledger->BeginBoard(Board(), error)) << error;
  SqliteDatabase other;
  ASSERT_TRUE(other.Open(path, false, error)) << error;
  ASSERT_TRUE(other.Execute("ALTER TABLE images RENAME COLUMN result TO outcome", error)) << error;
  std::vector<StoredBoard> seen;
  EXPECT_FALSE(ledger->ForEachBoard("", "", [&](const StoredBoard& b) { seen.push_back(b); }, error));
  EXPECT_NE(error.find("result"), std::string::npos) << error;
  EXPECT_TRUE(seen.empty());
}
