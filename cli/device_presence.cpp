#include "cli/device_presence.h"

#include <algorithm>
#include <chrono>

#include "run/stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kScanPeriod = std::chrono::milliseconds(100);

Clock::time_point After(double seconds) {
  return Clock::now() +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

bool Contains(const std::vector<DeviceAddress>& devices, const DeviceAddress& device) {
  return std::any_of(devices.begin(), devices.end(),
                     [&](const DeviceAddress& known) { return known.SameAs(device); });
}

}  // namespace

std::vector<DeviceAddress> AttachedDevices(const std::optional<DeviceAddress>& device) {
  std::vector<DeviceAddress> found = ListMatchingDevices();
  if (device) std::erase_if(found, [&](const DeviceAddress& a) { return !a.SameAs(*device); });
  return found;
}

WaitEnd WaitForDevice(const std::optional<DeviceAddress>& device, double seconds, int& signal) {
  const Clock::time_point deadline = After(seconds);
  while (AttachedDevices(device).empty()) {
    if (Clock::now() >= deadline) return WaitEnd::kTimedOut;
    if ((signal = WaitForStopSignal(kScanPeriod)) != 0) return WaitEnd::kInterrupted;
  }
  return WaitEnd::kArrived;
}

std::vector<DeviceAddress> SettledDevices(double settleSeconds, int& signal) {
  std::vector<DeviceAddress> seen;
  Clock::time_point settled = After(settleSeconds);
  for (;;) {
    const std::vector<DeviceAddress> now = AttachedDevices(std::nullopt);
    for (const DeviceAddress& device : now) {
      if (Contains(seen, device)) continue;
      seen.push_back(device);
      settled = After(settleSeconds);
    }
    if (Clock::now() >= settled) {
      std::erase_if(seen, [&](const DeviceAddress& device) { return !Contains(now, device); });
      return seen;
    }
    if ((signal = WaitForStopSignal(kScanPeriod)) != 0) return {};
  }
}
