#include "supervisor/station_ledger.h"

#include <sys/stat.h>

#include <cstdio>

#include "ledger/ledger.h"

void LookOverLedgerBeforeChildren(const LedgerOptions& options) {
  const std::string path = LedgerPathFor(options);
  struct stat facts {};
  if (path.empty() || stat(path.c_str(), &facts) != 0) return;
  std::string error;
  const auto ledger = Ledger::OpenExisting(path, error);
  if (!ledger) {
    std::fprintf(stderr, "tamsolt-cli: ledger: %s\n", error.c_str());
    return;
  }
  if (!ledger->Notice().empty()) std::fprintf(stderr, "tamsolt-cli: ledger: %s\n", ledger->Notice().c_str());
  if (const int closed = ledger->ClosedCutOffBoards(); closed > 0) {
    std::fprintf(stderr, "tamsolt-cli: ledger: closed %d board row(s) whose writer had ended without closing them\n",
                 closed);
  }
}
