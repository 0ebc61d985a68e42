// The nine rows as the press sees them: named on the command line (exactly
// those rows), or restored from setting.ini as the window restores them.
#pragma once

#include <array>
#include <string>

#include "run/cli_options.h"

struct CliRow {
  bool checked = false;
  std::string path;
};
using CliRows = std::array<CliRow, 9>;

// Rows named in options, or, when none is named, the enable flags of section
// "setup" and the paths of section "PATH" of g_iniPath.
CliRows RowsFor(const CliOptions& options);
