// Following one device across a restart: a device that restarts leaves the
// bus and comes back under a new device number, but on the same hub port.
#pragma once

#include <string>

#include "link/device_choice.h"

// The hub port path of the device at address ("1-4.2"), read from
// /sys/bus/usb/devices; empty when sysfs does not know it.
std::string PortOf(const DeviceAddress& address);

// The choice for --device: the device at address, or whatever device sits on
// its port later (the same board after a restart).
DeviceChoice FollowDevice(const DeviceAddress& address);
