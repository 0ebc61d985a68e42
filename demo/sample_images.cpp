#include "demo/sample_images.h"

#include <algorithm>
#include <cstring>

#include "record/transfer_context.h"

namespace {


// A program image whose header names what it is; the tool reads only bytes
// 108 (0), 110 (normal codes) and 111 (tag 0) of it.
Bytes LabelledProgram(const char* label, std::size_t payload, std::uint8_t seed) {
  Bytes file = ProgramFile(PatternBytes(payload, seed), 0);
  std::fill(file.begin(), file.begin() + 108, 0);
  std::memcpy(file.data(), label, std::min<std::size_t>(std::strlen(label), 64));
  return file;
}

std::string Kib(std::size_t bytes) { return std::to_string(bytes / 1024) + " KiB"; }

}  // namespace

SampleSizes DemoSampleSizes() {
  SampleSizes sizes;
  sizes.bootPayload = 24 * 1024;
  sizes.hostPayload = 48 * 1024;
  sizes.rcdbBlocks = 600;  // 31,800 bytes
  sizes.font = 512 * 1024;
  sizes.lang = 384 * 1024;
  sizes.fvBlocks = 700;  // 37,100 bytes
  sizes.pictureWidth = 160;
  sizes.pictureHeight = 128;
  sizes.pic = 320 * 1024;
  sizes.testData = 1007;
  return sizes;
}

SampleSizes SmallSampleSizes() {
  SampleSizes sizes;
  sizes.bootPayload = 300;
  sizes.hostPayload = 301;
  sizes.rcdbBlocks = 3;
  sizes.font = 5000;
  sizes.lang = 2100;
  sizes.fvBlocks = 4;
  sizes.pictureWidth = 7;
  sizes.pictureHeight = 3;
  sizes.pic = 3000;
  sizes.testData = 100;
  return sizes;
}

std::vector<SampleImage> MakeSampleImages(const SampleSizes& s) {
  std::vector<SampleImage> images;
  const auto add = [&](RowKind kind, std::string description, Bytes bytes) {
    images.push_back({kind, SampleFileName(kind), std::move(description), std::move(bytes)});
  };
  add(RowKind::kBoot, "boot loader, " + Kib(s.bootPayload) + " payload between header and trailer",
      LabelledProgram("VX742 sample boot loader 1.0", s.bootPayload, 1));
  add(RowKind::kHost, "host program, " + Kib(s.hostPayload) + " payload between header and trailer",
      LabelledProgram("VX742 sample host program 1.0", s.hostPayload, 2));
  add(RowKind::kRcdb, "record database, " + std::to_string(s.rcdbBlocks) + " short blocks",
      PatternBytes(s.rcdbBlocks * kShortBlock, 3));
  add(RowKind::kFont, "font library", PatternBytes(s.font, 4));
  add(RowKind::kLang, "language pack", PatternBytes(s.lang, 5));
  add(RowKind::kFv, "voice prompts, " + std::to_string(s.fvBlocks) + " short blocks",
      PatternBytes(s.fvBlocks * kShortBlock, 6));
  add(RowKind::kBmp,
      "boot-up picture, " + std::to_string(s.pictureWidth) + " x " + std::to_string(s.pictureHeight) +
          " pixels, 24-bit",
      BitmapFile(s.pictureWidth, s.pictureHeight, 7));
  add(RowKind::kPic, "picture pack", PatternBytes(s.pic, 8));
  add(RowKind::kTdb, "test data, " + std::to_string(s.testData) + " bytes behind the header",
      TestDataFile(PatternBytes(s.testData, 9)));
  return images;
}

std::string SampleFileName(RowKind kind) {
  // The extensions the rows' open-file dialogs look for.
  static constexpr const char* kNames[kRowKindCount] = {
      "boot.bin", "host.bin", "records.rdb",  "fonts.pack",   "language.lang",
      "voice.fv", "logo.bmp", "pictures.pic", "test-data.tdb"};
  return kNames[static_cast<int>(kind)];
}

std::string RowOption(RowKind kind) { return std::string("--") + DeviceImageName(kind); }
