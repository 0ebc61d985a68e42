#include "cli/terminal_host.h"

#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstdlib>

#include "engine/batch.h"
#include "engine/progress_log.h"
#include "events/event_writer.h"
#include "link/usb_link.h"
#include "record/transfer_context.h"
#include "run/stop_signals.h"

namespace {

// Where the transfer stood, for the line of an interrupted run.
std::string TransferPosition() {
  if (g_transfer.busy == 0) return "before the transfer started";
  // The test-data loop steps one past its last block to end itself.
  const std::uint16_t block = std::min(g_transfer.blockIndex, g_transfer.blockCount);
  return std::string("at ") + KindName(g_transfer.itemKind) + " block " + std::to_string(block) +
         " of " + std::to_string(g_transfer.blockCount);
}

}  // namespace

TerminalHost::TerminalHost(CliRows rows, const std::string& logFile, std::string device)
    : rows_(std::move(rows)),
      logFile_(logFile, std::move(device)),
      bar_(stderr, isatty(STDERR_FILENO) != 0),
      json_(JsonEventsOn()),
      timers_([](std::uint32_t id) { OnTimer(id); },
              [this](TimerLoop::Clock::time_point due) {
                if (const int signal = WaitForStopSignalUntil(due, kHostPauseMethod)) Interrupt(signal);
              }) {}

ExitCode TerminalHost::RunBatch() {
  outcome_.PressStarted();
  OnBatchDownload();
  outcome_.PressEnded();
  // The transfer runs on the timers until it clears busy.
  while (g_transfer.busy != 0 && timers_.WaitAndFireNext()) {
  }
  bar_.Clear();
  const ExitCode code = outcome_.Result();
  if (code == ExitCode::kDone) events_.Finish();
  return code == ExitCode::kDone && logFile_.LinesLost() ? ExitCode::kRecordLost : code;
}

void TerminalHost::Interrupt(int signal) {
  const std::string position = TransferPosition();
  CloseDevice();  // released and closed, as after any failure: no frame follows
  const std::string where = "Interrupted by " + std::string(StopSignalName(signal)) + " " + position;
  AppendLogLine(TimeText() + where + "; the device was released");
  NoteFailureReason(where);  // the outcome says where the board was cut
  bar_.Clear();
  BeforeInterruptedExit(AsInt(ExitCode::kInterrupted), where);
  if (interruptedExitHeard_) interruptedExitHeard_(AsInt(ExitCode::kInterrupted), where);
  EmitOutcome(AsInt(ExitCode::kInterrupted));
  std::exit(AsInt(ExitCode::kInterrupted));
}

void TerminalHost::ShowMessage(const std::string& text, const std::string& title, MessageIcon) {
  bar_.Clear();
  std::string shown = text;
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  NoteFailureReason(shown);
  outcome_.MessageShown(text, title);
  if (json_) {
    Event data = {{"title", title}, {"text", shown}};
    // The box that tells the run failed: a station shows the board failed now,
    // not when the writer has closed the link and ended.
    if (outcome_.FailureDecided() && !outcome_.InPress()) {
      data["failure"] = true;
      data["exit_code"] = AsInt(outcome_.Result());
    }
    EmitEvent("message", std::move(data));
  } else {
    std::fprintf(stderr, "[%s] %s\n", title.c_str(), shown.c_str());
    std::fflush(stderr);
  }
  logFile_.Append("[" + title + "] " + shown);
}

void TerminalHost::SetTimer(std::uint32_t id, std::uint32_t periodMs) { timers_.Set(id, periodMs); }

void TerminalHost::KillTimer(std::uint32_t id) { timers_.Kill(id); }

void TerminalHost::TransferEndAnswered() {
  endAnswered_ = true;
  // The board holds every image from here: a supervisor may know it before the box.
  if (json_) EmitEvent("end-answered", Event::object());
}

void TerminalHost::Sleep(std::uint32_t ms) {
  // The device's pacing: precise, as the window's, and cut short by a stop signal.
  const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  const int signal = WaitForStopSignalUntil(due, kHostPauseMethod);
  if (signal == 0) return;
  // The waits after the device's last answer (the close wait before the
  // completion box, the pause after a failure) decide nothing: a stop ends
  // the wait, and the board stays what the device made it.
  if (endAnswered_) {
    AppendLogLine(TimeText() + StopSignalName(signal) +
                  " came after the device had taken every image: the board is written");
    return;
  }
  if (outcome_.FailureDecided()) return;
  Interrupt(signal);
}

void TerminalHost::PumpMessages() {
  if (const int signal = TakeStopSignal()) Interrupt(signal);
  timers_.FireDue();
}

void TerminalHost::SetBarRange(std::uint16_t low, std::uint16_t high) {
  // The range is set while the item is the front of the queue.
  const std::uint8_t kind =
      g_transfer.batchQueue.empty() ? g_transfer.itemKind : g_transfer.batchQueue.front().kind;
  barLow_ = low;
  barItem_ = KindName(kind);
  barBlocks_ = high - low;
  heardPercent_ = -1;
  if (json_) {
    events_.Start(KindName(kind), RowPath(kind), high - low, g_transfer.fileLength);
  } else {
    bar_.Start(KindName(kind), high - low, g_transfer.fileLength);
  }
}

void TerminalHost::SetBarPos(int pos) {
  if (progressHeard_ && barBlocks_ > 0 && pos >= barLow_) {
    const int percent = static_cast<int>(100LL * std::min(pos - barLow_, barBlocks_) / barBlocks_);
    if (percent != heardPercent_) progressHeard_(barItem_, heardPercent_ = percent);
  }
  if (json_) {
    events_.Move(pos - barLow_);
  } else {
    bar_.Move(pos - barLow_);
  }
}

void TerminalHost::AppendLogLine(const std::string& line) {
  ++logLines_;
  if (json_) {
    EmitEvent("log", {{"text", line}});
  } else {
    bar_.Clear();
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }
  logFile_.Append(line);
}

void TerminalHost::SetStatusText(const std::string&) { outcome_.FailureReported(); }
