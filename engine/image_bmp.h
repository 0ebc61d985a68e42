// A small Windows bitmap (.bmp) reader for the boot-up picture: CORE, INFO,
// V2/V3, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits per pixel; BI_RGB and
// BI_BITFIELDS; bottom-up and top-down rows. Whatever the file holds, the
// result is one layout: 24 bits per pixel (blue, green, red), rows padded to
// 4 bytes, bottom row first, so the device conversion reads only real pixels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// What the headers say, checked against the file's size.
struct BmpInfo {
  std::int32_t width = 0;
  std::int32_t height = 0;  // always positive; topDown tells the row order
  bool topDown = false;
  std::uint16_t bitsPerPixel = 0;
  std::uint32_t compression = 0;
  std::uint32_t masks[3] = {0, 0, 0};  // red, green, blue (16 and 32 bits)
  std::size_t paletteOffset = 0;
  std::uint32_t paletteEntries = 0;
  std::uint32_t paletteEntrySize = 4;  // 3 for CORE files
  std::size_t pixelOffset = 0;
  std::size_t sourceStride = 0;
};

// The decoded picture: 24-bit, bottom-up, rows of `stride` bytes.
struct BmpPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t stride = 0;
  std::vector<std::uint8_t> bits;
};

// Reads and checks the headers; false when the bytes are no bitmap this reader
// can decode (unknown header or compression, bad sizes, pixels past the end).
bool ReadBmpInfo(const std::uint8_t* file, std::size_t size, BmpInfo& info);

// Decodes the pixels that ReadBmpInfo described. The caller bounds the size
// first (the output holds 3 bytes per pixel).
void DecodeBmp(const std::uint8_t* file, std::size_t size, const BmpInfo& info, BmpPicture& out);
