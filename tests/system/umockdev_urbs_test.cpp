// The URBs of one handle against the real device model: what a reap hands
// back, when, and with which status. Time is the model's, passed in.
#include "sim/umockdev_urbs.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <vector>

#include "link/command_frames.h"

namespace {

using sim::DeviceModel;
using sim::Faults;
using sim::Micros;
using sim::ReapedUrb;

constexpr std::uint64_t kOutUrb = 0x7F0000001000;
constexpr std::uint64_t kInUrb = 0x7F0000002000;
constexpr std::uint64_t kSecondInUrb = 0x7F0000003000;

std::vector<std::uint8_t> BeginFrame() {
  std::array<std::uint8_t, 64> frame{};
  const std::uint16_t length = BuildBeginFrame(frame, kCmdBegin, 3);
  return {frame.begin(), frame.begin() + length};
}

class UrbQueueTest : public ::testing::Test {
 protected:
  explicit UrbQueueTest(Faults faults = {}) : model_(faults, "") {}

  bool Present(Micros now) const { return model_.Present(now); }
  int SendBegin(Micros now) {
    const std::vector<std::uint8_t> frame = BeginFrame();
    return urbs_.SubmitOut(&model_, Present(now), kOutUrb, sim::kCommandEndpoint, frame.data(),
                           frame.size(), now);
  }
  int SubmitRead(std::uint64_t address, Micros now, int length = sim::kReportSize) {
    return urbs_.SubmitIn(Present(now), address, sim::kReportEndpoint, length);
  }
  int Reap(Micros now) { return urbs_.Reap(&model_, Present(now), now, reaped_); }

