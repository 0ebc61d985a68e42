#include "tests/link/frame_reader.h"

#include "link/command_frames.h"

namespace linktest {
namespace {

std::array<std::uint16_t, 256> CrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned n = 0; n < 256; ++n) {
    unsigned crc = n << 8;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1;
    table[n] = static_cast<std::uint16_t>(crc);
  }
  return table;
}

std::uint16_t Be16(const std::uint8_t* at) { return static_cast<std::uint16_t>(at[0] << 8 | at[1]); }

}  // namespace

std::uint16_t ReferenceCrc(const std::uint8_t* bytes, std::size_t length) {
  static const auto table = CrcTable();
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ table[((crc >> 8) ^ bytes[i]) & 0xFF]);
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
  std::array<std::uint8_t, 64> report{};
  report[0] = 0xA5;
  report[1] = static_cast<std::uint8_t>(code >> 8);
  report[2] = static_cast<std::uint8_t>(code);
  report[3] = 0x00;
  report[4] = 0x40;
  report[5] = static_cast<std::uint8_t>(echo >> 8);
  report[6] = static_cast<std::uint8_t>(echo);
  report[8] = status;
  const std::uint16_t crc = ReferenceCrc(report.data(), 62);
  report[62] = static_cast<std::uint8_t>(crc >> 8);
  report[63] = static_cast<std::uint8_t>(crc);
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
