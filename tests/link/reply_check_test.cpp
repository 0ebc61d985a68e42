// Checking the report already in the transfer record, and the fields the
// engine reads from it.
#include <gtest/gtest.h>

#include <cstring>

#include "record/transfer_context.h"
#include "link/reply_frames.h"
#include "tests/link/frame_reader.h"

namespace {

void Receive(const std::array<std::uint8_t, 64>& report, std::int32_t length) {
  std::memcpy(g_transfer.replyBuffer, report.data(), report.size());
  g_transfer.replyLength = length;
}

TEST(ReplyCheckTest, AcceptsOnlyAWholeReplyToTheCommandLastSent) {
  struct Row {
    const char* name;
    std::uint16_t code;
    std::int32_t length;
    bool accepted;
  };
  // Rows below 1 keep a good reply in the buffer: nothing read must not reach
  // the library, and -65472 would pass as 64 if it were handed on as 16 bits.
  const Row rows[] = {
      {"the reply", 0x8042, 64, true},      {"short", 0x8042, 63, false},
      {"other code set", 0x8048, 64, false}, {"late begin reply", 0x8043, 64, false},
      {"nothing read", 0x8042, 0, false},    {"error", 0x8042, -1, false},
      {"time-out", 0x8042, -110, false},     {"-65472", 0x8042, -65472, false},
  };
  g_transfer.expectedReply = 0x8042;
  for (const Row& row : rows) {
    Receive(linktest::MakeReport(row.code, 1), row.length);
    EXPECT_EQ(CheckReply(), row.accepted) << row.name;
  }
}

TEST(ReplyCheckTest, EchoIsBytes5And6BigEndianAndStatusIsByte8) {
  Receive(linktest::MakeReport(0x8043, 0x01FF, 5), 64);
  EXPECT_EQ(ReplyEcho(), 0x01FF);
  EXPECT_EQ(ReplyStatus(), 5);
}

}  // namespace
