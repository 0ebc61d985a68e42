// The two halves of the wire format meet: frames from the host's senders are
// accepted and placed by the emulated device, and its reports pass the host's
// check for exactly the code the sender armed.
#include <usb.h>

#include <gtest/gtest.h>

#include <memory>

#include "engine/transfer_context.h"
#include "link/command_frames.h"
#include "link/reply_frames.h"
#include "sim/inprocess_usb.h"
#include "tests/sim/wire_frames.h"

namespace {

class HostContract : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::InstallInProcessDevice(&model_, &clock_);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    g_transfer.m_dev = usb_open(usb_get_busses()->devices);
    ASSERT_NE(g_transfer.m_dev, nullptr);
    g_transfer.altCodeSet = 0;
    g_transfer.headerByte108 = 0;
    g_transfer.blockIndex = 0;
  }
  void TearDown() override {
    usb_close(g_transfer.m_dev);
    g_transfer.m_dev = nullptr;
    sim::InstallInProcessDevice(nullptr, nullptr);
  }

  // Reads the reply to the command just sent; true when the host accepts it.
  bool Answered() {
    if (ReadReply() != 64) return false;
    return CheckReply();
  }

  void LoadImage(const simtest::Bytes& image) {
    std::copy(image.begin(), image.end(), g_transfer.fileBuffer);
    g_transfer.fileLength = static_cast<std::uint32_t>(image.size());
  }

  sim::VirtualClock clock_;
  sim::DeviceModel model_{sim::Faults{}, ""};
};

}  // namespace

TEST_F(HostContract, EveryCommandIsAcceptedAndAnsweredForItsOwnCode) {
  SendConnect();
  EXPECT_TRUE(Answered()) << model_.LastRejection();
  SendDatabasePrepare();
  EXPECT_TRUE(Answered()) << model_.LastRejection();
  SendBegin(true, 2);
  EXPECT_TRUE(Answered()) << model_.LastRejection();
  EXPECT_EQ(ReplyStatus(), 4);
  g_transfer.altCodeSet = 1;
  SendEnd();
  EXPECT_TRUE(Answered()) << model_.LastRejection();
  EXPECT_EQ(model_.GetSummary().rejectedFrames, 0);
  EXPECT_EQ(model_.GetSummary().commandsSeen.count(0x49), 1u);
  EXPECT_EQ(model_.GetSummary().commandsSeen.count(0x4A), 1u);

  // A report for one command is no reply to another.
  SendConnect();
  ASSERT_EQ(ReadReply(), 64);
  g_transfer.expectedReply = 0x8014;
  EXPECT_FALSE(CheckReply());
}

TEST_F(HostContract, ABootImageSentInChunksArrivesWhole) {
  const simtest::Bytes image = simtest::Pattern(100, 40);
  LoadImage(image);
  SendBegin(false, 3);
  ASSERT_TRUE(Answered());
  for (g_transfer.blockIndex = 0; g_transfer.blockIndex < 3; ++g_transfer.blockIndex) {
    SendChunk(3, 44, g_transfer.fileBuffer, g_transfer.fileLength);
    ASSERT_TRUE(Answered()) << model_.LastRejection();
    EXPECT_EQ(ReplyEcho(), g_transfer.blockIndex);
  }
  SendEnd();
  ASSERT_TRUE(Answered());
  EXPECT_EQ(model_.Images().at("boot"), image);
}

TEST_F(HostContract, DataBlocksAndShortBlocksArriveWhole) {
  const simtest::Bytes font = simtest::Pattern(5000, 3);
  LoadImage(font);
  g_transfer.itemCommand = 0x12;
  for (g_transfer.blockIndex = 0; g_transfer.blockIndex < 3; ++g_transfer.blockIndex) {
    SendDataBlock(g_transfer.fileBuffer, g_transfer.fileLength);
    ASSERT_TRUE(Answered()) << model_.LastRejection();
  }
  EXPECT_EQ(model_.Images().at("font"), font);

  const simtest::Bytes rcdb = simtest::Pattern(106, 9);
  LoadImage(rcdb);
  g_transfer.itemCommand = 0x11;
  for (g_transfer.blockIndex = 0; g_transfer.blockIndex < 2; ++g_transfer.blockIndex) {
    SendShortBlock(g_transfer.fileBuffer, g_transfer.fileLength);
    ASSERT_TRUE(Answered()) << model_.LastRejection();
    EXPECT_EQ(ReplyEcho(), g_transfer.blockIndex);
  }
  EXPECT_EQ(model_.Images().at("rcdb"), rcdb);
}

TEST_F(HostContract, TestDataArrivesCutToItsLength) {
  const simtest::Bytes data = simtest::Pattern(120, 77);
  SendTestDataHead(data.data(), static_cast<std::uint16_t>(data.size()));
  ASSERT_TRUE(Answered()) << model_.LastRejection();
  for (g_transfer.blockIndex = 0; g_transfer.blockIndex < 3; ++g_transfer.blockIndex) {
    SendTestDataChunk(data.data(), static_cast<std::uint16_t>(data.size()));
    ASSERT_TRUE(Answered()) << model_.LastRejection();
  }
  EXPECT_EQ(model_.Images().at("tdb"), data);
}
