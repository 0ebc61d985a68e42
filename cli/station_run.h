// --all: every attached VX742 written at once, one child process each (the
// transfer record is process-wide, so one engine per process). Each child's
// lines are passed on with its device in front; a table closes the run.
#pragma once

#include <string>
#include <vector>

#include "cli/cli_options.h"

struct StationResult {
  DeviceAddress device;
  int exitCode = 0;  // the child's exit code, 128 + signal when a signal ended it
  double seconds = 0;
};

// Starts program with ChildArguments for every device, passes their output
// on prefixed with "[BUS:ADDR] " and waits for all of them.
std::vector<StationResult> RunStation(const std::string& program, const CliOptions& options,
                                      const std::vector<DeviceAddress>& devices);

// device, result and time, one row per device.
std::string ResultTable(const std::vector<StationResult>& results);
