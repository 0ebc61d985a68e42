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
// A port path as the kernel names a device by where it is plugged: the bus,
// then the ports from the root hub down ("1-1.3": bus 1, root port 1, port 3
// of the hub there). True for bus kEmulatedBus, one to six ports of 1 to 31.
bool ValidPortPath(const std::string& port);
// The same place one hub further along, "1-2.3" for "1-1.3": where the second
// matching device of the two-devices fault sits.
std::string NeighbourPortPath(const std::string& port);

// Where the device on port sits in the testbed's sysfs,
// "/sys/devices/.../usb1/1-1/1-1.3" (port empty: the root hub itself), so that
// /sys/bus/usb/devices lists it under its port path as the kernel does. The
// port stays when the device re-enumerates under a new device number.
std::string DeviceSysfsPath(int bus, const std::string& port);

// The testbed's text description of one device (umockdev-record format): the
// node with the descriptors as its content, sysfs attributes, udev properties.
std::string DeviceDescription(int bus, int devnum, const std::string& port,
                              const UsbIdentity& identity);

// Continuous upper-case hex, the only form the description's node content takes.
std::string UpperHex(const std::uint8_t* bytes, std::size_t length);

}  // namespace sim
