// The batch-write file (TDB) as the engine sends it: a 256-byte header that is
// skipped, then test data in 53-byte chunks, each acknowledged before the next.
#pragma once

#include <cstdint>

// The test data inside fileBuffer (behind the header) and its length.
const std::uint8_t* TestData();
std::uint16_t TestDataLength();

// The chunk at blockIndex (zero-padded past the data's end).
void SendTestDataChunkAtIndex();
// The first 53 data bytes (or all of them when fewer): sent once after the
// device restarted, just before the chunks.
void SendTestDataHeadOfImage();
