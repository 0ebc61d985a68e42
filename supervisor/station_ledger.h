// A station opens its ledger once before it starts any writer: a damaged
// ledger is set aside while no child has it open yet, and the rows of
// writers that died since the last session are closed.
#pragma once

#include "run/ledger_options.h"

// Says on standard error what it found; a ledger not there yet is left to the first child.
void LookOverLedgerBeforeChildren(const LedgerOptions& options);
