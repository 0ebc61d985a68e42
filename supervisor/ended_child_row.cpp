#include "supervisor/ended_child_row.h"

#include <sys/stat.h>

#include <cstdio>

#include "events/exit_codes.h"
#include "ledger/ledger.h"

EndedChildRows::~EndedChildRows() { TryKept(); }

void EndedChildRows::Close(const std::string& uuid, int code, const std::string& message,
                           double seconds) {
  if (LedgerPathFor(options_).empty() || uuid.empty()) return;
  // Written, its record lost: the board is done.
  if (code == AsInt(ExitCode::kRecordLost)) code = AsInt(ExitCode::kDone);
  kept_.push_back({uuid, code, code == AsInt(ExitCode::kDone) ? "" : message, seconds, UtcNow()});
  TryKept();
}

void EndedChildRows::TryKept() {
  if (kept_.empty()) return;
  const std::string path = LedgerPathFor(options_);
  struct stat facts {};
  if (stat(path.c_str(), &facts) != 0) {
    kept_.clear();  // never a new ledger: no ledger yet, no row to close
    return;
  }
  std::string error;
  const auto ledger = Ledger::OpenExisting(path, error);
  if (!ledger) return;  // kept for later: the open is tried again with the next
  std::vector<Row> still;
  for (Row& row : kept_) {
    BoardOutcome outcome;
    outcome.finishedUtc = row.finishedUtc;
    outcome.seconds = row.seconds;
    outcome.code = row.code;
    outcome.word = ExitCodeMeaning(row.code);
    outcome.message = row.message;
    bool closed = false;
    if (!ledger->CloseRunningBoard(row.uuid, outcome, closed, error)) {
      std::fprintf(stderr, "tamsolt-cli: ledger: cannot close the row of board %s yet: %s (kept, tried again)\n",
                   row.uuid.c_str(), error.c_str());
      still.push_back(std::move(row));
    }
  }
  kept_.swap(still);
}
