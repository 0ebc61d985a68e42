// Window timers without a window: each armed timer calls its handler every
// period on this thread, as WM_TIMER does. A timer never fires inside its own
// handler (a pump from there skips it).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>

class TimerLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using Handler = std::function<void(std::uint32_t id)>;
  // Waits until the time point; may return early (the next timer is then
  // not fired until it is due).
  using Sleeper = std::function<void(Clock::time_point)>;

  explicit TimerLoop(Handler handler, Sleeper sleeper = nullptr)
      : handler_(std::move(handler)), sleeper_(std::move(sleeper)) {}

  // Arms id with period (restarting it when armed); Kill disarms it.
  void Set(std::uint32_t id, std::uint32_t periodMs);
  void Kill(std::uint32_t id);

  // Fires every timer that is due now, each at most once.
  void FireDue();
  // Sleeps until the next timer is due and fires it; false when none is armed.
  bool WaitAndFireNext();

 private:
  struct Timer {
    Clock::duration period;
    Clock::time_point due;
    bool firing = false;
  };

  void Fire(std::uint32_t id);

  Handler handler_;
  Sleeper sleeper_;
  std::map<std::uint32_t, Timer> timers_;
};
