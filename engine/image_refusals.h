// Why a row's file cannot be downloaded, and the message that tells the
// operator so (title S0011, warning icon). All these texts live here.
#pragma once

#include <cstdint>
#include <string>

enum class ImageRefusal : std::uint8_t {
  kNone,
  kUnreadable,        // cannot be opened or read, or is no ordinary file
  kFolder,            // the path names a folder
  kTooShort,          // BOOT/HOST: less than the 128-byte header and 2-byte trailer
  kTooLarge,          // larger than the buffer it is read into
  kEmpty,             // nothing to send (0 blocks)
  kHeaderByte108,     // BOOT/HOST: the begin frame would carry no command code
  kTestDataTooShort,  // TDB: shorter than its 256-byte header
  kTestDataTooLong,   // TDB: more test data than 19 chunks hold
  kNotBitmap,         // BMP: not a bitmap this tool can read
  kPictureTooLarge,   // BMP: wider than 160 or higher than 128 pixels
  kNoMemory,          // the memory to read the file could not be had
};

// "BOOT：文件过大，最大 1048576 字节。" and the like; maxSize is the limit a
// kTooLarge refusal names.
std::string RefusalText(std::uint8_t kind, ImageRefusal refusal, std::uint32_t maxSize);
// Shows the refusal in a box titled with S0011.
void ShowRefusal(std::uint8_t kind, ImageRefusal refusal, std::uint32_t maxSize);
