// Every command's frame, byte for byte, before it is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>

#include "link/command_frames.h"
#include "tests/link/frame_reader.h"

namespace {

using linktest::Bytes;
using linktest::ParseFrame;
using linktest::ParsedFrame;
using linktest::Slice;

// Builds into a 4096-byte buffer and returns exactly the bytes reported.
template <typename BuildStep>
Bytes Built(BuildStep step) {
  std::array<std::uint8_t, kFrameBufferSize> frame{};
  const std::uint16_t length = step(std::span<std::uint8_t>(frame));
  return Bytes(frame.begin(), frame.begin() + length);
}

ParsedFrame PlainFrame(const Bytes& frame) {
  EXPECT_FALSE(frame.empty());
  const ParsedFrame parsed = ParseFrame(frame);
  EXPECT_TRUE(parsed.valid) << "not a plain, well-formed frame";
  EXPECT_EQ(parsed.spare, 0);
  EXPECT_EQ(parsed.option, 0);
  return parsed;
}

Bytes BigEndian(std::uint32_t value, int size) {
  Bytes out;
  for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) {
    out.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  return out;
}

TEST(ConnectFrameTest, IsCode6WithAZeroRecordAndNoPayload) {
  const auto frame = Built([](auto f) { return BuildConnectFrame(f); });
  ASSERT_EQ(frame.size(), 15u);
  const auto parsed = PlainFrame(frame);
  EXPECT_EQ(parsed.code, 0x06);
  EXPECT_EQ(parsed.total, 0);
  EXPECT_EQ(parsed.index, 0);
  EXPECT_TRUE(parsed.payload.empty());
}

TEST(EmptyCommandFrameTest, DatabasePrepareAndEndCarryOnlyTheirCode) {
  const auto prepare = PlainFrame(Built([](auto f) { return BuildDatabasePrepareFrame(f); }));
  EXPECT_EQ(prepare.code, 0x14);
  EXPECT_TRUE(prepare.payload.empty());
  EXPECT_EQ(prepare.total, 0);
  for (const std::uint16_t code : {kCmdEnd, kCmdEndAlt}) {
    const auto end = PlainFrame(Built([code](auto f) { return BuildEndFrame(f, code); }));
    EXPECT_EQ(end.code, code);
    EXPECT_TRUE(end.payload.empty());
    EXPECT_EQ(end.total + end.index + end.chunkSize, 0);
  }
}

TEST(DataBlockFrameTest, IsScrambledWholeWithKeyARestartingEvery256Bytes) {
  const Bytes image = linktest::PatternImage(3 * 2048);
  const std::uint32_t length = 5000;
  const auto frame =
      Built([&](auto f) { return BuildDataBlockFrame(f, 0x22, 1, image.data(), length); });
  ASSERT_EQ(frame.size(), 15u + 2056u);
  EXPECT_EQ(frame[0], 0x5A ^ 0xC3);
  EXPECT_FALSE(ParseFrame(frame).valid) << "a data block must not go out plain";

  // Only a key that restarts at every 256th byte from the frame's first byte
  // gives back a frame whose CRC holds.
  const auto parsed = PlainFrame(linktest::DescrambleWithKeyA(frame));
  EXPECT_EQ(parsed.code, 0x22);
  EXPECT_EQ(parsed.index, 1);
  EXPECT_EQ(parsed.total, 0);
  EXPECT_EQ(parsed.chunkSize, 0);
  ASSERT_EQ(parsed.payload.size(), 2056u);
  EXPECT_EQ(Slice(parsed.payload, 0, 2), BigEndian(1, 2));
  EXPECT_EQ(Slice(parsed.payload, 2, 4), BigEndian(length, 4));
  EXPECT_EQ(Slice(parsed.payload, 6, 2), (Bytes{0x08, 0x00}));
  EXPECT_EQ(Slice(parsed.payload, 8, 2048), Slice(image, 2048, 2048));
}

TEST(DataBlockFrameTest, SendsTheLastBlockWholePastTheImagesEnd) {
  const Bytes image = linktest::PatternImage(3 * 2048);
  const std::uint32_t length = 2 * 2048 + 10;
  const auto frame =
      Built([&](auto f) { return BuildDataBlockFrame(f, 0x11, 2, image.data(), length); });
  const auto parsed = PlainFrame(linktest::DescrambleWithKeyA(frame));
  EXPECT_EQ(parsed.index, 2);
  EXPECT_EQ(Slice(parsed.payload, 8, 2048), Slice(image, 4096, 2048));
}

TEST(DataBlockFrameTest, IsNotBuiltIntoABufferTooSmallForIt) {
  const Bytes image = linktest::PatternImage(2048);
  std::array<std::uint8_t, 2070> small{};
  EXPECT_EQ(BuildDataBlockFrame(small, 0x11, 0, image.data(), 2048), 0);
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](auto b) { return b == 0; }));
}

