#include "run/device_port.h"

#include "link/usb_port.h"

// The window records the port too, so the lookup lives in the link.
std::string PortOf(const DeviceAddress& address) { return UsbPortOf(address); }

DeviceChoice FollowDevice(const DeviceAddress& address) {
  return [address, port = PortOf(address)](const DeviceAddress& candidate) {
    return candidate.SameAs(address) || (!port.empty() && PortOf(candidate) == port);
  };
}
