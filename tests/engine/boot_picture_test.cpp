// The device picture format: header, RGB565 values high byte first, top row
// first, the 8 bytes behind the pixels cleared; and the bitmap reader that
// feeds it every common layout of a .bmp file.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_files.h"
#include "engine_fixture.h"
#include "engine/boot_picture.h"
#include "engine/image_bmp.h"
#include "engine/image_files.h"
#include "engine/transfer_context.h"

namespace {

constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255}, kWhite{255, 255, 255},
    kBlack{0, 0, 0}, kGrey{128, 128, 128};

// A 24-bit bottom-up pixel array as a loaded bitmap describes it.
struct Dib {
  Dib(const Picture& picture, int bitsPerPixel) {
    const std::size_t w = picture[0].size(), h = picture.size(), step = bitsPerPixel / 8;
    stride = (w * step + 3) / 4 * 4;
    bits.assign(stride * h, 0xEE);
    for (std::size_t y = 0; y < h; ++y) {
      for (std::size_t x = 0; x < w; ++x) {
        std::uint8_t* p = &bits[(h - 1 - y) * stride + x * step];
        p[0] = picture[y][x].b;
        p[1] = picture[y][x].g;
        p[2] = picture[y][x].r;
      }
    }
    record = BITMAP{0, static_cast<std::int32_t>(w), static_cast<std::int32_t>(h),
                    static_cast<std::int32_t>(stride), 1, static_cast<std::uint16_t>(bitsPerPixel),
                    bits.data()};
  }
  std::size_t stride;
  Bytes bits;
  BITMAP record;
};

Bytes Converted() {
  return Bytes(g_transfer.fileBuffer, g_transfer.fileBuffer + g_transfer.fileLength);
}

// Decodes a file as the BMP row's start does, and converts it.
Bytes ConvertFile(const Bytes& file) {
  BmpInfo info;
  if (!ReadBmpInfo(file.data(), file.size(), info)) return {};
  BmpPicture picture;
  DecodeBmp(file.data(), file.size(), info, picture);
  g_transfer.fileLength = 0;
  ConvertBootPicture(DescribeBitmap(picture));
  return Converted();
}

TEST(ConvertBootPicture, TwoPixelRedWhiteExample) {
  std::memset(g_transfer.fileBuffer, 0xAB, 64);  // left by an earlier image
  ConvertBootPicture(Dib({{kRed, kWhite}}, 24).record);
  EXPECT_EQ(g_transfer.fileLength, 20u);
  EXPECT_EQ(Converted(), (Bytes{0x10, 0x10, 0x00, 0x02, 0x00, 0x01, 0x01, 0x1B, 0xF8, 0x00, 0xFF,
                                0xFF, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ConvertBootPicture, ChannelsKeepTheirHighBitsOnly) {
  ConvertBootPicture(Dib({{kGreen, kBlue, kGrey, Rgb{7, 3, 7}, Rgb{0x0F, 0xFF, 0xF0}}}, 24).record);
  const Bytes out = Converted();
  ASSERT_EQ(out.size(), 16u + 10u);
  EXPECT_EQ(Slice(out, 8, 10), (Bytes{0x07, 0xE0, 0x00, 0x1F, 0x84, 0x10, 0x00, 0x00, 0x0F, 0xFE}));
}

TEST(ConvertBootPicture, LargestPictureFillsTwentyOneBlocks) {
  Picture picture(128, std::vector<Rgb>(160, kBlue));
  picture[0][0] = kRed;       // top left comes first
  picture[127][159] = kGreen;  // bottom right comes last
  ConvertBootPicture(Dib(picture, 24).record);
  EXPECT_EQ(g_transfer.fileLength, 40976u);
  EXPECT_EQ(ItemBlockCount(kKindBmp, g_transfer.fileLength), 21);
  const Bytes out = Converted();
  EXPECT_EQ(Slice(out, 2, 4), (Bytes{0x00, 0xA0, 0x00, 0x80}));
  EXPECT_EQ(Slice(out, 8, 2), (Bytes{0xF8, 0x00}));
  EXPECT_EQ(Slice(out, 8 + 2 * (160 * 128 - 1), 2), (Bytes{0x07, 0xE0}));
}

TEST(ConvertBootPicture, ThirtyTwoBitPixelsSkipTheirFourthByte) {
  const Picture picture = {{kRed, kGreen, kGrey}, {kWhite, kBlue, Rgb{10, 200, 30}}};
  ConvertBootPicture(Dib(picture, 24).record);
  const Bytes from24 = Converted();
  ConvertBootPicture(Dib(picture, 32).record);
  EXPECT_EQ(Converted(), from24);
  EXPECT_EQ(from24, DevicePicture(picture));
}

TEST(ConvertBootPicture, DepthsItCannotReadWriteNothing) {
  Dib dib({{kRed, kWhite}}, 24);
  dib.record.bmBitsPixel = 8;
  g_transfer.fileLength = 99;
  ConvertBootPicture(dib.record);
  EXPECT_EQ(g_transfer.fileLength, 0u);
}

// ---- the bitmap reader ----------------------------------------------------

const Picture kSample = {
    {kRed, kGreen, kBlue},
    {kWhite, kBlack, kRed},
    {kBlue, kBlue, kGreen},
};

TEST(BmpReader, BottomUpAndTopDownFilesGiveTheSamePicture) {
  BmpLayout bottomUp;
  BmpLayout topDown;
  topDown.topDown = true;
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, bottomUp)), DevicePicture(kSample));
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, topDown)), DevicePicture(kSample));
}

