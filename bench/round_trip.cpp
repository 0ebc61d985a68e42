#include "bench/round_trip.h"

#include <chrono>

#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/reply_frames.h"
#include "link/usb_link.h"

namespace bench {

double MeasureRoundTripMicros(int count) {
  if (count <= 0 || !FindDevice() || !OpenDevice()) return -1;
  bool answered = true;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count && answered; ++i) {
    SendConnect();
    ReadReply();
    answered = CheckReply();
  }
  const auto elapsed = std::chrono::steady_clock::now() - start;
  CloseDevice();
  if (!answered) return -1;
  return std::chrono::duration<double, std::micro>(elapsed).count() / count;
}

}  // namespace bench
