// The device's side of the wire format: it takes a command frame apart (after
// undoing the XOR of a data-block frame) and lays out the 64-byte report that
// answers it. Independent of the host's packer on purpose, so the two halves
// check each other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

inline constexpr std::uint8_t kCommandSync = 0x5A;
inline constexpr std::uint8_t kReportSyncByte = 0xA5;
inline constexpr std::size_t kHeaderBytes = 13;  // sync .. payload length
inline constexpr std::size_t kCrcBytes = 2;
inline constexpr std::size_t kReportBytes = 64;
inline constexpr std::size_t kLargestFrame = 4096;  // the host's frame buffer

// A frame that passed sync, length and CRC. payload points into the buffer the
// frame was parsed from (the caller's or the descrambling scratch).
struct WireFrame {
  std::uint16_t code = 0;
  std::uint16_t total = 0;
  std::uint16_t index = 0;
  std::uint8_t chunkSize = 0;
  std::uint16_t spare = 0;
  std::uint8_t option = 0;
  const std::uint8_t* payload = nullptr;
  std::uint16_t payloadLength = 0;
  bool scrambled = false;  // arrived XORed with the frame key (a data block)
};

std::uint16_t CrcCcittFalse(const std::uint8_t* bytes, std::size_t length);

inline std::uint16_t ReadBig16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t ReadBig32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Parses one OUT transfer. A frame starting with the scrambled sync is XORed
// back into scratch (which must hold kLargestFrame bytes) first. Returns false
// with a reason when the device would drop the frame.
bool ParseWireFrame(const std::uint8_t* data, std::size_t length, std::uint8_t* scratch,
                    WireFrame& frame, std::string& reason);

// Fills out (64 bytes) with the report for replyCode, echoing blockIndex, with
// status at byte 8, and a correct CRC.
void BuildReport(std::uint16_t replyCode, std::uint16_t blockIndex, std::uint8_t status,
                 std::uint8_t* out);

}  // namespace sim
