// A clock that moves only when told to: the in-process device, the fake libusb
// and the engine tests' host share one, so time-outs and a 12-second restart
// cost no wall time and every run is the same.
#pragma once

#include "sim/device_model.h"

namespace sim {

class VirtualClock {
 public:
  Micros Now() const { return now_; }
  void Advance(Micros by) { now_ += by; }
  void AdvanceTo(Micros t) {
    if (t > now_) now_ = t;
  }

 private:
  Micros now_ = 0;
};

}  // namespace sim
