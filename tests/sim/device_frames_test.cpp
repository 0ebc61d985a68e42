// The device parses frames strictly and answers each accepted one with a
// well-formed report; whatever it cannot parse it drops without a word.
#include <gtest/gtest.h>

#include "sim/device_wire.h"
#include "tests/sim/model_harness.h"

using namespace simtest;

namespace {

sim::DeviceModel Fresh() { return sim::DeviceModel(sim::Faults{}, ""); }

void ExpectDropped(const Bytes& frame, const char* why) {
  sim::DeviceModel model = Fresh();
  EXPECT_TRUE(Send(model, frame)) << "the write itself reaches the device";
  EXPECT_FALSE(model.NextReportTime().has_value()) << why;
  EXPECT_EQ(model.GetSummary().rejectedFrames, 1) << why;
  EXPECT_EQ(model.GetSummary().frames, 1);
  EXPECT_FALSE(model.LastRejection().empty());
}

}  // namespace

TEST(DeviceFrames, AnswersABeginWithAWellFormedReadyReport) {
  sim::DeviceModel model = Fresh();
  ASSERT_TRUE(Send(model, Begin(0x43, 3)));
  const auto report = Take(model);
  ASSERT_TRUE(report);
  const Report& r = *report;
  EXPECT_EQ(r[0], 0xA5);
  EXPECT_EQ(ReplyCode(r), 0x8043);
  EXPECT_EQ(r[3], 0x00);
  EXPECT_EQ(r[4], 64);
  EXPECT_EQ(Status(r), 4);
  for (std::size_t i = 9; i < 62; ++i) EXPECT_EQ(r[i], 0) << "byte " << i;
  EXPECT_EQ(sim::CrcCcittFalse(r.data(), 62), r[62] << 8 | r[63]);
  EXPECT_EQ(model.GetSummary().rejectedFrames, 0);
  EXPECT_EQ(model.GetSummary().commandsSeen.at(0x43), 1);
}

TEST(DeviceFrames, EchoesTheFrameIndexAndReportsStatusOnlyForBegin) {
  sim::DeviceModel model = Fresh();
  ASSERT_TRUE(Send(model, ShortBlock(0x12, 0x0107, 53 * 300, Pattern(53, 1))));
  const auto report = Take(model);
  ASSERT_TRUE(report);
  EXPECT_EQ(ReplyCode(*report), 0x8012);
  EXPECT_EQ((*report)[5], 0x01);
  EXPECT_EQ((*report)[6], 0x07);
  EXPECT_EQ(Status(*report), 0);
}

TEST(DeviceFrames, CrcCcittFalseMatchesTheStandardCheckValue) {
  const char* digits = "123456789";
  EXPECT_EQ(sim::CrcCcittFalse(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x29B1);
}

TEST(DeviceFrames, DropsDamagedFrames) {
  Bytes badCrc = Begin(0x43, 3);
  badCrc.back() ^= 0x01;
  ExpectDropped(badCrc, "bad CRC");

  Bytes badSync = Begin(0x43, 3);
  badSync[0] = 0x5B;
  ExpectDropped(badSync, "bad sync");

  Bytes truncated = Begin(0x43, 3);
  truncated.pop_back();
  ExpectDropped(truncated, "one byte short of its stated payload");

  ExpectDropped(Bytes{0x5A, 0x00, 0x43, 0x00}, "shorter than a header");

  Bytes longer = Begin(0x43, 3);
  longer.push_back(0x00);
  ExpectDropped(longer, "a byte past the CRC");
}

TEST(DeviceFrames, DropsFramesWhoseHeaderDoesNotFitTheCommand) {
  ExpectDropped(Frame({0x00, 3, 0, 0}, {0x01, 0x03, 0xFF}), "code 0 is not a command");
  ExpectDropped(Frame({0x43, 3, 0, 0}, {0x02, 0x03, 0xFF}), "begin payload must start with 01");
  ExpectDropped(Frame({0x44, 0, 0, 0}, {0x00}), "end carries no payload");
  ExpectDropped(Frame({0x12, 0, 0, 0}, Pattern(52, 0)), "a short block is 53 bytes");
  ExpectDropped(Frame({0x63, 100, 0, 0}, Pattern(20, 0)), "a head carries min(n, 53) bytes");
  ExpectDropped(Frame({0x42, 1, 0, 0}, {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04}),
                "chunk header states 4 bytes but carries none");
  ExpectDropped(Chunk(0x42, 7, 0, 44, Pattern(44, 0)), "no image has target 7");
}

TEST(DeviceFrames, TellsScrambledDataBlocksFromPlainFrames) {
  const Bytes block = Pattern(2048, 9);
  // What the host's XOR produces is undone before parsing.
  {
    sim::DeviceModel model = Fresh();
    const Bytes frame = DataBlock(0x12, 0, 2048, block);
    EXPECT_EQ(frame[0], 0x99);
    ASSERT_TRUE(Send(model, frame));
    ASSERT_TRUE(Take(model));
    EXPECT_EQ(model.Images().at("font"), block);
  }
  // A data block the host forgot to scramble is not a data block.
  Bytes plain = Scrambled(DataBlock(0x12, 0, 2048, block));
  ExpectDropped(plain, "unscrambled data block");
  // Only data blocks are scrambled.
  ExpectDropped(Scrambled(Begin(0x43, 3)), "scrambled begin");
  ExpectDropped(Scrambled(ShortBlock(0x12, 0, 53, Pattern(53, 0))), "scrambled short block");
  // The header's block index and the payload's must agree.
  Bytes mismatched = Scrambled(DataBlock(0x12, 1, 4096, block));
  mismatched[5 + 1] = 0x02;  // record index 2, payload index still 1
  const std::uint16_t crc = sim::CrcCcittFalse(mismatched.data(), mismatched.size() - 2);
  mismatched[mismatched.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
  mismatched[mismatched.size() - 1] = static_cast<std::uint8_t>(crc);
  ExpectDropped(Scrambled(mismatched), "block index disagrees");
}

TEST(DeviceFrames, CountsRepeatedFramesAsRetries) {
  sim::DeviceModel model = Fresh();
  const Bytes frame = ShortBlock(0x22, 4, 1000, Pattern(53, 3));
  Send(model, frame);
  Send(model, frame);
  Send(model, ShortBlock(0x22, 5, 1000, Pattern(53, 4)));
  Send(model, frame);
  EXPECT_EQ(model.GetSummary().retries, 1);
  EXPECT_EQ(model.GetSummary().frames, 4);
  EXPECT_EQ(model.GetSummary().commandsSeen.at(0x22), 4);
}
