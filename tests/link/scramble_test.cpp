// The key tables and the XOR scrambling of image buffers and data-block frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "link/command_frames.h"
#include "tests/link/frame_reader.h"

namespace {

using linktest::Bytes;

TEST(KeyTablesTest, AreTheDistinctNonTrivialTablesTheDeviceExpects) {
  // The device recognises a scrambled data block by 0x5A ^ XorKeyA[0].
  EXPECT_EQ(XorKeyA[0], 0xC3);
  EXPECT_FALSE(std::equal(XorKeyA, XorKeyA + 256, XorKeyB));
  for (const std::uint8_t* key : {XorKeyA, XorKeyB}) {
    EXPECT_GT(std::set<std::uint8_t>(key, key + 256).size(), 128u);
  }
}

TEST(ScrambleTest, XorsEachByteWithTheKeyAtItsPositionModulo256) {
  Bytes run(600, 0);
  Scramble(run.data(), static_cast<std::uint32_t>(run.size()), XorKeyB);
  for (std::size_t p = 0; p < run.size(); ++p) ASSERT_EQ(run[p], XorKeyB[p % 256]) << p;
}

TEST(ScrambleTest, CountsPositionsFromTheRunsFirstByteAndStopsAtItsLength) {
  Bytes buffer(20, 0);
  Scramble(buffer.data() + 5, 10, XorKeyA);
  for (std::size_t p = 0; p < buffer.size(); ++p) {
    const std::uint8_t expected = (p >= 5 && p < 15) ? XorKeyA[p - 5] : 0;
    EXPECT_EQ(buffer[p], expected) << p;
  }
  Scramble(buffer.data(), 0, XorKeyA);
  EXPECT_EQ(buffer[0], 0);
}

TEST(ScrambleTest, TwiceWithTheSameTableRestoresTheRun) {
  const Bytes original = linktest::PatternImage(5000);
  Bytes run = original;
  Scramble(run.data(), 5000, XorKeyA);
  EXPECT_NE(run, original);
  Scramble(run.data(), 5000, XorKeyA);
  EXPECT_EQ(run, original);
}

}  // namespace
