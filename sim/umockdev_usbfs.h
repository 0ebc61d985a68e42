// How devices show up on the usbfs side of the testbed: a node
// /dev/bus/usb/BBB/DDD whose read() hands out the device and configuration
// descriptors as the kernel does, and the sysfs attributes beside it. Bus 001
// carries its root hub and, while the model lists them, the VX742 (and the
// second matching device of the two-devices fault).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

inline constexpr int kEmulatedBus = 1;
inline constexpr int kRootHubDevnum = 1;
inline constexpr std::uint8_t kCommandEndpoint = 0x02;  // bulk OUT
inline constexpr std::uint8_t kReportEndpoint = 0x81;   // interrupt IN
inline constexpr int kReportSize = 64;

struct UsbIdentity {
  std::uint16_t vendorId;
  std::uint16_t productId;
  // Device descriptor followed by the configuration, multi-byte fields
  // little-endian, as usbfs returns them.
  std::vector<std::uint8_t> descriptors;
};

// 1206:0227, configuration 1 with interface 0: bulk OUT 0x02, interrupt IN 0x81.
UsbIdentity Vx742Identity();
// 1d6b:0002, the bus's own hub: there to be skipped by the scan.
UsbIdentity RootHubIdentity();

// "bus/usb/001": the bus folder below /dev.
std::string BusDirectoryName(int bus);
// "bus/usb/001/002": the node name below /dev.
std::string DeviceNodeName(int bus, int devnum);
// "/dev/bus/usb/001/002".
std::string DeviceNodePath(int bus, int devnum);
// Where the device on port of the bus's root hub sits in the testbed's sysfs,
// "/sys/devices/.../usb1/1-PORT" (port 0: the root hub itself). The port
// stays when the device re-enumerates under a new device number.
std::string DeviceSysfsPath(int bus, int port);

// The testbed's text description of one device (umockdev-record format): the
// node with the descriptors as its content, sysfs attributes, udev properties.
std::string DeviceDescription(int bus, int devnum, int port, const UsbIdentity& identity);

// Continuous upper-case hex, the only form the description's node content takes.
std::string UpperHex(const std::uint8_t* bytes, std::size_t length);

}  // namespace sim
