#include "link/packet_library.h"

#include <array>
#include <cstring>

#include "link/big_endian.h"

namespace {

// The CRC of each byte value alone (polynomial 0x1021, MSB first): one lookup
// per byte instead of eight shifts, since every block frame carries 2 KiB.
constexpr std::array<std::uint16_t, 256> MakeCrcTable() {
  std::array<std::uint16_t, 256> table{};
  for (unsigned value = 0; value < 256; ++value) {
    auto crc = static_cast<std::uint16_t>(value << 8);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x8000) != 0 ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                : static_cast<std::uint16_t>(crc << 1);
    }
    table[value] = crc;
  }
  return table;
}
constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();

}  // namespace

std::uint16_t Crc16Ccitt(const std::uint8_t* bytes, std::size_t length) {
  std::uint16_t crc = 0xFFFF;
  for (std::size_t i = 0; i < length; ++i) {
    crc = static_cast<std::uint16_t>((crc << 8) ^ kCrcTable[(crc >> 8) ^ bytes[i]]);
  }
  return crc;
}

std::uint16_t ZQ4400_RAP_COMMAND_PACK(std::uint8_t* frame, std::uint16_t code,
                                      const std::uint8_t* payload, std::uint16_t payloadLength,
                                      std::uint8_t option, std::uint8_t* /*further*/,
                                      ST_PACKET_PARA para) {
  if (frame == nullptr || payloadLength > kMaxFramePayload) return 0;
  if (payload == nullptr && payloadLength != 0) return 0;

  frame[0] = kFrameSync;
  PutBigEndian16(frame + 1, code);
  PutBigEndian16(frame + 3, para.total);
  PutBigEndian16(frame + 5, para.index);
  frame[7] = para.chunkSize;
  PutBigEndian16(frame + 8, para.spare);
  frame[10] = option;
  PutBigEndian16(frame + 11, payloadLength);
  if (payloadLength != 0) std::memcpy(frame + kFrameHeaderSize, payload, payloadLength);

  const std::size_t crcAt = kFrameHeaderSize + payloadLength;
  PutBigEndian16(frame + crcAt, Crc16Ccitt(frame, crcAt));
  return static_cast<std::uint16_t>(crcAt + kFrameCrcSize);
}

std::uint16_t Rap_Payload_Package(std::uint8_t* buffer, const std::uint8_t* data,
                                  std::uint16_t dataLength, const std::uint8_t* second,
                                  std::uint16_t secondLength) {
  if (data == nullptr) dataLength = 0;
  if (second == nullptr) secondLength = 0;
  const std::size_t total = std::size_t{dataLength} + secondLength;
  if (buffer == nullptr || total > kMaxFramePayload) return 0;
  if (dataLength != 0) std::memcpy(buffer, data, dataLength);
  if (secondLength != 0) std::memcpy(buffer + dataLength, second, secondLength);
  return static_cast<std::uint16_t>(total);
}

std::uint16_t Rap_Command_Package(std::uint8_t* frame, std::uint16_t code,
                                  const std::uint8_t* payload, std::uint16_t payloadLength) {
  return ZQ4400_RAP_COMMAND_PACK(frame, code, payload, payloadLength, 0, nullptr,
                                 ST_PACKET_PARA{});
}

std::uint16_t PC_RX_RAP_COMMAND_CHECK(const std::uint8_t* report, std::uint16_t expected,
                                      std::uint16_t count) {
  // A short or overlong read is never a report; nothing past count is looked at.
  if (report == nullptr || count != kReportSize) return 0;
  if (report[0] != kReportSync) return 0;
  if (GetBigEndian16(report + 1) != expected) return 0;
  if (GetBigEndian16(report + 3) != kReportSize) return 0;
  if (GetBigEndian16(report + kReportCrcOffset) != Crc16Ccitt(report, kReportCrcOffset)) return 0;
  return 1;
}
