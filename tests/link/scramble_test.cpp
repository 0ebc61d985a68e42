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

TEST(ScrambleTest, XorsTheRunWithTheKeyCountedFromItsFirstByteAndTwiceRestoresIt) {
  const Bytes original = linktest::PatternImage(700);
  Bytes buffer = original;
  Scramble(buffer.data() + 5, 600, XorKeyB);
  for (std::size_t p = 0; p < buffer.size(); ++p) {
    const bool inRun = p >= 5 && p < 605;
    ASSERT_EQ(buffer[p], inRun ? original[p] ^ XorKeyB[(p - 5) % 256] : original[p]) << p;
  }
  Scramble(buffer.data() + 5, 600, XorKeyB);
  EXPECT_EQ(buffer, original);
  Scramble(buffer.data(), 0, XorKeyB);
  EXPECT_EQ(buffer, original);
}

}  // namespace
