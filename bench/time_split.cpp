#include "bench/time_split.h"

namespace bench {

TimeSplit SplitTime(const LinkTiming& timing, sim::Micros wall, sim::Micros beforeFirstFrame, sim::Micros floor) {
  const auto asked = static_cast<sim::Micros>(timing.pausesAskedMicros);
  const auto taken = static_cast<sim::Micros>(timing.pauses.micros);
  TimeSplit split;
  split.usbCalls = static_cast<sim::Micros>(timing.writes.micros + timing.reads.micros + timing.emptyReads.micros);
  split.excess = wall - floor - split.usbCalls;
  split.beforeFirstFrame = beforeFirstFrame;
  split.pausesLate = taken - asked;
  const sim::Micros rest = wall - beforeFirstFrame - taken - split.usbCalls;
  split.restBeyondTimers = rest - (floor - asked);
  return split;
}

}  // namespace bench
