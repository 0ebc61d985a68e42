// Fuzz target: the boot-up picture, from any file to the device's format.
// Whatever the file holds, the press must either refuse it, changing nothing
// in the transfer record, or convert it to exactly 16 + 2 x width x height
// bytes of a picture within 160 x 128; its check and its load must agree.
// The conversion itself is also fed pixel arrays of any size and depth: it
// writes a whole picture or nothing, never past fileBuffer.
//
// Input: a mode byte (bit 0: single download rather than batch; bit 1: feed
// the conversion directly instead, with width, height and depth from the
// next 5 bytes and the rest as pixels), then the file.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/boot_picture.h"
#include "engine/image_files.h"
#include "record/transfer_context.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

// The device picture in fileBuffer: header, size and zeroed tail.
void RequireDevicePicture(std::uint32_t maxWidth, std::uint32_t maxHeight) {
  const std::uint8_t* out = g_transfer.fileBuffer;
  const std::uint32_t width = out[2] << 8 | out[3];
  const std::uint32_t height = out[4] << 8 | out[5];
  Require(out[0] == 0x10 && out[1] == 0x10 && out[6] == 0x01 && out[7] == 0x1B, "picture header");
  Require(width >= 1 && height >= 1 && width <= maxWidth && height <= maxHeight, "picture within its limits");
  Require(g_transfer.fileLength == 16 + 2 * width * height, "16 + 2 x width x height bytes");
  for (std::uint32_t i = g_transfer.fileLength - 8; i < g_transfer.fileLength; ++i) {
    Require(out[i] == 0, "the 8 bytes behind the pixels are zero");
  }
}

void CheckFile(DownloadMode mode, std::string_view file) {
  const std::string path = fuzz::ScratchFolder() + "/picture.bmp";
  fuzz::WriteFileBytes(path, file);
  const ImageCheck check = CheckImageFile(kKindBmp, path, mode);
  fuzz::MarkTransferRecord();
  const ImageCheck load = LoadImageFile(kKindBmp, path, mode, nullptr);
  Require(check.refusal == load.refusal, "check and load agree");
  if (!load.ok()) {
    Require(fuzz::TransferRecordUntouched(), "a refused picture changes nothing");
    return;
  }
  RequireDevicePicture(kPictureMaxWidth, kPictureMaxHeight);
  Require(ItemBlockCount(kKindBmp, g_transfer.fileLength) * kDataBlock <= kFileBufferSize,
          "every 2048-byte block inside fileBuffer");
}

void CheckConversion(fuzz::InputReader& input) {
  BITMAP bitmap{};
  bitmap.bmWidth = input.Big16();
  bitmap.bmHeight = input.Big16();
  bitmap.bmBitsPixel = static_cast<std::uint16_t>(input.Byte());
  if (bitmap.bmWidth == 0 || bitmap.bmHeight == 0) return;  // the reader never hands these on
  const std::uint32_t step = bitmap.bmBitsPixel / 8u;
  const std::size_t stride = (std::size_t{static_cast<std::uint32_t>(bitmap.bmWidth)} * step + 3) / 4 * 4;
  const std::uint64_t area = std::uint64_t{static_cast<std::uint32_t>(bitmap.bmWidth)} *
                             static_cast<std::uint32_t>(bitmap.bmHeight);
  const bool convertible = (step == 3 || step == 4) && 16 + 2 * area <= kFileBufferSize;
  // A picture that is not converted gets one byte of pixels: reading more is a fault.
  std::vector<std::uint8_t> pixels(convertible ? stride * static_cast<std::uint32_t>(bitmap.bmHeight) : 1);
  const std::string_view rest = input.Take(pixels.size());
  std::copy(rest.begin(), rest.end(), pixels.begin());
  bitmap.bmWidthBytes = static_cast<std::int32_t>(stride);
  bitmap.bmBits = pixels.data();
  fuzz::MarkTransferRecord();
  ConvertBootPicture(bitmap);
  Require((g_transfer.fileLength != 0) == convertible, "converted exactly when it fits and is 24 or 32 bits");
  if (convertible) RequireDevicePicture(0xFFFF, 0xFFFF);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const std::uint8_t mode = input.Byte();
  if ((mode & 2) != 0) {
    CheckConversion(input);
  } else {
    CheckFile((mode & 1) != 0 ? DownloadMode::kSingle : DownloadMode::kBatch, input.Rest());
  }
  return 0;
}
