#include "demo/expected_images.h"

#include <fstream>
#include <iterator>

#include "link/command_frames.h"
#include "record/transfer_context.h"

namespace {

constexpr std::size_t kProgramHeader = 128;
constexpr std::size_t kProgramTrailer = 2;
constexpr std::size_t kTestDataHeader = 256;
constexpr std::size_t kTestDataLargest = 1007;  // 19 test-data chunks of 53
constexpr int kPictureWidthLimit = 160, kPictureHeightLimit = 128;

}  // namespace

const char* KindLabel(RowKind kind) {
  static constexpr const char* kLabels[kRowKindCount] = {"BOOT", "HOST", "RCDB", "FONT", "LANG",
                                                           "FV",   "BMP",  "PIC",  "TDB"};
  return kLabels[static_cast<int>(kind)];
}

const char* DeviceImageName(RowKind kind) {
  static constexpr const char* kNames[kRowKindCount] = {"boot", "host", "rcdb", "font", "lang",
                                                          "fv",   "bmp",  "pic",  "tdb"};
  return kNames[static_cast<int>(kind)];
}

Bytes PatternBytes(std::size_t n, std::uint8_t seed) {
  Bytes bytes(n);
  for (std::size_t i = 0; i < n; ++i) {
    bytes[i] = static_cast<std::uint8_t>(seed * 31 + i * 7 + i / 251);
  }
  return bytes;
}

Bytes ProgramFile(const Bytes& payload, std::uint8_t altCodeSet) {
  Bytes file(128, 0x5C);  // a busy header: only the bytes below are read
  file[108] = 0;
  file[110] = altCodeSet;
  file[111] = 0;
  file.insert(file.end(), payload.begin(), payload.end());
  file.push_back(0xEE);  // the trailer never reaches the device
  file.push_back(0xEF);
  return file;
}

Bytes StoredProgram(const Bytes& file) {
  return ScrambledB(Bytes(file.begin() + kProgramHeader, file.end() - kProgramTrailer));
}

Bytes TestDataFile(const Bytes& data) {
  Bytes file(kTestDataHeader, 0xAB);
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

Rgb PixelAt(int x, int y, std::uint8_t seed) {
  return {static_cast<std::uint8_t>(seed + 37 * x + 5), static_cast<std::uint8_t>(61 * y + 3 * x + 3),
          static_cast<std::uint8_t>(255 - 23 * x - 11 * y - seed)};
}

void PutLittle(Bytes& bytes, std::size_t at, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

Bytes BitmapFile(int width, int height, std::uint8_t seed) {
  const int stride = (width * 3 + 3) & ~3;
  Bytes file(54 + static_cast<std::size_t>(stride * height), 0);
  file[0] = 'B';
  file[1] = 'M';
  PutLittle(file, 2, static_cast<std::uint32_t>(file.size()), 4);
  PutLittle(file, 10, 54, 4);  // pixel offset
  PutLittle(file, 14, 40, 4);  // BITMAPINFOHEADER
  PutLittle(file, 18, static_cast<std::uint32_t>(width), 4);
  PutLittle(file, 22, static_cast<std::uint32_t>(height), 4);
  PutLittle(file, 26, 1, 2);   // planes
  PutLittle(file, 28, 24, 2);  // bits per pixel
  PutLittle(file, 34, static_cast<std::uint32_t>(stride * height), 4);
  for (int y = 0; y < height; ++y) {
    // Bottom-up: the picture's top row is the file's last.
    const std::size_t row = 54 + static_cast<std::size_t>(stride * (height - 1 - y));
    for (int x = 0; x < width; ++x) {
      const Rgb p = PixelAt(x, y, seed);
      file[row + 3 * x] = p.b;
      file[row + 3 * x + 1] = p.g;
      file[row + 3 * x + 2] = p.r;
    }
    for (std::size_t pad = row + 3 * width; pad < row + stride; ++pad) file[pad] = 0xCD;
  }
  return file;
}

namespace {

std::uint32_t GetLittle(const Bytes& bytes, std::size_t at, int size) {
  std::uint32_t value = 0;
  for (int i = size; i-- > 0;) value = (value << 8) | bytes[at + i];
  return value;
}

Bytes PictureHeader(int width, int height) {
  return {0x10,
          0x10,
          static_cast<std::uint8_t>(width >> 8),
          static_cast<std::uint8_t>(width),
          static_cast<std::uint8_t>(height >> 8),
          static_cast<std::uint8_t>(height),
          0x01,
          0x1B};
}

// RGB565, high byte first.
void AppendPixel(Bytes& out, Rgb p) {
  const unsigned value = ((p.r & 0xF8u) << 8) | ((p.g & 0xFCu) << 3) | (p.b >> 3);
  out.push_back(static_cast<std::uint8_t>(value >> 8));
  out.push_back(static_cast<std::uint8_t>(value));
}

constexpr std::size_t kPictureTrailer = 8;  // sent, but no content of its own

}  // namespace

Bytes DevicePicture(int width, int height, std::uint8_t seed) {
  Bytes out = PictureHeader(width, height);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) AppendPixel(out, PixelAt(x, y, seed));
  }
  out.resize(out.size() + kPictureTrailer, 0);
  return out;
}

