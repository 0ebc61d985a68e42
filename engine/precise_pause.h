// The pause that paces the device. It never comes back before the time asked
// (the device needs all of it) and comes back as soon after as the machine
// allows: a kernel that wakes each of a batch's ~35,000 pauses 100 µs late adds
// some 3 % to it. Both hosts pause through here; nothing here includes Qt.
#pragma once

#include <cstdint>

enum class PauseMethod : std::uint8_t {
  // One sleep of the whole length at the thread's own timer slack (50 µs by
  // default, by which the kernel may wake it late on purpose).
  kPlain,
  // The same sleep with the thread's timer slack lowered to 1 ns while it lasts.
  kLowSlack,
  // Low slack, a sleep to a little before the deadline, and the rest waited
  // out on the monotonic clock: late by the clock's read, not the scheduler's.
  kLowSlackFinishOnClock,
};

// What the hosts use. The benchmark measures the others against it.
inline constexpr PauseMethod kHostPauseMethod = PauseMethod::kLowSlackFinishOnClock;

// Pauses the calling thread for at least `micros` on the monotonic clock.
void PauseAtLeast(std::uint64_t micros, PauseMethod method = kHostPauseMethod);

// The same pause, cut short as soon as `fd` is readable (a host that waits
// for stop signals on a signalfd): true when it was cut short, false once the
// whole time has passed. The last stretch waited out on the clock does not
// look at `fd`; what comes then is readable when the pause returns.
bool PauseUnlessReadable(std::uint64_t micros, int fd, PauseMethod method = kHostPauseMethod);
