#include "bench/inprocess_run.h"

#include <sys/resource.h>

#include <chrono>

#include "settings/messages.h"
#include "bench/round_trip.h"
#include "engine/batch.h"
#include "sim/device_model.h"
#include "sim/inprocess_usb.h"

namespace bench {

namespace {

constexpr int kRoundTrips = 2000;

struct BatchRun {
  std::string failure;
  std::vector<sim::Micros> itemTimes;
  std::vector<std::uint16_t> itemBlocks;
  std::vector<int> itemFrames;
  sim::Micros total = 0;
  int frames = 0;
  EventGap longestGap;
  EventGap longestNetGap;
  sim::Micros sleepOvershoot = 0;
  sim::Micros timerLateness = 0;
  std::uint64_t pauses = 0;
  std::uint64_t shortPauses = 0;
};

// Between an item's first block (whose pass logs the start line) and its
// last (whose pass logs the completion and starts the next item).
bool MidBlocks() { return g_transfer.blockIndex >= 2 && g_transfer.blockIndex < g_transfer.blockCount; }

// Every field back to zero, as at program start.
void ResetTransfer() {
  static const TransferContext kBlank{};
  g_transfer = kBlank;
}

std::vector<std::string> RowPaths(const ReferenceBatch& batch) {
  return std::vector<std::string>(batch.paths.begin(), batch.paths.end());
}

std::string Failure(const BenchHost& host, const sim::DeviceModel& model, std::size_t items) {
  const sim::Summary& summary = model.GetSummary();
  if (!host.status.empty()) return "the batch failed: " + host.status;
  if (host.boxes.size() != 1 || host.boxes.front() != MessageText(kMsgDone)) {
    return "the batch did not end with the completion message alone";
  }
  if (host.items.size() != items) return "not every item started";
  if (summary.exchangesEnded != 1 || summary.rejectedFrames != 0 || summary.retries != 0) {
    return "the device saw rejected or repeated frames: " + model.LastRejection();
  }
  return {};
}

// Presses the batch button with every row set and runs to the end on clock.
BatchRun RunBatch(const ReferenceBatch& batch, sim::VirtualClock& clock, PauseMethod method = kHostPauseMethod) {
  ResetTransfer();
  sim::DeviceModel model(sim::Faults{}, "");
  sim::InstallInProcessDevice(&model, &clock);
  BenchHost host(clock, RowPaths(batch));
  host.frameCount = [] { return sim::RecordedCalls().bulkWrite; };
  host.pauseMethod = method;
  BatchRun run;
  const sim::Micros start = clock.Now();
  OnBatchDownload();
  host.RunUntilIdle();
  const sim::Micros end = clock.Now();
  run.failure = Failure(host, model, batch.paths.size());
  run.total = end - start;
  run.frames = model.GetSummary().frames;
  run.longestGap = host.longestGap;
  run.longestNetGap = host.longestNetGap;
  run.sleepOvershoot = host.sleepOvershoot;
  run.timerLateness = host.timerLateness;
  run.pauses = host.pauses;
  run.shortPauses = host.shortPauses;
  // Items end at their completion lines, as in the runs under umockdev.
  std::vector<std::string> completions;
  std::vector<TimedLine> lines;
  for (std::uint8_t kind = 0; kind < host.items.size(); ++kind) completions.push_back(MessageText(MsgItemFinished(kind)));
  for (const TimedLine& line : host.logLines) lines.push_back({line.at - start, line.text});
  run.itemTimes = SplitAtCompletionLines(completions, lines, end - start);
  if (run.failure.empty() && run.itemTimes.size() != host.items.size()) run.failure = "an item's completion line is missing";
  for (std::size_t i = 0; i < host.items.size(); ++i) {
    run.itemBlocks.push_back(host.items[i].blocks);
    const int framesTo = i + 1 < host.items.size() ? host.items[i + 1].framesBefore : run.frames;
    run.itemFrames.push_back(framesTo - (i == 0 ? 0 : host.items[i].framesBefore));
  }
  sim::InstallInProcessDevice(nullptr, nullptr);
  return run;
}

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

InProcessFigures FromFloor(const BatchRun& floor) {
  InProcessFigures figures;
  figures.failure = floor.failure;
  figures.floor = floor.total;
  figures.designedNetGap = floor.longestNetGap;
  figures.frames = floor.frames;
  for (std::size_t i = 0; i < floor.itemTimes.size(); ++i) {
    ItemTimes item;
    item.kind = static_cast<std::uint8_t>(i);
    item.blocks = floor.itemBlocks[i];
    item.frames = floor.itemFrames[i];
    item.floor = floor.itemTimes[i];
    item.finishedText = MessageText(MsgItemFinished(item.kind));
    figures.items.push_back(item);
  }
  return figures;
}

}  // namespace

InProcessFigures FloorOnly(const ReferenceBatch& batch) {
  sim::VirtualClock clock;
  return FromFloor(RunBatch(batch, clock));
}

InProcessFigures RunInProcess(const ReferenceBatch& batch, PauseMethod method) {
  InProcessFigures figures = FloorOnly(batch);
  if (!figures.failure.empty()) return figures;

  sim::VirtualClock real = sim::VirtualClock::FollowingRealTime();
  ResetAllocationCount();
  SetBlockProbe(&MidBlocks);
  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  const BatchRun run = RunBatch(batch, real, method);
  rusage after{};
  getrusage(RUSAGE_SELF, &after);
  figures.failure = run.failure;
  figures.wall = run.total;
  figures.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);
  figures.peakRssKb = after.ru_maxrss;
  for (std::size_t i = 0; i < figures.items.size() && i < run.itemTimes.size(); ++i) {
    figures.items[i].wall = run.itemTimes[i];
  }
  figures.longestGap = run.longestGap;
  figures.longestNetGap = run.longestNetGap;
  figures.sleepOvershoot = run.sleepOvershoot;
  figures.timerLateness = run.timerLateness;
  figures.pauses = run.pauses;
  figures.shortPauses = run.shortPauses;
  figures.loopAllocations = CountedAllocations();
  figures.midBlockAllocations = CountedMidBlockAllocations();
  figures.allocationSites = AllocationSites();

  ResetTransfer();
  sim::DeviceModel model(sim::Faults{}, "");
  sim::InstallInProcessDevice(&model, &real);
  const BenchHost messages(real, {});
  figures.roundTripMicros = MeasureRoundTripMicros(kRoundTrips);
  sim::InstallInProcessDevice(nullptr, nullptr);
  return figures;
}

}  // namespace bench
