#include "batch_window_images.h"

#include <fstream>
#include <iterator>

#include "link/command_frames.h"

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
  return ScrambledB(Bytes(file.begin() + 128, file.end() - 2));
}

Bytes TestDataFile(const Bytes& data) {
  Bytes file(256, 0xAB);
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

Bytes DevicePicture(int width, int height, std::uint8_t seed) {
  Bytes out = {0x10,
               0x10,
               static_cast<std::uint8_t>(width >> 8),
               static_cast<std::uint8_t>(width),
               static_cast<std::uint8_t>(height >> 8),
               static_cast<std::uint8_t>(height),
               0x01,
               0x1B};
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Rgb p = PixelAt(x, y, seed);
      const unsigned value = ((p.r & 0xF8u) << 8) | ((p.g & 0xFCu) << 3) | (p.b >> 3);
      out.push_back(static_cast<std::uint8_t>(value >> 8));
      out.push_back(static_cast<std::uint8_t>(value));
    }
  }
  out.resize(out.size() + 8, 0);
  return out;
}

Bytes ScrambledB(Bytes bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] ^= XorKeyB[i % kXorKeySize];
  return bytes;
}

Bytes ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

bool WriteFileBytes(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}
