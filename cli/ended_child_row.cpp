#include "cli/ended_child_row.h"

#include <cstdio>

#include "cli/exit_codes.h"
#include "ledger/ledger.h"

void CloseEndedChildRow(const LedgerOptions& options, const std::string& uuid, int code,
                        const std::string& message, double seconds) {
  const std::string path = LedgerPathFor(options);
  if (path.empty() || uuid.empty()) return;
  std::string error;
  // Never a new ledger: a child that opened no device has no row to close.
  const auto ledger = Ledger::OpenExisting(path, error);
  if (!ledger) return;
  BoardOutcome outcome;
  outcome.finishedUtc = UtcNow();
  outcome.seconds = seconds;
  outcome.code = code;
  outcome.word = ExitCodeMeaning(code);
  outcome.message = message;
  bool closed = false;
  if (!ledger->CloseRunningBoard(uuid, outcome, closed, error)) {
    std::fprintf(stderr, "tamsolt-cli: ledger: cannot close the row of a writer that was ended: %s\n",
                 error.c_str());
  }
}
