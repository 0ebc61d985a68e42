// --json: the events that open a run and name its devices (docs/events.md).
#pragma once

#include <string>

#include "run/cli_options.h"

// run-start: program, version, settings file, mode and the rows as this run
// takes them (item, enabled, file), so a reader can show them before any item.
void EmitRunStart(const CliOptions& options);
// device-found: a device this run will write or list, with its slot (hub port).
void EmitDeviceFound(const DeviceAddress& device);
