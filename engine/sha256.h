// SHA-256 (FIPS 180-4): the digest that pins an image file to a row and that
// the ledger records for every image sent. Incremental, so a buffer already
// read for the transfer is hashed where it lies; no allocation.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class Sha256 {
 public:
  using Digest = std::array<std::uint8_t, 32>;

  Sha256();
  void Update(const std::uint8_t* data, std::size_t size);
  void Update(std::string_view text) {
    Update(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  }
  // The digest of everything given so far; the object is spent afterwards.
  Digest Finish();

 private:
  void Compress(const std::uint8_t* block);

  std::array<std::uint32_t, 8> state_;
  std::array<std::uint8_t, 64> block_{};
  std::size_t blockUsed_ = 0;
  std::uint64_t totalBytes_ = 0;
};

// 64 lower-case hexadecimal digits.
std::string HexDigest(const Sha256::Digest& digest);
// The digest of bytes, as hex.
std::string Sha256Hex(const std::uint8_t* data, std::size_t size);
std::string Sha256Hex(std::string_view bytes);
// The digest of the whole file at path, as hex; empty when it cannot be read.
std::string Sha256OfFile(const std::string& path);
// text is 64 hexadecimal digits (either case).
bool IsSha256Hex(std::string_view text);
