// What the emulated device has received, per image, and how it stores it when
// an exchange ends: one file per image plus a short summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "sim/device_model.h"

namespace sim {

// Larger than any image the host can hold, so a runaway index is refused
// instead of filling memory.
inline constexpr std::size_t kLargestImage = 4 * 1024 * 1024;

class ReceivedImages {
 public:
  // Copies n bytes to offset of the image; false (nothing stored) past kLargestImage.
  bool Place(const std::string& name, std::size_t offset, const std::uint8_t* bytes,
             std::size_t n);
  // The frames state the image's length: bytes past it are cut off, now and later.
  void StateLength(const std::string& name, std::uint32_t length);
  // The exchange is over: what was received stays visible until data of the
  // next exchange arrives, which starts a fresh set of images.
  void EndExchange();
  // The device lost what it had not stored (a restart).
  void Forget();

  const std::map<std::string, std::vector<std::uint8_t>>& Images() const { return images_; }

 private:
  std::map<std::string, std::vector<std::uint8_t>> images_;
  std::map<std::string, std::uint32_t> statedLengths_;
  bool endedExchange_ = false;
};

// Writes <name>.bin for every image and summary.txt into dir (created when
// missing). False when a file cannot be written.
bool WriteReceivedImages(const std::string& dir, const ReceivedImages& images,
                         const Summary& summary);

}  // namespace sim
