// --list and --wait: which VX742s are on the bus, and waiting for them.
#pragma once

#include <optional>
#include <vector>

#include "link/device_choice.h"

// The attached VX742s in walk order; only the named one when device is given.
std::vector<DeviceAddress> AttachedDevices(const std::optional<DeviceAddress>& device);

enum class WaitEnd { kArrived, kTimedOut, kInterrupted };

// Scans every 100 ms until AttachedDevices is not empty, seconds pass, or a
// stop signal comes (its number in signal).
WaitEnd WaitForDevice(const std::optional<DeviceAddress>& device, double seconds, int& signal);

// --all --wait: after the first device, scanning goes on until no new device
// has appeared for settleSeconds (boards plugged into a hub one by one).
// Every device seen and still attached, in the order they appeared; a stop signal ends the
// wait with its number in signal.
std::vector<DeviceAddress> SettledDevices(double settleSeconds, int& signal);
