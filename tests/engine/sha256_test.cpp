// SHA-256 against the FIPS 180-4 examples, across the padding's block
// boundaries, and fed in pieces.
#include <gtest/gtest.h>

#include <string>

#include "engine/sha256.h"

namespace {

std::string Counting(std::size_t n) {
  std::string bytes;
  for (std::size_t i = 0; i < n; ++i) bytes += static_cast<char>((i * 7 + 3) & 255);
  return bytes;
}

TEST(Sha256, KnownDigests) {
  const struct {
    std::string input;
    const char* digest;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
      // Lengths around the 56-byte point where the length no longer fits.
      {Counting(55), "e7313d333c272e639f790978283f9eb392e843d0f29b7016828bb1daa4aac70b"},
      {Counting(56), "4324d65f3c103567f5589c710bc08f8523f929a9272e3af36fc968e52abc6c27"},
      {Counting(63), "81c80242132f230c3bd41b3e63bbcff16107339549214a99614ff26664625055"},
      {Counting(64), "39e3d7b6b5d075d37d053ad89b24b41bef4f3c29760c84447cab3f3be1882241"},
      {Counting(65), "aacca6ff74fdbb296d165a45cecfa04e5127bc008770fbbdd48006f2d2fae95e"},
  };
  for (const auto& c : cases) EXPECT_EQ(Sha256Hex(c.input), c.digest) << c.input.size();
}

TEST(Sha256, PiecesGiveTheDigestOfTheWhole) {
  const std::string bytes = Counting(1000);
  for (const std::size_t piece : {1u, 13u, 64u, 100u}) {
    Sha256 hash;
    for (std::size_t at = 0; at < bytes.size(); at += piece) hash.Update(std::string_view(bytes).substr(at, piece));
    EXPECT_EQ(HexDigest(hash.Finish()),
              "1e9bc38cbf860b9ec31918b065f9b52476c549a782e0e7990bed8ce3868d2371") << piece;
  }
}

TEST(Sha256, HexCheck) {
  EXPECT_TRUE(IsSha256Hex(std::string(64, 'A')));
  EXPECT_FALSE(IsSha256Hex(std::string(63, 'a')));
  EXPECT_FALSE(IsSha256Hex(std::string(63, 'a') + "g"));
  EXPECT_EQ(Sha256OfFile("/nonexistent/file"), "");
}

}  // namespace
