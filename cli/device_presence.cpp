#include "cli/device_presence.h"

#include <chrono>
#include <thread>

namespace {
constexpr auto kScanPeriod = std::chrono::milliseconds(100);
}

std::vector<DeviceAddress> AttachedDevices(const std::optional<DeviceAddress>& device) {
  std::vector<DeviceAddress> found = ListMatchingDevices();
  if (device) std::erase_if(found, [&](const DeviceAddress& a) { return !a.SameAs(*device); });
  return found;
}

bool WaitForDevice(const std::optional<DeviceAddress>& device, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(seconds));
  while (AttachedDevices(device).empty()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(kScanPeriod);
  }
  return true;
}
