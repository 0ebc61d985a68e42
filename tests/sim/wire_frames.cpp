#include "tests/sim/wire_frames.h"

#include <algorithm>

#include "sim/device_wire.h"

extern const std::uint8_t XorKeyA[256];

namespace simtest {
namespace {

void PutBig(Bytes& out, std::uint32_t value, int bytes = 2) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

}  // namespace

Bytes Frame(const Header& header, const Bytes& payload) {
  Bytes frame{0x5A};
  PutBig(frame, header.code);
  PutBig(frame, header.total);
  PutBig(frame, header.index);
  frame.push_back(header.chunkSize);
  PutBig(frame, 0, 3);  // spare, option
  PutBig(frame, static_cast<std::uint16_t>(payload.size()));
  frame.insert(frame.end(), payload.begin(), payload.end());
  PutBig(frame, sim::CrcCcittFalse(frame.data(), frame.size()));
  return frame;
}

Bytes Scrambled(Bytes frame) {
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] ^= XorKeyA[i % 256];
  return frame;
}

Bytes DataBlock(std::uint16_t code, std::uint16_t index, std::uint32_t imageLength,
                const Bytes& block2048) {
  Bytes payload;
  PutBig(payload, index);
  PutBig(payload, imageLength, 4);
  PutBig(payload, 2048);
  payload.insert(payload.end(), block2048.begin(), block2048.end());
  return Scrambled(Frame({code, 0, index, 0}, payload));
}

Bytes ShortBlock(std::uint16_t code, std::uint16_t index, std::uint32_t imageLength,
                 const Bytes& block53) {
  return Frame({code, static_cast<std::uint16_t>(imageLength / 53), index, 0}, block53);
}

Bytes Chunk(std::uint16_t code, std::uint8_t target, std::uint16_t index, std::uint32_t imageLength,
            const Bytes& data) {
  const auto size = static_cast<std::uint16_t>(data.size());
  const auto count = static_cast<std::uint16_t>(size == 0 ? 0 : (imageLength + size - 1) / size);
  Bytes payload{target};
  PutBig(payload, index);
  PutBig(payload, imageLength, 4);
  PutBig(payload, size);
  payload.insert(payload.end(), data.begin(), data.end());
  return Frame({code, count, index, 0}, payload);
}

Bytes Begin(std::uint16_t code, std::uint8_t target) {
  return Frame({code, 3, 0, 0}, Bytes{0x01, target, 0xFF});
}

Bytes Empty(std::uint16_t code) { return Frame({code, 0, 0, 0}, {}); }

Bytes TestDataHead(const Bytes& testData) {
  const std::size_t head = std::min<std::size_t>(testData.size(), 53);
  return Frame({0x63, static_cast<std::uint16_t>(testData.size()), 0, 0},
               Bytes(testData.begin(), testData.begin() + static_cast<std::ptrdiff_t>(head)));
}

Bytes TestDataChunk(std::uint16_t index, std::uint16_t total, const Bytes& chunk53) {
  return Frame({0x63, total, index, 53}, chunk53);
}

Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 7 + i / 251);
  return bytes;
}

}  // namespace simtest
