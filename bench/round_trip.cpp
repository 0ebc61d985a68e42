#include "bench/round_trip.h"

#include <chrono>

#include "engine/precise_pause.h"
#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/reply_frames.h"
#include "link/usb_link.h"

namespace bench {

double MeasureRoundTripMicros(int count, std::uint64_t pauseMicros) {
  using Clock = std::chrono::steady_clock;
  if (count <= 0 || !FindDevice() || !OpenDevice()) return -1;
  bool answered = true;
  Clock::duration inCalls{};
  for (int i = 0; i < count && answered; ++i) {
    Clock::time_point start = Clock::now();
    SendConnect();
    inCalls += Clock::now() - start;
    if (pauseMicros > 0) PauseAtLeast(pauseMicros);
    start = Clock::now();
    ReadReply();
    inCalls += Clock::now() - start;
    answered = CheckReply();
  }
  CloseDevice();
  if (!answered) return -1;
  return std::chrono::duration<double, std::micro>(inCalls).count() / count;
}

}  // namespace bench