  DeviceModel model_;
  sim::UrbQueue urbs_;
  ReapedUrb reaped_;
};

TEST_F(UrbQueueTest, FrameGoesToTheDeviceAndItsUrbCompletesAtOnce) {
  ASSERT_EQ(SendBegin(0), 0);
  EXPECT_EQ(model_.GetSummary().frames, 1);
  ASSERT_EQ(Reap(0), 0);
  EXPECT_EQ(reaped_.clientAddress, kOutUrb);
  EXPECT_EQ(reaped_.status, 0);
  EXPECT_EQ(reaped_.actualLength, static_cast<int>(BeginFrame().size()));
  EXPECT_EQ(Reap(0), -EAGAIN);
}

TEST_F(UrbQueueTest, ReadUrbWaitsUntilTheReplyThenCarriesIt) {
  ASSERT_EQ(SubmitRead(kInUrb, 0), 0);
  EXPECT_EQ(Reap(0), -EAGAIN);
  EXPECT_EQ(urbs_.Pending(), 1u);

  ASSERT_EQ(SendBegin(5), 0);
  ASSERT_EQ(Reap(5), 0);
  EXPECT_EQ(reaped_.clientAddress, kOutUrb);  // completions come back in order
  ASSERT_EQ(Reap(5), 0);
  EXPECT_EQ(reaped_.clientAddress, kInUrb);
  EXPECT_EQ(reaped_.status, 0);
  ASSERT_EQ(reaped_.actualLength, sim::kReportSize);
  EXPECT_EQ(reaped_.data[0], 0xA5);
  EXPECT_EQ(reaped_.data[1], 0x80);
  EXPECT_EQ(reaped_.data[2], 0x43);
  EXPECT_EQ(reaped_.data[8], 4);  // ready
  EXPECT_EQ(urbs_.Pending(), 0u);
}

TEST_F(UrbQueueTest, DiscardedReadComesBackEmptyAndTheLateReplyGoesToTheNextRead) {
  ASSERT_EQ(SubmitRead(kInUrb, 0), 0);
  ASSERT_EQ(urbs_.Discard(kInUrb), 0);
  EXPECT_EQ(urbs_.Discard(kInUrb), -EINVAL);  // nothing left to unlink
  ASSERT_EQ(Reap(0), 0);
  EXPECT_EQ(reaped_.clientAddress, kInUrb);
  EXPECT_EQ(reaped_.status, -ENOENT);
  EXPECT_EQ(reaped_.actualLength, 0);

  ASSERT_EQ(SendBegin(10), 0);
  ASSERT_EQ(Reap(10), 0);  // the frame's URB
  EXPECT_EQ(Reap(10), -EAGAIN);
  ASSERT_EQ(SubmitRead(kSecondInUrb, 20), 0);
  ASSERT_EQ(Reap(20), 0);
  EXPECT_EQ(reaped_.clientAddress, kSecondInUrb);
  EXPECT_EQ(reaped_.actualLength, sim::kReportSize);
}

TEST_F(UrbQueueTest, WrongEndpointsAreRefusedAndReachNothing) {
  const std::vector<std::uint8_t> frame = BeginFrame();
  EXPECT_EQ(urbs_.SubmitOut(&model_, true, kOutUrb, 0x01, frame.data(), frame.size(), 0), -ENOENT);
  EXPECT_EQ(urbs_.SubmitIn(true, kInUrb, 0x82, sim::kReportSize), -ENOENT);
  EXPECT_EQ(model_.GetSummary().frames, 0);
  EXPECT_EQ(Reap(0), -EAGAIN);
}

TEST_F(UrbQueueTest, ReportLargerThanTheReadBufferIsCutAndFlagged) {
  ASSERT_EQ(SubmitRead(kInUrb, 0, 8), 0);
  ASSERT_EQ(SendBegin(0), 0);
  ASSERT_EQ(Reap(0), 0);
  ASSERT_EQ(Reap(0), 0);
  EXPECT_EQ(reaped_.clientAddress, kInUrb);
  EXPECT_EQ(reaped_.status, -EOVERFLOW);
  EXPECT_EQ(reaped_.actualLength, 8);
}

TEST_F(UrbQueueTest, SilentDeviceTakesFramesAndNeverAnswers) {
  const std::vector<std::uint8_t> frame = BeginFrame();
  ASSERT_EQ(urbs_.SubmitIn(true, kInUrb, sim::kReportEndpoint, sim::kReportSize), 0);
  ASSERT_EQ(urbs_.SubmitOut(nullptr, true, kOutUrb, sim::kCommandEndpoint, frame.data(),
                            frame.size(), 0),
            0);
  ASSERT_EQ(urbs_.Reap(nullptr, true, 0, reaped_), 0);
  EXPECT_EQ(reaped_.clientAddress, kOutUrb);
  EXPECT_EQ(urbs_.Reap(nullptr, true, 1'000'000, reaped_), -EAGAIN);
  EXPECT_EQ(model_.GetSummary().frames, 0);
}

class UrbQueueWithLatencyTest : public UrbQueueTest {
 protected:
  UrbQueueWithLatencyTest() : UrbQueueTest(Faults{.replyLatency = 30'000}) {}
};

TEST_F(UrbQueueWithLatencyTest, ReplyIsHandedOverOnlyOnceReady) {
  ASSERT_EQ(SubmitRead(kInUrb, 0), 0);
  ASSERT_EQ(SendBegin(0), 0);
  ASSERT_EQ(Reap(0), 0);  // the frame's URB
  EXPECT_EQ(Reap(29'999), -EAGAIN);
  ASSERT_EQ(Reap(30'000), 0);
  EXPECT_EQ(reaped_.clientAddress, kInUrb);
}

class UrbQueueAbsentTest : public UrbQueueTest {
 protected:
  UrbQueueAbsentTest() : UrbQueueTest(Faults{.absent = true}) {}
};

TEST_F(UrbQueueAbsentTest, DeviceOffTheBusFailsEveryTransfer) {
  EXPECT_EQ(SendBegin(0), -ENODEV);
  EXPECT_EQ(SubmitRead(kInUrb, 0), -ENODEV);
  EXPECT_EQ(Reap(0), -ENODEV);
  EXPECT_EQ(model_.GetSummary().frames, 0);
}

class UrbQueueUnplugTest : public UrbQueueTest {
 protected:
  UrbQueueUnplugTest() : UrbQueueTest(Faults{.unplugAfterFrames = 1}) {}
};

TEST_F(UrbQueueUnplugTest, ReadsStillQueuedWhenTheDeviceLeavesAreFlushed) {
  ASSERT_EQ(SubmitRead(kInUrb, 0), 0);
  ASSERT_EQ(SubmitRead(kSecondInUrb, 0), 0);
  ASSERT_EQ(SendBegin(0), 0);
  ASSERT_EQ(Reap(0), 0);  // the frame's URB
  ASSERT_EQ(Reap(0), 0);  // the reply; the device leaves once it is read
  EXPECT_EQ(reaped_.clientAddress, kInUrb);
  EXPECT_FALSE(Present(1));

  ASSERT_EQ(Reap(1), 0);
  EXPECT_EQ(reaped_.clientAddress, kSecondInUrb);
  EXPECT_EQ(reaped_.status, -ESHUTDOWN);
  EXPECT_EQ(reaped_.actualLength, 0);
  EXPECT_EQ(Reap(1), -ENODEV);
  EXPECT_EQ(SubmitRead(kInUrb, 1), -ENODEV);
}

}  // namespace
