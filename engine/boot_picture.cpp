#include "engine/boot_picture.h"

#include <cstring>

#include "record/transfer_context.h"

namespace {

std::uint16_t Rgb565(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint16_t>(((red & 0xF8) << 8) | ((green & 0xFC) << 3) | (blue >> 3));
}

}  // namespace

void ConvertBootPicture(const BITMAP& bitmap) {
  std::uint8_t* out = g_transfer.fileBuffer;
  const std::uint32_t step = bitmap.bmBitsPixel / 8u;
  if ((step != 3 && step != 4) || bitmap.bmBits == nullptr) {
    g_transfer.fileLength = 0;
    return;
  }
  const std::uint32_t width = static_cast<std::uint32_t>(bitmap.bmWidth) & 0xFFFF;
  const std::uint32_t height = static_cast<std::uint32_t>(bitmap.bmHeight) & 0xFFFF;
  // Never write past the buffer, whatever size the record claims.
  if (kPictureHeaderSize + 2ull * width * height + kPictureTrailerSize > kFileBufferSize) {
    g_transfer.fileLength = 0;
    return;
  }

  out[0] = 0x10;
  out[1] = 0x10;
  out[2] = static_cast<std::uint8_t>(width >> 8);
  out[3] = static_cast<std::uint8_t>(width);
  out[4] = static_cast<std::uint8_t>(height >> 8);
  out[5] = static_cast<std::uint8_t>(height);
  out[6] = 0x01;
  out[7] = 0x1B;

  const auto* bits = static_cast<const std::uint8_t*>(bitmap.bmBits);
  std::uint32_t p = kPictureHeaderSize;
  // The pixel array's last row is the picture's top row.
  for (std::uint32_t r = height; r-- > 0;) {
    const std::uint8_t* row = bits + static_cast<std::size_t>(r) * static_cast<std::uint32_t>(bitmap.bmWidthBytes);
    for (std::uint32_t j = 0; j < width; ++j) {
      const std::uint8_t* pixel = row + j * step;
      const std::uint16_t value = Rgb565(pixel[2], pixel[1], pixel[0]);
      out[p] = static_cast<std::uint8_t>(value >> 8);
      out[p + 1] = static_cast<std::uint8_t>(value);
      p += 2;
    }
  }
  // The device reads 8 more bytes; zero them rather than send what an earlier image left.
  std::memset(out + p, 0, kPictureTrailerSize);
  g_transfer.fileLength = p + kPictureTrailerSize;
}

BITMAP DescribeBitmap(const BmpPicture& picture) {
  BITMAP bitmap{};
  bitmap.bmWidth = picture.width;
  bitmap.bmHeight = picture.height;
  bitmap.bmWidthBytes = static_cast<std::int32_t>(picture.stride);
  bitmap.bmPlanes = 1;
  bitmap.bmBitsPixel = 24;
  bitmap.bmBits = picture.bits.data();
  return bitmap;
}
