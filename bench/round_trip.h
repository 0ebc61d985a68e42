// The cost of the USB stack itself: a bare write-and-read round trip (the
// connect command and its reply) through the device link, with no pacing.
#pragma once

namespace bench {

// Opens the device, times `count` round trips and closes it again. Returns
// the mean in microseconds, or a negative value when the device cannot be
// opened or a reply is missing.
double MeasureRoundTripMicros(int count);

}  // namespace bench
