#include "cli/line_forwarding.h"

#include <cstdio>
#include <string>

#include "cli/exit_codes.h"
#include "cli/ledger_options.h"
#include "linedb/forward_backlog.h"

namespace {

void TellError(const std::string& error) {
  // The library's messages name the database as host/db/user and mask a password.
  std::fprintf(stderr, "tamsolt-cli: %s (the boards stay queued in the ledger)\n", error.c_str());
  std::fflush(stderr);
}

}  // namespace

void ForwardAfterRun(const LedgerOptions& options) {
  const std::string url = LedgerUrlFor(options);
  const std::string ledger = LedgerPathFor(options);
  if (url.empty() || ledger.empty()) return;
  const ForwardResult result = ForwardBacklog(ledger, url);
  if (!result.error.empty()) TellError(result.error);
}

std::unique_ptr<BacklogForwarder> StationForwarder(const LedgerOptions& options) {
  const std::string url = LedgerUrlFor(options);
  const std::string ledger = LedgerPathFor(options);
  if (url.empty() || ledger.empty()) return nullptr;
  return std::make_unique<BacklogForwarder>(
      ledger, url, [](const ForwardResult& result, bool errorIsNew) {
        if (errorIsNew) TellError(result.error);
      });
}

int RunLedgerSync(const CliOptions& options) {
  const std::string url = LedgerUrlFor(options.ledger);
  if (url.empty()) {
    std::fprintf(stderr,
                 "tamsolt-cli: no line database: set [ledger] url in the settings file or "
                 "give --ledger-url\n");
    return AsInt(ExitCode::kBadCommandLine);
  }
  const ForwardResult result = ForwardBacklog(LedgerPathFor(options.ledger), url);
  if (result.left >= 0) {
    std::printf("forwarded %lld board(s) to the line database; %lld left\n",
                static_cast<long long>(result.forwarded), static_cast<long long>(result.left));
  } else {
    std::printf("forwarded %lld board(s) to the line database\n",
                static_cast<long long>(result.forwarded));
  }
  std::fflush(stdout);
  if (!result.error.empty()) {
    TellError(result.error);
    return AsInt(ExitCode::kBadCommandLine);
  }
  return AsInt(ExitCode::kDone);
}
