#include "engine/image_bmp.h"

#include <bit>
#include <limits>

namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kCoreHeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
constexpr std::uint32_t kBiRgb = 0;
constexpr std::uint32_t kBiRle8 = 1;
constexpr std::uint32_t kBiRle4 = 2;
constexpr std::uint32_t kBiBitfields = 3;
constexpr std::uint32_t kBiAlphaBitfields = 6;
// The escapes that follow a zero count in run-length-encoded pixels; larger
// values start an absolute run of that many pixels.
constexpr unsigned kRleEndOfLine = 0;
constexpr unsigned kRleEndOfBitmap = 1;
constexpr unsigned kRleDelta = 2;

std::uint16_t U16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t U32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

bool KnownInfoHeaderSize(std::uint32_t size) {
  return size == kInfoHeaderSize || size == 52 || size == 56 || size == 108 || size == 124;
}

// Channel value of a masked pixel, scaled to 0..255.
std::uint8_t MaskedChannel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const std::uint64_t max = mask >> shift;
  const std::uint64_t value = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>((value * 255 + max / 2) / max);
}

bool ReadCoreHeader(const std::uint8_t* h, BmpInfo& info) {
  info.width = U16(h + 4);
  info.height = U16(h + 6);
  if (U16(h + 8) != 1) return false;
  info.bitsPerPixel = U16(h + 10);
  info.compression = kBiRgb;
  info.paletteEntrySize = 3;
  return info.bitsPerPixel == 1 || info.bitsPerPixel == 4 || info.bitsPerPixel == 8 ||
         info.bitsPerPixel == 24;
}

// INFO and later headers; `extraMasks` is set to the size of masks stored
// after a plain 40-byte header.
bool ReadInfoHeader(const std::uint8_t* h, std::uint32_t headerSize, std::size_t available,
                    BmpInfo& info, std::size_t& extraMasks) {
  const auto width = static_cast<std::int32_t>(U32(h + 4));
  const auto height = static_cast<std::int32_t>(U32(h + 8));
  if (U16(h + 12) != 1) return false;
  info.bitsPerPixel = U16(h + 14);
  info.compression = U32(h + 16);
  const std::uint32_t colorsUsed = U32(h + 32);
  if (height == std::numeric_limits<std::int32_t>::min()) return false;
  info.width = width;
  info.topDown = height < 0;
  info.height = height < 0 ? -height : height;

  const bool bitfields = info.compression == kBiBitfields || info.compression == kBiAlphaBitfields;
  if (info.compression == kBiRle8 || info.compression == kBiRle4) {
    // Run-length codes are written bottom-up only.
    if (info.bitsPerPixel != (info.compression == kBiRle8 ? 8 : 4) || info.topDown) return false;
  } else if (info.compression != kBiRgb && !bitfields) {
    return false;
  }
  switch (info.bitsPerPixel) {
    case 1:
    case 4:
    case 8:
    case 24:
      if (bitfields) return false;
      break;
    case 16:
    case 32:
      break;
    default:
      return false;
  }

  extraMasks = 0;
  if (bitfields) {
    const std::uint8_t* masks = h + kInfoHeaderSize;
    if (headerSize == kInfoHeaderSize) {
      extraMasks = info.compression == kBiAlphaBitfields ? 16 : 12;
      if (available < kInfoHeaderSize + extraMasks) return false;
    }
    for (int c = 0; c < 3; ++c) info.masks[c] = U32(masks + 4 * c);
    // Masks that select no colour leave nothing to show.
    if ((info.masks[0] | info.masks[1] | info.masks[2]) == 0) return false;
  } else if (info.bitsPerPixel == 16) {
    info.masks[0] = 0x7C00;
    info.masks[1] = 0x03E0;
    info.masks[2] = 0x001F;
  } else if (info.bitsPerPixel == 32) {
    info.masks[0] = 0x00FF0000;
    info.masks[1] = 0x0000FF00;
    info.masks[2] = 0x000000FF;
  }

  if (info.bitsPerPixel <= 8) {
    const std::uint32_t full = 1u << info.bitsPerPixel;
    info.paletteEntries = (colorsUsed == 0 || colorsUsed > full) ? full : colorsUsed;
  }
  return true;
}

// The palette colour of `index`; black when the index lies past the palette.
void PutPaletteColour(const std::uint8_t* file, const BmpInfo& info, unsigned index,
                      std::uint8_t* dst) {
  if (index >= info.paletteEntries) {
    dst[0] = dst[1] = dst[2] = 0;
    return;
  }
  const std::uint8_t* entry = file + info.paletteOffset + index * info.paletteEntrySize;
  dst[0] = entry[0];
  dst[1] = entry[1];
  dst[2] = entry[2];
}

// Pixel i of a run: RLE4 alternates the byte's high and low nibble.
unsigned RunPixel(bool rle4, unsigned byte, unsigned i) {
  if (!rle4) return byte;
  return i % 2 == 0 ? byte >> 4 : byte & 0x0F;
}

