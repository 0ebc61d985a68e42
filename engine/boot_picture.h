// The boot-up picture in the device's own format: an 8-byte header, then
// RGB565 pixels high byte first, top row first, written into fileBuffer.
#pragma once

#include <cstdint>

#include "engine/image_bmp.h"

// The description of a loaded device-independent bitmap that the conversion
// reads (the fields of the Windows record of the same name).
struct BITMAP {
  std::int32_t bmType;
  std::int32_t bmWidth;
  std::int32_t bmHeight;
  std::int32_t bmWidthBytes;
  std::uint16_t bmPlanes;
  std::uint16_t bmBitsPixel;
  const void* bmBits;
};

inline constexpr int kPictureMaxWidth = 160;
inline constexpr int kPictureMaxHeight = 128;
inline constexpr std::uint32_t kPictureHeaderSize = 8;
inline constexpr std::uint32_t kPictureTrailerSize = 8;

// Writes the device picture into g_transfer.fileBuffer and sets fileLength to
// 16 + 2 x width x height. Reads 24- or 32-bit pixels only; any other depth
// writes nothing and leaves fileLength 0.
void ConvertBootPicture(const BITMAP& bitmap);

// The record that describes a decoded picture (24-bit, bottom-up).
BITMAP DescribeBitmap(const BmpPicture& picture);
