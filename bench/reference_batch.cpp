#include "bench/reference_batch.h"

#include <cstdint>
#include <fstream>
#include <random>
#include <vector>

#include "engine/image_files.h"

namespace bench {

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int kPictureWidth = 160;  // the largest boot-up picture
constexpr int kPictureHeight = 128;

// Image sizes of the reference batch; BOOT and HOST without their framing.
constexpr std::array<std::size_t, kKindCount> kReferenceSizes = {
    262144,   // BOOT: 5,958 chunks
    524288,   // HOST: 11,916 chunks
    262144,   // RCDB: 4,947 short blocks
    2097152,  // FONT: 1,024 blocks
    1048576,  // LANG: 512 blocks
    524288,   // FV: 9,893 short blocks
    0,        // BMP: the picture below
    2097152,  // PIC: 1,024 blocks
    kTestDataMaxLength,  // TDB: 19 test-data chunks
};

// Bytes that look like compressed data: every run writes the same.
Bytes Pattern(std::size_t size, std::uint32_t seed) {
  std::mt19937 bits(seed);
  Bytes bytes(size);
  for (auto& b : bytes) b = static_cast<std::uint8_t>(bits());
  return bytes;
}

void PutLittle(Bytes& at, std::size_t offset, std::uint32_t value, int size) {
  for (int i = 0; i < size; ++i) at[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A 24-bit bottom-up bitmap with an INFO header.
Bytes Picture() {
  constexpr std::size_t kHeaders = 54;
  const std::size_t stride = (kPictureWidth * 3 + 3) / 4 * 4;
  const std::size_t pixels = stride * kPictureHeight;
  Bytes file = Pattern(kHeaders + pixels, 6);
  file[0] = 'B';
  file[1] = 'M';
  PutLittle(file, 2, static_cast<std::uint32_t>(file.size()), 4);
  PutLittle(file, 6, 0, 4);
  PutLittle(file, 10, kHeaders, 4);
  PutLittle(file, 14, 40, 4);
  PutLittle(file, 18, kPictureWidth, 4);
  PutLittle(file, 22, kPictureHeight, 4);
  PutLittle(file, 26, 1, 2);
  PutLittle(file, 28, 24, 2);
  PutLittle(file, 30, 0, 4);
  PutLittle(file, 34, static_cast<std::uint32_t>(pixels), 4);
  PutLittle(file, 38, 2835, 4);
  PutLittle(file, 42, 2835, 4);
  PutLittle(file, 46, 0, 4);
  PutLittle(file, 50, 0, 4);
  return file;
}

Bytes FileOfKind(std::uint8_t kind, unsigned divisor) {
  switch (kind) {
    case kKindBmp:
      return Picture();
    case kKindTdb:
      return Pattern(kTestDataHeaderSize + kReferenceSizes[kind], kind);
    case kKindBoot:
    case kKindHost: {
      Bytes file = Pattern(kImageFramingSize + kReferenceSizes[kind] / divisor, kind);
      file[108] = 0;
      file[110] = 0;  // the normal command codes
      file[111] = 0;  // the image tag the batch expects
      return file;
    }
    default:
      return Pattern(kReferenceSizes[kind] / divisor, kind);
  }
}

}  // namespace

ReferenceBatch WriteReferenceBatch(const std::string& folder, unsigned divisor) {
  ReferenceBatch batch;
  batch.folder = folder;
  for (std::uint8_t kind = 0; kind < kKindCount; ++kind) {
    const Bytes file = FileOfKind(kind, divisor == 0 ? 1 : divisor);
    const std::string path = folder + "/reference." + KindName(kind) + (kind == kKindBmp ? ".bmp" : ".bin");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    batch.paths[kind] = path;
    batch.sizes[kind] = file.size();
  }
  return batch;
}

}  // namespace bench
