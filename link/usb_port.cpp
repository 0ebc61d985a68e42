#include "link/usb_port.h"

#include <filesystem>
#include <fstream>

namespace {

constexpr char kUsbDevices[] = "/sys/bus/usb/devices";

std::string Attribute(const std::filesystem::path& device, const char* name) {
  std::ifstream file(device / name);
  std::string value;
  file >> value;
  return value;
}

// Every device sysfs lists, as (address, port). Interfaces ("1-4:1.0") and
// root hubs ("usb1") have no port of their own.
std::vector<PortedDevice> SysfsDevices() {
  std::vector<PortedDevice> devices;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kUsbDevices, error)) {
    const std::string name = entry.path().filename().string();
    if (name.find(':') != std::string::npos || name.rfind("usb", 0) == 0) continue;
    devices.push_back({{Attribute(entry.path(), "busnum"), Attribute(entry.path(), "devnum")}, name});
  }
  return devices;
}

std::string PortIn(const std::vector<PortedDevice>& sysfs, const DeviceAddress& address) {
  for (const PortedDevice& known : sysfs) {
    if (known.address.SameAs(address)) return known.port;
  }
  return {};
}

}  // namespace

bool SysfsListsUsbDevices() {
  std::error_code error;
  const std::filesystem::directory_iterator entries(kUsbDevices, error);
  return !error && entries != std::filesystem::directory_iterator();
}

std::string UsbPortOf(const DeviceAddress& address) { return PortIn(SysfsDevices(), address); }

std::vector<PortedDevice> ListMatchingDevicesWithPorts() {
  const std::vector<DeviceAddress> found = ListMatchingDevices();
  const std::vector<PortedDevice> sysfs = found.empty() ? std::vector<PortedDevice>{} : SysfsDevices();
  std::vector<PortedDevice> devices;
  for (const DeviceAddress& address : found) devices.push_back({address, PortIn(sysfs, address)});
  return devices;
}
