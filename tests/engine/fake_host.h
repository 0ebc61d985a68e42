// The window as the engine sees it, on the virtual clock shared with the
// in-process device: timers fire in virtual time, Sleep advances the clock,
// and everything the engine shows is recorded with the moment it was shown.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/engine_host.h"
#include "sim/virtual_clock.h"

class FakeHost : public EngineHost {
 public:
  struct Box {
    std::string text;
    std::string title;
    MessageIcon icon;
    sim::Micros at;
    bool linkOpen;  // g_transfer.m_dev was set when the box came up
    bool busy;
  };
  struct SleepCall {
    std::uint32_t ms;
    sim::Micros at;
    bool linkOpen;
  };

  explicit FakeHost(sim::VirtualClock& clock);
  ~FakeHost() override;

  // EngineHost.
  void SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void Sleep(std::uint32_t ms) override;
  void PumpMessages() override;
  void SetBarRange(std::uint16_t low, std::uint16_t high) override;
  void SetBarPos(int pos) override;
  void AppendLogLine(const std::string& line) override;
  int LogLineCount() override { return static_cast<int>(logLines.size()); }
  void SelectLogLine(int index) override { selectedLine = index; }
  void ClearLog() override { logLines.clear(); }
  void SetStatusText(const std::string& text) override { status = text; }
  bool IsRowChecked(std::uint8_t kind) override { return checked[kind]; }
  std::string RowPath(std::uint8_t kind) override { return paths[kind]; }
  std::time_t Now() override;
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;

  // Fires armed timers in virtual time, earliest first, until none is armed
  // or the clock would pass `limit` (virtual microseconds from now).
  void RunUntilIdle(sim::Micros limit = 3'600'000'000);
  bool TimerArmed(std::uint32_t id) const { return timers_.count(id) != 0; }
  bool AnyTimerArmed() const { return !timers_.empty(); }

  void Row(std::uint8_t kind, const std::string& path, bool enabled = true) {
    paths[kind] = path;
    checked[kind] = enabled;
  }

  // Recordings.
  std::vector<std::uint32_t> armed;  // every SetTimer id, in order
  std::vector<sim::Micros> armedAt;  // ... and when
  std::vector<std::uint32_t> ticks;  // every OnTimer id, in order
  std::vector<sim::Micros> tickAt;   // ... and when
  std::vector<std::pair<std::uint16_t, std::uint16_t>> ranges;
  std::vector<int> positions;
  std::vector<std::string> logLines;
  int selectedLine = -2;
  std::string status;
  std::vector<Box> boxes;
  std::vector<SleepCall> sleeps;
  int pumps = 0;
  int maxNesting = 0;  // deepest OnTimer re-entry seen

  // Rows.
  std::array<bool, 9> checked{};
  std::array<std::string, 9> paths{};

  // Hooks: what the operator does while the engine pumps or shows a box.
  std::function<void()> onPump;
  std::function<void(const Box&)> onBox;
  std::function<void(std::uint32_t)> beforeTick;
  // How long an operator takes to dismiss a box; timers due meanwhile fire
  // inside it, as they do in a modal message loop.
  sim::Micros boxDwell = 0;

  // Wall-clock base of Now(): the virtual clock's zero.
  std::time_t wallBase = 0;

 private:
  struct Timer {
    std::uint32_t periodMs;
    sim::Micros due;
    std::uint64_t order;
  };
  void Fire(std::uint32_t id);
  void FireDueUntil(sim::Micros until);

  sim::VirtualClock& clock_;
  std::map<std::uint32_t, Timer> timers_;
  std::uint64_t order_ = 0;
  int nesting_ = 0;
};
