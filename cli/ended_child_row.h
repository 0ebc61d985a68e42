// A station's child that a signal ended (the station's own kill after a stop,
// or anything else) never closed its board's row in the ledger: the station
// closes it for the child, so no row stays "running" for a board that is over.
#pragma once

#include <string>

#include "cli/ledger_options.h"

// The reason of a writer the station killed because it had not ended after
// the stop (its bound passed, or a further stop signal came): interrupted.
inline constexpr char kKilledAfterStopText[] =
    "interrupted: the station ended its writer, which had not stopped when told";

// Closes the running row recorded under uuid in the ledger of options with
// code, its word and message; a row the child closed itself, or none, stays
// as it is. A ledger that cannot be written is said on standard error.
void CloseEndedChildRow(const LedgerOptions& options, const std::string& uuid, int code,
                        const std::string& message, double seconds);