// BI_RLE8 / BI_RLE4 pixels from pixelOffset to the end-of-bitmap code, bottom
// row first. A run may fill a stored row's padding (some tools encode it),
// never more; every code is checked against the end of the file first.
bool DecodeRunLength(const std::uint8_t* file, std::size_t size, const BmpInfo& info,
                     BmpPicture& out) {
  const bool rle4 = info.compression == kBiRle4;
  const auto width = static_cast<std::size_t>(info.width);
  const auto height = static_cast<std::size_t>(info.height);
  const std::size_t rowPixels = info.sourceStride * 8 / info.bitsPerPixel;
  // Pixels that no code reaches (skipped by a delta or an early end) are index 0.
  for (std::size_t row = 0; row < height; ++row) {
    for (std::size_t x = 0; x < width; ++x) {
      PutPaletteColour(file, info, 0, out.bits.data() + row * out.stride + x * 3);
    }
  }
  std::size_t pos = info.pixelOffset;  // never past size
  std::size_t x = 0, y = 0;            // x <= rowPixels, y <= height
  const auto put = [&](unsigned index) {
    if (x < width) PutPaletteColour(file, info, index, out.bits.data() + y * out.stride + x * 3);
    ++x;
  };
  for (;;) {
    if (size - pos < 2) return false;
    const unsigned count = file[pos];
    const unsigned code = file[pos + 1];
    pos += 2;
    if (count != 0) {  // `count` pixels from the one byte `code`
      if (y >= height || count > rowPixels - x) return false;
      for (unsigned i = 0; i < count; ++i) put(RunPixel(rle4, code, i));
    } else if (code == kRleEndOfLine) {
      x = 0;
      if (++y > height) return false;
    } else if (code == kRleEndOfBitmap) {
      return true;
    } else if (code == kRleDelta) {  // move right and up
      if (size - pos < 2) return false;
      const std::size_t right = file[pos];
      const std::size_t up = file[pos + 1];
      pos += 2;
      if (right > rowPixels - x || up > height - y) return false;
      x += right;
      y += up;
    } else {  // absolute run: `code` pixels stored as they are, padded to an even byte count
      const std::size_t bytes = rle4 ? (code + 1) / 2 : code;
      const std::size_t stored = bytes + bytes % 2;
      if (size - pos < stored) return false;
      if (y >= height || code > rowPixels - x) return false;
      for (unsigned i = 0; i < code; ++i) put(RunPixel(rle4, file[pos + (rle4 ? i / 2 : i)], i));
      pos += stored;
    }
  }
}

}  // namespace

bool ReadBmpInfo(const std::uint8_t* file, std::size_t size, BmpInfo& info) {
  info = BmpInfo{};
  if (file == nullptr || size < kFileHeaderSize + kCoreHeaderSize) return false;
  if (file[0] != 'B' || file[1] != 'M') return false;
  const std::uint32_t pixelOffset = U32(file + 10);
  const std::uint8_t* header = file + kFileHeaderSize;
  const std::uint32_t headerSize = U32(header);
  const std::size_t available = size - kFileHeaderSize;
  if (headerSize > available) return false;

  std::size_t extraMasks = 0;
  if (headerSize == kCoreHeaderSize) {
    if (!ReadCoreHeader(header, info)) return false;
    if (info.bitsPerPixel <= 8) info.paletteEntries = 1u << info.bitsPerPixel;
  } else if (KnownInfoHeaderSize(headerSize)) {
    if (!ReadInfoHeader(header, headerSize, available, info, extraMasks)) return false;
  } else {
    return false;
  }
  if (info.width <= 0 || info.height <= 0) return false;

  info.paletteOffset = kFileHeaderSize + headerSize + extraMasks;
  if (pixelOffset < info.paletteOffset) return false;
  info.pixelOffset = pixelOffset;
  info.sourceStride = static_cast<std::size_t>(
      (std::uint64_t{static_cast<std::uint32_t>(info.width)} * info.bitsPerPixel + 31) / 32 * 4);
  return true;
}

bool DecodeBmp(const std::uint8_t* file, std::size_t size, const BmpInfo& info,
               BmpPicture& out) {
  const auto width = static_cast<std::size_t>(info.width);
  const auto height = static_cast<std::size_t>(info.height);
  const std::uint64_t paletteEnd =
      info.paletteOffset + std::uint64_t{info.paletteEntries} * info.paletteEntrySize;
  if (paletteEnd > size || info.pixelOffset > size) return false;
  const bool runLength = info.compression == kBiRle8 || info.compression == kBiRle4;
  // Every stored row must be in the file (divided, so huge sizes cannot wrap).
  if (!runLength && info.sourceStride > (size - info.pixelOffset) / height) return false;

  out.width = info.width;
  out.height = info.height;
  out.stride = (width * 3 + 3) / 4 * 4;
  out.bits.assign(out.stride * height, 0);
  if (runLength) return DecodeRunLength(file, size, info, out);

  for (std::size_t row = 0; row < height; ++row) {
    // Output row 0 is the picture's bottom row.
    const std::size_t sourceRow = info.topDown ? height - 1 - row : row;
    const std::uint8_t* src = file + info.pixelOffset + sourceRow * info.sourceStride;
    std::uint8_t* dst = out.bits.data() + row * out.stride;
    for (std::size_t x = 0; x < width; ++x, dst += 3) {
      switch (info.bitsPerPixel) {
        case 1:
        case 4:
        case 8: {
          const std::size_t bitPos = x * info.bitsPerPixel;
          const unsigned byte = src[bitPos / 8];
          const unsigned shift = 8 - info.bitsPerPixel - bitPos % 8;
          PutPaletteColour(file, info, (byte >> shift) & ((1u << info.bitsPerPixel) - 1), dst);
          break;
        }
        case 16:
        case 32: {
          const std::uint32_t pixel =
              info.bitsPerPixel == 16 ? U16(src + x * 2) : U32(src + x * 4);
          dst[0] = MaskedChannel(pixel, info.masks[2]);
          dst[1] = MaskedChannel(pixel, info.masks[1]);
          dst[2] = MaskedChannel(pixel, info.masks[0]);
          break;
        }
        default:  // 24
          dst[0] = src[x * 3];
          dst[1] = src[x * 3 + 1];
          dst[2] = src[x * 3 + 2];
          break;
      }
    }
  }
  return true;
}
