// Each fault the device can be told to produce does what it says, and only that.
#include <gtest/gtest.h>

#include <string>

#include "sim/device_wire.h"
#include "tests/sim/model_harness.h"

using namespace simtest;

namespace {

sim::DeviceModel WithFaults(const sim::Faults& faults) { return sim::DeviceModel(faults, ""); }

Bytes Block(std::uint16_t index) { return ShortBlock(0x12, index, 53 * 50, Pattern(53, 0)); }

bool CrcRight(const Report& r) { return sim::CrcCcittFalse(r.data(), 62) == (r[62] << 8 | r[63]); }

}  // namespace

TEST(DeviceFaults, EachReplyFaultHitsItsOwnFramesAndOnlyTheirReplies) {
  // A begin, two chunks of a boot image, an end; the replies a healthy device gives.
  const Bytes boot = Pattern(88, 5);
  const Bytes frames[] = {Begin(0x43, 3), Chunk(0x42, 3, 0, 88, Bytes(boot.begin(), boot.begin() + 44)),
                          Chunk(0x42, 3, 1, 88, Bytes(boot.begin() + 44, boot.end())), Empty(0x44)};
  const std::uint16_t codes[] = {0x8043, 0x8042, 0x8042, 0x8044};
  const std::uint16_t echoes[] = {0, 0, 1, 0};
  // Per frame: o answered right, - no reply, e echo one too far, d bad CRC,
  // s the code of the command before.
  struct Row {
    const char* name;
    int sim::Faults::*at;
    int frame;
    const char* replies;
  };
  const Row rows[] = {
      {"silence", &sim::Faults::silentFromFrame, 1, "o--o"},
      {"wrong echo", &sim::Faults::wrongEchoAtFrame, 2, "ooeo"},
      {"damaged", &sim::Faults::damagedAtFrame, 0, "dooo"},
      {"stale code", &sim::Faults::staleCodeAtFrame, 3, "ooos"},
  };
  for (const Row& row : rows) {
    sim::Faults faults;
    faults.*row.at = row.frame;
    faults.silentReplies = 2;
    sim::DeviceModel model = WithFaults(faults);
    for (std::size_t i = 0; i < 4; ++i) {
      SCOPED_TRACE(std::string(row.name) + " frame " + std::to_string(i));
      ASSERT_TRUE(Send(model, frames[i]));
      const auto r = Take(model);
      const char expected = row.replies[i];
      ASSERT_EQ(r.has_value(), expected != '-');
      if (!r) continue;
      EXPECT_EQ(CrcRight(*r), expected != 'd');
      EXPECT_EQ(ReplyCode(*r), expected == 's' ? codes[i - 1] : codes[i]);
      EXPECT_EQ(Echo(*r), expected == 'e' ? echoes[i] + 1 : echoes[i]);
    }
    EXPECT_EQ(model.Images().at("boot"), boot) << row.name << ": frames still arrive";
  }
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

TEST(DeviceFaults, RestartLeavesTheBusOnceTheReplyIsReadAndComesBackLaterOrNever) {
  sim::Faults faults;
  faults.beginStatus = 3;
  faults.restartAbsentFor = 12'000'000;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3), 1000);
  EXPECT_TRUE(model.Present(1000)) << "still there until the host has read the status";
  const auto restart = Take(model, 1000);
  ASSERT_TRUE(restart);
  EXPECT_EQ(Status(*restart), 3);

  EXPECT_FALSE(Send(model, Begin(0x43, 3), 5'000'000)) << "writes fail while it is away";
  EXPECT_FALSE(model.Open(5'000'000));
  // Its return on the clock is seen through the bus list (InProcessUsb).
  ASSERT_TRUE(Send(model, Begin(0x43, 3), 12'001'000));
  EXPECT_EQ(model.GetSummary().restarts, 1);
  EXPECT_EQ(model.GetSummary().frames, 2) << "the write while away never arrived";

  faults.neverBack = true;
  sim::DeviceModel gone = WithFaults(faults);
  Send(gone, Begin(0x43, 3));
  Take(gone);
  EXPECT_FALSE(gone.Present(3'600'000'000));
}

// Some boards reboot after the end exchange: gone once the end reply is read,
// back after the given time, and again after the next end.
TEST(DeviceFaults, RebootAfterEndLeavesOnceTheEndReplyIsReadAndComesBack) {
  sim::Faults faults;
  faults.rebootAfterEnd = 2'000'000;
  sim::DeviceModel model = WithFaults(faults);
  Send(model, Begin(0x43, 3), 1000);
  ASSERT_TRUE(Take(model, 1000));
  EXPECT_TRUE(model.Present(1000)) << "a begin does not reboot it";
  Send(model, Empty(0x44), 2000);
  EXPECT_TRUE(model.Present(2000)) << "still there until the host has read the end reply";
  ASSERT_TRUE(Take(model, 2000));
  EXPECT_FALSE(model.Present(2001));
  EXPECT_FALSE(model.Present(2'001'999));
  EXPECT_TRUE(model.Present(2'002'000));
  EXPECT_EQ(model.GetSummary().exchangesEnded, 1);
  Send(model, Empty(0x44), 3'000'000);
  ASSERT_TRUE(Take(model, 3'000'000));
  EXPECT_FALSE(model.Present(3'000'001)) << "each end reboots it";
}

TEST(DeviceFaults, UnplugLeavesOnceTheLastReplyIsReadOrAtOnceWithoutOne) {
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

  faults.unplugAfterFrames = 1;
  faults.silentFromFrame = 0;
  faults.silentReplies = 1;
  sim::DeviceModel unanswered = WithFaults(faults);
  Send(unanswered, Block(0));
  EXPECT_FALSE(unanswered.Present(0));
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

TEST(DeviceFaults, BusAndOpeningFaultsFailTheirOwnStepOnly) {
  struct Row {
    const char* name;
    bool sim::Faults::*fault;
    int listed;
    bool opens, configures, claims;
  };
  const Row rows[] = {
      {"healthy", nullptr, 1, true, true, true},
      {"two devices", &sim::Faults::twoDevices, 2, true, true, true},
      {"open fails", &sim::Faults::openFails, 1, false, true, true},
      {"configuration fails", &sim::Faults::setConfigFails, 1, true, false, true},
      {"claim fails", &sim::Faults::claimFails, 1, true, true, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    sim::Faults faults;
    if (row.fault != nullptr) faults.*row.fault = true;
    sim::DeviceModel model = WithFaults(faults);
    EXPECT_EQ(model.ListedDevices(0), row.listed);
    EXPECT_EQ(model.Open(0), row.opens);
    EXPECT_EQ(model.SetConfiguration(1), row.configures);
    EXPECT_EQ(model.ClaimInterface(0, 1), row.claims);
  }
  sim::DeviceModel healthy = WithFaults(sim::Faults{});
  EXPECT_FALSE(healthy.SetConfiguration(2)) << "the device has configuration 1 only";
  EXPECT_FALSE(healthy.ClaimInterface(1, 1)) << "the device has interface 0 only";

  sim::Faults faults;
  faults.absent = true;
  sim::DeviceModel absent = WithFaults(faults);
  EXPECT_EQ(absent.ListedDevices(0), 0);
  EXPECT_FALSE(absent.Open(0));
  EXPECT_FALSE(Send(absent, Block(0)));
}

// An unplugged board is gone from its leave time on, mid-exchange too.
TEST(DeviceFaults, BoardLeavesTheBusAtItsLeaveTime) {
  sim::Faults faults;
  faults.leaveAt = 1000;
  sim::DeviceModel model = WithFaults(faults);
  EXPECT_EQ(model.ListedDevices(999), 1);
  EXPECT_TRUE(Send(model, Begin(0x43, 3), 500));
  EXPECT_FALSE(Take(model, 1000)) << "the reply goes with the board";
  EXPECT_EQ(model.ListedDevices(1000), 0);
  EXPECT_FALSE(Send(model, Block(0), 1000));
  EXPECT_EQ(model.ListedDevices(60'000'000), 0) << "for good";
}

// Interface 0 belongs to one handle at a time, as usbfs binds a claim to its
// file: a second handle is refused until the first releases or closes.
TEST(DeviceFaults, InterfaceHeldByOneHandleIsRefusedToAnother) {
  sim::DeviceModel model = WithFaults(sim::Faults{});
  constexpr sim::DeviceModel::HandleId kFirst = 1, kSecond = 2;
  ASSERT_TRUE(model.ClaimInterface(0, kFirst));
  EXPECT_TRUE(model.ClaimInterface(0, kFirst)) << "a claim again by its holder stands";
  EXPECT_FALSE(model.InterfaceFreeFor(kSecond));
  EXPECT_FALSE(model.ClaimInterface(0, kSecond));
  EXPECT_FALSE(model.ReleaseInterface(0, kSecond)) << "only the holder releases";
  EXPECT_TRUE(model.ReleaseInterface(0, kFirst));
  EXPECT_TRUE(model.ClaimInterface(0, kSecond));
  EXPECT_FALSE(model.InterfaceFreeFor(kFirst));
  model.Close(kFirst);
  EXPECT_FALSE(model.InterfaceFreeFor(kFirst)) << "closing another handle frees nothing";
  model.Close(kSecond);
  EXPECT_TRUE(model.ClaimInterface(0, kFirst)) << "closing the holder frees the interface";

  sim::Faults faults;
  faults.beginStatus = 3;
  sim::DeviceModel restarting = WithFaults(faults);
  ASSERT_TRUE(restarting.ClaimInterface(0, kFirst));
  Send(restarting, Begin(0x43, 3));
  ASSERT_TRUE(Take(restarting));
  EXPECT_TRUE(restarting.InterfaceFreeFor(kSecond)) << "a device that left keeps no claim";
}

// What a test reads after a run: how the latest claim of interface 0 ended.
TEST(DeviceFaults, LatestClaimEndSaysWhoLetTheInterfaceGo) {
  constexpr sim::DeviceModel::HandleId kHolder = 1, kOther = 2;
  using End = sim::ClaimEnd;
  struct Case {
    const char* steps;  // c claim, r release, x close the holder, o close the other, u unplug
    End end;
  };
  for (const Case& c : {Case{"", End::NeverClaimed}, Case{"o", End::NeverClaimed},
                        Case{"c", End::Held}, Case{"co", End::Held}, Case{"cr", End::Released},
                        Case{"crx", End::Released}, Case{"cx", End::Closed},
                        Case{"crcx", End::Closed}, Case{"cu", End::LeftTheBus},
                        Case{"cru", End::Released}}) {
    sim::DeviceModel model = WithFaults(sim::Faults{});
    for (const char* step = c.steps; *step != '\0'; ++step) {
      if (*step == 'c') model.ClaimInterface(0, kHolder);
      if (*step == 'r') model.ReleaseInterface(0, kHolder);
      if (*step == 'x') model.Close(kHolder);
      if (*step == 'o') model.Close(kOther);
      if (*step == 'u') model.Unplug();
    }
    EXPECT_EQ(model.LatestClaimEnd(), c.end) << c.steps;
  }
}

// A board pulled out on command is gone for good, as at its leave time.
TEST(DeviceFaults, UnpluggedBoardIsGoneForGood) {
  sim::DeviceModel model = WithFaults(sim::Faults{});
  EXPECT_FALSE(model.GoneForGood(0));
  model.Unplug();
  EXPECT_TRUE(model.GoneForGood(0));
  EXPECT_EQ(model.ListedDevices(60'000'000), 0);
  sim::Faults faults;
  faults.leaveAt = 1000;
  const sim::DeviceModel leaving = WithFaults(faults);
  EXPECT_FALSE(leaving.GoneForGood(999));
  EXPECT_TRUE(leaving.GoneForGood(1000));
}

TEST(DeviceFaultOptions, EachOptionSetsItsFault) {
  sim::Faults f;
  std::string error;
  for (const char* option :
       {"--absent", "--no-busses", "--two-devices", "--open-fails", "--set-config-fails",
        "--claim-fails", "--silent=4:3", "--wrong-echo=5", "--damaged=6", "--stale-code=7",
        "--begin-status=3", "--restart-ms=1500", "--never-back", "--unplug-after=9",
        "--latency-ms=2", "--leave-ms=40", "--unwritable-for-ms=700",
        "--reboot-after-end-ms=900", "--sysfs-lag-ms=250"}) {
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
  EXPECT_EQ(f.leaveAt, 40'000);
  EXPECT_EQ(f.unwritableFor, 700'000);
  EXPECT_EQ(f.rebootAfterEnd, 900'000);
  EXPECT_EQ(f.sysfsLag, 250'000);
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
