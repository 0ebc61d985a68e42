// Each fault the device can be told to produce does what it says, and only that.
#include <gtest/gtest.h>

#include "sim/device_wire.h"
#include "tests/sim/model_harness.h"

using namespace simtest;

namespace {

sim::DeviceModel WithFaults(const sim::Faults& faults) { return sim::DeviceModel(faults, ""); }

Bytes Block(std::uint16_t index) { return ShortBlock(0x12, index, 53 * 50, Pattern(53, 0)); }

bool CrcRight(const Report& r) { return sim::CrcCcittFalse(r.data(), 62) == (r[62] << 8 | r[63]); }

}  // namespace

TEST(DeviceFaults, SilenceSwallowsTheRepliesToAWindowOfFrames) {
  sim::Faults faults;
  faults.silentFromFrame = 1;
  faults.silentReplies = 2;
  sim::DeviceModel model = WithFaults(faults);
  for (std::uint16_t frame = 0; frame < 4; ++frame) {
    ASSERT_TRUE(Send(model, Block(frame)));
    const bool answered = Take(model).has_value();
    EXPECT_EQ(answered, frame == 0 || frame == 3) << "frame " << frame;
  }
  EXPECT_EQ(model.Images().at("font").size(), 4u * 53) << "silent frames are still received";
}

TEST(DeviceFaults, WrongEchoHitsOneReplyOnly) {
  sim::Faults faults;
  faults.wrongEchoAtFrame = 1;
  sim::DeviceModel model = WithFaults(faults);
  for (std::uint16_t frame = 0; frame < 3; ++frame) {
    Send(model, Block(7));
    const auto r = Take(model);
    ASSERT_TRUE(r);
    EXPECT_EQ(Echo(*r), frame == 1 ? 8 : 7) << "frame " << frame;
    EXPECT_TRUE(CrcRight(*r));
  }
}

TEST(DeviceFaults, DamagedReplyHasABadCrc) {
  sim::Faults faults;
  faults.damagedAtFrame = 0;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3));
  const auto damaged = Take(model);
  ASSERT_TRUE(damaged);
  EXPECT_FALSE(CrcRight(*damaged));
  EXPECT_EQ(ReplyCode(*damaged), 0x8043) << "only the CRC is off";
  Send(model, Begin(0x43, 3));
  EXPECT_TRUE(CrcRight(*Take(model)));
}

TEST(DeviceFaults, StaleCodeRepliesWithAnEarlierCommandsCode) {
  sim::Faults faults;
  faults.staleCodeAtFrame = 3;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3));
  Take(model);
  Send(model, Chunk(0x42, 3, 0, 88, Pattern(44, 0)));
  Take(model);
  Send(model, Chunk(0x42, 3, 1, 88, Pattern(44, 1)));
  Take(model);
  Send(model, Empty(0x44));
  const auto stale = Take(model);
  ASSERT_TRUE(stale);
  EXPECT_EQ(ReplyCode(*stale), 0x8042);
  EXPECT_TRUE(CrcRight(*stale)) << "well-formed, only for the wrong command";
}

TEST(DeviceFaults, BeginStatusAppliesToTheFirstBeginOnly) {
  sim::Faults faults;
  faults.beginStatus = 5;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x49, 2));
  EXPECT_EQ(Status(*Take(model)), 5);
  Send(model, Begin(0x49, 2));
  EXPECT_EQ(Status(*Take(model)), 4);
}

TEST(DeviceFaults, RestartLeavesTheBusOnceTheReplyIsReadAndComesBackLater) {
  sim::Faults faults;
  faults.beginStatus = 3;
  faults.restartAbsentFor = 12'000'000;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3), 1000);
  EXPECT_TRUE(model.Present(1000)) << "still there until the host has read the status";
  const auto restart = Take(model, 1000);
  ASSERT_TRUE(restart);
  EXPECT_EQ(Status(*restart), 3);

  EXPECT_EQ(model.ListedDevices(1000), 0);
  EXPECT_EQ(model.ListedDevices(12'000'999), 0);
  EXPECT_FALSE(Send(model, Begin(0x43, 3), 5'000'000)) << "writes fail while it is away";
  EXPECT_FALSE(model.Open(5'000'000));

  EXPECT_EQ(model.ListedDevices(12'001'000), 1);
  ASSERT_TRUE(Send(model, Begin(0x43, 3), 12'001'000));
  EXPECT_EQ(Status(*Take(model, 12'001'000)), 4);
  EXPECT_EQ(model.GetSummary().restarts, 1);
  EXPECT_EQ(model.GetSummary().frames, 2) << "the write while away never arrived";
}

