#include "link/command_frames.h"

#include <algorithm>
#include <cstring>

// Before <usb.h>: its function usb_device() hides the struct name the record uses.
#include "record/transfer_context.h"

#include <usb.h>

#include "link/big_endian.h"
#include "link/usb_link.h"

std::uint8_t TestDataStage[kTestDataStageSize];

namespace {

// Packs with the option byte 0 and no further data, as every command does.
std::uint16_t Pack(std::span<std::uint8_t> frame, std::uint16_t code, const std::uint8_t* payload,
                   std::size_t payloadLength, const ST_PACKET_PARA& para) {
  if (payloadLength > kMaxFramePayload || frame.size() < kFrameOverhead + payloadLength) return 0;
  return ZQ4400_RAP_COMMAND_PACK(frame.data(), code, payload,
                                 static_cast<std::uint16_t>(payloadLength), 0, nullptr, para);
}

ST_PACKET_PARA Record(std::uint16_t code) {
  ST_PACKET_PARA para{};
  para.command = code;
  return para;
}

// One frame, one bulk write. The result is not examined: the reply check tells.
void Write(std::uint8_t* frame, std::uint16_t length) {
  if (length == 0) return;
  usb_bulk_write(g_transfer.m_dev, kCommandEndpointOut, reinterpret_cast<const char*>(frame),
                 length, kBulkWriteTimeoutMs);
}

void Arm(std::uint16_t code) {
  g_transfer.expectedReply = static_cast<std::uint16_t>(kReplyCodeBase + code);
}

}  // namespace

void Scramble(std::uint8_t* bytes, std::uint32_t length, const std::uint8_t (&key)[kXorKeySize]) {
  for (std::uint32_t p = 0; p < length; ++p) bytes[p] ^= key[p % kXorKeySize];
}

std::uint16_t BuildConnectFrame(std::span<std::uint8_t> frame) {
  if (frame.size() < kFrameOverhead) return 0;
  std::uint8_t payload[kConnectFrameBufferSize] = {};
  const std::uint8_t empty[1] = {};
  const std::uint16_t payloadLength = Rap_Payload_Package(payload, empty, 0, nullptr, 0);
  return Rap_Command_Package(frame.data(), kCmdConnect, payload, payloadLength);
}

std::uint16_t BuildDataBlockFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                                  std::uint16_t index, const std::uint8_t* image,
                                  std::uint32_t imageLength) {
  std::uint8_t payload[kDataBlockHeaderSize + kDataBlock] = {};
  PutBigEndian16(payload, index);
  PutBigEndian32(payload + 2, imageLength);
  PutBigEndian16(payload + 6, static_cast<std::uint16_t>(kDataBlock));
  // The last block goes whole, past the image's end: the device reads 2048 bytes.
  std::memcpy(payload + kDataBlockHeaderSize, image + std::size_t{index} * kDataBlock, kDataBlock);

  ST_PACKET_PARA para = Record(code);
  para.index = index;
  const std::uint16_t length = Pack(frame, code, payload, sizeof payload, para);
  // The device descrambles the whole frame, sync and CRC included.
  Scramble(frame.data(), length, XorKeyA);
  return length;
}

std::uint16_t BuildShortBlockFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                                   std::uint16_t index, const std::uint8_t* image,
                                   std::uint32_t imageLength) {
  std::uint8_t payload[kShortBlock] = {};
  std::memcpy(payload, image + std::size_t{index} * kShortBlock, kShortBlock);

  ST_PACKET_PARA para = Record(code);
  para.total = static_cast<std::uint16_t>(imageLength / kShortBlock);
  para.index = index;
  return Pack(frame, code, payload, sizeof payload, para);
}

std::uint16_t BuildBeginFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                              std::uint8_t target) {
  const std::uint8_t payload[3] = {0x01, target, 0xFF};
  ST_PACKET_PARA para = Record(code);
  para.total = sizeof payload;
  return Pack(frame, code, payload, sizeof payload, para);
}

std::uint16_t BuildChunkFrame(std::span<std::uint8_t> frame, std::uint16_t code,
                              std::uint8_t target, std::uint16_t chunkSize, std::uint16_t index,
                              const std::uint8_t* image, std::uint32_t imageLength) {
  const std::size_t payloadLength = kChunkHeaderSize + chunkSize;
  if (payloadLength > kMaxFramePayload) return 0;
  std::uint8_t payload[kMaxFramePayload] = {};
  payload[0] = target;
  PutBigEndian16(payload + 1, index);
  PutBigEndian32(payload + 3, imageLength);
  PutBigEndian16(payload + 7, chunkSize);
  if (chunkSize != 0) {
    std::memcpy(payload + kChunkHeaderSize, image + std::size_t{index} * chunkSize, chunkSize);
  }

  ST_PACKET_PARA para = Record(code);
  // Chunks in the image, a partial last one counting whole; 0 for an empty chunk size.
  if (chunkSize != 0) {
    para.total = static_cast<std::uint16_t>(imageLength / chunkSize +
                                            (imageLength % chunkSize != 0 ? 1 : 0));
  }
  para.index = index;
  return Pack(frame, code, payload, payloadLength, para);
}

