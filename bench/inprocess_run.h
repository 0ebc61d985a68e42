// The reference batch run twice against the in-process emulated device: on a
// virtual clock, which gives the pacing floor, and on the real clock, which
// gives the figures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_host.h"
#include "bench/counting_allocator.h"
#include "bench/reference_batch.h"

namespace bench {

struct ItemTimes {
  std::uint8_t kind = 0;
  std::uint16_t blocks = 0;
  int frames = 0;
  sim::Micros floor = 0;
  sim::Micros wall = 0;
  std::string finishedText;  // the item's completion line, without the time stamp
};

struct InProcessFigures {
  std::string failure;  // empty when both runs ended with the completion message
  std::vector<ItemTimes> items;
  sim::Micros floor = 0;
  sim::Micros wall = 0;
  double cpuSeconds = 0;
  long peakRssKb = 0;
  int frames = 0;
  double roundTripMicros = 0;
  EventGap longestGap;
  EventGap longestNetGap;
  EventGap designedNetGap;  // the longest gap less fixed waits on the virtual clock: the engine's own
  std::uint64_t loopAllocations = 0;
  std::uint64_t midBlockAllocations = 0;
  sim::Micros sleepOvershoot = 0;
  sim::Micros timerLateness = 0;
  std::uint64_t pauses = 0;
  std::uint64_t shortPauses = 0;  // pauses that came back before the time asked
  std::vector<AllocationSite> allocationSites;
};

// The real-clock run pauses with `method` (the hosts' own by default).
InProcessFigures RunInProcess(const ReferenceBatch& batch, PauseMethod method = kHostPauseMethod);

// Only the virtual-clock run: the floor of the batch, per item.
InProcessFigures FloorOnly(const ReferenceBatch& batch);

}  // namespace bench
