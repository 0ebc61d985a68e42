// The window's board records: the ledger opened at the first batch that
// opens a device (again at the next one if it could not be), a board per
// batch, its outcome read from what the engine shows, as tamsolt-cli's exit
// codes. Problems go to the report function (a log line), never in the way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ledger/board_recorder.h"

class WindowRecording {
 public:
  using Report = std::function<void(const std::string& line)>;
  explicit WindowRecording(Report report);

  // EngineHost's batch calls.
  void DeviceOpened();
  void ItemStarted(std::uint8_t kind, std::uint64_t bytes, const std::string& sha256);
  void ItemFinished(std::uint8_t kind);
  // The status line is written by the failure report, before its box.
  void StatusShown();
  // Before a box is shown: a box that ends the run finishes the board first,
  // so the time an operator takes to dismiss it is not counted.
  void BoxComing(const std::string& text, const std::string& title);

 private:
  void Finish(int code, const char* word);

  Report report_;
  std::unique_ptr<Ledger> ledger_;
  std::unique_ptr<BoardRecorder> recorder_;
  bool failureReported_ = false;
};
