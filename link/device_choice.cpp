#include "link/device_choice.h"

#include <usb.h>

#include <charconv>

#include "link/usb_link.h"

namespace {

DeviceChoice g_choice;

std::optional<unsigned> Number(const std::string& text) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc{} || stop != end) return std::nullopt;
  return value;
}

}  // namespace

std::string DeviceAddress::Text() const { return bus + ":" + device; }

bool DeviceAddress::SameAs(const DeviceAddress& other) const {
  const auto busA = Number(bus), busB = Number(other.bus);
  const auto devA = Number(device), devB = Number(other.device);
  if (busA && busB && devA && devB) return *busA == *busB && *devA == *devB;
  return bus == other.bus && device == other.device;
}

std::optional<DeviceAddress> ParseDeviceAddress(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) return std::nullopt;
  DeviceAddress address{text.substr(0, colon), text.substr(colon + 1)};
  if (!Number(address.bus) || !Number(address.device)) return std::nullopt;
  return address;
}

void ChooseDevice(DeviceChoice choice) { g_choice = std::move(choice); }

DeviceAddress AddressOf(const struct usb_device& device) {
  return {device.bus != nullptr ? device.bus->dirname : "", device.filename};
}

bool IsVx742(const struct usb_device& device) {
  return device.descriptor.idVendor == kDeviceVendorId &&
         device.descriptor.idProduct == kDeviceProductId;
}

bool IsChosenDevice(const struct usb_device& device) {
  return !g_choice || g_choice(AddressOf(device));
}

std::vector<DeviceAddress> ListMatchingDevices() {
  std::vector<DeviceAddress> found;
  usb_init();
  usb_find_busses();
  usb_find_devices();
  for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
    for (struct usb_device* device = bus->devices; device != nullptr; device = device->next) {
      if (IsVx742(*device)) found.push_back(AddressOf(*device));
    }
  }
  return found;
}
