#include "engine/test_data.h"

#include "engine/image_files.h"
#include "record/transfer_context.h"
#include "link/command_frames.h"

const std::uint8_t* TestData() { return g_transfer.fileBuffer + kTestDataHeaderSize; }

std::uint16_t TestDataLength() {
  // The item start refused files outside 256 .. 256 + 1007 bytes.
  if (g_transfer.fileLength < kTestDataHeaderSize) return 0;
  return static_cast<std::uint16_t>(g_transfer.fileLength - kTestDataHeaderSize);
}

void SendTestDataChunkAtIndex() { SendTestDataChunk(TestData(), TestDataLength()); }

void SendTestDataHeadOfImage() { SendTestDataHead(TestData(), TestDataLength()); }