std::optional<Bytes> DevicePictureOfBitmap(const Bytes& file) {
  constexpr std::size_t kHeadersEnd = 54;  // file header and BITMAPINFOHEADER
  if (file.size() < kHeadersEnd || file[0] != 'B' || file[1] != 'M') return std::nullopt;
  const std::uint32_t pixelOffset = GetLittle(file, 10, 4);
  const auto width = static_cast<std::int32_t>(GetLittle(file, 18, 4));
  const auto rawHeight = static_cast<std::int32_t>(GetLittle(file, 22, 4));
  const std::uint32_t bitsPerPixel = GetLittle(file, 28, 2);
  if (GetLittle(file, 14, 4) < 40 || (bitsPerPixel != 24 && bitsPerPixel != 32) ||
      GetLittle(file, 30, 4) != 0) {
    return std::nullopt;
  }
  if (width <= 0 || width > kPictureWidthLimit || rawHeight == 0 || rawHeight < -kPictureHeightLimit ||
      rawHeight > kPictureHeightLimit) {
    return std::nullopt;
  }
  const bool topDown = rawHeight < 0;
  const int height = topDown ? -rawHeight : rawHeight;
  const std::size_t step = bitsPerPixel / 8;
  const std::size_t stride = (static_cast<std::size_t>(width) * step + 3) & ~std::size_t{3};
  if (pixelOffset > file.size() || stride * static_cast<std::size_t>(height) > file.size() - pixelOffset) {
    return std::nullopt;
  }
  Bytes out = PictureHeader(width, height);
  for (int y = 0; y < height; ++y) {  // the picture's top row first
    const std::size_t row = pixelOffset + stride * static_cast<std::size_t>(topDown ? y : height - 1 - y);
    for (int x = 0; x < width; ++x) {
      const std::size_t p = row + step * static_cast<std::size_t>(x);
      AppendPixel(out, {file[p + 2], file[p + 1], file[p]});  // stored blue, green, red
    }
  }
  out.resize(out.size() + kPictureTrailer, 0);
  return out;
}

Bytes ScrambledB(Bytes bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= XorKeyB[i % kXorKeySize];
  return bytes;
}

ExpectedImage ExpectedStore(RowKind kind, const Bytes& source) {
  ExpectedImage expected;
  const auto refuse = [&expected](const char* why) {
    expected.problem = why;
    return expected;
  };
  switch (kind) {
    case RowKind::kBoot:
    case RowKind::kHost:
      if (source.size() <= kProgramHeader + kProgramTrailer) {
        return refuse("no payload between the 128-byte header and the 2-byte trailer");
      }
      if (source[108] != 0) return refuse("header byte 108 is not 0");
      if (source[111] != 0) return refuse("image tag (header byte 111) is not 0");
      expected.bytes = StoredProgram(source);
      break;
    case RowKind::kRcdb:
      expected.bytes = ScrambledB(source);
      expected.wholeBlocksOf = kShortBlock;
      break;
    case RowKind::kFv:
      expected.bytes = source;
      expected.wholeBlocksOf = kShortBlock;
      break;
    case RowKind::kFont:
    case RowKind::kPic:
      expected.bytes = ScrambledB(source);
      break;
    case RowKind::kLang:
      expected.bytes = source;
      break;
    case RowKind::kBmp: {
      std::optional<Bytes> picture = DevicePictureOfBitmap(source);
      if (!picture) return refuse("not a 24- or 32-bit uncompressed bitmap of at most 160 x 128 pixels");
      expected.bytes = std::move(*picture);
      break;
    }
    case RowKind::kTdb:
      if (source.size() < kTestDataHeader) return refuse("shorter than its 256-byte header");
      if (source.size() - kTestDataHeader > kTestDataLargest) return refuse("more than 1007 bytes of test data");
      expected.bytes.assign(source.begin() + kTestDataHeader, source.end());
      break;
  }
  if (expected.bytes.empty()) return refuse("nothing to send");
  return expected;
}

std::optional<Bytes> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  Bytes bytes{std::istreambuf_iterator<char>(in), {}};
  if (in.bad()) return std::nullopt;
  return bytes;
}

bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}
