// The progress bar on standard error: on a terminal one line redrawn in place
// (item, percentage, bytes, time left); otherwise a plain line at every 10 %.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

struct ProgressState {
  std::string item;          // "RCDB"
  int percent = 0;           // 0..100
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
  std::chrono::seconds left{-1};  // negative: not known yet
};

// "RCDB [#####     ]  45%  1234/2742 bytes  0:03 left".
std::string BarLine(const ProgressState& state);
// "RCDB  40%  1097/2742 bytes".
std::string PlainLine(const ProgressState& state);

class ProgressBar {
 public:
  ProgressBar(std::FILE* out, bool terminal) : out_(out), terminal_(terminal) {}

  // A new item: its name, block count and size in bytes.
  void Start(const std::string& item, int blocks, std::uint64_t bytes);
  void Move(int block);
  // Takes the redrawn line off the terminal before other output.
  void Clear();

 private:
  using Clock = std::chrono::steady_clock;

  ProgressState state_;
  int blocks_ = 0;
  int lastShown_ = -1;  // percent on a terminal, tenth otherwise
  bool drawn_ = false;
  Clock::time_point started_;
  std::FILE* out_;
  bool terminal_;
};
