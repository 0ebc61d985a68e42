// The bus's own bookkeeping, without a program: claims of boards that left,
// and the plug and unplug commands it refuses.
#include "sim/umockdev_bus.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::shared_ptr<sim::SharedDevice> DeviceWith(const sim::Faults& faults) {
  return std::make_shared<sim::SharedDevice>(faults, "");
}

// As the kernel drops the claims of a device that is disconnected, the report
// of a board unplugged at its leave time says so, not that a handle closed.
TEST(EmulatedBus, BoardGoneAtItsLeaveTimeLosesItsClaim) {
  sim::Faults leaving;
  leaving.leaveAt = 0;
  const auto device = DeviceWith(leaving);
  device->With(
      [](sim::DeviceState& state, sim::Micros) { return state.model.ClaimInterface(0, 1); });
  sim::EmulatedBus bus({device}, {"1-1.1"}, true);
  std::string error;
  ASSERT_TRUE(bus.Sync(error)) << error;
  EXPECT_EQ(device->With(
                [](sim::DeviceState& state, sim::Micros) { return state.model.LatestClaimEnd(); }),
            sim::ClaimEnd::LeftTheBus);
  device->StopServing();
}

TEST(EmulatedBus, PlugAndUnplugCommandsNeedABoardToMove) {
  const auto onCommand = DeviceWith(sim::Faults{});
  const auto timed = DeviceWith(sim::Faults{});
  sim::EmulatedBus bus({onCommand, timed}, {"1-1.3", "1-1.4"}, true, {true, false});
  std::string error;
  EXPECT_FALSE(bus.UnplugNow("1-1.3", error)) << "not plugged in yet";
  EXPECT_FALSE(bus.PlugOnCommand("1-1.4", error)) << "a timed board comes by itself";
  EXPECT_NE(error.find("no board"), std::string::npos) << error;
  EXPECT_TRUE(bus.PlugOnCommand("1-1.3", error)) << error;
  EXPECT_TRUE(bus.UnplugNow("1-1.3", error)) << error;
  EXPECT_FALSE(bus.UnplugNow("1-1.3", error)) << "gone for good";
  EXPECT_FALSE(bus.PlugOnCommand("1-1.3", error)) << "its one board has been";
  EXPECT_TRUE(bus.UnplugNow("1-1.4", error)) << error;
  for (const auto& device : {onCommand, timed}) device->StopServing();
}

}  // namespace
