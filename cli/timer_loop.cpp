#include "cli/timer_loop.h"

#include <thread>
#include <vector>

void TimerLoop::Set(std::uint32_t id, std::uint32_t periodMs) {
  Timer& timer = timers_[id];
  timer.period = std::chrono::milliseconds(periodMs);
  timer.due = Clock::now() + timer.period;
}

void TimerLoop::Kill(std::uint32_t id) {
  if (const auto found = timers_.find(id); found != timers_.end() && !found->second.firing) {
    timers_.erase(found);
  } else if (found != timers_.end()) {
    found->second.due = Clock::time_point::max();  // erased once its handler returns
  }
}

void TimerLoop::Fire(std::uint32_t id) {
  auto found = timers_.find(id);
  if (found == timers_.end() || found->second.firing) return;
  found->second.firing = true;
  found->second.due = Clock::now() + found->second.period;
  handler_(id);
  found = timers_.find(id);  // the handler may have killed or re-armed it
  if (found == timers_.end()) return;
  found->second.firing = false;
  if (found->second.due == Clock::time_point::max()) timers_.erase(found);
}

void TimerLoop::FireDue() {
  const Clock::time_point now = Clock::now();
  std::vector<std::uint32_t> due;
  for (const auto& [id, timer] : timers_) {
    if (!timer.firing && timer.due <= now) due.push_back(id);
  }
  for (const std::uint32_t id : due) Fire(id);
}

bool TimerLoop::WaitAndFireNext() {
  const Timer* next = nullptr;
  std::uint32_t nextId = 0;
  for (const auto& [id, timer] : timers_) {
    if (!timer.firing && timer.due != Clock::time_point::max() &&
        (next == nullptr || timer.due < next->due)) {
      next = &timer;
      nextId = id;
    }
  }
  if (next == nullptr) return false;
  const Clock::time_point due = next->due;
  if (sleeper_) {
    sleeper_(due);
  } else {
    std::this_thread::sleep_until(due);
  }
  if (Clock::now() >= due) Fire(nextId);
  return true;
}
