// The line database from tamsolt-cli: the backlog forwarded after a single
// run, by the parent of --all and --watch as each child ends, and on demand
// (--ledger-sync). Never changes a transfer's outcome or exit code.
#pragma once

#include <memory>

#include "ledger/backlog_forwarder.h"
#include "run/cli_options.h"

// After a single run's board is finished: forwards what waits, once, for at
// most kLineDbHoldTime or until a stop signal (taken); its error on standard
// error. Nothing without a url or a ledger.
void ForwardAfterRun(const LedgerOptions& options);

// The parent's forwarder for --all and --watch (Request() when a child
// ends; destroying it waits for the forward under way at most
// kLineDbHoldTime, less when a stop signal is pending); null without a url
// or a ledger. An error is told on standard error once, not per board.
std::unique_ptr<BacklogForwarder> StationForwarder(const LedgerOptions& options);

// --ledger-sync: forwards the backlog, prints how many went and how many are
// left (with --json the event ledger-sync instead). 0 when the forward went
// through, 2 when the ledger or the line database could not be reached or
// refused something (its message on standard error) or no url is set, 10
// when a stop signal ended it (at once; the rest stays queued).
int RunLedgerSync(const CliOptions& options);
