// The test's own reading of the wire format, written from docs/protocol.md
// without the packet library, so a fault in the packer does not hide itself.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace linktest {

using Bytes = std::vector<std::uint8_t>;

struct ParsedFrame {
  bool valid = false;  // sync, length field and CRC agree with the bytes
  std::uint16_t code = 0;
  std::uint16_t total = 0;
  std::uint16_t index = 0;
  std::uint8_t chunkSize = 0;
  std::uint16_t spare = 0;
  std::uint8_t option = 0;
  Bytes payload;
};

// CRC-16/CCITT-FALSE, a byte at a time (the library computes it bit by bit).
std::uint16_t ReferenceCrc(const std::uint8_t* bytes, std::size_t length);

ParsedFrame ParseFrame(const Bytes& frame);

// XORs with XorKeyA from the first byte, the way the device undoes a data block.
Bytes DescrambleWithKeyA(Bytes frame);

// A well-formed 64-byte report as the device sends it.
std::array<std::uint8_t, 64> MakeReport(std::uint16_t code, std::uint16_t echo = 0,
                                        std::uint8_t status = 0);

// One of the packer's frame builders, given a frame buffer.
using BuildStep = std::uint16_t (*)(std::span<std::uint8_t>);

// Builds into a 4096-byte buffer and returns exactly the bytes reported.
Bytes Built(BuildStep step);

// A recognisable image: no two nearby blocks are alike.
Bytes PatternImage(std::size_t length);

// bytes[from, from + count), cut short at the end, so a broken frame fails a
// comparison instead of crashing the run.
inline Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t count) {
  from = std::min(from, bytes.size());
  count = std::min(count, bytes.size() - from);
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(from),
               bytes.begin() + static_cast<std::ptrdiff_t>(from + count));
}

}  // namespace linktest
