// The URBs of one open device handle, as usbfs keeps them: a bulk OUT URB
// hands its frame to the device when it is submitted and completes at once; an
// interrupt IN URB stays pending until the device has a report ready, or until
// the program discards it after its time-out. Completed URBs wait to be reaped.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

#include "sim/device_model.h"
#include "sim/umockdev_usbfs.h"

namespace sim {

struct ReapedUrb {
  std::uint64_t clientAddress = 0;  // the URB's address in the program, reported back by the reap
  std::uint8_t endpoint = 0;
  int status = 0;                   // 0, or the negative errno usbfs stores in the URB
  int actualLength = 0;
  std::array<std::uint8_t, kReportSize> data{};  // what an IN URB received
};

// Each call gets the model behind the handle (the caller holds the lock it
// lives under), or null for a matching device that takes frames and never
// answers; present says whether the device is on the bus now.
class UrbQueue {
 public:
  // Each returns 0 or the negative errno the ioctl fails with.
  int SubmitOut(DeviceModel* model, bool present, std::uint64_t address, std::uint8_t endpoint,
                const std::uint8_t* frame, std::size_t length, Micros now);
  int SubmitIn(bool present, std::uint64_t address, std::uint8_t endpoint, int bufferLength);
  int Discard(std::uint64_t address);
  // 0 with the oldest completed URB in reaped; -EAGAIN while nothing has
  // completed; -ENODEV once the device has gone and nothing is left.
  int Reap(DeviceModel* model, bool present, Micros now, ReapedUrb& reaped);

  // Whether a reap would hand back a URB now (a report that is ready completes its URB).
  bool Completed(DeviceModel* model, bool present, Micros now);

  std::size_t Pending() const { return pending_.size(); }

 private:
  struct PendingIn {
    std::uint64_t address;
    std::uint8_t endpoint;
    int bufferLength;
  };

  void CompleteReadyReports(DeviceModel* model, bool present, Micros now);

  std::vector<PendingIn> pending_;
  std::deque<ReapedUrb> completed_;
};

}  // namespace sim
