// The hub port a device sits on, as sysfs names it.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "link/device_choice.h"

// The hub port path of the device at address ("1-4.2"), read from
// /sys/bus/usb/devices; empty when sysfs does not know it.
std::string UsbPortOf(const DeviceAddress& address);

// sysfs lists USB devices at all (a root hub at least): without it no board
// has a port, as in a container without /sys.
bool SysfsListsUsbDevices();

// A matching device with the port sysfs gives it.
struct PortedDevice {
  DeviceAddress address;
  std::string port;  // empty: sysfs does not know it (yet, or any more)
};

// One look at the bus: every matching device in walk order with its port, the
// ports read once for all of them. A device that arrives or leaves during the
// look has no port here: its node and its sysfs entry come and go apart.
std::vector<PortedDevice> ListMatchingDevicesWithPorts();
