// tamsolt-cli --publish, --activate and --recipes: the recipes of the line
// database ([ledger] url / --ledger-url) published, activated and listed; no
// device is touched.
#pragma once

#include "run/cli_options.h"

// The exit code: 0 done; 3 a row's file refused as a run would refuse it; 2
// no url, the line database unreachable or refusing (a role that may not
// publish), no such version, or no row to publish.
int RunRecipeCommand(const CliOptions& options);
