#include "sim/umockdev_usbfs.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr std::uint8_t Low(std::uint16_t v) { return static_cast<std::uint8_t>(v & 0xFF); }
constexpr std::uint8_t High(std::uint16_t v) { return static_cast<std::uint8_t>(v >> 8); }

constexpr std::uint16_t kVx742Vendor = 0x1206;
constexpr std::uint16_t kVx742Product = 0x0227;
constexpr std::uint16_t kHubVendor = 0x1D6B;
constexpr std::uint16_t kHubProduct = 0x0002;

std::string Printed(const char* format, int a, int b = 0, int c = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b, c);
  return text;
}

}  // namespace

UsbIdentity Vx742Identity() {
  constexpr std::uint16_t kTotal = 9 + 9 + 7 + 7;
  return {kVx742Vendor,
          kVx742Product,
          {
              // Device: USB 2.0, class per interface, 64-byte control pipe, one configuration.
              18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, Low(kVx742Vendor), High(kVx742Vendor),
              Low(kVx742Product), High(kVx742Product), 0x00, 0x01, 0, 0, 0, 1,
              // Configuration 1, bus-powered, 100 mA.
              9, 0x02, Low(kTotal), High(kTotal), 1, 1, 0, 0x80, 50,
              // Interface 0, two endpoints, vendor class.
              9, 0x04, 0, 0, 2, 0xFF, 0x00, 0x00, 0,
              // Bulk OUT for the command frames.
              7, 0x05, kCommandEndpoint, 0x02, 64, 0, 0,
              // Interrupt IN for the 64-byte reports, polled every frame.
              7, 0x05, kReportEndpoint, 0x03, kReportSize, 0, 1,
          }};
}

UsbIdentity RootHubIdentity() {
  constexpr std::uint16_t kTotal = 9 + 9 + 7;
  return {kHubVendor,
          kHubProduct,
          {
              18, 0x01, 0x00, 0x02, 0x09, 0x00, 0x01, 64, Low(kHubVendor), High(kHubVendor),
              Low(kHubProduct), High(kHubProduct), 0x00, 0x06, 3, 2, 1, 1,
              9, 0x02, Low(kTotal), High(kTotal), 1, 1, 0, 0xE0, 0,
              9, 0x04, 0, 0, 1, 0x09, 0x00, 0x00, 0,
              7, 0x05, 0x81, 0x03, 4, 0, 12,
          }};
}

std::string BusDirectoryName(int bus) { return Printed("bus/usb/%03d", bus); }

std::string DeviceNodeName(int bus, int devnum) { return Printed("bus/usb/%03d/%03d", bus, devnum); }

std::string DeviceNodePath(int bus, int devnum) { return "/dev/" + DeviceNodeName(bus, devnum); }

bool ValidPortPath(const std::string& port) {
  const std::string prefix = std::to_string(kEmulatedBus) + "-";
  if (port.compare(0, prefix.size(), prefix) != 0) return false;
  int ports = 0;
  std::size_t at = prefix.size();
  while (true) {
    const std::size_t end = std::min(port.find('.', at), port.size());
    const std::string number = port.substr(at, end - at);
    if (number.empty() || number.size() > 2 || number[0] == '0' ||
        number.find_first_not_of("0123456789") != std::string::npos || std::stoi(number) > 31) {
      return false;
    }
    ++ports;
    if (end == port.size()) return ports <= 6;
    at = end + 1;
  }
}

std::string NeighbourPortPath(const std::string& port) {
  const std::size_t dash = port.find('-');
  const std::size_t end = std::min(port.find('.', dash + 1), port.size());
  const int root = std::stoi(port.substr(dash + 1, end - dash - 1));
  return port.substr(0, dash + 1) + std::to_string(root + 1) + port.substr(end);
}

std::string DeviceSysfsPath(int bus, const std::string& port) {
  std::string path = Printed("/sys/devices/platform/tamsolt-hcd/usb%d", bus);
  // Each hub on the way is a folder of its own: 1-1, then 1-1.3 inside it.
  for (std::size_t dot = port.find('.'); dot != std::string::npos; dot = port.find('.', dot + 1)) {
    path += "/" + port.substr(0, dot);
  }
  return port.empty() ? path : path + "/" + port;
}

std::string UpperHex(const std::uint8_t* bytes, std::size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    hex += kDigits[bytes[i] >> 4];
    hex += kDigits[bytes[i] & 0x0F];
  }
  return hex;
}

std::string DeviceDescription(int bus, int devnum, const std::string& port,
                              const UsbIdentity& identity) {
  const std::string hex = UpperHex(identity.descriptors.data(), identity.descriptors.size());
  // The P: line takes the path below /sys.
  return "P: " + DeviceSysfsPath(bus, port).substr(4) + "\n" +
         "N: " + DeviceNodeName(bus, devnum) + "=" + hex + "\n" +
         "E: SUBSYSTEM=usb\n"
         "E: DEVTYPE=usb_device\n"
         "E: DEVNAME=" + DeviceNodePath(bus, devnum) + "\n" +
         Printed("E: BUSNUM=%03d\nE: DEVNUM=%03d\n", bus, devnum) +
         Printed("E: PRODUCT=%x/%x/100\n", identity.vendorId, identity.productId) +
         Printed("A: busnum=%d\nA: devnum=%d\n", bus, devnum) +
         Printed("A: idVendor=%04x\nA: idProduct=%04x\n", identity.vendorId, identity.productId) +
         (port.empty() ? "" : "A: devpath=" + port.substr(port.find('-') + 1) + "\n") +
         "A: bConfigurationValue=1\n"
         "A: bNumConfigurations=1\n"
         "A: speed=12\n"
         "H: descriptors=" + hex + "\n";
}

}  // namespace sim
