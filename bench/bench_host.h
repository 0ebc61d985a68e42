// The window as the benchmark sees it: an engine host with its own small event
// loop on a sim::VirtualClock. On a clock that follows real time the timers
// and sleeps really wait, and the host measures what an operator would feel:
// each item's time, how long the loop went without handling events, and the
// heap allocations made inside the block loops. On a virtual clock the same
// run costs nothing and its elapsed time is exactly the pacing the engine
// imposes (its sleeps, poll pauses and timer periods): the floor.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "bench/item_split.h"
#include "engine/engine_host.h"
#include "engine/precise_pause.h"
#include "sim/virtual_clock.h"

namespace bench {

// Where the engine set the progress range for each item: its blocks and frames.
struct ItemMark {
  sim::Micros at = 0;
  std::uint16_t blocks = 0;
  int framesBefore = 0;  // frames written before the item started
};

// The longest stretch in which no event could have been handled.
struct EventGap {
  sim::Micros length = 0;
  sim::Micros fixedWaits = 0;  // of it, the device's own fixed waits (sleeps of 100 ms and more)
  std::uint32_t timer = 0;     // the timer whose handling it was in
};

class BenchHost : public EngineHost {
 public:
  BenchHost(sim::VirtualClock& clock, std::vector<std::string> rowPaths);
  ~BenchHost() override;

  // Handles timer ticks until no timer is armed.
  void RunUntilIdle();

  void SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void Sleep(std::uint32_t ms) override;
  void PumpMessages() override;
  void SetBarRange(std::uint16_t low, std::uint16_t high) override;
  void SetBarPos(int) override {}
  void AppendLogLine(const std::string& line) override;
  int LogLineCount() override { return static_cast<int>(logLines.size()); }
  void SelectLogLine(int) override {}
  void ClearLog() override { logLines.clear(); }
  void SetStatusText(const std::string& text) override { status = text; }
  bool IsRowChecked(std::uint8_t kind) override { return kind < rowPaths_.size() && !rowPaths_[kind].empty(); }
  std::string RowPath(std::uint8_t kind) override { return kind < rowPaths_.size() ? rowPaths_[kind] : ""; }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;

  // Frames written so far, when the caller can tell (for the item marks).
  int (*frameCount)() = nullptr;
  // How the engine's sleeps wait on a real clock (the hosts' method unless
  // the benchmark compares them).
  PauseMethod pauseMethod = kHostPauseMethod;

  std::vector<ItemMark> items;
  EventGap longestGap;         // by length
  EventGap longestNetGap;      // by length less the fixed waits in it
  // How much later than asked the sleeps and timer ticks came back (the
  // operating system's share of any excess over the floor).
  sim::Micros sleepOvershoot = 0;
  sim::Micros timerLateness = 0;
  // The engine's sleeps, and how many of them came back before the time asked
  // (the device would have been hurried: must stay 0).
  std::uint64_t pauses = 0;
  std::uint64_t shortPauses = 0;
  std::vector<TimedLine> logLines;  // at: on the clock, as it arrived
  std::vector<std::string> boxes;
  std::string status;

 private:
  struct Timer {
    bool armed = false;
    std::uint32_t periodMs = 0;
    sim::Micros due = 0;
    std::uint64_t order = 0;
  };
  static constexpr std::size_t kTimerIds = 16;  // the engine's ids are 1 to 12
  // Handles the earliest timer that is due by `until`; false when none is.
  bool FireNextDueBy(sim::Micros until);
  void Fire(std::uint32_t id);
  // The loop can handle events again (a pump, or a tick handled).
  void Responsive();

  sim::VirtualClock& clock_;
  std::vector<std::string> rowPaths_;
  bool AnyArmed() const;
  std::array<Timer, kTimerIds> timers_{};  // fixed: arming a timer allocates nothing
  std::uint64_t order_ = 0;
  std::uint32_t handling_ = 0;  // the outermost timer being handled, 0 when idle
  sim::Micros lastResponsive_ = 0;
  sim::Micros fixedWaitsSince_ = 0;
};

}  // namespace bench
