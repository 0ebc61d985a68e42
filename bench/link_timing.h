// Where a program's time goes under umockdev: the link's USB calls and the
// engine's pauses, timed by wrapping them at link time. A program linked with
// the options of tamsolt_bench_link_timing (bench/CMakeLists.txt) has its
// calls land in link_timing.cpp first. Counting costs two clock reads per call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

struct CallTime {
  std::uint64_t calls = 0;
  std::uint64_t micros = 0;  // inside the calls
};

struct LinkTiming {
  CallTime writes;        // usb_bulk_write: one command frame each
  CallTime reads;         // usb_interrupt_read that brought a report
  CallTime emptyReads;    // usb_interrupt_read that timed out or failed
  CallTime pauses;        // the pauses after the first frame, as taken (in tamsolt-cli
                          // also the waits for its timers' ticks)
  std::uint64_t pausesAskedMicros = 0;
  std::uint64_t firstFrameMicros = 0;  // from the program's start to its first frame
  std::uint64_t exitMicros = 0;        // from the program's start to its end
};

// Microseconds since this program started (its static objects were set up).
std::uint64_t MicrosSinceStart();

// The device's fixed waits (pauses of at least 100 ms) since the last call:
// the window's heartbeat takes them out of its gaps.
std::uint64_t TakeFixedWaitMicros();

// "link-timing KEY VALUE" lines, for tamsolt-bench to read back.
void PrintLinkTiming(std::FILE* out, const LinkTiming& timing);
// Reads those lines back; false when none was there.
bool ParseLinkTiming(const std::vector<std::string>& lines, LinkTiming& timing);

}  // namespace bench
