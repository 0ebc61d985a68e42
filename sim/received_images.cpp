#include "sim/received_images.h"

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace sim {

bool ReceivedImages::Place(const std::string& name, std::size_t offset, const std::uint8_t* bytes,
                           std::size_t n) {
  if (offset > kLargestImage || n > kLargestImage - offset) return false;
  if (endedExchange_) {
    images_.clear();
    statedLengths_.clear();
    endedExchange_ = false;
  }
  std::vector<std::uint8_t>& image = images_[name];
  if (image.size() < offset + n) image.resize(offset + n);
  std::copy(bytes, bytes + n, image.begin() + static_cast<std::ptrdiff_t>(offset));
  if (const auto stated = statedLengths_.find(name);
      stated != statedLengths_.end() && image.size() > stated->second) {
    image.resize(stated->second);
  }
  return true;
}

void ReceivedImages::StateLength(const std::string& name, std::uint32_t length) {
  statedLengths_[name] = length;
  if (const auto image = images_.find(name); image != images_.end() && image->second.size() > length) {
    image->second.resize(length);
  }
}

void ReceivedImages::EndExchange() { endedExchange_ = true; }

void ReceivedImages::Forget() {
  images_.clear();
  statedLengths_.clear();
  endedExchange_ = false;
}

namespace {

bool WriteFile(const std::filesystem::path& path, const std::uint8_t* bytes, std::size_t n) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(n));
  return static_cast<bool>(out);
}

std::string SummaryText(const ReceivedImages& images, const Summary& summary) {
  std::string text;
  char line[96];
  const auto add = [&](const char* format, auto... values) {
    std::snprintf(line, sizeof line, format, values...);
    text += line;
  };
  add("frames %d\n", summary.frames);
  add("rejected %d\n", summary.rejectedFrames);
  add("retries %d\n", summary.retries);
  add("restarts %d\n", summary.restarts);
  add("exchanges %d\n", summary.exchangesEnded);
  for (const auto& [code, count] : summary.commandsSeen) add("command 0x%02X %d\n", code, count);
  for (const auto& [name, bytes] : images.Images()) add("image %s.bin %zu\n", name.c_str(), bytes.size());
  return text;
}

}  // namespace

bool WriteReceivedImages(const std::string& dir, const ReceivedImages& images,
                         const Summary& summary) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  if (error) return false;
  const std::filesystem::path folder(dir);
  bool written = true;
  for (const auto& [name, bytes] : images.Images()) {
    written = WriteFile(folder / (name + ".bin"), bytes.data(), bytes.size()) && written;
  }
  const std::string text = SummaryText(images, summary);
  written = WriteFile(folder / "summary.txt", reinterpret_cast<const std::uint8_t*>(text.data()),
                      text.size()) &&
            written;
  return written;
}

}  // namespace sim
