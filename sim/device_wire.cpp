#include "sim/device_wire.h"

#include <algorithm>
#include <array>

// The frame key as the host's link configures it.
extern const std::uint8_t XorKeyA[256];

namespace sim {

namespace {

// CRC-16/CCITT-FALSE four bits at a time: the CRC of each nibble value shifted
// to the top. Worked out apart from the host's byte table, so that a slip in
// one of them shows as a rejected frame.
constexpr std::array<std::uint16_t, 16> MakeNibbleTable() {
  std::array<std::uint16_t, 16> table{};
  for (unsigned nibble = 0; nibble < 16; ++nibble) {
    auto crc = static_cast<std::uint16_t>(nibble << 12);
    for (int bit = 0; bit < 4; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<std::uint16_t>(crc << 1);
    }
    table[nibble] = crc;
  }
  return table;
}
constexpr std::array<std::uint16_t, 16> kNibbleCrc = MakeNibbleTable();

}  // namespace

std::uint16_t CrcCcittFalse(const std::uint8_t* bytes, std::size_t length) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc << 4) ^ kNibbleCrc[(crc >> 12) ^ (bytes[i] >> 4)]);
    crc = static_cast<std::uint16_t>((crc << 4) ^ kNibbleCrc[(crc >> 12) ^ (bytes[i] & 0x0F)]);
  }
  return crc;
}

bool ParseWireFrame(const std::uint8_t* data, std::size_t length, std::uint8_t* scratch,
                    WireFrame& frame, std::string& reason) {
  frame = WireFrame{};
  if (data == nullptr || length == 0) {
    reason = "empty transfer";
    return false;
  }
  if (length > kLargestFrame) {
    reason = "longer than any frame";
    return false;
  }
  const std::uint8_t* bytes = data;
  if (data[0] == static_cast<std::uint8_t>(kCommandSync ^ XorKeyA[0])) {
    for (std::size_t i = 0; i < length; ++i) scratch[i] = data[i] ^ XorKeyA[i % 256];
    bytes = scratch;
    frame.scrambled = true;
  }
  if (bytes[0] != kCommandSync) {
    reason = "bad sync";
    return false;
  }
  if (length < kHeaderBytes + kCrcBytes) {
    reason = "truncated header";
    return false;
  }
  const std::uint16_t payloadLength = ReadBig16(bytes + 11);
  if (length != kHeaderBytes + payloadLength + kCrcBytes) {
    reason = "payload length does not match the transfer";
    return false;
  }
  const std::size_t crcAt = kHeaderBytes + payloadLength;
  if (CrcCcittFalse(bytes, crcAt) != ReadBig16(bytes + crcAt)) {
    reason = "bad CRC";
    return false;
  }
  frame.code = ReadBig16(bytes + 1);
  frame.total = ReadBig16(bytes + 3);
  frame.index = ReadBig16(bytes + 5);
  frame.chunkSize = bytes[7];
  frame.spare = ReadBig16(bytes + 8);
  frame.option = bytes[10];
  frame.payloadLength = payloadLength;
  frame.payload = bytes + kHeaderBytes;
  return true;
}

void BuildReport(std::uint16_t replyCode, std::uint16_t blockIndex, std::uint8_t status,
                 std::uint8_t* out) {
  std::fill(out, out + kReportBytes, std::uint8_t{0});
  out[0] = kReportSyncByte;
  out[1] = static_cast<std::uint8_t>(replyCode >> 8);
  out[2] = static_cast<std::uint8_t>(replyCode);
  out[3] = 0x00;
  out[4] = static_cast<std::uint8_t>(kReportBytes);
  out[5] = static_cast<std::uint8_t>(blockIndex >> 8);
  out[6] = static_cast<std::uint8_t>(blockIndex);
  out[8] = status;
  const std::uint16_t crc = CrcCcittFalse(out, kReportBytes - kCrcBytes);
  out[kReportBytes - 2] = static_cast<std::uint8_t>(crc >> 8);
  out[kReportBytes - 1] = static_cast<std::uint8_t>(crc);
}

}  // namespace sim
