// The device picture format: header, RGB565 values high byte first, top row
// first, the 8 bytes behind the pixels cleared; and the bitmap reader that
// feeds it every common layout of a .bmp file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>
#include <utility>

#include "bmp_files.h"
#include "engine_fixture.h"
#include "engine/boot_picture.h"
#include "engine/image_bmp.h"
#include "engine/image_files.h"
#include "record/transfer_context.h"

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

// Decodes a file as the BMP row's start does, and converts it; empty when the
// reader refuses the file.
Bytes ConvertFile(const Bytes& file) {
  BmpInfo info;
  BmpPicture picture;
  if (!ReadBmpInfo(file.data(), file.size(), info)) return {};
  if (!DecodeBmp(file.data(), file.size(), info, picture)) return {};
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

BmpLayout Layout(int bitsPerPixel, std::uint32_t headerSize = 40, bool topDown = false,
                 std::uint32_t red = 0, std::uint32_t green = 0, std::uint32_t blue = 0) {
  BmpLayout layout;
  layout.bitsPerPixel = bitsPerPixel;
  layout.headerSize = headerSize;
  layout.topDown = topDown;
  layout.bitfields = red != 0;
  layout.masks[0] = red;
  layout.masks[1] = green;
  layout.masks[2] = blue;
  return layout;
}

TEST(BmpReader, EveryCommonLayoutGivesTheSamePicture) {
  const Picture twoColours = {{kRed, kWhite, kWhite}, {kWhite, kWhite, kRed}};
  const Picture fiveWide = {{kRed, kGreen, kBlue, kWhite, kGrey}, {kGrey, kBlue, kGreen, kRed, kWhite}};
  struct Case {
    const char* name;
    BmpLayout layout;
    const Picture& picture;
  };
  const Case cases[] = {
      {"24 bits bottom-up", Layout(24), kSample},
      {"24 bits top-down", Layout(24, 40, true), kSample},
      {"rows padded to four bytes", Layout(24), fiveWide},
      {"1 bit palette", Layout(1), twoColours},
      {"1 bit palette top-down", Layout(1, 40, true), twoColours},
      {"4 bit palette", Layout(4), kSample},
      {"8 bit palette", Layout(8), kSample},
      {"8 bit palette top-down", Layout(8, 40, true), kSample},
      {"core header, three-byte palette", Layout(8, 12), kSample},
      {"core header, 24 bits", Layout(24, 12), kSample},
      {"16 bits 555", Layout(16), kSample},
      {"16 bits 565 bitfields", Layout(16, 40, false, 0xF800, 0x07E0, 0x001F), kSample},
      {"32 bits", Layout(32), kSample},
      // Red in the lowest byte: not the usual order.
      {"32 bits masks", Layout(32, 40, false, 0xFF, 0xFF00, 0xFF0000), kSample},
      {"32 bits masks V4", Layout(32, 108, false, 0xFF, 0xFF00, 0xFF0000), kSample},
      {"32 bits masks V5", Layout(32, 124, false, 0xFF, 0xFF00, 0xFF0000), kSample},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ConvertFile(MakeBmp(c.picture, c.layout)), DevicePicture(c.picture)) << c.name;
  }
}

