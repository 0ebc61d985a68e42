// Bitmap files built byte by byte, in the layouts Windows tools write, and
// the device picture each should become.
#pragma once

#include <cstdint>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

struct Rgb {
  std::uint8_t r, g, b;
};
// Rows top first, pixels left to right.
using Picture = std::vector<std::vector<Rgb>>;

struct BmpLayout {
  int bitsPerPixel = 24;
  std::uint32_t headerSize = 40;  // 12 (CORE), 40, 108 (V4), 124 (V5)
  bool topDown = false;
  bool bitfields = false;         // BI_BITFIELDS with the masks below
  std::uint32_t masks[3] = {0, 0, 0};
};

// The file; palettes are built from the picture's colours (1, 4, 8 bits).
Bytes MakeBmp(const Picture& picture, const BmpLayout& layout);
// A run-length-encoded file (BI_RLE8 for 8 bits, BI_RLE4 for 4): 40-byte
// header, the palette, then `stream` as the pixel data, bottom row first.
Bytes MakeRleBmp(int bitsPerPixel, int width, int height, const std::vector<Rgb>& palette,
                 const Bytes& stream);
// 10 10 w h 01 1B, RGB565 pixels top row first, 8 zero bytes.
Bytes DevicePicture(const Picture& picture);
std::uint16_t Rgb565(Rgb colour);
