// The window's board records: the ledger opened at the first batch that
// opens a device (again at the next one if it could not be), a board per
// batch, its outcome read from what the engine shows, as tamsolt-cli's exit
// codes. Problems go to the report function (a log line), never in the way.
// Each finished board asks the line database's forwarder (on a thread of its
// own) to send the backlog when [ledger] url is set; its error goes, once per
// outage, to the forward report, which must take it to the window's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "ledger/board_recorder.h"
#include "ledger/backlog_forwarder.h"

class WindowRecording {
 public:
  using Report = std::function<void(const std::string& line)>;
  // report on the window's thread; forwardReport from the forwarder's thread.
  WindowRecording(Report report, Report forwardReport);

  // EngineHost's batch calls.
  void DeviceOpened();
  void ItemStarted(std::uint8_t kind, std::uint64_t bytes, const std::string& sha256);
  void ItemFinished(std::uint8_t kind);
  void EndAnswered();
  // The status line is written by the failure report, before its box.
  void StatusShown();
  // Before a box is shown: a box that ends the run finishes the board first,
  // so the time an operator takes to dismiss it is not counted.
  void BoxComing(const std::string& text, const std::string& title);

 private:
  void Finish(int code, const char* word);

  Report report_;
  Report forwardReport_;
  std::unique_ptr<Ledger> ledger_;
  std::unique_ptr<BoardRecorder> recorder_;
  bool failureReported_ = false;
  // Last: destroyed first, it waits for the forward under way.
  std::unique_ptr<BacklogForwarder> forwarder_;
};
