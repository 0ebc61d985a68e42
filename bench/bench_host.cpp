#include "bench/bench_host.h"

#include <algorithm>
#include <cstdlib>

#include "bench/counting_allocator.h"
#include "engine/state_machine.h"

namespace bench {

namespace {

constexpr std::uint32_t kFixedWaitMs = 100;  // shorter sleeps are the per-frame pacing

// The loops that send an image's blocks inside one tick.
bool IsBlockLoop(std::uint32_t id) {
  return id == kTimerBlockLoop || id == kTimerChunkLoop || id == kTimerTestDataLoop;
}

}  // namespace

BenchHost::BenchHost(sim::VirtualClock& clock, std::vector<std::string> rowPaths)
    : clock_(clock), rowPaths_(std::move(rowPaths)) {
  SetEngineHost(this);
}

BenchHost::~BenchHost() { SetEngineHost(nullptr); }

void BenchHost::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
  if (id >= kTimerIds) std::abort();  // not one of the engine's timers
  timers_[id] = Timer{true, periodMs, clock_.Now() + sim::Micros{periodMs} * 1000, order_++};
}

void BenchHost::KillTimer(std::uint32_t id) {
  if (id < kTimerIds) timers_[id].armed = false;
}

bool BenchHost::AnyArmed() const {
  for (const Timer& timer : timers_) {
    if (timer.armed) return true;
  }
  return false;
}

void BenchHost::Sleep(std::uint32_t ms) {
  const sim::Micros asked = sim::Micros{ms} * 1000;
  if (ms >= kFixedWaitMs) fixedWaitsSince_ += asked;
  const sim::Micros before = clock_.Now();
  if (clock_.IsReal()) {
    PauseAtLeast(static_cast<std::uint64_t>(asked), pauseMethod);
  } else {
    clock_.Advance(asked);
  }
  const sim::Micros took = clock_.Now() - before;
  ++pauses;
  if (took < asked) ++shortPauses;
  sleepOvershoot += took - asked;
}

void BenchHost::PumpMessages() {
  Responsive();
  while (FireNextDueBy(clock_.Now())) {
  }
  Responsive();
}

// What the host keeps for itself is not the engine's allocation.
void BenchHost::SetBarRange(std::uint16_t, std::uint16_t high) {
  const AllocationPause pause;
  items.push_back({clock_.Now(), high, frameCount != nullptr ? frameCount() : 0});
}

void BenchHost::AppendLogLine(const std::string& line) {
  const AllocationPause pause;
  logLines.push_back({clock_.Now(), line});
}

void BenchHost::ShowMessage(const std::string& text, const std::string&, MessageIcon) {
  const AllocationPause pause;
  boxes.push_back(text);
}

void BenchHost::Responsive() {
  const sim::Micros now = clock_.Now();
  const EventGap gap{now - lastResponsive_, fixedWaitsSince_, handling_};
  if (gap.length > longestGap.length) longestGap = gap;
  if (gap.length - gap.fixedWaits > longestNetGap.length - longestNetGap.fixedWaits) longestNetGap = gap;
  lastResponsive_ = now;
  fixedWaitsSince_ = 0;
}

bool BenchHost::FireNextDueBy(sim::Micros until) {
  std::uint32_t next = 0;
  for (std::uint32_t id = 1; id < kTimerIds; ++id) {
    const Timer& timer = timers_[id];
    if (!timer.armed) continue;
    if (next == 0 || timer.due < timers_[next].due ||
        (timer.due == timers_[next].due && timer.order < timers_[next].order)) {
      next = id;
    }
  }
  if (next == 0 || timers_[next].due > until) return false;
  Fire(next);
  return true;
}

void BenchHost::Fire(std::uint32_t id) {
  // A window timer posts one tick at a time; the next is due a period after this one.
  timers_[id].due = clock_.Now() + sim::Micros{timers_[id].periodMs} * 1000;
  const bool outermost = handling_ == 0;
  if (outermost) handling_ = id;
  const bool counting = outermost && IsBlockLoop(id);
  if (counting) CountAllocations(true);
  OnTimer(id);
  if (counting) CountAllocations(false);
  if (outermost) {
    Responsive();
    handling_ = 0;
  }
}

void BenchHost::RunUntilIdle() {
  lastResponsive_ = clock_.Now();
  while (AnyArmed()) {
    sim::Micros due = 0;
    bool first = true;
    for (const Timer& timer : timers_) {
      if (timer.armed && (first || timer.due < due)) {
        due = timer.due;
        first = false;
      }
    }
    const sim::Micros waitFrom = clock_.Now();
    clock_.AdvanceTo(due);  // idle: the loop waits, handling whatever comes
    const sim::Micros now = clock_.Now();
    // A tick already due when the wait began is no lateness of the wait.
    timerLateness += now - std::max(due, waitFrom);
    lastResponsive_ = now;
    fixedWaitsSince_ = 0;
    FireNextDueBy(now);
  }
}

}  // namespace bench
