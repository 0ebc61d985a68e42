#include "cli/line_forwarding.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "ledger/forward_backlog.h"
#include "ledger/ledger.h"
#include "run/ledger_options.h"
#include "run/stop_signals.h"

namespace {

void TellError(const std::string& error) {
  // The library's messages name the database as host/db/user and mask a password.
  std::fprintf(stderr, "tamsolt-cli: %s (the boards stay queued in the ledger)\n", error.c_str());
  std::fflush(stderr);
}

// Nothing was kept back: a fact for the station's log, told once by the caller.
void TellNotice(const std::string& notice) {
  if (notice.empty()) return;
  std::fprintf(stderr, "tamsolt-cli: %s\n", notice.c_str());
  std::fflush(stderr);
}

std::string StoppedText(int signal) {
  return std::string("the forward to the line database was stopped by ") + StopSignalName(signal) +
         "; the boards not sent stay queued in the ledger";
}

}  // namespace

void ForwardAfterRun(const LedgerOptions& options) {
  const std::string url = LedgerUrlFor(options);
  const std::string ledger = LedgerPathFor(options);
  if (url.empty() || ledger.empty()) return;
  // The board is finished: the line database may hold the program's end this long, or until a stop.
  const ForwardResult result =
      ForwardBacklog(ledger, url, {StopSignalFd(), std::chrono::steady_clock::now() + kLineDbHoldTime});
  TellNotice(result.notice);
  if (result.stopped) {
    std::fprintf(stderr, "tamsolt-cli: %s\n", StoppedText(TakeStopSignal()).c_str());
  } else if (!result.error.empty()) {
    TellError(result.error);
  }
}

std::unique_ptr<BacklogForwarder> StationForwarder(const LedgerOptions& options) {
  const std::string url = LedgerUrlFor(options);
  const std::string ledger = LedgerPathFor(options);
  if (url.empty() || ledger.empty()) return nullptr;
  return std::make_unique<BacklogForwarder>(
      ledger, url,
      [](const ForwardResult& result, bool errorIsNew) {
        if (errorIsNew) TellError(result.error);
        TellNotice(result.notice);  // given once by the forwarder
      },
      StopSignalFd());
}

int RunLedgerSync(const CliOptions& options) {
  const std::string url = LedgerUrlFor(options.ledger);
  if (url.empty()) {
    return EarlyError(AsInt(ExitCode::kBadCommandLine),
                      "no line database: set [ledger] url in the settings file or give --ledger-url");
  }
  const std::string path = LedgerPathFor(options.ledger);
  {
    // Every page is read first: a damaged ledger is kept aside as it is,
    // and what can still be read goes on from a new one.
    std::string ignored;  // no ledger, or none to open: the forward says why
    const auto ledger = Ledger::OpenExisting(path, ignored, LedgerCheck::kEveryPage);
    if (ledger) TellNotice(ledger->Notice());
  }
  // No time limit of its own (a long backlog may take a while), but a stop ends it at once.
  const ForwardResult result = ForwardBacklog(path, url, {StopSignalFd()});
  const int signal = result.stopped ? TakeStopSignal() : 0;
  TellNotice(result.notice);
  if (JsonEventsOn()) {
    Event data = {{"forwarded", result.forwarded}, {"left", nullptr}};
    if (result.left >= 0) data["left"] = result.left;
    if (signal != 0) data["signal"] = StopSignalName(signal);
    if (!result.error.empty() && signal == 0) data["error"] = result.error;
    EmitEvent("ledger-sync", std::move(data));
  } else if (result.left >= 0) {
    std::printf("forwarded %lld board(s) to the line database; %lld left\n",
                static_cast<long long>(result.forwarded), static_cast<long long>(result.left));
  } else {
    std::printf("forwarded %lld board(s) to the line database\n",
                static_cast<long long>(result.forwarded));
  }
  std::fflush(stdout);
  if (result.stopped) {
    EarlyError(AsInt(ExitCode::kInterrupted), StoppedText(signal));
    return AsInt(ExitCode::kInterrupted);
  }
  if (!result.error.empty()) {
    TellError(result.error);
    NoteFailureReason(result.error);
    return AsInt(ExitCode::kBadCommandLine);
  }
  return AsInt(ExitCode::kDone);
}
