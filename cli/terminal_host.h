// The engine's host on a terminal: timers on a TimerLoop, log lines on
// standard output (and appended to a log file), the progress bar and every
// message box on standard error. Boxes are answered at once. What the engine
// shows is also handed to a RunOutcome, which tells how the run ended. A stop
// signal met while the engine waits ends the run there: the link is closed as
// on any failure, a line says where the transfer stood, and the program exits
// with "interrupted". Once the device has answered the end exchange, or the
// failure has been reported, a stop only cuts the wait that follows. With --json, log lines, boxes and progress are events
// on standard output instead.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "cli/cli_rows.h"
#include "cli/log_file.h"
#include "cli/progress_bar.h"
#include "cli/progress_events.h"
#include "cli/run_outcome.h"
#include "cli/timer_loop.h"
#include "engine/engine_host.h"

class TerminalHost : public EngineHost {
 public:
  // logFile: appended to (empty: none); device: named in its lines (empty: none).
  TerminalHost(CliRows rows, const std::string& logFile, std::string device);
  TerminalHost(const TerminalHost&) = delete;
  TerminalHost& operator=(const TerminalHost&) = delete;

  // False when the log file cannot be opened for appending.
  bool LogFileOpen() const { return logFile_.Open(); }

  // Told the item and its percentage as the percentage changes (the line page's slot).
  void ListenToProgress(std::function<void(const std::string& item, int percent)> heard) {
    progressHeard_ = std::move(heard);
  }

  // Told the exit code and where the run was cut just before an interrupted run exits.
  void ListenToInterruptedExit(std::function<void(int code, const std::string& where)> heard) {
    interruptedExitHeard_ = std::move(heard);
  }

  // Presses the batch button and runs the transfer to its end.
  ExitCode RunBatch();
  // Ends the program after a stop signal (see above).
  [[noreturn]] void Interrupt(int signal);

  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void Sleep(std::uint32_t ms) override;
  void PumpMessages() override;
  void SetBarRange(std::uint16_t low, std::uint16_t high) override;
  void SetBarPos(int pos) override;
  void AppendLogLine(const std::string& line) override;
  int LogLineCount() override { return logLines_; }
  void SelectLogLine(int) override {}
  void ClearLog() override { logLines_ = 0; }
  void SetStatusText(const std::string& text) override;
  bool IsRowChecked(std::uint8_t kind) override { return kind < rows_.size() && rows_[kind].checked; }
  std::string RowPath(std::uint8_t kind) override {
    return kind < rows_.size() ? rows_[kind].path : std::string();
  }
  void TransferEndAnswered() override;

 protected:
  // Called by Interrupt just before the program exits with code: the last
  // chance to finish what outlives the run (the ledger's board row). where:
  // the log line's words ("Interrupted by SIGINT at RCDB block 12 of 20").
  virtual void BeforeInterruptedExit(int /*code*/, const std::string& /*where*/) {}

 private:
  CliRows rows_;
  LogFile logFile_;
  int logLines_ = 0;
  int barLow_ = 0;
  ProgressBar bar_;
  ProgressEvents events_;  // with --json, instead of the bar
  std::function<void(const std::string&, int)> progressHeard_;
  std::function<void(int, const std::string&)> interruptedExitHeard_;
  std::string barItem_;
  int barBlocks_ = 0;
  int heardPercent_ = -1;
  bool json_;
  RunOutcome outcome_;
  bool endAnswered_ = false;  // the device holds every image
  TimerLoop timers_;
};
