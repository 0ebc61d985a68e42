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
  const std::string text = sim::DeviceDescription(1, 2, 1, device);
  const std::string hex = sim::UpperHex(device.descriptors.data(), device.descriptors.size());
  EXPECT_NE(text.find("\nN: bus/usb/001/002=" + hex + "\n"), std::string::npos) << text;
  EXPECT_EQ(hex.find_first_of("abcdef"), std::string::npos);
  EXPECT_EQ(sim::UpperHex(std::vector<std::uint8_t>{0x0A, 0xFF, 0x12}.data(), 3), "0AFF12");
}

TEST(NodeUsedByLink, IsTheLastMatchingEntryInReadOrder) {
  EXPECT_EQ(sim::NodeUsedByLink({".", "001", "003", "002", ".."}, {"002", "003"}), "002");
  EXPECT_EQ(sim::NodeUsedByLink({"002", "003"}, {"002", "003"}), "003");
  EXPECT_EQ(sim::NodeUsedByLink({"001", "002"}, {"002"}), "002");
  EXPECT_EQ(sim::NodeUsedByLink({"001"}, {"002"}), "");
}

}  // namespace
