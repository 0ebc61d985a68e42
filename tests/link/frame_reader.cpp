#include "tests/link/frame_reader.h"

#include "link/command_frames.h"

namespace linktest {

Bytes Built(BuildStep step) {
  std::array<std::uint8_t, kFrameBufferSize> frame{};
  const std::uint16_t length = step(frame);
  return Bytes(frame.begin(), frame.begin() + length);
}

namespace {

std::uint16_t Be16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }

}  // namespace

std::uint16_t ReferenceCrc(const std::uint8_t* bytes, std::size_t length) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    unsigned x = ((crc >> 8) ^ bytes[i]) & 0xFF;
    x ^= x >> 4;
    crc = static_cast<std::uint16_t>((crc << 8) ^ (x << 12) ^ (x << 5) ^ x);
  }
  return crc;
}

ParsedFrame ParseFrame(const Bytes& frame) {
  ParsedFrame parsed;
  if (frame.size() < 15 || frame[0] != 0x5A) return parsed;
  const std::size_t n = Be16(&frame[11]);
  if (frame.size() != 15 + n) return parsed;
  if (Be16(&frame[13 + n]) != ReferenceCrc(frame.data(), 13 + n)) return parsed;
  parsed.valid = true;
  parsed.code = Be16(&frame[1]);
  parsed.total = Be16(&frame[3]);
  parsed.index = Be16(&frame[5]);
  parsed.chunkSize = frame[7];
  parsed.spare = Be16(&frame[8]);
  parsed.option = frame[10];
  parsed.payload = Slice(frame, 13, n);
  return parsed;
}

Bytes DescrambleWithKeyA(Bytes frame) {
  for (std::size_t p = 0; p < frame.size(); ++p) frame[p] ^= XorKeyA[p % 256];
  return frame;
}

std::array<std::uint8_t, 64> MakeReport(std::uint16_t code, std::uint16_t echo,
                                        std::uint8_t status) {
  std::array<std::uint8_t, 64> report{0xA5, 0, 0, 0x00, 0x40};
  const auto put16 = [&report](std::size_t at, std::uint16_t value) {
    report[at] = static_cast<std::uint8_t>(value >> 8);
    report[at + 1] = static_cast<std::uint8_t>(value);
  };
  put16(1, code);
  put16(5, echo);
  report[8] = status;
  put16(62, ReferenceCrc(report.data(), 62));
  return report;
}

Bytes PatternImage(std::size_t length) {
  Bytes image(length);
  for (std::size_t i = 0; i < length; ++i) {
    image[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8) * 7 + 1);
  }
  return image;
}

}  // namespace linktest
