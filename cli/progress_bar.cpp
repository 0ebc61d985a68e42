#include "cli/progress_bar.h"

#include <algorithm>

namespace {

constexpr int kBarWidth = 20;

std::string Bytes(const ProgressState& state) {
  return std::to_string(state.bytesDone) + "/" + std::to_string(state.bytesTotal) + " bytes";
}

std::string Percent(int percent) {
  char text[8];
  std::snprintf(text, sizeof text, "%3d%%", percent);
  return text;
}

}  // namespace

std::string BarLine(const ProgressState& state) {
  const int filled = state.percent * kBarWidth / 100;
  std::string line = state.item + " [" + std::string(static_cast<std::size_t>(filled), '#') +
                     std::string(static_cast<std::size_t>(kBarWidth - filled), ' ') + "] " +
                     Percent(state.percent) + "  " + Bytes(state);
  if (state.left.count() >= 0) {
    char left[32];
    std::snprintf(left, sizeof left, "  %lld:%02lld left",
                  static_cast<long long>(state.left.count() / 60),
                  static_cast<long long>(state.left.count() % 60));
    line += left;
  }
  return line;
}

std::string PlainLine(const ProgressState& state) {
  return state.item + " " + Percent(state.percent) + "  " + Bytes(state);
}

void ProgressBar::Start(const std::string& item, int blocks, std::uint64_t bytes) {
  Clear();
  state_ = ProgressState{item, 0, 0, bytes, std::chrono::seconds(-1)};
  blocks_ = blocks;
  lastShown_ = -1;
  started_ = Clock::now();
}

void ProgressBar::Move(int block) {
  if (blocks_ <= 0 || block <= 0) return;  // 0: the item ended or failed
  block = std::min(block, blocks_);
  state_.percent = static_cast<int>(100LL * block / blocks_);
  state_.bytesDone = state_.bytesTotal * static_cast<std::uint64_t>(block) /
                     static_cast<std::uint64_t>(blocks_);
  const int shown = terminal_ ? state_.percent : state_.percent / 10;
  if (shown == lastShown_ || (!terminal_ && shown == 0)) return;
  lastShown_ = shown;
  if (terminal_) {
    const auto elapsed = Clock::now() - started_;
    state_.left = std::chrono::duration_cast<std::chrono::seconds>(elapsed * (blocks_ - block) /
                                                                   block);
    std::fprintf(out_, "\r\033[K%s", BarLine(state_).c_str());
    drawn_ = true;
  } else {
    std::fprintf(out_, "%s\n", PlainLine(state_).c_str());
  }
  std::fflush(out_);
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  std::fputs("\r\033[K", out_);
  std::fflush(out_);
  drawn_ = false;
}
