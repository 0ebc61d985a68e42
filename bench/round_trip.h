// The cost of the USB stack itself: a write-and-read round trip (the connect
// command and its reply) through the device link. Back to back, every thread
// on the way is awake; at the engine's pace, with a pause between the write
// and the read, each call finds them asleep, as every frame of a batch does.
#pragma once

#include <cstdint>

namespace bench {

// The engine's most common pause between a frame and the read of its reply.
inline constexpr std::uint64_t kEnginePaceMicros = 4000;

// Opens the device, times `count` round trips and closes it again. With
// pauseMicros, each write is followed by that pause before its read; only the
// write and the read are timed. Returns the mean in microseconds, or a
// negative value when the device cannot be opened or a reply is missing.
double MeasureRoundTripMicros(int count, std::uint64_t pauseMicros = 0);

}  // namespace bench
