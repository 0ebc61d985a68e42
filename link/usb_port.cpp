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

}  // namespace

std::string UsbPortOf(const DeviceAddress& address) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(kUsbDevices, error)) {
    const std::string name = entry.path().filename().string();
    // Interfaces ("1-4:1.0") and root hubs ("usb1") have no port of their own.
    if (name.find(':') != std::string::npos || name.rfind("usb", 0) == 0) continue;
    const DeviceAddress here{Attribute(entry.path(), "busnum"), Attribute(entry.path(), "devnum")};
    if (here.SameAs(address)) return name;
  }
  return {};
}
