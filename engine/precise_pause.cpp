#include "engine/precise_pause.h"

#include <poll.h>
#include <sys/prctl.h>
#include <time.h>

#include <cerrno>
#include <cstdint>
#include <optional>

namespace {

constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// How long before the deadline the sleep ends when the rest is waited out on
// the clock: about what a kernel wake with 1 ns of slack is late on a quiet
// machine, so the wait on the clock costs little CPU (a few % of a 4 ms pause).
constexpr std::int64_t kFinishOnClockNanos = 60'000;

std::int64_t MonotonicNanos() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * kNanosPerSecond + now.tv_nsec;
}

// Sleeps until `deadline` on the monotonic clock, through interruptions.
void SleepUntil(std::int64_t deadline) {
  const timespec at{static_cast<time_t>(deadline / kNanosPerSecond), static_cast<long>(deadline % kNanosPerSecond)};
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
  }
}

// Lowers the calling thread's timer slack while it lives, then gives the old
// one back: only the pacing is made precise, not the idle window's timers.
class LowTimerSlack {
 public:
  LowTimerSlack() : old_(prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0)) {
    if (old_ > 1) prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
  }
  ~LowTimerSlack() {
    if (old_ > 1) prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(old_), 0, 0, 0);
  }
  LowTimerSlack(const LowTimerSlack&) = delete;
  LowTimerSlack& operator=(const LowTimerSlack&) = delete;

 private:
  int old_;  // PR_GET_TIMERSLACK's answer; -1 when it failed (nothing to restore)
};

timespec Relative(std::int64_t nanos) {
  return {static_cast<time_t>(nanos / kNanosPerSecond), static_cast<long>(nanos % kNanosPerSecond)};
}

}  // namespace

void PauseAtLeast(std::uint64_t micros, PauseMethod method) {
  const std::int64_t deadline = MonotonicNanos() + static_cast<std::int64_t>(micros) * 1000;
  if (method == PauseMethod::kPlain) {
    SleepUntil(deadline);
    return;
  }
  const LowTimerSlack slack;
  if (method == PauseMethod::kLowSlack) {
    SleepUntil(deadline);
    return;
  }
  SleepUntil(deadline - kFinishOnClockNanos);
  while (MonotonicNanos() < deadline) {
  }
}

bool PauseUnlessReadable(std::uint64_t micros, int fd, PauseMethod method) {
  const std::int64_t deadline = MonotonicNanos() + static_cast<std::int64_t>(micros) * 1000;
  std::optional<LowTimerSlack> slack;
  if (method != PauseMethod::kPlain) slack.emplace();
  const std::int64_t sleepEnd =
      method == PauseMethod::kLowSlackFinishOnClock ? deadline - kFinishOnClockNanos : deadline;
  for (std::int64_t left; (left = sleepEnd - MonotonicNanos()) > 0;) {
    pollfd watched{fd, POLLIN, 0};
    const timespec timeout = Relative(left);
    // A time-out or an interruption goes round again with what is left.
    if (ppoll(&watched, 1, &timeout, nullptr) > 0 && (watched.revents & POLLIN) != 0) return true;
  }
  while (MonotonicNanos() < deadline) {
  }
  return false;
}
