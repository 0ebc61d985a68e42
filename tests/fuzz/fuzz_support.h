// Small tools shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// Stops the run with a crash report when a property does not hold; libFuzzer
// saves the input that broke it.
void Require(bool condition, const char* what);

// A folder of this process's own in /dev/shm (else /tmp), made at the first call and
// removed at exit.
const std::string& ScratchFolder();

// Writes bytes as the file at path, replacing what was there.
void WriteFileBytes(const std::string& path, std::string_view bytes);
std::string ReadFileBytes(const std::string& path);

// Marks the transfer record's image fields (fileLength, the start of
// fileBuffer, imageHeader, headerByte108, altCodeSet), so a test can see that
// a refused file changed none of them.
void MarkTransferRecord();
bool TransferRecordUntouched();

// Takes bytes from the front of the input; zero once it is used up.
class InputReader {
 public:
  InputReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte();
  std::uint16_t Big16();
  // The next n bytes (fewer at the end); the reader moves past them.
  std::string_view Take(std::size_t n);
  std::string_view Rest() { return Take(size_); }
  std::size_t Left() const { return size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

}  // namespace fuzz
