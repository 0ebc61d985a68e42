// The packet library: packs command frames for the device and checks the
// 64-byte reports it answers with. The frame and report layouts are those of
// docs/protocol.md; the emulated device parses them on its own, so this file is
// the host's half of that contract only.
#pragma once

#include <cstddef>
#include <cstdint>

// Parameter record handed to the packer with every frame, by value. A builder
// starts from an all-zero record and fills only the fields its command uses.
struct ST_PACKET_PARA {
  std::uint16_t total;     // a count of units or a byte count, per command
  std::uint16_t index;     // block, short-block or chunk index
  std::uint16_t command;   // the frame's command code
  std::uint8_t chunkSize;  // 53 for test-data chunks, otherwise 0
  std::uint16_t spare;     // always 0
};

inline constexpr std::uint8_t kFrameSync = 0x5A;
inline constexpr std::uint8_t kReportSync = 0xA5;
inline constexpr std::size_t kFrameHeaderSize = 13;  // sync .. payload length
inline constexpr std::size_t kFrameCrcSize = 2;
inline constexpr std::size_t kFrameOverhead = kFrameHeaderSize + kFrameCrcSize;
inline constexpr std::size_t kReportSize = 64;
inline constexpr std::size_t kReportCrcOffset = 62;
// The largest payload one frame carries. Payload and frame lengths are 16-bit,
// so a 2056-byte data block or a 2057-byte chunk goes whole in one frame.
inline constexpr std::size_t kMaxFramePayload = 4096 - kFrameOverhead;

// CRC-16/CCITT-FALSE (poly 0x1021, init 0xFFFF, no reflection, no final XOR).
std::uint16_t Crc16Ccitt(const std::uint8_t* bytes, std::size_t length);

// Packs payload and record into frame, which must hold kFrameOverhead +
// payloadLength bytes, and returns the frame length (0 when the payload is
// longer than kMaxFramePayload or a pointer is missing). option goes into the
// frame's option byte; further is reserved and ignored (callers pass null).
std::uint16_t ZQ4400_RAP_COMMAND_PACK(std::uint8_t* frame, std::uint16_t code,
                                      const std::uint8_t* payload, std::uint16_t payloadLength,
                                      std::uint8_t option, std::uint8_t* further,
                                      ST_PACKET_PARA para);

// Lays data and then second one after the other into buffer; returns the total
// length (0 when it would exceed kMaxFramePayload). Null pointers count as empty.
std::uint16_t Rap_Payload_Package(std::uint8_t* buffer, const std::uint8_t* data,
                                  std::uint16_t dataLength, const std::uint8_t* second,
                                  std::uint16_t secondLength);

// Packs a frame with an all-zero record and option byte; returns its length.
std::uint16_t Rap_Command_Package(std::uint8_t* frame, std::uint16_t code,
                                  const std::uint8_t* payload, std::uint16_t payloadLength);

// Non-zero when report (count bytes) is the device's answer to the command whose
// reply code is expected: count 64, right sync, code, length field and CRC.
std::uint16_t PC_RX_RAP_COMMAND_CHECK(const std::uint8_t* report, std::uint16_t expected,
                                      std::uint16_t count);
