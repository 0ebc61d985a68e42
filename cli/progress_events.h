// --json: the items of a batch as events. item-start names the item, its file
// and bytes; progress comes at every tenth and at least every second while it
// moves; item-done when the next item starts or the batch is done.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class ProgressEvents {
 public:
  using Clock = std::chrono::steady_clock;

  void Start(const std::string& item, const std::string& file, int blocks, std::uint64_t bytes);
  void Move(int block);
  // The item running, if any, is done.
  void Finish();

 private:
  void Emit(int percent, std::uint64_t bytesDone);

  std::string item_;
  bool running_ = false;
  int blocks_ = 0;
  std::uint64_t bytes_ = 0;
  int lastPercent_ = -1;
  Clock::time_point lastEmitted_;
};
