#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "record/transfer_context.h"

namespace fuzz {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "property broken: %s\n", what);
  std::abort();
}

namespace {

struct Scratch {
  std::string path;
  Scratch() {
    // In memory where there is a tmpfs: the settings writes sync every file.
    char inMemory[] = "/dev/shm/tamsolt-fuzz-XXXXXX";
    char onDisk[] = "/tmp/tamsolt-fuzz-XXXXXX";
    const char* made = mkdtemp(inMemory);
    if (made == nullptr) made = mkdtemp(onDisk);
    Require(made != nullptr, "scratch folder made");
    path = made;
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

}  // namespace

const std::string& ScratchFolder() {
  static const Scratch scratch;
  return scratch.path;
}

void WriteFileBytes(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Require(static_cast<bool>(out), "scratch file written");
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

namespace {
constexpr std::uint32_t kUntouchedLength = 0xC0FFEE;
constexpr std::uint8_t kUntouchedByte = 0xEE;
constexpr std::size_t kMarkedBytes = 64;
}  // namespace

void MarkTransferRecord() {
  g_transfer.fileLength = kUntouchedLength;
  std::fill_n(g_transfer.fileBuffer, kMarkedBytes, kUntouchedByte);
  std::fill_n(g_transfer.imageHeader, kMarkedBytes, kUntouchedByte);
  g_transfer.headerByte108 = kUntouchedByte;
  g_transfer.altCodeSet = kUntouchedByte;
}

bool TransferRecordUntouched() {
  const auto marked = [](const std::uint8_t* bytes) {
    return std::all_of(bytes, bytes + kMarkedBytes, [](std::uint8_t b) { return b == kUntouchedByte; });
  };
  return g_transfer.fileLength == kUntouchedLength && marked(g_transfer.fileBuffer) &&
         marked(g_transfer.imageHeader) && g_transfer.headerByte108 == kUntouchedByte &&
         g_transfer.altCodeSet == kUntouchedByte;
}

std::uint8_t InputReader::Byte() {
  if (size_ == 0) return 0;
  --size_;
  return *data_++;
}

std::uint16_t InputReader::Big16() {
  const std::uint8_t high = Byte();
  return static_cast<std::uint16_t>(high << 8 | Byte());
}

std::string_view InputReader::Take(std::size_t n) {
  if (n > size_) n = size_;
  const std::string_view taken(reinterpret_cast<const char*>(data_), n);
  data_ += n;
  size_ -= n;
  return taken;
}

}  // namespace fuzz
