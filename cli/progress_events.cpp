#include "cli/progress_events.h"

#include <algorithm>

#include "events/event_writer.h"

namespace {
constexpr auto kAtLeastEvery = std::chrono::seconds(1);
}

void ProgressEvents::Start(const std::string& item, const std::string& file, int blocks,
                           std::uint64_t bytes) {
  Finish();  // the next item starts only once the one before is through
  item_ = item;
  running_ = true;
  blocks_ = blocks;
  bytes_ = bytes;
  lastPercent_ = -1;
  EmitEvent("item-start", {{"item", item}, {"file", file}, {"bytes", bytes}});
  Emit(0, 0);
}

void ProgressEvents::Move(int block) {
  if (!running_ || blocks_ <= 0 || block <= 0) return;  // 0: the item ended or failed
  block = std::min(block, blocks_);
  const int percent = static_cast<int>(100LL * block / blocks_);
  if (percent == lastPercent_) return;
  if (percent / 10 == lastPercent_ / 10 && Clock::now() - lastEmitted_ < kAtLeastEvery) return;
  Emit(percent, bytes_ * static_cast<std::uint64_t>(block) / static_cast<std::uint64_t>(blocks_));
}

void ProgressEvents::Finish() {
  if (!running_) return;
  running_ = false;
  if (lastPercent_ != 100) Emit(100, bytes_);
  EmitEvent("item-done", {{"item", item_}, {"bytes", bytes_}});
}

void ProgressEvents::Emit(int percent, std::uint64_t bytesDone) {
  lastPercent_ = percent;
  lastEmitted_ = Clock::now();
  EmitEvent("progress", {{"item", item_},
                         {"percent", percent},
                         {"bytes_done", bytesDone},
                         {"bytes_total", bytes_}});
}
