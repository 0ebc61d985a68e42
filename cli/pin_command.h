// tamsolt-cli --pin: the SHA-256 of this run's rows written into section
// [SHA256] of the settings file in use; no device is touched.
#pragma once

#include "run/cli_options.h"

// The exit code: 0 pinned, 3 a row without a readable file, 2 no row to pin
// or the settings file cannot be written.
int RunPinCommand(const CliOptions& options);
