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
  // Where each device is plugged, as the kernel names the port ("1-1.3"): its
  // --plug port, or DefaultPortPath for the devices of --devices.
  std::vector<std::string> ports{"1-1.1"};
  // Per device: true for a board of --plug=PORT:cmd, which arrives when the
  // control channel says "plug PORT".
  std::vector<bool> arrivesOnCommand{false};
  std::string controlPath;           // --control=FIFO: where plug and unplug commands come from
  std::string reportPath;            // --report=FILE: one line per device at the end
  std::string outputDir;             // --out=DIR: where the device stores what it received
  bool summary = true;               // --quiet clears it: no counters on standard error at the end
  std::vector<std::string> command;  // the program and its arguments, after "--"
};

// Parses "[--devices N] [--plug=PORT:AT_MS[:LEAVE_MS]]... [faults]
// [--fault-on=K:FAULT] [--control=FIFO] [--report=FILE] [--out=DIR] [--quiet]
// -- program args..." (args without the runner's own name). False with the
// reason in error.
//
// The devices of --devices (1 when no --plug is given, else 0 unless given)
// come first, on the bus from the start; each --plug adds one more board,
// arriving at AT_MS (or, with "cmd" for AT_MS, on a plug command of
// --control, which it then needs) and, with LEAVE_MS, unplugged then. Timed
// boards on one port must not be there at the same time.
bool ParseRunOptions(const std::vector<std::string>& args, RunOptions& options, std::string& error);
std::string RunUsage();

// The port of device index (from 0) of --devices: sixteen to a hub, on root
// ports 1 and 3 ("1-1.1" .. "1-1.16", "1-3.1" ..), so the neighbour ports of the
// two-devices fault (1-2.K, 1-4.K) stay free.
std::string DefaultPortPath(std::size_t index);

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
