// The usbfs side of the emulated device: an umockdev ioctl handler that
// answers what Debian's libusb 0.1 asks of /dev/bus/usb nodes (connect info,
// configuration, interface claims, URBs) from one DeviceModel on the real
// clock. umockdev calls it on its own worker thread, so the model is reached
// only under the lock of SharedDevice.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sim/device_model.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace sim {

// Microseconds since construction on the steady clock.
class RealClock {
 public:
  Micros Now() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now() - start_)
        .count();
  }

 private:
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

struct DeviceState {
  DeviceModel model;
  // The second matching node of the two-devices fault ("/dev/bus/usb/001/002"),
  // the one the link does not use: it takes frames and never answers. The
  // model answers on every other node, also on a handle opened before the
  // device restarted.
  std::string silentNode;
  // Nodes that are read-only until a time ("/dev/bus/usb/001/002" -> when the
  // node becomes writable): a handle opened before then is a read-only one.
  std::map<std::string, Micros> writableAt;
};

// The state every node and handle of the testbed shares, and the lock that
// serialises the ioctl worker and the runner's main loop.
class SharedDevice {
 public:
  SharedDevice(Faults faults, std::string outputDir)
      : state_{DeviceModel(faults, std::move(outputDir)), {}, {}} {}

  // Runs use(state, now) under the lock and returns its result.
  template <typename Use>
  auto With(Use use) {
    std::lock_guard<std::mutex> lock(mutex_);
    return use(state_, clock_.Now());
  }

 private:
  std::mutex mutex_;
  RealClock clock_;
  DeviceState state_;
};

// A new handler for the nodes of device (the caller owns the reference). It
// keeps device alive for as long as umockdev keeps the handler or one of its
// clients.
UMockdevIoctlBase* NewUsbfsHandler(std::shared_ptr<SharedDevice> device);

}  // namespace sim