TEST(BmpReader, RefusesWhatItCannotDecode) {
  const Bytes good = MakeBmp(kSample, BmpLayout{});
  BmpInfo info;
  ASSERT_TRUE(ReadBmpInfo(good.data(), good.size(), info));
  EXPECT_FALSE(ReadBmpInfo(good.data(), 20, info));
  EXPECT_TRUE(ConvertFile(Bytes(good.begin(), good.end() - 1)).empty()) << "truncated pixels";
  const Bytes masked = MakeBmp(kSample, Layout(32, 40, false, 0xFF, 0xFF00, 0xFF0000));
  const std::pair<const char*, std::function<void(Bytes&)>> damages[] = {
      {"signature", [](Bytes& b) { b[0] = 'X'; }},
      {"BI_RLE8 on 24 bits", [](Bytes& b) { b[30] = 1; }},
      {"two planes", [](Bytes& b) { b[26] = 2; }},
      {"no width", [](Bytes& b) { std::memset(&b[18], 0, 4); }},
      {"OS/2 2.x header", [](Bytes& b) { b[14] = 64; }},
      {"pixels past the end", [](Bytes& b) { b[10] = static_cast<std::uint8_t>(b[10] + 4); }},
  };
  for (const auto& [name, damage] : damages) {
    Bytes file = good;
    damage(file);
    EXPECT_TRUE(ConvertFile(file).empty()) << name;
  }
  // Masks that select nothing leave nothing to show.
  for (const std::uint32_t headerSize : {40u, 108u}) {
    Bytes file = MakeBmp(kSample, Layout(32, headerSize, false, 0xFF, 0xFF00, 0xFF0000));
    std::memset(&file[54], 0, 12);
    EXPECT_TRUE(ConvertFile(file).empty()) << "all masks zero, header " << headerSize;
  }
  EXPECT_EQ(ConvertFile(masked), DevicePicture(kSample));
}

TEST(BmpReader, IndexOutsideTheStatedPaletteIsBlack) {
  BmpLayout layout;
  layout.bitsPerPixel = 8;
  Bytes file = MakeBmp({{kRed, kWhite}}, layout);  // palette of 2 colours
  const std::size_t pixels = file[10];
  file[pixels + 1] = 200;  // second pixel points past the palette
  EXPECT_EQ(ConvertFile(file), DevicePicture({{kRed, kBlack}}));
}

// ---- run-length-encoded pictures (BI_RLE8, BI_RLE4) ------------------------

const std::vector<Rgb> kFourColours = {kRed, kGreen, kBlue, kWhite};  // index 0 is red

TEST(BmpRle, RunsDeltasAndAbsoluteRunsDecode) {
  struct Case {
    const char* name;
    int bits, width, height;
    Bytes stream;
    Picture picture;  // top row first
  };
  const Case cases[] = {
      // Bottom row: two runs, then one into the row's padding (dropped). A
      // delta skips the middle row and two pixels (index 0), then an
      // absolute run of three (padded to an even length).
      {"RLE8", 8, 5, 3,
       {3, 1, 2, 2, 3, 0, 0, 0, /**/ 0, 2, 2, 1, /**/ 0, 3, 3, 1, 2, 0, /**/ 0, 1},
       {{kRed, kRed, kWhite, kGreen, kBlue}, Picture::value_type(5, kRed),
        {kGreen, kGreen, kGreen, kBlue, kBlue}}},
      // A run alternates its two nibbles; the end of line leaves the last
      // pixel at index 0; five absolute nibbles take three bytes and a pad.
      {"RLE4", 4, 5, 2,
       {4, 0x12, 0, 0, /**/ 0, 5, 0x31, 0x20, 0x30, 0, /**/ 0, 1},
       {{kWhite, kGreen, kBlue, kRed, kWhite}, {kGreen, kBlue, kGreen, kBlue, kRed}}},
      // Three absolute nibbles fill two bytes, no pad; the delta moves from
      // where the run ended.
      {"RLE4 odd run", 4, 5, 2,
       {0, 3, 0x12, 0x30, /**/ 0, 2, 1, 1, /**/ 1, 0x20, /**/ 0, 1},
       {{kRed, kRed, kRed, kRed, kBlue}, {kGreen, kBlue, kWhite, kRed, kRed}}},
  };
  for (const Case& c : cases) {
    const Bytes file = MakeRleBmp(c.bits, c.width, c.height, kFourColours, c.stream);
    EXPECT_EQ(ConvertFile(file), DevicePicture(c.picture)) << c.name;
    // Cut anywhere before the end-of-bitmap mark, the file is refused.
    for (std::size_t cut = 1; cut <= c.stream.size(); ++cut) {
      EXPECT_TRUE(ConvertFile(Bytes(file.begin(), file.end() - static_cast<long>(cut))).empty())
          << c.name << " cut by " << cut;
    }
  }
}

