// --all: every attached VX742 written at once, one child process each (the
// transfer record is process-wide, so one engine per process). Each child's
// lines are passed on with its device in front; a table closes the run.
// Children run in their own process groups, so a terminal's Ctrl-C reaches
// only this parent, which passes it on to each group, and SIGKILL when
// they have not ended within a bound or a second signal comes. A child whose
// parent dies is sent SIGTERM by the kernel, so none outlives it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "run/cli_options.h"
#include "supervisor/station_listeners.h"

struct StationResult {
  DeviceAddress device;
  int exitCode = 0;  // the child's exit code, 128 + signal when a signal ended it
  double seconds = 0;
};

struct StationRun {
  std::vector<StationResult> results;
  std::vector<DeviceAddress> late;  // came after the children started: not written
  bool interrupted = false;         // a stop signal came
};

// Starts program with ChildArguments for every device, passes their output
// on prefixed with "[BUS:ADDR] " and waits for all of them, watching the bus
// for devices that come too late to be written.
// childEnded is called as each child is reaped; listeners hear each child's
// slot (its port, else its device) writing, then its outcome (the recipe
// stays the one the run took).
StationRun RunStation(const std::string& program, const CliOptions& options,
                      const std::vector<DeviceAddress>& devices,
                      const std::function<void()>& childEnded = {}, StationListeners listeners = {});

// device, result and time, one row per device; the late ones as not written.
std::string ResultTable(const StationRun& run);

// The exit code of a whole --all run: interrupted (10) first, then any device
// failed or came too late (1); a station whose every device was done but some
// record was lost (11); else done.
int StationExitCode(const StationRun& run);