TEST(DeviceFaults, NeverBackKeepsARestartedDeviceAway) {
  sim::Faults faults;
  faults.beginStatus = 3;
  faults.neverBack = true;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3));
  Take(model);
  EXPECT_FALSE(model.Present(3'600'000'000));
}

TEST(DeviceFaults, UnplugAfterNFramesLeavesOnceTheLastReplyIsRead) {
  sim::Faults faults;
  faults.unplugAfterFrames = 2;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Block(0));
  Take(model);
  Send(model, Block(1));
  EXPECT_TRUE(model.Present(0));
  EXPECT_TRUE(Take(model));
  EXPECT_FALSE(model.Present(0));
  EXPECT_FALSE(Send(model, Block(2)));
  EXPECT_FALSE(model.Present(1'000'000'000));
}

TEST(DeviceFaults, UnplugAfterAnUnansweredFrameLeavesAtOnce) {
  sim::Faults faults;
  faults.unplugAfterFrames = 1;
  faults.silentFromFrame = 0;
  faults.silentReplies = 1;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Block(0));
  EXPECT_FALSE(model.Present(0));
}

TEST(DeviceFaults, LatencyDelaysEveryReport) {
  sim::Faults faults;
  faults.replyLatency = 5000;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3), 100);
  EXPECT_EQ(model.NextReportTime(), 5100);
  EXPECT_FALSE(Take(model, 5099));
  EXPECT_TRUE(Take(model, 5100));
}

TEST(DeviceFaults, BusAndOpeningFaults) {
  {
    sim::Faults faults;
    faults.absent = true;
    sim::DeviceModel model = WithFaults(faults);
    EXPECT_EQ(model.ListedDevices(0), 0);
    EXPECT_FALSE(model.Open(0));
    EXPECT_FALSE(Send(model, Block(0)));
  }
  {
    sim::Faults faults;
    faults.twoDevices = true;
    EXPECT_EQ(WithFaults(faults).ListedDevices(0), 2);
  }
  sim::DeviceModel healthy = WithFaults(sim::Faults{});
  EXPECT_EQ(healthy.ListedDevices(0), 1);
  EXPECT_TRUE(healthy.Open(0));
  EXPECT_TRUE(healthy.SetConfiguration(1));
  EXPECT_FALSE(healthy.SetConfiguration(2)) << "the device has configuration 1 only";
  EXPECT_TRUE(healthy.ClaimInterface(0));
  EXPECT_FALSE(healthy.ClaimInterface(1)) << "the device has interface 0 only";

  sim::Faults faults;
  faults.openFails = true;
  EXPECT_FALSE(WithFaults(faults).Open(0));
  faults = {};
  faults.setConfigFails = true;
  EXPECT_FALSE(WithFaults(faults).SetConfiguration(1));
  faults = {};
  faults.claimFails = true;
  EXPECT_FALSE(WithFaults(faults).ClaimInterface(0));
}

TEST(DeviceFaultOptions, EachOptionSetsItsFault) {
  sim::Faults f;
  std::string error;
  for (const char* option :
       {"--absent", "--no-busses", "--two-devices", "--open-fails", "--set-config-fails",
        "--claim-fails", "--silent=4:3", "--wrong-echo=5", "--damaged=6", "--stale-code=7",
        "--begin-status=3", "--restart-ms=1500", "--never-back", "--unplug-after=9",
        "--latency-ms=2"}) {
    EXPECT_TRUE(sim::ParseFault(option, f, error)) << option << ": " << error;
  }
  EXPECT_TRUE(f.absent && f.noBusses && f.twoDevices && f.openFails && f.setConfigFails &&
              f.claimFails && f.neverBack);
  EXPECT_EQ(f.silentFromFrame, 4);
  EXPECT_EQ(f.silentReplies, 3);
  EXPECT_EQ(f.wrongEchoAtFrame, 5);
  EXPECT_EQ(f.damagedAtFrame, 6);
  EXPECT_EQ(f.staleCodeAtFrame, 7);
  EXPECT_EQ(f.beginStatus, 3);
  EXPECT_EQ(f.restartAbsentFor, 1'500'000);
  EXPECT_EQ(f.unplugAfterFrames, 9);
  EXPECT_EQ(f.replyLatency, 2000);
}

TEST(DeviceFaultOptions, RefusesUnknownAndMalformedOptions) {
  for (const char* option : {"--bogus", "--silent=4", "--silent=a:1", "--wrong-echo=",
                             "--damaged=-1", "--begin-status=x", "--restart-ms=1s",
                             "--absent=1", "--out=/tmp/x", "absent"}) {
    sim::Faults f;
    std::string error;
    EXPECT_FALSE(sim::ParseFault(option, f, error)) << option;
    EXPECT_NE(error.find(option), std::string::npos) << option;
  }
  EXPECT_NE(sim::FaultUsage().find("--silent=FROM:N"), std::string::npos);
}
