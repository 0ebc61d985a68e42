// Reading a row's file into the transfer record, and the checks that keep
// every image inside its buffers: a file is refused before anything of it is
// read into g_transfer, so a refusal changes nothing.
#pragma once

#include <cstdint>
#include <string>

#include "engine/image_refusals.h"
#include "record/transfer_context.h"

enum class DownloadMode : std::uint8_t { kBatch, kSingle };

inline constexpr std::uint32_t kImageFramingSize = kImageHeaderSize + kImageTrailerSize;  // 130
inline constexpr std::uint32_t kTestDataHeaderSize = 256;
inline constexpr std::uint32_t kTestDataMaxLength = 1007;  // 19 chunks of 53

struct ImageCheck {
  ImageRefusal refusal = ImageRefusal::kNone;
  std::uint32_t maxSize = 0;  // the limit a kTooLarge refusal names
  bool ok() const { return refusal == ImageRefusal::kNone; }
};

// A file or a folder exists at path.
bool PathExists(const std::string& path);

// The largest file accepted for a row.
std::uint32_t MaxFileSize(std::uint8_t kind, DownloadMode mode);

// BOOT/HOST: the file's first 128 bytes (for the batch's image-tag check).
ImageRefusal ReadImageHeader(const std::string& path, std::uint8_t (&header)[kImageHeaderSize]);

// Every check of the row's file; reads nothing into g_transfer.
ImageCheck CheckImageFile(std::uint8_t kind, const std::string& path, DownloadMode mode);

// Puts the row's image into fileBuffer and fileLength, unscrambled: BOOT and
// HOST through staging (MaxFileSize bytes), their header into imageHeader,
// headerByte108 and altCodeSet; BMP converted to the device picture. The
// checks run again, so a file changed since it was checked is refused too.
// loaded, when given, receives the size and SHA-256 of the file's bytes as
// read here: the bytes that are sent.
struct LoadedFile {
  std::uint64_t bytes = 0;
  std::string sha256;
};
ImageCheck LoadImageFile(std::uint8_t kind, const std::string& path, DownloadMode mode,
                         std::uint8_t* staging, LoadedFile* loaded = nullptr);

// Blocks of the loaded image: 44-byte chunks (BOOT, HOST), 53-byte short
// blocks (RCDB, FV), 2048-byte blocks (FONT, LANG, BMP, PIC) or 53-byte
// test-data chunks behind the 256-byte header (TDB).
std::uint16_t ItemBlockCount(std::uint8_t kind, std::uint32_t fileLength);
