// A board's slot as one writer tells it (a child of --all, a single run): the
// words the station window and the line page show for each way a board ends.
#include <gtest/gtest.h>

#include <string>

#include "events/exit_codes.h"
#include "supervisor/board_slot_line.h"

TEST(BoardSlotLine, EachEndInTheStationsWords) {
  const struct {
    int exitCode;
    const char* reason;
    const char* kind;
    const char* state;
    const char* shownKind;
    std::string text;
  } cases[] = {
      {0, "", "box", "done", "", "done"},
      // The ledger lost the row, the board holds its images.
      {AsInt(ExitCode::kRecordLost), "", "box", "done", "", "done"},
      {7, "the device refused the begin", "box", "failed", "box", "failed: the device refused the begin"},
      // No box: the exit code's own word.
      {7, "", "box", "failed", "exit", std::string("failed: ") + ExitCodeMeaning(7)},
      {AsInt(ExitCode::kInterrupted), "Interrupted by SIGTERM at RCDB block 3 of 9", "interrupted", "interrupted",
       "interrupted", "interrupted: Interrupted by SIGTERM at RCDB block 3 of 9"},
  };
  for (const auto& c : cases) {
    const SlotLine line = EndedSlotLine("001:002", c.exitCode, c.reason, c.kind);
    EXPECT_EQ(line.data["state"], c.state) << c.exitCode;
    EXPECT_EQ(line.data.value("reason_kind", ""), c.shownKind) << c.exitCode;
    EXPECT_EQ(line.text, c.text);
    EXPECT_EQ(line.data["taken"], true);
  }
  const SlotLine writing = WritingSlotLine("001:002", "RCDB", 45, 3);
  EXPECT_EQ(writing.text, "writing RCDB 45%");
  EXPECT_EQ(writing.data["percent"], 45);
  EXPECT_EQ(WritingSlotLine("001:002", "", 0, 0).text, "writing");  // before its first item
}
