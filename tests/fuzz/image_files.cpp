// Fuzz target: the image loaders of the press on any file of any row. Every
// file is either refused, changing nothing in the transfer record, or loaded
// inside its buffers exactly as the file holds it: BOOT/HOST header, payload
// and trailer; the whole file for the other rows. A test-data file loaded is
// then sent chunk by chunk to the emulated device, which must end up holding
// exactly its test data.
//
// Input: kind byte (mod 9); a byte with the mode (bit 0: single download),
// the file's size (bits 1-3: 0 as the data, 1 the row's largest size, 2 the
// BOOT/HOST framing, 3 the test-data header, 4 the largest test-data file,
// 5 fileBuffer's size; the data cut or padded with zeros to it) and what the
// path is (bits 4-5: a file, a folder, nothing, a FIFO); a byte whose low two
// bits plus sign move the size by up to 3; then the data.
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/image_files.h"
#include "engine/test_data.h"
#include "record/transfer_context.h"
#include "link/usb_link.h"
#include "sim/device_model.h"
#include "sim/inprocess_usb.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

std::uint64_t FileSize(std::uint8_t kind, DownloadMode mode, std::uint8_t rule, std::uint8_t shift,
                       std::size_t dataSize) {
  std::int64_t size = 0;
  switch (rule) {
    case 1: size = MaxFileSize(kind, mode); break;
    case 2: size = kImageFramingSize; break;
    case 3: size = kTestDataHeaderSize; break;
    case 4: size = kTestDataHeaderSize + kTestDataMaxLength; break;
    case 5: size = kFileBufferSize; break;
    default: return dataSize;
  }
  const int delta = (shift & 3) * ((shift & 4) != 0 ? -1 : 1);
  return static_cast<std::uint64_t>(std::max<std::int64_t>(0, size + delta));
}

// Puts what the input says at path: a file of `size` bytes starting with data,
// a folder, nothing or a FIFO.
void MakePath(const std::string& path, std::uint8_t what, std::string_view data, std::uint64_t size) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
  switch (what) {
    case 1: std::filesystem::create_directory(path, ignored); return;
    case 2: return;
    case 3: Require(mkfifo(path.c_str(), 0600) == 0, "FIFO made"); return;
    default:
      fuzz::WriteFileBytes(path, data.substr(0, size));
      Require(truncate(path.c_str(), static_cast<off_t>(size)) == 0, "file sized");
  }
}

// The test data, sent as the test-data loop sends it (after the head frame
// that follows a restart), reaches the device byte for byte.
void SendTestDataToDevice() {
  sim::DeviceModel device(sim::Faults{}, "");
  sim::InstallInProcessDevice(&device, nullptr);
  g_transfer.m_dev = nullptr;
  g_transfer.interfaceClaimed = 0;
  Require(FindDevice() && OpenDevice(), "emulated device opened");
  SendTestDataHeadOfImage();
  for (g_transfer.blockIndex = 0; g_transfer.blockIndex < g_transfer.blockCount; ++g_transfer.blockIndex) {
    SendTestDataChunkAtIndex();
  }
  CloseDevice();
  Require(device.GetSummary().rejectedFrames == 0, "the device takes every test-data frame");
  const auto image = device.Images().find("tdb");
  const std::uint16_t length = TestDataLength();
  const bool same = image != device.Images().end()
                        ? image->second.size() == length &&
                              std::equal(image->second.begin(), image->second.end(), TestData())
                        : length == 0;
  Require(same, "the device holds exactly the test data");
}

void RequireLoaded(std::uint8_t kind, const std::string& file) {
  const std::uint32_t length = g_transfer.fileLength;
  if (IsBootOrHost(kind)) {
    Require(file.size() > kImageFramingSize && length == file.size() - kImageFramingSize, "BOOT/HOST payload length");
    Require(std::memcmp(g_transfer.imageHeader, file.data(), kImageHeaderSize) == 0, "header copied");
    Require(g_transfer.headerByte108 == 0 && g_transfer.altCodeSet == static_cast<std::uint8_t>(file[110]),
            "header bytes 108 and 110");
    Require(std::memcmp(g_transfer.fileBuffer, file.data() + kImageHeaderSize, file.size() - kImageHeaderSize) == 0,
            "payload and trailer copied");
  } else {
    Require(length == file.size() && std::memcmp(g_transfer.fileBuffer, file.data(), length) == 0,
            "the whole file copied");
  }
  const std::uint32_t unit = IsBootOrHost(kind) ? kChunk
                             : kind == kKindRcdb || kind == kKindFv || kind == kKindTdb ? kShortBlock
                                                                                         : kDataBlock;
  const std::uint32_t data = kind == kKindTdb ? length - kTestDataHeaderSize : length;
  const std::uint32_t blocks = (data + unit - 1) / unit;
  Require(ItemBlockCount(kind, length) == blocks, "block count in 16 bits");
  Require(kind == kKindTdb || blocks > 0, "something to send");
  // Whole blocks are read from fileBuffer, the last one too.
  Require(std::uint64_t{blocks} * unit + (kind == kKindTdb ? kTestDataHeaderSize : 0) <= kFileBufferSize,
          "every block inside fileBuffer");
  if (kind == kKindTdb) {
    Require(data <= kTestDataMaxLength, "test data within the staging area");
    g_transfer.blockCount = ItemBlockCount(kind, length);
    SendTestDataToDevice();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader input(data, size);
  const auto kind = static_cast<std::uint8_t>(input.Byte() % kKindCount);
  const std::uint8_t how = input.Byte();
  const std::uint8_t shift = input.Byte();
  if (kind == kKindBmp) return 0;  // the picture has its own target
  const DownloadMode mode = (how & 1) != 0 ? DownloadMode::kSingle : DownloadMode::kBatch;
  const std::string_view bytes = input.Rest();
  const std::uint64_t fileSize = FileSize(kind, mode, (how >> 1) & 7, shift, bytes.size());
  const std::uint8_t what = (how >> 4) & 3;

  const std::string path = fuzz::ScratchFolder() + "/image";
  MakePath(path, what, bytes, fileSize);
  if (what == 0) Require(PathExists(path), "the file exists");

  std::uint8_t header[kImageHeaderSize];
  const ImageRefusal headerRefusal = ReadImageHeader(path, header);
  if (what == 0 && fileSize >= kImageFramingSize) Require(headerRefusal == ImageRefusal::kNone, "header read");

  const ImageCheck check = CheckImageFile(kind, path, mode);
  std::unique_ptr<std::uint8_t[]> staging;
  if (IsBootOrHost(kind)) staging.reset(new std::uint8_t[MaxFileSize(kind, mode)]);
  fuzz::MarkTransferRecord();
  const ImageCheck load = LoadImageFile(kind, path, mode, staging.get());
  Require(check.refusal == load.refusal && check.maxSize == load.maxSize, "check and load agree");
  if (what == 1) Require(load.refusal == ImageRefusal::kFolder, "a folder is refused as one");
  if (what >= 2) Require(load.refusal == ImageRefusal::kUnreadable, "nothing or a FIFO is unreadable");
  if (!load.ok()) {
    Require(fuzz::TransferRecordUntouched(), "a refused file changes nothing");
    return 0;
  }
  std::string file(bytes.substr(0, fileSize));
  file.resize(fileSize, '\0');
  RequireLoaded(kind, file);
  return 0;
}
