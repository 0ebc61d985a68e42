// The device parses frames strictly and answers each accepted one with a
// well-formed report; whatever it cannot parse it drops without a word.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "sim/device_wire.h"
#include "tests/sim/model_harness.h"

using namespace simtest;

namespace {

sim::DeviceModel Fresh() { return sim::DeviceModel(sim::Faults{}, ""); }

// A data block whose header names block 2 while its payload still says 1.
Bytes DataBlockWithMismatchedIndex() {
  Bytes frame = Scrambled(DataBlock(0x12, 1, 4096, Pattern(2048, 9)));
  frame[6] = 0x02;
  const std::uint16_t crc = sim::CrcCcittFalse(frame.data(), frame.size() - 2);
  frame[frame.size() - 2] = static_cast<std::uint8_t>(crc >> 8);
  frame[frame.size() - 1] = static_cast<std::uint8_t>(crc);
  return Scrambled(frame);
}

}  // namespace

TEST(DeviceFrames, AnswersWithAWellFormedReportEchoingTheIndexAndStatusOnlyForBegin) {
  const char* digits = "123456789";
  EXPECT_EQ(sim::CrcCcittFalse(reinterpret_cast<const std::uint8_t*>(digits), 9), 0x29B1);

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
  EXPECT_EQ(model.GetSummary().commandsSeen.at(0x43), 1);

  ASSERT_TRUE(Send(model, ShortBlock(0x12, 0x0107, 53 * 300, Pattern(53, 1))));
  const auto block = Take(model);
  ASSERT_TRUE(block);
  EXPECT_EQ(ReplyCode(*block), 0x8012);
  EXPECT_EQ(Echo(*block), 0x0107);
  EXPECT_EQ(Status(*block), 0);
  EXPECT_EQ(model.GetSummary().rejectedFrames, 0);
}

TEST(DeviceFrames, DropsWhatItCannotParseWithoutAReportOrAStoredByte) {
  const auto damaged = [](auto change) {
    Bytes frame = Begin(0x43, 3);
    change(frame);
    return frame;
  };
  const std::pair<const char*, Bytes> dropped[] = {
      {"bad CRC", damaged([](Bytes& f) { f.back() ^= 0x01; })},
      {"bad sync", damaged([](Bytes& f) { f[0] = 0x5B; })},
      {"one byte short of its stated payload", damaged([](Bytes& f) { f.pop_back(); })},
      {"a byte past the CRC", damaged([](Bytes& f) { f.push_back(0); })},
      {"shorter than a header", Bytes{0x5A, 0x00, 0x43, 0x00}},
      {"code 0 is not a command", Frame({0x00, 3, 0, 0}, {0x01, 0x03, 0xFF})},
      {"begin payload must start with 01", Frame({0x43, 3, 0, 0}, {0x02, 0x03, 0xFF})},
      {"end carries no payload", Frame({0x44, 0, 0, 0}, {0x00})},
      {"a short block is 53 bytes", Frame({0x12, 0, 0, 0}, Pattern(52, 0))},
      {"a head carries min(n, 53) bytes", Frame({0x63, 100, 0, 0}, Pattern(20, 0))},
      {"chunk header states 4 bytes but carries none",
       Frame({0x42, 1, 0, 0}, {0x03, 0x00, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x04})},
      {"no image has target 7", Chunk(0x42, 7, 0, 44, Pattern(44, 0))},
      {"data far past any image", Chunk(0x42, 3, 0xFFFF, 0xFFFFFFFF, Pattern(2048, 0))},
      // Only data blocks are scrambled, and they always are.
      {"unscrambled data block", Scrambled(DataBlock(0x12, 0, 2048, Pattern(2048, 9)))},
      {"scrambled begin", Scrambled(Begin(0x43, 3))},
      {"scrambled short block", Scrambled(ShortBlock(0x12, 0, 53, Pattern(53, 0)))},
      {"block index disagrees", DataBlockWithMismatchedIndex()},
  };
  for (const auto& [why, frame] : dropped) {
    SCOPED_TRACE(why);
    sim::DeviceModel model = Fresh();
    EXPECT_TRUE(Send(model, frame)) << "the write itself reaches the device";
    EXPECT_FALSE(model.NextReportTime().has_value());
    EXPECT_EQ(model.GetSummary().rejectedFrames, 1);
    EXPECT_EQ(model.GetSummary().frames, 1);
    EXPECT_FALSE(model.LastRejection().empty());
    EXPECT_TRUE(model.Images().empty());
  }
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
