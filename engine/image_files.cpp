#include "engine/image_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "engine/boot_picture.h"
#include "engine/image_bmp.h"
#include "engine/image_staging.h"
#include "engine/sha256.h"

namespace {

class FileDescriptor {
 public:
  FileDescriptor() = default;
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Opens without blocking (a FIFO would wait for a writer) and takes the size.
ImageRefusal OpenImage(const std::string& path, FileDescriptor& fd, std::uint64_t& size) {
  fd.Reset(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (fd.get() < 0) return ImageRefusal::kUnreadable;
  struct stat facts {};
  if (fstat(fd.get(), &facts) != 0) return ImageRefusal::kUnreadable;
  if (S_ISDIR(facts.st_mode)) return ImageRefusal::kFolder;
  if (!S_ISREG(facts.st_mode)) return ImageRefusal::kUnreadable;
  size = static_cast<std::uint64_t>(facts.st_size);
  return ImageRefusal::kNone;
}

// Reads exactly n bytes from the start of the file.
bool ReadExactly(int fd, std::uint8_t* out, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t got = pread(fd, out + done, n - done, static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

ImageCheck Refuse(ImageRefusal refusal, std::uint32_t maxSize = 0) { return {refusal, maxSize}; }

// The size rules of each kind, for a file of `size` bytes. A picture's rules
// need its headers: see ReadPicture.
ImageCheck CheckSize(std::uint8_t kind, std::uint64_t size, DownloadMode mode) {
  const std::uint32_t max = MaxFileSize(kind, mode);
  if (IsBootOrHost(kind)) {
    if (size < kImageFramingSize) return Refuse(ImageRefusal::kTooShort);
    if (size > max) return Refuse(ImageRefusal::kTooLarge, max);
    if (size == kImageFramingSize) return Refuse(ImageRefusal::kEmpty);
    return {};
  }
  if (kind == kKindTdb) {
    if (size < kTestDataHeaderSize) return Refuse(ImageRefusal::kTestDataTooShort);
    if (size > kTestDataHeaderSize + kTestDataMaxLength) return Refuse(ImageRefusal::kTestDataTooLong);
    return {};
  }
  if (kind == kKindBmp) return {};
  if (size > max) return Refuse(ImageRefusal::kTooLarge, max);
  if (size == 0) return Refuse(ImageRefusal::kEmpty);
  return {};
}

// Reads a picture file of `size` bytes and decodes it whole. The picture's
// size is checked first, from the headers alone, so a picture too large for
// the device is called that whatever else is wrong with the file.
ImageCheck ReadPicture(int fd, std::uint64_t size, BmpPicture& picture,
                       std::string* digest = nullptr) try {
  const std::uint32_t max = MaxFileSize(kKindBmp, DownloadMode::kSingle);
  // A file too large to read whole still tells its picture size.
  std::vector<std::uint8_t> file(static_cast<std::size_t>(size <= max ? size : kBmpHeadersMaxSize));
  if (!ReadExactly(fd, file.data(), file.size())) return Refuse(ImageRefusal::kUnreadable);
  if (digest != nullptr) *digest = Sha256Hex(file.data(), file.size());
  BmpInfo info;
  if (!ReadBmpInfo(file.data(), file.size(), info)) return Refuse(ImageRefusal::kNotBitmap);
  if (info.width > kPictureMaxWidth || info.height > kPictureMaxHeight) {
    return Refuse(ImageRefusal::kPictureTooLarge);
  }
  if (size > max) return Refuse(ImageRefusal::kTooLarge, max);
  if (!DecodeBmp(file.data(), file.size(), info, picture)) return Refuse(ImageRefusal::kNotBitmap);
  return {};
} catch (const std::bad_alloc&) {
  // This may run inside a timer tick: nothing may escape into the event loop.
  return Refuse(ImageRefusal::kNoMemory);
}

// Opens the file and runs every check; on success fd is open and size known.
ImageCheck OpenAndCheck(std::uint8_t kind, const std::string& path, DownloadMode mode,
                        FileDescriptor& fd, std::uint64_t& size) {
  if (const ImageRefusal refusal = OpenImage(path, fd, size); refusal != ImageRefusal::kNone) {
    return Refuse(refusal);
  }
  if (const ImageCheck check = CheckSize(kind, size, mode); !check.ok()) return check;
  if (IsBootOrHost(kind)) {
    std::uint8_t header[kImageHeaderSize];
    if (!ReadExactly(fd.get(), header, sizeof header)) return Refuse(ImageRefusal::kUnreadable);
    if (header[108] != 0) return Refuse(ImageRefusal::kHeaderByte108);
  }
  return {};
}

}  // namespace

bool PathExists(const std::string& path) {
  struct stat facts {};
  return !path.empty() && stat(path.c_str(), &facts) == 0;
}

std::uint32_t MaxFileSize(std::uint8_t kind, DownloadMode mode) {
  if (kind == kKindBoot) return static_cast<std::uint32_t>(kBootStagingSize);
  if (kind == kKindHost) {
    return static_cast<std::uint32_t>(mode == DownloadMode::kBatch ? kBatchStagingSize : kHostStagingSize);
  }
  if (kind == kKindTdb) return kTestDataHeaderSize + kTestDataMaxLength;
  // RCDB and FV go out in whole 53-byte short blocks: the last one must end
  // inside fileBuffer, so their images stop at the last whole block that fits.
  if (kind == kKindRcdb || kind == kKindFv) {
    return static_cast<std::uint32_t>(kFileBufferSize / kShortBlock * kShortBlock);
  }
  return static_cast<std::uint32_t>(kFileBufferSize);
}

ImageRefusal ReadImageHeader(const std::string& path, std::uint8_t (&header)[kImageHeaderSize]) {
  FileDescriptor fd;
  std::uint64_t size = 0;
  if (const ImageRefusal refusal = OpenImage(path, fd, size); refusal != ImageRefusal::kNone) {
    return refusal;
  }
  if (size < kImageFramingSize) return ImageRefusal::kTooShort;
  if (!ReadExactly(fd.get(), header, kImageHeaderSize)) return ImageRefusal::kUnreadable;
  return ImageRefusal::kNone;
}

ImageCheck CheckImageFile(std::uint8_t kind, const std::string& path, DownloadMode mode) {
  FileDescriptor fd;
  std::uint64_t size = 0;
  if (const ImageCheck check = OpenAndCheck(kind, path, mode, fd, size); !check.ok()) return check;
  if (kind == kKindBmp) {
    // Decoded whole, so a file is refused here and not only once a download runs.
    BmpPicture picture;
    return ReadPicture(fd.get(), size, picture);
  }
  return {};
}

ImageCheck LoadImageFile(std::uint8_t kind, const std::string& path, DownloadMode mode,
                         std::uint8_t* staging, LoadedFile* loaded) {
  FileDescriptor fd;
  std::uint64_t size = 0;
  if (const ImageCheck check = OpenAndCheck(kind, path, mode, fd, size); !check.ok()) return check;
  const auto length = static_cast<std::uint32_t>(size);
  // The digest of what was read, before any conversion or scrambling.
  const auto note = [&](const std::uint8_t* bytes) {
    if (loaded == nullptr) return;
    loaded->bytes = size;
    if (bytes != nullptr) loaded->sha256 = Sha256Hex(bytes, length);
  };

  if (IsBootOrHost(kind)) {
    if (staging == nullptr || !ReadExactly(fd.get(), staging, length)) {
      return Refuse(ImageRefusal::kUnreadable);
    }
    note(staging);
    std::memcpy(g_transfer.imageHeader, staging, kImageHeaderSize);
    g_transfer.headerByte108 = staging[108];
    g_transfer.altCodeSet = staging[110];
    // The payload and the trailer; the trailer stays past fileLength, unsent.
    std::memcpy(g_transfer.fileBuffer, staging + kImageHeaderSize, length - kImageHeaderSize);
    g_transfer.fileLength = length - kImageFramingSize;
    return {};
  }
  if (kind == kKindBmp) {
    BmpPicture picture;
    note(nullptr);
    if (const ImageCheck check =
            ReadPicture(fd.get(), size, picture, loaded != nullptr ? &loaded->sha256 : nullptr);
        !check.ok()) {
      return check;
    }
    ConvertBootPicture(DescribeBitmap(picture));
    if (g_transfer.fileLength == 0) return Refuse(ImageRefusal::kNotBitmap);
    return {};
  }
  if (!ReadExactly(fd.get(), g_transfer.fileBuffer, length)) return Refuse(ImageRefusal::kUnreadable);
  note(g_transfer.fileBuffer);
  g_transfer.fileLength = length;
  return {};
}

std::uint16_t ItemBlockCount(std::uint8_t kind, std::uint32_t fileLength) {
  const auto ceilDiv = [](std::uint32_t n, std::uint32_t unit) {
    return static_cast<std::uint16_t>(n / unit + (n % unit != 0 ? 1 : 0));
  };
  switch (kind) {
    case kKindBoot:
    case kKindHost:
      return ceilDiv(fileLength, kChunk);
    case kKindRcdb:
    case kKindFv:
      return ceilDiv(fileLength, kShortBlock);
    case kKindTdb:
      return fileLength < kTestDataHeaderSize ? 0 : ceilDiv(fileLength - kTestDataHeaderSize, kShortBlock);
    default:
      return ceilDiv(fileLength, kDataBlock);
  }
}
