#include "cli/terminal_host.h"

#include <unistd.h>

#include <ctime>

#include "engine/batch.h"
#include "engine/precise_pause.h"
#include "record/transfer_context.h"

TerminalHost::TerminalHost(CliRows rows, const std::string& logFile, std::string device)
    : rows_(std::move(rows)),
      logPath_(logFile),
      device_(std::move(device)),
      bar_(stderr, isatty(STDERR_FILENO) != 0),
      timers_([](std::uint32_t id) { OnTimer(id); }) {
  if (!logPath_.empty()) logFile_ = std::fopen(logPath_.c_str(), "a");
}

TerminalHost::~TerminalHost() {
  if (logFile_ != nullptr) std::fclose(logFile_);
}

ExitCode TerminalHost::RunBatch() {
  outcome_.PressStarted();
  OnBatchDownload();
  outcome_.PressEnded();
  // The transfer runs on the timers until it clears busy.
  while (g_transfer.busy != 0 && timers_.WaitAndFireNext()) {
  }
  bar_.Clear();
  return outcome_.Result();
}

void TerminalHost::ShowMessage(const std::string& text, const std::string& title, MessageIcon) {
  bar_.Clear();
  std::string shown = text;
  while (!shown.empty() && shown.back() == '\n') shown.pop_back();
  std::fprintf(stderr, "[%s] %s\n", title.c_str(), shown.c_str());
  std::fflush(stderr);
  outcome_.MessageShown(text, title);
}

void TerminalHost::SetTimer(std::uint32_t id, std::uint32_t periodMs) { timers_.Set(id, periodMs); }

void TerminalHost::KillTimer(std::uint32_t id) { timers_.Kill(id); }

void TerminalHost::Sleep(std::uint32_t ms) { PauseAtLeast(std::uint64_t{ms} * 1000); }

void TerminalHost::PumpMessages() { timers_.FireDue(); }

void TerminalHost::SetBarRange(std::uint16_t low, std::uint16_t high) {
  // The range is set while the item is the front of the queue.
  const std::uint8_t kind =
      g_transfer.batchQueue.empty() ? g_transfer.itemKind : g_transfer.batchQueue.front().kind;
  barLow_ = low;
  bar_.Start(KindName(kind), high - low, g_transfer.fileLength);
}

void TerminalHost::SetBarPos(int pos) { bar_.Move(pos - barLow_); }

void TerminalHost::AppendLogLine(const std::string& line) {
  ++logLines_;
  bar_.Clear();
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  if (logFile_ == nullptr) return;
  const std::time_t now = Now();
  std::tm local{};
  char date[16] = "";
  if (localtime_r(&now, &local) != nullptr) std::strftime(date, sizeof date, "%Y-%m-%d ", &local);
  std::fprintf(logFile_, "%s%s%s\n", date, device_.empty() ? "" : (device_ + " ").c_str(),
               line.c_str());
  std::fflush(logFile_);
}

void TerminalHost::SetStatusText(const std::string&) { outcome_.FailureReported(); }
