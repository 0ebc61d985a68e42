// The hub port a device sits on, as sysfs names it.
#pragma once

#include <string>

#include "link/device_choice.h"

// The hub port path of the device at address ("1-4.2"), read from
// /sys/bus/usb/devices; empty when sysfs does not know it.
std::string UsbPortOf(const DeviceAddress& address);