TEST(ShortBlockFrameTest, CarriesThe53BytesOfItsIndexPlain) {
  const Bytes image = linktest::PatternImage(400);
  const auto parsed = PlainFrame(
      Built([&](auto f) { return BuildShortBlockFrame(f, 0x19, 3, image.data(), 400); }));
  EXPECT_EQ(parsed.code, 0x19);
  EXPECT_EQ(parsed.index, 3);
  EXPECT_EQ(parsed.total, 400 / 53);
  EXPECT_EQ(parsed.payload, Slice(image, 3 * 53, 53));
}

TEST(ShortBlockFrameTest, TotalIsTheWholeNumberOf53ByteBlocks) {
  const Bytes image = linktest::PatternImage(200);
  for (const auto& [length, total] : {std::pair{105u, 1}, std::pair{106u, 2}, std::pair{52u, 0}}) {
    const auto parsed = PlainFrame(
        Built([&](auto f) { return BuildShortBlockFrame(f, 0x11, 0, image.data(), length); }));
    EXPECT_EQ(parsed.total, total) << "L = " << length;
  }
}

TEST(BeginFrameTest, CarriesOneTargetFFUnderTheCodeGiven) {
  const auto parsed = PlainFrame(Built([](auto f) { return BuildBeginFrame(f, 0x43, 2); }));
  EXPECT_EQ(parsed.code, 0x43);
  EXPECT_EQ(parsed.total, 3);
  EXPECT_EQ(parsed.index, 0);
  EXPECT_EQ(parsed.payload, (Bytes{0x01, 0x02, 0xFF}));
  EXPECT_EQ(BeginCode(false), 0x43);
  EXPECT_EQ(BeginCode(true), 0x49);
}

TEST(ChunkFrameTest, CarriesTargetIndexLengthSizeAndTheChunk) {
  const Bytes image = linktest::PatternImage(1000);
  const auto parsed = PlainFrame(
      Built([&](auto f) { return BuildChunkFrame(f, 0x42, 3, 44, 5, image.data(), 1000); }));
  EXPECT_EQ(parsed.code, 0x42);
  EXPECT_EQ(parsed.index, 5);
  EXPECT_EQ(parsed.total, 23);  // 1000 / 44 = 22 rest 32
  ASSERT_EQ(parsed.payload.size(), 53u);
  Bytes header = {0x03};
  for (const auto& part : {BigEndian(5, 2), BigEndian(1000, 4), BigEndian(44, 2)}) {
    header.insert(header.end(), part.begin(), part.end());
  }
  EXPECT_EQ(Slice(parsed.payload, 0, 9), header);
  EXPECT_EQ(Slice(parsed.payload, 9, 44), Slice(image, 5 * 44, 44));
}

TEST(ChunkFrameTest, TotalCountsAPartialLastChunkAsOneMore) {
  const Bytes image = linktest::PatternImage(100);
  for (const auto& [length, total] : {std::pair{44u, 1}, std::pair{45u, 2}, std::pair{88u, 2}}) {
    const auto parsed = PlainFrame(
        Built([&](auto f) { return BuildChunkFrame(f, 0x48, 2, 44, 0, image.data(), length); }));
    EXPECT_EQ(parsed.total, total) << "L = " << length;
    EXPECT_EQ(parsed.code, 0x48);
  }
}

