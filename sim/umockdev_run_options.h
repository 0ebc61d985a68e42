// The command line of tamsolt-sim-run and the environment it gives the
// program it starts.
#pragma once

#include <string>
#include <vector>

#include "sim/device_model.h"

namespace sim {

struct RunOptions {
  // One entry per emulated device (--devices N, default 1): the faults given
  // without --fault-on, then those of --fault-on=K:FAULT for device K.
  std::vector<Faults> devices{Faults{}};
  std::string outputDir;             // --out=DIR: where the device stores what it received
  bool summary = true;               // --quiet clears it: no counters on standard error at the end
  std::vector<std::string> command;  // the program and its arguments, after "--"
};

// Parses "[--devices N] [faults] [--fault-on=K:FAULT] [--out=DIR] [--quiet] --
// program args..." (args without the runner's own name). False with the reason in error.
bool ParseRunOptions(const std::vector<std::string>& args, RunOptions& options, std::string& error);
std::string RunUsage();

// Where device number index (from 0) of count stores what it received: DIR
// itself for a single device, DIR/device-K (K from 1) on a station; empty
// when nothing is stored.
std::string DeviceOutputDir(const std::string& outputDir, std::size_t index, std::size_t count);

// The program's environment: environment as given, with the umockdev preload
// library ahead of any preload already set (it must see every open and ioctl
// first), UMOCKDEV_DIR naming the testbed, and ASan told not to insist on
// coming first in the library list.
std::vector<std::string> ProgramEnvironment(const std::vector<std::string>& environment,
                                            const std::string& testbedRoot);

// The runner's exit code for the program's wait status: its exit code, or
// 128 + the signal that ended it.
int ExitCodeOfWaitStatus(int waitStatus);

}  // namespace sim
