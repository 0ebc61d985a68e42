// Every command's frame, byte for byte, before it is written.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <initializer_list>

#include "link/command_frames.h"
#include "tests/link/frame_reader.h"

namespace {

using linktest::Bytes;
using linktest::ParsedFrame;
using linktest::Slice;

using linktest::Built;
using linktest::BuildStep;

ParsedFrame PlainFrame(const Bytes& frame) {
  const ParsedFrame parsed = linktest::ParseFrame(frame);
  EXPECT_TRUE(parsed.valid) << "not a plain, well-formed frame";
  EXPECT_EQ(parsed.spare, 0);
  EXPECT_EQ(parsed.option, 0);
  return parsed;
}

Bytes BigEndian(std::uint32_t value, int size) {
  Bytes out;
  for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
  return out;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

const Bytes& Image() {
  static const Bytes image = linktest::PatternImage(4 * 2048);
  return image;
}

Bytes ChunkPayload(std::uint8_t target, std::uint16_t index, std::uint32_t length, std::uint16_t b) {
  return Cat({{target}, BigEndian(index, 2), BigEndian(length, 4), BigEndian(b, 2),
              Slice(Image(), std::size_t{index} * b, b)});
}

Bytes ZeroPadded(Bytes bytes) {
  bytes.resize(53, 0);
  return bytes;
}

std::array<std::uint8_t, kTestDataStageSize> g_stage;

struct FrameCase {
  const char* name;
  BuildStep build;
  std::uint16_t code, total, index;
  std::uint8_t chunkSize;
  Bytes payload;
};

const FrameCase kFrameCases[] = {
    {"connect", [](auto f) { return BuildConnectFrame(f); }, 0x06, 0, 0, 0, {}},
    {"prepare", [](auto f) { return BuildDatabasePrepareFrame(f); }, 0x14, 0, 0, 0, {}},
    {"end", [](auto f) { return BuildEndFrame(f, kCmdEnd); }, 0x44, 0, 0, 0, {}},
    {"end alt", [](auto f) { return BuildEndFrame(f, kCmdEndAlt); }, 0x4A, 0, 0, 0, {}},
    {"begin", [](auto f) { return BuildBeginFrame(f, 0x43, 2); }, 0x43, 3, 0, 0, {0x01, 0x02, 0xFF}},
    // Short blocks: total is the whole number of 53-byte blocks in L.
    {"short L400", [](auto f) { return BuildShortBlockFrame(f, 0x19, 3, Image().data(), 400); },
     0x19, 7, 3, 0, Slice(Image(), 3 * 53, 53)},
    {"short L105", [](auto f) { return BuildShortBlockFrame(f, 0x11, 0, Image().data(), 105); },
     0x11, 1, 0, 0, Slice(Image(), 0, 53)},
    {"short L106", [](auto f) { return BuildShortBlockFrame(f, 0x11, 0, Image().data(), 106); },
     0x11, 2, 0, 0, Slice(Image(), 0, 53)},
    {"short L52", [](auto f) { return BuildShortBlockFrame(f, 0x11, 0, Image().data(), 52); },
     0x11, 0, 0, 0, Slice(Image(), 0, 53)},
    // Chunks: a partial last chunk counts as one more; an empty chunk size counts none.
    {"chunk L1000", [](auto f) { return BuildChunkFrame(f, 0x42, 3, 44, 5, Image().data(), 1000); },
     0x42, 23, 5, 0, ChunkPayload(3, 5, 1000, 44)},
    {"chunk L44", [](auto f) { return BuildChunkFrame(f, 0x48, 2, 44, 0, Image().data(), 44); },
     0x48, 1, 0, 0, ChunkPayload(2, 0, 44, 44)},
    {"chunk L45", [](auto f) { return BuildChunkFrame(f, 0x48, 2, 44, 0, Image().data(), 45); },
     0x48, 2, 0, 0, ChunkPayload(2, 0, 45, 44)},
    {"chunk b2048", [](auto f) { return BuildChunkFrame(f, 0x42, 3, 2048, 2, Image().data(), 8000); },
     0x42, 4, 2, 0, ChunkPayload(3, 2, 8000, 2048)},
    {"chunk b0", [](auto f) { return BuildChunkFrame(f, 0x42, 3, 0, 0, Image().data(), 8000); },
     0x42, 0, 0, 0, ChunkPayload(3, 0, 8000, 0)},
    // Test-data head: at most 53 bytes, the whole count in total.
    {"head n20", [](auto f) { return BuildTestDataHeadFrame(f, Image().data(), 20); },
     0x63, 20, 0, 0, Slice(Image(), 0, 20)},
    {"head n53", [](auto f) { return BuildTestDataHeadFrame(f, Image().data(), 53); },
     0x63, 53, 0, 0, Slice(Image(), 0, 53)},
    {"head n300", [](auto f) { return BuildTestDataHeadFrame(f, Image().data(), 300); },
     0x63, 300, 0, 0, Slice(Image(), 0, 53)},
    // Test-data chunks come from the 1024-byte stage: zeros past the data and past the stage.
    {"test chunk n60", [](auto f) { return BuildTestDataChunkFrame(f, g_stage, Image().data(), 60, 1); },
     0x63, 60, 1, 53, ZeroPadded(Slice(Image(), 53, 7))},
    {"test chunk 19 of 2000",
     [](auto f) { return BuildTestDataChunkFrame(f, g_stage, Image().data(), 2000, 19); },
     0x63, 2000, 19, 53, ZeroPadded(Slice(Image(), 1007, 17))},
    {"test chunk 40 of 2000",
     [](auto f) { return BuildTestDataChunkFrame(f, g_stage, Image().data(), 2000, 40); },
     0x63, 2000, 40, 53, Bytes(53, 0)},
};

TEST(CommandFrameTest, EachBuilderLaysOutItsHeaderAndPayload) {
  for (const FrameCase& c : kFrameCases) {
    SCOPED_TRACE(c.name);
    const auto parsed = PlainFrame(Built(c.build));
    EXPECT_EQ(parsed.code, c.code);
    EXPECT_EQ(parsed.total, c.total);
    EXPECT_EQ(parsed.index, c.index);
    EXPECT_EQ(parsed.chunkSize, c.chunkSize);
    EXPECT_EQ(parsed.payload, c.payload);
  }
}

TEST(DataBlockFrameTest, IsScrambledWholeWithKeyAAndSendsTheLastBlockWhole) {
  const std::uint32_t length = 2 * 2048 + 10;
  const auto frame = Built([](auto f) { return BuildDataBlockFrame(f, 0x22, 2, Image().data(), 2 * 2048 + 10); });
  ASSERT_EQ(frame.size(), 15u + 2056u);
  EXPECT_EQ(frame[0], 0x5A ^ 0xC3);
  EXPECT_FALSE(linktest::ParseFrame(frame).valid) << "a data block must not go out plain";

  // Only a key that restarts at every 256th byte from the frame's first byte
  // gives back a frame whose CRC holds.
  const auto parsed = PlainFrame(linktest::DescrambleWithKeyA(frame));
  EXPECT_EQ(parsed.code, 0x22);
  EXPECT_EQ(parsed.index, 2);
  EXPECT_EQ(parsed.total + parsed.chunkSize, 0);
  // The 2048 bytes go whole, past the image's end.
  EXPECT_EQ(parsed.payload, Cat({BigEndian(2, 2), BigEndian(length, 4), {0x08, 0x00},
                                 Slice(Image(), 2 * 2048, 2048)}));
}

TEST(CommandFrameTest, NothingIsBuiltThatDoesNotFit) {
  std::array<std::uint8_t, 2070> small{};
  EXPECT_EQ(BuildDataBlockFrame(small, 0x11, 0, Image().data(), 2048), 0);
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](auto b) { return b == 0; }));
  EXPECT_TRUE(Built([](auto f) { return BuildChunkFrame(f, 0x42, 3, 0xFFFF, 0, Image().data(), 8000); }).empty());
}

TEST(TestDataChunkFrameTest, RefillsTheStageWithZerosPastTheData) {
  std::array<std::uint8_t, kTestDataStageSize> stage;
  stage.fill(0xEE);  // an earlier, longer run's leftovers
  std::array<std::uint8_t, kFrameBufferSize> frame{};
  ASSERT_NE(BuildTestDataChunkFrame(frame, stage, Image().data(), 60, 0), 0);
  EXPECT_EQ(Bytes(stage.begin(), stage.begin() + 60), Slice(Image(), 0, 60));
  EXPECT_TRUE(std::all_of(stage.begin() + 60, stage.end(), [](auto b) { return b == 0; }));
}

}  // namespace