TEST(ChunkFrameTest, A2048ByteChunkGoesWholeAndAnEmptyOneCarriesOnlyTheHeader) {
  const Bytes image = linktest::PatternImage(4 * 2048);
  const auto big = PlainFrame(
      Built([&](auto f) { return BuildChunkFrame(f, 0x42, 3, 2048, 2, image.data(), 8000); }));
  ASSERT_EQ(big.payload.size(), 9u + 2048u);
  EXPECT_EQ(Slice(big.payload, 7, 2), (Bytes{0x08, 0x00}));
  EXPECT_EQ(big.total, 4);
  EXPECT_EQ(Slice(big.payload, 9, 2048), Slice(image, 2 * 2048, 2048));

  const auto empty = PlainFrame(
      Built([&](auto f) { return BuildChunkFrame(f, 0x42, 3, 0, 0, image.data(), 8000); }));
  EXPECT_EQ(empty.payload.size(), 9u);
  EXPECT_EQ(empty.total, 0);

  EXPECT_EQ(Built([&](auto f) {
              return BuildChunkFrame(f, 0x42, 3, 0xFFFF, 0, image.data(), 8000);
            }).size(),
            0u);
}

TEST(TestDataHeadFrameTest, CarriesAtMost53BytesAndTheWholeCountInTotal) {
  const Bytes data = linktest::PatternImage(300);
  for (const auto& [n, sent] : {std::pair{20, 20}, std::pair{300, 53}, std::pair{53, 53}}) {
    const auto parsed = PlainFrame(Built([&](auto f) {
      return BuildTestDataHeadFrame(f, data.data(), static_cast<std::uint16_t>(n));
    }));
    EXPECT_EQ(parsed.code, 0x63);
    EXPECT_EQ(parsed.total, n);
    EXPECT_EQ(parsed.index, 0);
    EXPECT_EQ(parsed.chunkSize, 0);
    EXPECT_EQ(parsed.payload, Slice(data, 0, static_cast<std::size_t>(sent))) << "n = " << n;
  }
}

TEST(TestDataChunkFrameTest, RefillsTheStageAndPadsTheLastChunkWithZeros) {
  std::array<std::uint8_t, kTestDataStageSize> stage;
  stage.fill(0xEE);  // an earlier, longer run's leftovers
  const Bytes data = linktest::PatternImage(60);
  const auto parsed = PlainFrame(
      Built([&](auto f) { return BuildTestDataChunkFrame(f, stage, data.data(), 60, 1); }));
  EXPECT_EQ(parsed.code, 0x63);
  EXPECT_EQ(parsed.total, 60);
  EXPECT_EQ(parsed.index, 1);
  EXPECT_EQ(parsed.chunkSize, 53);
  Bytes expected = Slice(data, 53, 7);
  expected.resize(53, 0);
  EXPECT_EQ(parsed.payload, expected);
  EXPECT_EQ(Bytes(stage.begin(), stage.begin() + 60), data);
  EXPECT_TRUE(std::all_of(stage.begin() + 60, stage.end(), [](auto b) { return b == 0; }));
}

TEST(TestDataChunkFrameTest, NeverReadsPastTheStage) {
  std::array<std::uint8_t, kTestDataStageSize> stage{};
  const Bytes data = linktest::PatternImage(2000);
  // Chunk 19 starts at 1007: 17 staged bytes, then zeros. Data past 1024 is not staged.
  const auto parsed = PlainFrame(
      Built([&](auto f) { return BuildTestDataChunkFrame(f, stage, data.data(), 2000, 19); }));
  Bytes expected = Slice(data, 1007, 17);
  expected.resize(53, 0);
  EXPECT_EQ(parsed.payload, expected);
  const auto beyond = PlainFrame(
      Built([&](auto f) { return BuildTestDataChunkFrame(f, stage, data.data(), 2000, 40); }));
  EXPECT_EQ(beyond.payload, Bytes(53, 0));
}

}  // namespace
