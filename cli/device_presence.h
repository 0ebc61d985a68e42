// --list and --wait: which VX742s are on the bus, and waiting for one.
#pragma once

#include <optional>
#include <vector>

#include "link/device_choice.h"

// The attached VX742s in walk order; only the named one when device is given.
std::vector<DeviceAddress> AttachedDevices(const std::optional<DeviceAddress>& device);

// Scans every 100 ms until AttachedDevices is not empty; false when seconds
// pass without one.
bool WaitForDevice(const std::optional<DeviceAddress>& device, double seconds);
