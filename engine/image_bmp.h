// A small Windows bitmap (.bmp) reader for the boot-up picture: CORE, INFO,
// V2/V3, V4 and V5 headers; 1, 4, 8, 16, 24 and 32 bits per pixel; BI_RGB,
// BI_BITFIELDS, BI_RLE8 and BI_RLE4; bottom-up and top-down rows. Whatever
// the file holds, the result is one layout: 24 bits per pixel (blue, green,
// red), rows padded to 4 bytes, bottom row first, so the device conversion
// reads only real pixels. The browse check, the download's checks and the
// conversion all read a picture through here, so they agree on every file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// The most leading bytes ReadBmpInfo looks at: file header and V5 header.
inline constexpr std::size_t kBmpHeadersMaxSize = 14 + 124;

// What the headers say.
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
  std::size_t sourceStride = 0;  // bytes of one stored row, padding included
};

// The decoded picture: 24-bit, bottom-up, rows of `stride` bytes.
struct BmpPicture {
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::size_t stride = 0;
  std::vector<std::uint8_t> bits;
};

// Reads and checks the headers, which is all it needs of the file: the
// picture's size is known before any pixel is read. False when the bytes are
// no bitmap this reader can decode (unknown header, depth or compression,
// no size, masks missing or all zero).
bool ReadBmpInfo(const std::uint8_t* file, std::size_t size, BmpInfo& info);

// Decodes the pixels that ReadBmpInfo described from the whole file. False,
// with `out` undefined, when the palette or pixels lie past the end of the
// file or a run-length code would write outside the picture or read past the
// file. The output holds 3 bytes per pixel: the caller bounds the size first.
bool DecodeBmp(const std::uint8_t* file, std::size_t size, const BmpInfo& info, BmpPicture& out);