std::uint16_t BuildEndFrame(std::span<std::uint8_t> frame, std::uint16_t code) {
  return Pack(frame, code, nullptr, 0, Record(code));
}

std::uint16_t BuildDatabasePrepareFrame(std::span<std::uint8_t> frame) {
  return Pack(frame, kCmdDatabasePrepare, nullptr, 0, Record(kCmdDatabasePrepare));
}

std::uint16_t BuildTestDataHeadFrame(std::span<std::uint8_t> frame, const std::uint8_t* data,
                                     std::uint16_t dataLength) {
  std::uint8_t payload[kTestDataChunkSize] = {};
  const std::size_t payloadLength = std::min<std::size_t>(dataLength, kTestDataChunkSize);
  if (payloadLength != 0) std::memcpy(payload, data, payloadLength);

  ST_PACKET_PARA para = Record(kCmdTestData);
  para.total = dataLength;
  return Pack(frame, kCmdTestData, payload, payloadLength, para);
}

std::uint16_t BuildTestDataChunkFrame(std::span<std::uint8_t> frame,
                                      std::span<std::uint8_t, kTestDataStageSize> stage,
                                      const std::uint8_t* data, std::uint16_t dataLength,
                                      std::uint16_t index) {
  std::fill(stage.begin(), stage.end(), std::uint8_t{0});
  const std::size_t staged = std::min<std::size_t>(dataLength, stage.size());
  if (staged != 0) std::memcpy(stage.data(), data, staged);

  std::uint8_t payload[kTestDataChunkSize] = {};
  const std::size_t from = std::size_t{index} * kTestDataChunkSize;
  if (from < stage.size()) {
    std::memcpy(payload, stage.data() + from,
                std::min<std::size_t>(kTestDataChunkSize, stage.size() - from));
  }

  ST_PACKET_PARA para = Record(kCmdTestData);
  para.total = dataLength;
  para.index = index;
  para.chunkSize = kTestDataChunkSize;
  return Pack(frame, kCmdTestData, payload, sizeof payload, para);
}

void SendConnect() {
  std::uint8_t frame[kConnectFrameBufferSize] = {};
  Write(frame, BuildConnectFrame(frame));
  Arm(kCmdConnect);
}

void SendDataBlock(const std::uint8_t* image, std::uint32_t imageLength) {
  std::uint8_t frame[kFrameBufferSize] = {};
  Write(frame, BuildDataBlockFrame(frame, g_transfer.itemCommand, g_transfer.blockIndex, image,
                                   imageLength));
  Arm(g_transfer.itemCommand);
}

void SendShortBlock(const std::uint8_t* image, std::uint32_t imageLength) {
  std::uint8_t frame[kFrameBufferSize] = {};
  Write(frame, BuildShortBlockFrame(frame, g_transfer.itemCommand, g_transfer.blockIndex, image,
                                    imageLength));
  Arm(g_transfer.itemCommand);
}

void SendBegin(bool alternateCodes, std::uint8_t target) {
  std::uint8_t frame[kFrameBufferSize] = {};
  // An image whose header byte 0x6C is set names no begin command: its frame
  // goes out under code 0 and the reply awaited stays that of the command before.
  if (g_transfer.headerByte108 != 0) {
    Write(frame, BuildBeginFrame(frame, 0, target));
    return;
  }
  const std::uint16_t code = BeginCode(alternateCodes);
  Write(frame, BuildBeginFrame(frame, code, target));
  Arm(code);
}

void SendChunk(std::uint8_t target, std::uint16_t chunkSize, const std::uint8_t* image,
               std::uint32_t imageLength) {
  std::uint8_t frame[kFrameBufferSize] = {};
  const std::uint16_t code = ChunkCode(g_transfer.altCodeSet);
  Write(frame, BuildChunkFrame(frame, code, target, chunkSize, g_transfer.blockIndex, image,
                               imageLength));
  Arm(code);
}

void SendEnd() {
  std::uint8_t frame[kFrameBufferSize] = {};
  const std::uint16_t code = EndCode(g_transfer.altCodeSet);
  Write(frame, BuildEndFrame(frame, code));
  Arm(code);
}

void SendDatabasePrepare() {
  std::uint8_t frame[kFrameBufferSize] = {};
  Write(frame, BuildDatabasePrepareFrame(frame));
  Arm(kCmdDatabasePrepare);
}

void SendTestDataHead(const std::uint8_t* data, std::uint16_t dataLength) {
  std::uint8_t frame[kTestDataFrameBufferSize] = {};
  Write(frame, BuildTestDataHeadFrame(frame, data, dataLength));
  Arm(kCmdTestData);
}

void SendTestDataChunk(const std::uint8_t* data, std::uint16_t dataLength) {
  std::uint8_t frame[kTestDataFrameBufferSize] = {};
  Write(frame, BuildTestDataChunkFrame(frame, TestDataStage, data, dataLength,
                                       g_transfer.blockIndex));
  Arm(kCmdTestData);
}
