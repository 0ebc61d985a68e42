// The runs on Debian's libusb under umockdev: tamsolt-cli (and the round-trip
// probe tamsolt-bench-usb) started under tamsolt-sim-run, timed from outside.
#pragma once

#include <string>
#include <vector>

#include "bench/item_split.h"
#include "bench/link_timing.h"
#include "bench/reference_batch.h"
#include "sim/device_model.h"

namespace bench {

struct Programs {
  std::string simRun;    // tamsolt-sim-run
  std::string cli;       // tamsolt-cli
  std::string usbProbe;  // tamsolt-bench-usb
  std::string window;    // tamsolt-bench-window (built with the window)
  std::string timedCli;  // tamsolt-bench-cli: tamsolt-cli timing its USB calls and pauses
  // Each run needs its programs built beside this one.
  bool HaveRunner() const;  // tamsolt-sim-run and tamsolt-bench-usb
  bool HaveCli() const;
  bool HaveTimedCli() const;
  bool HaveWindow() const;
};
Programs FindPrograms();

// A program run under tamsolt-sim-run: the figures are the program's own
// (and its children's), not the runner's.
struct ChildRun {
  int exitCode = -1;
  sim::Micros wall = 0;
  double cpuSeconds = 0;      // the program's and its children's (tamsolt-bench-usb --usage)
  double allCpuSeconds = 0;   // the runner's too: the emulation, its threads and the programs
  long peakRssKb = 0;     // the largest of the program and its children
  int imageSets = 0;      // devices that stored a complete exchange (a summary)
  int verifiedSets = 0;   // of them, those holding all nine images byte for byte
  std::vector<std::string> unverified;  // the device check's verdict on each of the others
  std::vector<TimedLine> lines;  // tamsolt-cli's output, as it arrived
  bool timed = false;            // the program timed its USB calls and pauses:
  LinkTiming timing;             // this is what it found
};

// Mean microseconds of a bare round trip on libusb under umockdev; negative on failure.
double UmockdevRoundTripMicros(const Programs& programs, int count);

// tamsolt-cli with the batch's files under tamsolt-sim-run. devices 0: one
// device and a plain run, through tamsolt-bench-cli when it is built; devices
// N: N emulated devices and --all, through tamsolt-cli itself.
// messageTable: the setting.ini whose texts it logs (a copy is given to it).
ChildRun RunCli(const Programs& programs, const ReferenceBatch& batch, const std::string& messageTable,
                int devices);

struct WindowRun : ChildRun {  // wall: from the press to the completion message
  long longestGapMs = 0;         // the longest pause of the window's event loop
  long longestNetGapMs = 0;      // the same less the device's fixed waits in it
  int netGapsOver50Ms = 0;       // pauses over 50 ms less the fixed waits in them
  sim::Micros pressedAt = 0;     // on the program's clock (LinkTiming's)
};

// The main window, offscreen, with every row of the batch enabled, under
// tamsolt-sim-run. messageTable: the setting.ini whose texts it shows.
WindowRun RunWindow(const Programs& programs, const ReferenceBatch& batch, const std::string& messageTable);

}  // namespace bench
