// Checking the report already in the transfer record, and the fields the
// engine reads from it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "engine/transfer_context.h"
#include "link/reply_frames.h"
#include "tests/link/frame_reader.h"

namespace {

class ReplyCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::fill(std::begin(g_transfer.replyBuffer), std::end(g_transfer.replyBuffer), 0);
    g_transfer.replyLength = 0;
    g_transfer.expectedReply = 0;
  }
  static void Receive(const std::array<std::uint8_t, 64>& report, std::int32_t length) {
    std::memcpy(g_transfer.replyBuffer, report.data(), report.size());
    g_transfer.replyLength = length;
  }
};

TEST_F(ReplyCheckTest, AcceptsTheReplyToTheCommandLastSent) {
  g_transfer.expectedReply = 0x8011;
  Receive(linktest::MakeReport(0x8011, 7), 64);
  EXPECT_TRUE(CheckReply());
}

TEST_F(ReplyCheckTest, NothingReadIsNeverAReplyWhateverTheBufferHolds) {
  // The buffer holds a good reply from before; a count below 1 must not reach
  // the library. -65472 would pass as 64 if it were handed on as 16 bits.
  g_transfer.expectedReply = 0x8043;
  for (const std::int32_t length : {0, -1, -110, -65472}) {
    Receive(linktest::MakeReport(0x8043, 0, 4), length);
    EXPECT_FALSE(CheckReply()) << length;
  }
}

TEST_F(ReplyCheckTest, RejectsShortDamagedWrongAndStaleReports) {
  g_transfer.expectedReply = 0x8042;
  Receive(linktest::MakeReport(0x8042, 1), 63);
  EXPECT_FALSE(CheckReply()) << "short";

  auto damaged = linktest::MakeReport(0x8042, 1);
  damaged[20] ^= 0x10;
  Receive(damaged, 64);
  EXPECT_FALSE(CheckReply()) << "damaged";

  Receive(linktest::MakeReport(0x8048, 1), 64);
  EXPECT_FALSE(CheckReply()) << "other code set";

  // A late reply to the begin command, after the first chunk went out.
  Receive(linktest::MakeReport(0x8043, 0, 4), 64);
  EXPECT_FALSE(CheckReply()) << "stale";
}

TEST_F(ReplyCheckTest, EchoIsBytes5And6BigEndian) {
  Receive(linktest::MakeReport(0x8011, 0x0007), 64);
  EXPECT_EQ(ReplyEcho(), 7);
  Receive(linktest::MakeReport(0x8011, 0x0102), 64);
  EXPECT_EQ(ReplyEcho(), 0x0102);
  Receive(linktest::MakeReport(0x8011, 0xFF00), 64);
  EXPECT_EQ(ReplyEcho(), 0xFF00);
}

TEST_F(ReplyCheckTest, StatusIsByte8) {
  for (const std::uint8_t status : {3, 4, 5}) {
    Receive(linktest::MakeReport(0x8043, 0x0909, status), 64);
    EXPECT_EQ(ReplyStatus(), status);
  }
}

}  // namespace
