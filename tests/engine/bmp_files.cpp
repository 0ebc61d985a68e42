#include "bmp_files.h"

#include <algorithm>

namespace {

void Put16(Bytes& out, std::size_t at, std::uint32_t v) {
  out[at] = static_cast<std::uint8_t>(v);
  out[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
void Put32(Bytes& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t Pack(Rgb c, const std::uint32_t (&masks)[3]) {
  std::uint32_t v = 0;
  const std::uint8_t channels[3] = {c.r, c.g, c.b};
  for (int i = 0; i < 3; ++i) {
    std::uint32_t mask = masks[i];
    if (mask == 0) continue;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const std::uint32_t max = mask >> shift;
    v |= ((channels[i] * max + 127) / 255) << shift;
  }
  return v;
}

bool SameColour(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

}  // namespace

Bytes MakeBmp(const Picture& picture, const BmpLayout& layout) {
  const int height = static_cast<int>(picture.size());
  const int width = static_cast<int>(picture[0].size());
  const int bpp = layout.bitsPerPixel;
  std::vector<Rgb> palette;
  if (bpp <= 8) {
    for (const auto& row : picture) {
      for (Rgb c : row) {
        if (std::none_of(palette.begin(), palette.end(), [&](Rgb p) { return SameColour(p, c); })) {
          palette.push_back(c);
        }
      }
    }
  }
  const bool core = layout.headerSize == 12;
  const std::size_t entry = core ? 3 : 4;
  const std::size_t masksAfter = (layout.bitfields && layout.headerSize == 40) ? 12 : 0;
  const std::size_t paletteCount = bpp <= 8 ? (core ? (1u << bpp) : palette.size()) : 0;
  const std::size_t offset = 14 + layout.headerSize + masksAfter + paletteCount * entry;
  const std::size_t stride = (static_cast<std::size_t>(width) * bpp + 31) / 32 * 4;
  Bytes out(offset + stride * height, 0);

  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  Put32(out, 10, static_cast<std::uint32_t>(offset));
  Put32(out, 14, layout.headerSize);
  if (core) {
    Put16(out, 18, static_cast<std::uint32_t>(width));
    Put16(out, 20, static_cast<std::uint32_t>(height));
    Put16(out, 22, 1);
    Put16(out, 24, static_cast<std::uint32_t>(bpp));
  } else {
    Put32(out, 18, static_cast<std::uint32_t>(width));
    Put32(out, 22, static_cast<std::uint32_t>(layout.topDown ? -height : height));
    Put16(out, 26, 1);
    Put16(out, 28, static_cast<std::uint32_t>(bpp));
    Put32(out, 30, layout.bitfields ? 3 : 0);
    Put32(out, 34, static_cast<std::uint32_t>(stride * height));
    Put32(out, 46, static_cast<std::uint32_t>(bpp <= 8 ? palette.size() : 0));
    if (layout.bitfields) {
      for (int i = 0; i < 3; ++i) Put32(out, 54 + 4 * i, layout.masks[i]);
    }
  }
  const std::size_t paletteAt = 14 + layout.headerSize + masksAfter;
  for (std::size_t i = 0; i < palette.size(); ++i) {
    out[paletteAt + i * entry] = palette[i].b;
    out[paletteAt + i * entry + 1] = palette[i].g;
    out[paletteAt + i * entry + 2] = palette[i].r;
  }

  std::uint32_t masks[3] = {layout.masks[0], layout.masks[1], layout.masks[2]};
  if (!layout.bitfields && bpp == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  }
  for (int y = 0; y < height; ++y) {
    const int fileRow = layout.topDown ? y : height - 1 - y;
    std::uint8_t* row = out.data() + offset + static_cast<std::size_t>(fileRow) * stride;
    for (int x = 0; x < width; ++x) {
      const Rgb c = picture[static_cast<std::size_t>(y)][static_cast<std::size_t>(x)];
      if (bpp <= 8) {
        const auto index = static_cast<unsigned>(
            std::find_if(palette.begin(), palette.end(), [&](Rgb p) { return SameColour(p, c); }) -
            palette.begin());
        const std::size_t bit = static_cast<std::size_t>(x) * bpp;
        row[bit / 8] |= static_cast<std::uint8_t>(index << (8 - bpp - bit % 8));
      } else if (bpp == 24) {
        row[x * 3] = c.b;
        row[x * 3 + 1] = c.g;
        row[x * 3 + 2] = c.r;
      } else if (bpp == 32 && !layout.bitfields) {
        row[x * 4] = c.b;
        row[x * 4 + 1] = c.g;
        row[x * 4 + 2] = c.r;
        row[x * 4 + 3] = 0x5A;  // unused byte, must be skipped
      } else {
        const std::uint32_t v = Pack(c, masks);
        for (int i = 0; i < bpp / 8; ++i) row[x * (bpp / 8) + i] = static_cast<std::uint8_t>(v >> (8 * i));
      }
    }
  }
  return out;
}

Bytes MakeRleBmp(int bitsPerPixel, int width, int height, const std::vector<Rgb>& palette,
                 const Bytes& stream) {
  const std::size_t offset = 14 + 40 + palette.size() * 4;
  Bytes out(offset, 0);
  out[0] = 'B';
  out[1] = 'M';
  Put32(out, 10, static_cast<std::uint32_t>(offset));
  Put32(out, 14, 40);
  Put32(out, 18, static_cast<std::uint32_t>(width));
  Put32(out, 22, static_cast<std::uint32_t>(height));
  Put16(out, 26, 1);
  Put16(out, 28, static_cast<std::uint32_t>(bitsPerPixel));
  Put32(out, 30, bitsPerPixel == 8 ? 1 : 2);
  Put32(out, 34, static_cast<std::uint32_t>(stream.size()));
  Put32(out, 46, static_cast<std::uint32_t>(palette.size()));
  for (std::size_t i = 0; i < palette.size(); ++i) {
    out[54 + i * 4] = palette[i].b;
    out[54 + i * 4 + 1] = palette[i].g;
    out[54 + i * 4 + 2] = palette[i].r;
  }
  out.insert(out.end(), stream.begin(), stream.end());
  Put32(out, 2, static_cast<std::uint32_t>(out.size()));
  return out;
}

std::uint16_t Rgb565(Rgb c) {
  return static_cast<std::uint16_t>(((c.r & 0xF8) << 8) | ((c.g & 0xFC) << 3) | (c.b >> 3));
}

Bytes DevicePicture(const Picture& picture) {
  const auto h = static_cast<std::uint16_t>(picture.size());
  const auto w = static_cast<std::uint16_t>(picture[0].size());
  Bytes out = {0x10, 0x10, static_cast<std::uint8_t>(w >> 8), static_cast<std::uint8_t>(w),
               static_cast<std::uint8_t>(h >> 8), static_cast<std::uint8_t>(h), 0x01, 0x1B};
  for (const auto& row : picture) {
    for (Rgb c : row) {
      const std::uint16_t v = Rgb565(c);
      out.push_back(static_cast<std::uint8_t>(v >> 8));
      out.push_back(static_cast<std::uint8_t>(v));
    }
  }
  out.insert(out.end(), 8, 0);
  return out;
}
