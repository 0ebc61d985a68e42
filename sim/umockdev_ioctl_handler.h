// The usbfs side of the emulated device: an umockdev ioctl handler that
// answers what Debian's libusb 0.1 asks of /dev/bus/usb nodes (connect info,
// configuration, interface claims, URBs) from one DeviceModel on the real
// clock. umockdev calls it on its one worker thread for every node; it passes
// each request on to the device's own serving thread, and the model is
// reached only under the lock of SharedDevice.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "sim/device_model.h"
#include "sim/umockdev_serving_thread.h"

typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;

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

// The state every node and handle of the device shares, the lock that
// serialises the device's serving thread, umockdev's worker (handles closing)
// and the runner's main loop (the bus), and the device's serving thread.
class SharedDevice {
 public:
  // Starts the device's serving thread.
  SharedDevice(Faults faults, std::string outputDir);
  // Stops the serving thread, if StopServing has not.
  ~SharedDevice();
  SharedDevice(const SharedDevice&) = delete;
  SharedDevice& operator=(const SharedDevice&) = delete;

  // Runs use(state, now) under the lock and returns its result.
  template <typename Use>
  auto With(Use use) {
    std::lock_guard<std::mutex> lock(mutex_);
    return use(state_, clock_.Now());
  }

  // Hands an ioctl of one of the device's nodes to its serving thread.
  void Post(UMockdevIoctlClient* client, void* node);
  // Answers what is queued and ends the thread; the runner calls it once
  // its program has ended, before the testbed goes.
  void StopServing();

 private:
  std::mutex mutex_;
  RealClock clock_;
  DeviceState state_;
  std::mutex serverMutex_;                 // Post against StopServing
  std::unique_ptr<ServingThread> server_;  // last: stops before the rest goes
};

// A new handler for the nodes of device (the caller owns the reference). It
// keeps device alive for as long as umockdev keeps the handler or one of its
// clients.
UMockdevIoctlBase* NewUsbfsHandler(std::shared_ptr<SharedDevice> device);

}  // namespace sim