TEST(BmpRle, RunsOutsideThePictureOrTheFileAreRefused) {
  // 5 x 3 pixels; a stored row holds 8 (RLE8: 8 bytes, RLE4: 4 bytes).
  const std::tuple<const char*, int, Bytes> cases[] = {
      {"run past the stored row", 8, {9, 1, 0, 1}},
      {"second run past the stored row", 8, {5, 1, 4, 1, 0, 1}},
      {"absolute run past the stored row", 8, {0, 9, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 1}},
      {"delta past the row", 8, {0, 2, 9, 0, 0, 1}},
      {"delta past the top", 8, {0, 2, 0, 4, 0, 1}},
      {"end of line past the top", 8, {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"run above the top row", 8, {0, 0, 0, 0, 0, 0, 1, 1, 0, 1}},
      {"absolute run past the file", 8, {0, 4, 1, 2}},
      {"delta past the file", 8, {0, 2, 1}},
      {"RLE4 run past the stored row", 4, {9, 0x11, 0, 1}},
      {"RLE4 absolute run past the file", 4, {0, 8, 0x11, 0x11, 0x11}},
  };
  for (const auto& [name, bits, stream] : cases) {
    EXPECT_TRUE(ConvertFile(MakeRleBmp(bits, 5, 3, kFourColours, stream)).empty()) << name;
  }
  const Bytes good = MakeRleBmp(4, 5, 3, kFourColours, {5, 0x12, 0, 1});
  ASSERT_FALSE(ConvertFile(good).empty());
  Bytes rle8On4Bits = good;
  rle8On4Bits[30] = 1;
  Bytes topDown = good;
  std::memset(&topDown[22], 0xFF, 4);
  topDown[22] = 0xFD;  // -3: run-length pictures are stored bottom-up only
  EXPECT_TRUE(ConvertFile(rle8On4Bits).empty());
  EXPECT_TRUE(ConvertFile(topDown).empty());
}

// Pictures written by ImageMagick, which writes 8-bit pictures as RLE8 when
// asked to compress: its runs cover each row's padding too.
class ToolPictures : public EngineTest {
 protected:
  Bytes Loaded(const std::string& path) {
    g_transfer.fileLength = 0;
    if (!LoadImageFile(kKindBmp, path, DownloadMode::kSingle, nullptr).ok()) return {};
    return Converted();
  }
};

TEST_F(ToolPictures, ImageMagickRle8ConvertsLikeItsUncompressedCopy) {
  ASSERT_TRUE(std::filesystem::exists("/usr/bin/convert"))
      << "ImageMagick's convert is missing: scripts/setup.sh installs it";
  const std::string plain = dir + "/plain.bmp", rle = dir + "/rle.bmp";
  // Built-in colour-mapped pictures (no colour reduction, which is slow): odd
  // widths make padded rows, netscape: has long runs, pattern: two colours.
  for (const char* source : {"granite: -crop 37x9+5+5 +repage",
                             "netscape: -crop 157x128+30+10 +repage", "pattern:checkerboard"}) {
    SCOPED_TRACE(source);
    const std::string make = std::string("/usr/bin/convert ") + source + " -compress ";
    const std::string makePlain = make + "None BMP3:" + plain + " 2>/dev/null";
    const std::string makeRle = make + "RLE BMP3:" + rle + " 2>/dev/null";
    ASSERT_EQ(std::system(makePlain.c_str()), 0) << makePlain;
    ASSERT_EQ(std::system(makeRle.c_str()), 0) << makeRle;
    std::ifstream in(rle, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    ASSERT_GT(file.size(), 30u);
    ASSERT_EQ(file[30], 1) << "not written as BI_RLE8";
    const Bytes expected = Loaded(plain);
    ASSERT_GT(expected.size(), 16u);
    EXPECT_EQ(Loaded(rle), expected);
  }
}

}  // namespace
