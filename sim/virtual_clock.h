// A clock that moves only when told to: the in-process device, the fake libusb
// and the engine tests' host share one, so time-outs and a 12-second restart
// cost no wall time and every run is the same.
//
// A clock made with FollowingRealTime() instead reads the machine's monotonic
// clock (microseconds since it was made) and really waits when told to move,
// so the same in-process device paces a run in real time (the benchmark).
#pragma once

#include <chrono>
#include <thread>

#include "sim/device_model.h"

namespace sim {

class VirtualClock {
 public:
  VirtualClock() = default;
  static VirtualClock FollowingRealTime() {
    VirtualClock clock;
    clock.real_ = true;
    clock.start_ = std::chrono::steady_clock::now();
    return clock;
  }

  bool IsReal() const { return real_; }
  Micros Now() const {
    if (!real_) return now_;
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
        .count();
  }
  void Advance(Micros by) {
    if (real_) {
      if (by > 0) std::this_thread::sleep_for(std::chrono::microseconds(by));
      return;
    }
    now_ += by;
  }
  void AdvanceTo(Micros t) {
    if (real_) {
      std::this_thread::sleep_until(start_ + std::chrono::microseconds(t));
      return;
    }
    if (t > now_) now_ = t;
  }

 private:
  Micros now_ = 0;
  bool real_ = false;
  std::chrono::steady_clock::time_point start_{};
};

}  // namespace sim
