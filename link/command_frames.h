// Command frames: the command set, the payload each command carries, the XOR
// scrambling of data blocks and images, and the senders the engine calls. Each
// Send* packs one frame, writes it with one bulk write (its result is not
// examined: a lost frame shows up as a missing reply) and arms
// g_transfer.expectedReply with 0x8000 + its code. Each Send* has a Build*
// twin that stops before the write, so frames can be checked byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "link/packet_library.h"

// Command codes. Begin, chunk and end have a second set, used when the image
// header's alternate-code flag is set.
inline constexpr std::uint16_t kCmdConnect = 0x06;
inline constexpr std::uint16_t kCmdDatabasePrepare = 0x14;
inline constexpr std::uint16_t kCmdChunk = 0x42;
inline constexpr std::uint16_t kCmdBegin = 0x43;
inline constexpr std::uint16_t kCmdEnd = 0x44;
inline constexpr std::uint16_t kCmdChunkAlt = 0x48;
inline constexpr std::uint16_t kCmdBeginAlt = 0x49;
inline constexpr std::uint16_t kCmdEndAlt = 0x4A;
inline constexpr std::uint16_t kCmdTestData = 0x63;
inline constexpr std::uint16_t kReplyCodeBase = 0x8000;  // reply code = base + command code

// Frame buffers each sender packs into.
inline constexpr std::size_t kFrameBufferSize = 4096;
inline constexpr std::size_t kConnectFrameBufferSize = 2048;
inline constexpr std::size_t kTestDataFrameBufferSize = 1024;

inline constexpr std::size_t kDataBlockHeaderSize = 8;  // index, image length, 2048
inline constexpr std::size_t kChunkHeaderSize = 9;      // target, index, image length, b
inline constexpr std::uint8_t kTestDataChunkSize = 53;
inline constexpr std::size_t kTestDataStageSize = 1024;

// Key tables: fixed device configuration.
inline constexpr std::size_t kXorKeySize = 256;
extern const std::uint8_t XorKeyA[kXorKeySize];
extern const std::uint8_t XorKeyB[kXorKeySize];

// Where SendTestDataChunk stages the test data; refilled by each call.
extern std::uint8_t TestDataStage[kTestDataStageSize];

// XORs bytes in place with key[position mod 256], positions counted from the
// first byte of the run. Applying it twice restores the run.
void Scramble(std::uint8_t* bytes, std::uint32_t length, const std::uint8_t (&key)[kXorKeySize]);

// The code of each two-set command for the image's alternate-code flag.
constexpr std::uint16_t BeginCode(bool alternate) { return alternate ? kCmdBeginAlt : kCmdBegin; }
constexpr std::uint16_t ChunkCode(std::uint8_t altCodeSet) {
  return altCodeSet != 0 ? kCmdChunkAlt : kCmdChunk;
}
constexpr std::uint16_t EndCode(std::uint8_t altCodeSet) {
  return altCodeSet != 0 ? kCmdEndAlt : kCmdEnd;
}

// Build steps: lay out the payload, pack it into frame and return the frame
// length, or 0 when the frame would not fit into frame (nothing is sent then).
// Image reads: a data block reads image[index * 2048, +2048) whole, also past
// length; a short block image[index * 53, +53); a chunk image[index * b, +b).
std::uint16_t BuildConnectFrame(std::span<std::uint8_t> frame);
std::uint16_t BuildDataBlockFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                                  std::uint16_t index, const std::uint8_t* image,
                                  std::uint32_t imageLength);
std::uint16_t BuildShortBlockFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                                   std::uint16_t index, const std::uint8_t* image,
                                   std::uint32_t imageLength);
std::uint16_t BuildBeginFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                              std::uint8_t target);
std::uint16_t BuildChunkFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                              std::uint8_t target, std::uint16_t chunkSize, std::uint16_t index,
                              const std::uint8_t* image, std::uint32_t imageLength);
std::uint16_t BuildEndFrame(std::span<std::uint8_t> frame, std::uint16_t code);
std::uint16_t BuildDatabasePrepareFrame(std::span<std::uint8_t> frame);
std::uint16_t BuildTestDataHeadFrame(std::span<std::uint8_t> frame, const std::uint8_t* data,
                                     std::uint16_t dataLength);
// Refills stage with the data (at most its size, the rest zero) and sends the
// 53 stage bytes of chunk index; stage bytes past its end count as zero.
std::uint16_t BuildTestDataChunkFrame(std::span<std::uint8_t> frame,
                                      std::span<std::uint8_t, kTestDataStageSize> stage,
                                      const std::uint8_t* data, std::uint16_t dataLength,
                                      std::uint16_t index);

// Senders. They read the fields of g_transfer named in each comment; m_dev must
// be open.
void SendConnect();
// itemCommand, blockIndex.
void SendDataBlock(const std::uint8_t* image, std::uint32_t imageLength);
// itemCommand, blockIndex.
void SendShortBlock(const std::uint8_t* image, std::uint32_t imageLength);
// headerByte108: when it is non-zero the begin frame goes out under code 0 and
// expectedReply keeps the code of the command before.
void SendBegin(bool alternateCodes, std::uint8_t target);
// blockIndex, altCodeSet.
void SendChunk(std::uint8_t target, std::uint16_t chunkSize, const std::uint8_t* image,
               std::uint32_t imageLength);
// altCodeSet.
void SendEnd();
void SendDatabasePrepare();
void SendTestDataHead(const std::uint8_t* data, std::uint16_t dataLength);
// blockIndex; stages the data in TestDataStage.
void SendTestDataChunk(const std::uint8_t* data, std::uint16_t dataLength);
