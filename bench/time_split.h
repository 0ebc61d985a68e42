// Where a run's time over the floor and its stack cost went, from the
// program's own timing of its USB calls and pauses (bench/link_timing.h). The
// stack cost is the program's own time in its USB calls.
#pragma once

#include "bench/link_timing.h"
#include "sim/device_model.h"

namespace bench {

struct TimeSplit {  // microseconds
  sim::Micros usbCalls = 0;  // writes and reads, as they took: the stack cost
  sim::Micros excess = 0;    // wall − floor − usbCalls; the sum of the three below
  // Before the program's first frame: the runner, its testbed, the program's
  // start-up, its checks of the files and its search for the device.
  sim::Micros beforeFirstFrame = 0;
  sim::Micros pausesLate = 0;  // the pauses as taken, less as asked
  // The rest of the wall, less the timer periods the floor holds (floor less
  // the pauses asked): the engine, its output, timers ticking late.
  sim::Micros restBeyondTimers = 0;
};

// wall: the run's measured time, of which beforeFirstFrame came before the
// first frame. floor: the batch's floor.
TimeSplit SplitTime(const LinkTiming& timing, sim::Micros wall, sim::Micros beforeFirstFrame, sim::Micros floor);

}  // namespace bench
