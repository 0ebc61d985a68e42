// What the testbed's nodes carry beyond what the link's scan checks (the
// system tests cover that): the endpoints, the node content's form, and which
// of two matching nodes the link ends up using.
#include "sim/umockdev_usbfs.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sim/umockdev_bus.h"

namespace {

std::uint16_t Little16(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

struct Endpoint {
  std::uint8_t address;
  std::uint8_t attributes;
  std::uint16_t maxPacket;
};

// The endpoints of the configuration that follows the device descriptor.
std::vector<Endpoint> EndpointsOf(const std::vector<std::uint8_t>& descriptors) {
  std::vector<Endpoint> endpoints;
  for (std::size_t at = 18; at + 1 < descriptors.size(); at += descriptors[at]) {
    if (descriptors[at] == 0) break;
    if (descriptors[at + 1] == 0x05) {
      endpoints.push_back({descriptors[at + 2], descriptors[at + 3], Little16(descriptors, at + 4)});
    }
  }
  return endpoints;
}

TEST(UsbfsDescriptors, ConfigurationOneHasInterfaceZeroWithTheTwoEndpoints) {
  const std::vector<std::uint8_t> d = sim::Vx742Identity().descriptors;
  ASSERT_GE(d.size(), 18u + 9u + 9u);
  EXPECT_EQ(d[19], 0x02);
  EXPECT_EQ(Little16(d, 20), d.size() - 18);  // libusb reads exactly this much more
  EXPECT_EQ(d[23], 1);                        // bConfigurationValue
  EXPECT_EQ(d[28], 0x04);
  EXPECT_EQ(d[29], 0);  // interface number
  EXPECT_EQ(d[31], 2);  // endpoints

  const std::vector<Endpoint> endpoints = EndpointsOf(d);
  ASSERT_EQ(endpoints.size(), 2u);
  EXPECT_EQ(endpoints[0].address, 0x02);
  EXPECT_EQ(endpoints[0].attributes, 0x02);  // bulk
  EXPECT_EQ(endpoints[1].address, 0x81);
  EXPECT_EQ(endpoints[1].attributes, 0x03);  // interrupt
  EXPECT_EQ(endpoints[1].maxPacket, 64);
}

TEST(UsbfsDescription, NodeContentIsTheDescriptorsInUpperCaseHex) {
  const sim::UsbIdentity device = sim::Vx742Identity();
  const std::string text = sim::DeviceDescription(1, 2, "1-1.3", device);
  const std::string hex = sim::UpperHex(device.descriptors.data(), device.descriptors.size());
  EXPECT_NE(text.find("\nN: bus/usb/001/002=" + hex + "\n"), std::string::npos) << text;
  EXPECT_EQ(hex.find_first_of("abcdef"), std::string::npos);
  EXPECT_EQ(sim::UpperHex(std::vector<std::uint8_t>{0x0A, 0xFF, 0x12}.data(), 3), "0AFF12");
}

// /sys/bus/usb/devices names a device by its port path, and its sysfs folder
// sits inside the hub's, as the kernel lays them out.
TEST(UsbfsPorts, PortPathsNameTheHubsOnTheWay) {
  EXPECT_EQ(sim::DeviceSysfsPath(1, "1-1.3"), "/sys/devices/platform/tamsolt-hcd/usb1/1-1/1-1.3");
  EXPECT_EQ(sim::DeviceSysfsPath(1, "1-2.4.7"),
            "/sys/devices/platform/tamsolt-hcd/usb1/1-2/1-2.4/1-2.4.7");
  EXPECT_EQ(sim::DeviceSysfsPath(1, "1-4"), "/sys/devices/platform/tamsolt-hcd/usb1/1-4");
  EXPECT_EQ(sim::DeviceSysfsPath(1, ""), "/sys/devices/platform/tamsolt-hcd/usb1");
  EXPECT_NE(sim::DeviceDescription(1, 5, "1-1.3", sim::Vx742Identity()).find("\nA: devpath=1.3\n"),
            std::string::npos);
  EXPECT_EQ(sim::NeighbourPortPath("1-1.3"), "1-2.3");
  EXPECT_EQ(sim::NeighbourPortPath("1-9"), "1-10");

  for (const char* good : {"1-1", "1-1.3", "1-31.15", "1-1.2.3.4.5.6"}) {
    EXPECT_TRUE(sim::ValidPortPath(good)) << good;
  }
  for (const char* bad : {"", "1", "1-", "2-1", "1-0", "1-1.", "1-32", "1-01", "1-1.x", "1-1:3",
                          "1-1.2.3.4.5.6.7", "usb1"}) {
    EXPECT_FALSE(sim::ValidPortPath(bad)) << bad;
  }
}

TEST(NodeUsedByLink, IsTheLastMatchingEntryInReadOrder) {
  EXPECT_EQ(sim::NodeUsedByLink({".", "001", "003", "002", ".."}, {"002", "003"}), "002");
  EXPECT_EQ(sim::NodeUsedByLink({"002", "003"}, {"002", "003"}), "003");
  EXPECT_EQ(sim::NodeUsedByLink({"001", "002"}, {"002"}), "002");
  EXPECT_EQ(sim::NodeUsedByLink({"001"}, {"002"}), "");
}

}  // namespace
