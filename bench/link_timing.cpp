#include "bench/link_timing.h"

#include <usb.h>

#include <chrono>

#include "engine/precise_pause.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kFixedWaitMicros = 100'000;  // shorter pauses are the per-frame pacing

// Taken when the program's static objects are set up: its start, near enough.
const Clock::time_point g_start = Clock::now();
LinkTiming g_timing;
std::uint64_t g_fixedWaitMicros = 0;

std::uint64_t MicrosSince(Clock::time_point from) {
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - from).count());
}

// Times one call into `into`.
class Timed {
 public:
  explicit Timed(CallTime& into) : into_(into), start_(Clock::now()) {}
  ~Timed() {
    ++into_.calls;
    into_.micros += MicrosSince(start_);
  }
  Timed(const Timed&) = delete;
  Timed& operator=(const Timed&) = delete;

 private:
  CallTime& into_;
  Clock::time_point start_;
};

// Prints the figures as the program ends (tamsolt-cli returns from main).
struct PrintAtExit {
  ~PrintAtExit() {
    g_timing.exitMicros = MicrosSince(g_start);
    if (g_timing.writes.calls > 0) PrintLinkTiming(stderr, g_timing);
  }
} g_printAtExit;

}  // namespace

std::uint64_t MicrosSinceStart() { return MicrosSince(g_start); }

std::uint64_t TakeFixedWaitMicros() {
  const std::uint64_t waits = g_fixedWaitMicros;
  g_fixedWaitMicros = 0;
  return waits;
}

}  // namespace bench

extern "C" {

int __real_usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout);
int __real_usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout);
void __real__Z12PauseAtLeastm11PauseMethod(std::uint64_t micros, PauseMethod method);
bool __real__Z19PauseUnlessReadablemi11PauseMethod(std::uint64_t micros, int fd, PauseMethod method);

int __wrap_usb_bulk_write(usb_dev_handle* dev, int ep, const char* bytes, int size, int timeout) {
  using bench::g_timing;
  if (g_timing.writes.calls == 0) g_timing.firstFrameMicros = bench::MicrosSince(bench::g_start);
  const bench::Timed timed(g_timing.writes);
  return __real_usb_bulk_write(dev, ep, bytes, size, timeout);
}

int __wrap_usb_interrupt_read(usb_dev_handle* dev, int ep, char* bytes, int size, int timeout) {
  using bench::g_timing;
  const auto start = bench::Clock::now();
  const int got = __real_usb_interrupt_read(dev, ep, bytes, size, timeout);
  bench::CallTime& into = got > 0 ? g_timing.reads : g_timing.emptyReads;
  ++into.calls;
  into.micros += bench::MicrosSince(start);
  return got;
}

namespace bench {
namespace {

// A pause once the transfer has begun (waits for the device before it are
// part of the time before the first frame).
void NotePause(std::uint64_t micros, std::uint64_t tookMicros) {
  if (g_timing.writes.calls == 0) return;
  if (micros >= kFixedWaitMicros) g_fixedWaitMicros += micros;
  g_timing.pausesAskedMicros += micros;
  ++g_timing.pauses.calls;
  g_timing.pauses.micros += tookMicros;
}

}  // namespace
}  // namespace bench

// The engine's pause (PauseAtLeast), as the window takes it.
void __wrap__Z12PauseAtLeastm11PauseMethod(std::uint64_t micros, PauseMethod method) {
  const auto start = bench::Clock::now();
  __real__Z12PauseAtLeastm11PauseMethod(micros, method);
  bench::NotePause(micros, bench::MicrosSince(start));
}

// The same cut short by a stop signal (PauseUnlessReadable), as tamsolt-cli
// takes it for the engine's pauses and its timers' ticks.
bool __wrap__Z19PauseUnlessReadablemi11PauseMethod(std::uint64_t micros, int fd, PauseMethod method) {
  const auto start = bench::Clock::now();
  const bool cut = __real__Z19PauseUnlessReadablemi11PauseMethod(micros, fd, method);
  bench::NotePause(micros, bench::MicrosSince(start));
  return cut;
}

}  // extern "C"
