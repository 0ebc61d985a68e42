// Which of the matching devices a scan may keep, and the matching devices
// themselves. A device is named by the bus folder and device file that the
// libusb 0.1 walk gives it ("001" and "004", written "001:004"). With no
// choice made every matching device is eligible and the link keeps the last
// one met, as the window has always done; a program can narrow the choice.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

struct usb_device;

struct DeviceAddress {
  std::string bus;     // usb_bus dirname, "001"
  std::string device;  // usb_device filename, "004"

  // "001:004".
  std::string Text() const;
  // Same bus and device number; "1:4" names the same device as "001:004".
  bool SameAs(const DeviceAddress& other) const;
};

// Parses "BUS:ADDR" (decimal numbers, leading zeros allowed); nullopt when malformed.
std::optional<DeviceAddress> ParseDeviceAddress(const std::string& text);

// Which matching devices FindDevice may keep; an empty choice keeps every one.
using DeviceChoice = std::function<bool(const DeviceAddress&)>;
void ChooseDevice(DeviceChoice choice);
// True when the scan may keep device (always, while no choice is made).
bool IsChosenDevice(const struct usb_device& device);

// Every matching device on the busses, in walk order (a fresh scan; nothing is
// shown and the link's state is not touched).
std::vector<DeviceAddress> ListMatchingDevices();
// The device's identity is the VX742's (vendor 0x1206, product 0x0227).
bool IsVx742(const struct usb_device& device);
// The device's address as the walk names it.
DeviceAddress AddressOf(const struct usb_device& device);
