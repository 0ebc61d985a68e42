// What the VX742 must store for each source file, computed from the file
// alone and independently of the engine: the system tests and
// tamsolt-verify-device compare the emulated device's images with it. Only the
// key table comes from elsewhere: it is the device's configuration
// (link/key_tables.cpp), which any writer of images must share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// The nine image kinds, in batch order.
enum class RowKind : std::uint8_t { kBoot, kHost, kRcdb, kFont, kLang, kFv, kBmp, kPic, kTdb };
inline constexpr int kRowKindCount = 9;
inline constexpr RowKind kAllRowKinds[kRowKindCount] = {
    RowKind::kBoot, RowKind::kHost, RowKind::kRcdb, RowKind::kFont, RowKind::kLang,
    RowKind::kFv,   RowKind::kBmp,  RowKind::kPic,  RowKind::kTdb};

// "BOOT", "HOST", ...: the row's name.
const char* KindLabel(RowKind kind);
// "boot", "host", ...: the device stores the image as <name>.bin.
const char* DeviceImageName(RowKind kind);

// n bytes that do not repeat with the 256-byte key period.
Bytes PatternBytes(std::size_t n, std::uint8_t seed);

// A boot loader or host program: 128-byte header (tag byte 111 = 0, byte 108 = 0,
// alternate-code flag in byte 110), payload, 2-byte trailer.
Bytes ProgramFile(const Bytes& payload, std::uint8_t altCodeSet);
// The payload as the device stores it: file bytes 128 .. end-2, XOR key B.
Bytes StoredProgram(const Bytes& file);

// A batch-write file: 256-byte header, then the test data.
Bytes TestDataFile(const Bytes& data);

// A bottom-up 24-bit bitmap file, rows padded to four bytes.
Bytes BitmapFile(int width, int height, std::uint8_t seed);
// The device picture of that bitmap: header 10 10 w h 01 1B, RGB565 pixels top
// row first (high byte first), 8 zero bytes.
Bytes DevicePicture(int width, int height, std::uint8_t seed);
// The same picture read from a bitmap file: 24- or 32-bit uncompressed, rows
// bottom-up or top-down, at most 160 x 128. Empty for anything else.
std::optional<Bytes> DevicePictureOfBitmap(const Bytes& file);

// bytes XORed with key B, key position = byte position mod 256.
Bytes ScrambledB(Bytes bytes);

// What the device must hold for one source file after a batch.
struct ExpectedImage {
  Bytes bytes;
  // RCDB and FV arrive in whole 53-byte short blocks and carry no length: the
  // device keeps the last block whole, so `bytes` is followed by at most 52
  // bytes of whatever the tool's buffer held there.
  std::size_t wholeBlocksOf = 1;
  // Why no image can be computed (the tool refuses such a file); empty when fine.
  std::string problem;
};
ExpectedImage ExpectedStore(RowKind kind, const Bytes& source);

std::optional<Bytes> ReadFileBytes(const std::filesystem::path& path);
bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes);
