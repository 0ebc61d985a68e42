// tamsolt-cli --report and --export: reading the ledger, never writing it.
#pragma once

#include "run/cli_options.h"

// Boards per outcome, slot and day with the mean and slowest time, as text,
// CSV or JSON on standard output. 0, or 2 when the ledger cannot be read.
int RunReportCommand(const CliOptions& options);
// Every board with its images as CSV (a line per image) or JSON lines (a
// board per line). 0, or 2 when the ledger cannot be read.
int RunExportCommand(const CliOptions& options);