TEST(BmpReader, PaletteDepthsAreConvertedThroughTheirColours) {
  for (int bpp : {1, 4, 8}) {
    const Picture picture = bpp == 1 ? Picture{{kRed, kWhite, kWhite}, {kWhite, kWhite, kRed}}
                                     : kSample;
    BmpLayout layout;
    layout.bitsPerPixel = bpp;
    EXPECT_EQ(ConvertFile(MakeBmp(picture, layout)), DevicePicture(picture)) << bpp << " bits";
    layout.topDown = true;
    EXPECT_EQ(ConvertFile(MakeBmp(picture, layout)), DevicePicture(picture)) << bpp << " top-down";
  }
}

TEST(BmpReader, CoreHeaderWithThreeBytePalette) {
  BmpLayout layout;
  layout.headerSize = 12;
  layout.bitsPerPixel = 8;
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, layout)), DevicePicture(kSample));
  layout.bitsPerPixel = 24;
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, layout)), DevicePicture(kSample));
}

TEST(BmpReader, SixteenBitPicturesDefaultAndBitfields) {
  BmpLayout rgb555;
  rgb555.bitsPerPixel = 16;
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, rgb555)), DevicePicture(kSample));
  BmpLayout rgb565;
  rgb565.bitsPerPixel = 16;
  rgb565.bitfields = true;
  rgb565.masks[0] = 0xF800;
  rgb565.masks[1] = 0x07E0;
  rgb565.masks[2] = 0x001F;
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, rgb565)), DevicePicture(kSample));
}

TEST(BmpReader, ThirtyTwoBitPlainAndWithMasksInV4AndV5Headers) {
  BmpLayout plain;
  plain.bitsPerPixel = 32;
  EXPECT_EQ(ConvertFile(MakeBmp(kSample, plain)), DevicePicture(kSample));
  for (std::uint32_t header : {40u, 108u, 124u}) {
    BmpLayout masked;
    masked.bitsPerPixel = 32;
    masked.headerSize = header;
    masked.bitfields = true;
    masked.masks[0] = 0x000000FF;  // red in the lowest byte: not the usual order
    masked.masks[1] = 0x0000FF00;
    masked.masks[2] = 0x00FF0000;
    EXPECT_EQ(ConvertFile(MakeBmp(kSample, masked)), DevicePicture(kSample)) << header;
  }
}

TEST(BmpReader, RowsArePaddedToFourBytes) {
  const Picture picture = {{kRed, kGreen, kBlue, kWhite, kGrey}, {kGrey, kBlue, kGreen, kRed, kWhite}};
  BmpLayout layout;
  EXPECT_EQ(ConvertFile(MakeBmp(picture, layout)), DevicePicture(picture));
}

TEST(BmpReader, RefusesWhatItCannotDecode) {
  BmpLayout layout;
  const Bytes good = MakeBmp(kSample, layout);
  BmpInfo info;
  ASSERT_TRUE(ReadBmpInfo(good.data(), good.size(), info));

  Bytes truncated(good.begin(), good.end() - 1);
  EXPECT_FALSE(ReadBmpInfo(truncated.data(), truncated.size(), info));
  Bytes signature = good;
  signature[0] = 'X';
  EXPECT_FALSE(ReadBmpInfo(signature.data(), signature.size(), info));
  Bytes rle = good;
  rle[30] = 1;  // BI_RLE8
  EXPECT_FALSE(ReadBmpInfo(rle.data(), rle.size(), info));
  Bytes planes = good;
  planes[26] = 2;
  EXPECT_FALSE(ReadBmpInfo(planes.data(), planes.size(), info));
  Bytes noWidth = good;
  std::memset(&noWidth[18], 0, 4);
  EXPECT_FALSE(ReadBmpInfo(noWidth.data(), noWidth.size(), info));
  Bytes oddHeader = good;
  oddHeader[14] = 64;  // an OS/2 2.x header
  EXPECT_FALSE(ReadBmpInfo(oddHeader.data(), oddHeader.size(), info));
  Bytes pixelsPastEnd = good;
  pixelsPastEnd[10] = static_cast<std::uint8_t>(pixelsPastEnd[10] + 4);
  EXPECT_FALSE(ReadBmpInfo(pixelsPastEnd.data(), pixelsPastEnd.size(), info));
  EXPECT_FALSE(ReadBmpInfo(good.data(), 20, info));
}

TEST(BmpReader, IndexOutsideTheStatedPaletteIsBlack) {
  BmpLayout layout;
  layout.bitsPerPixel = 8;
  Bytes file = MakeBmp({{kRed, kWhite}}, layout);  // palette of 2 colours
  const std::size_t pixels = file[10];
  file[pixels + 1] = 200;  // second pixel points past the palette
  EXPECT_EQ(ConvertFile(file), DevicePicture({{kRed, kBlack}}));
}

}  // namespace
