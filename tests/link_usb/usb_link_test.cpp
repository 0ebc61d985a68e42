// The link's state table against the in-process emulated device: every
// failure row with its exact box and the state it leaves, and which libusb
// calls each operation makes.
#include "link/usb_link.h"

#include <usb.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/transfer_context.h"
#include "link/command_frames.h"
#include "link/operator_messages.h"
#include "link/reply_frames.h"
#include "sim/inprocess_usb.h"

namespace {

struct Shown {
  std::string text, title;
  MessageIcon icon;
};

class RecordingMessages : public OperatorMessages {
 public:
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    shown.push_back({text, title, icon});
  }
  std::vector<Shown> shown;
};

class UsbLink : public ::testing::Test {
 protected:
  void SetUp() override {
    SetOperatorMessages(&messages_);
    g_transfer.m_dev = nullptr;
    g_transfer.deviceFound = 0;
    g_transfer.interfaceClaimed = 0;
    g_transfer.foundDevice = nullptr;
  }
  void TearDown() override {
    SetOperatorMessages(nullptr);
    sim::InstallInProcessDevice(nullptr, nullptr);
  }

  void Install(const sim::Faults& faults) {
    model_ = std::make_unique<sim::DeviceModel>(faults, "");
    sim::InstallInProcessDevice(model_.get(), &clock_);
  }

  // The one box shown since the last call, which must carry text.
  void ExpectOnlyBox(const std::string& text) {
    ASSERT_EQ(messages_.shown.size(), 1u);
    EXPECT_EQ(messages_.shown[0].text, text);
    EXPECT_EQ(messages_.shown[0].title, ApplicationTitle());
    EXPECT_FALSE(messages_.shown[0].title.empty());
    EXPECT_EQ(messages_.shown[0].icon, MessageIcon::Warning);
    messages_.shown.clear();
  }

  void ExpectClosed() {
    EXPECT_EQ(g_transfer.m_dev, nullptr);
    EXPECT_EQ(g_transfer.interfaceClaimed, 0);
    EXPECT_EQ(sim::RecordedCalls().openHandles, 0);
  }

  static std::string FoundName() {
    const struct usb_device* d = g_transfer.foundDevice;
    return d == nullptr ? "" : std::string(d->bus->dirname) + "/" + d->filename;
  }

  RecordingMessages messages_;
  sim::VirtualClock clock_;
  std::unique_ptr<sim::DeviceModel> model_;
};

}  // namespace

TEST_F(UsbLink, FindsTheDeviceByVendorAndProductRescanningEveryTime) {
  Install({});
  EXPECT_TRUE(FindDevice());
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_EQ(g_transfer.deviceFound, 1);
  // Later in walk order than the device sit one with its vendor only and one
  // with its product only: neither may be taken.
  EXPECT_EQ(FoundName(), "001/003");
  EXPECT_TRUE(FindDevice());
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.init, 2);
  EXPECT_EQ(calls.findBusses, 2);
  EXPECT_EQ(calls.findDevices, 2);
  EXPECT_EQ(calls.getBusses, 2);
  EXPECT_EQ(calls.open, 0) << "finding opens nothing";
}

TEST_F(UsbLink, NoDeviceOnAnyBus) {
  sim::Faults faults;
  faults.absent = true;
  Install(faults);
  g_transfer.deviceFound = 1;
  EXPECT_FALSE(FindDevice());
  ExpectOnlyBox("Device NOT found!");
  EXPECT_EQ(g_transfer.deviceFound, 0);
  EXPECT_EQ(g_transfer.foundDevice, nullptr);
}

TEST_F(UsbLink, NoUsbFileSystemMeansNoDevice) {
  sim::Faults faults;
  faults.noBusses = true;
  Install(faults);
  EXPECT_FALSE(FindDevice());
  ExpectOnlyBox("Device NOT found!");
  EXPECT_EQ(g_transfer.foundDevice, nullptr);
}

TEST_F(UsbLink, OfTwoMatchingDevicesTheLastInWalkOrderIsOpened) {
  sim::Faults faults;
  faults.twoDevices = true;
  Install(faults);
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  EXPECT_EQ(sim::RecordedCalls().lastOpened, "001/003");
}

TEST_F(UsbLink, OpensWithConfigurationOneAndInterfaceZero) {
  Install({});
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  EXPECT_TRUE(messages_.shown.empty());
  EXPECT_NE(g_transfer.m_dev, nullptr);
  EXPECT_EQ(g_transfer.interfaceClaimed, 1);
  EXPECT_EQ(g_transfer.deviceFound, 1);
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.open, 1);
  EXPECT_EQ(calls.setConfiguration, 1);
  EXPECT_EQ(calls.lastConfiguration, 1);
  EXPECT_EQ(calls.claimInterface, 1);
  EXPECT_EQ(calls.lastInterface, 0);
  EXPECT_EQ(calls.lastOpened, "001/003");
}

TEST_F(UsbLink, AnOpenLinkIsReusedWithoutASecondOpen) {
  Install({});
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  usb_dev_handle* handle = g_transfer.m_dev;
  // The engine scans again at the next download; the open handle is not touched.
  ASSERT_TRUE(FindDevice());
  EXPECT_TRUE(OpenDevice());
  EXPECT_EQ(g_transfer.m_dev, handle);
  EXPECT_EQ(sim::RecordedCalls().open, 1);
  EXPECT_EQ(sim::RecordedCalls().claimInterface, 1);
  EXPECT_EQ(sim::RecordedCalls().close, 0);
}

TEST_F(UsbLink, AHandleLeftByAGivenUpLinkIsReleasedBeforeTheNextOpen) {
  Install({});
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  // A download whose search failed gives the link up but keeps the handle.
  g_transfer.interfaceClaimed = 0;
  ASSERT_TRUE(FindDevice());
  EXPECT_TRUE(OpenDevice());
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.releaseInterface, 1);
  EXPECT_EQ(calls.close, 1) << "the old handle would keep interface 0 claimed";
  EXPECT_EQ(calls.open, 2);
  EXPECT_EQ(g_transfer.deviceFound, 1);
  EXPECT_EQ(g_transfer.interfaceClaimed, 1);
  EXPECT_EQ(calls.openHandles, 1);
}

TEST_F(UsbLink, OpenFailure) {
  sim::Faults faults;
  faults.openFails = true;
  Install(faults);
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyBox("Could not open m_dev\n");
  ExpectClosed();
  EXPECT_EQ(sim::RecordedCalls().setConfiguration, 0);
}

TEST_F(UsbLink, ConfigurationFailureLeavesNoHandleBehind) {
  sim::Faults faults;
  faults.setConfigFails = true;
  Install(faults);
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyBox("Could not set configuration\n");
  ExpectClosed();
  EXPECT_EQ(sim::RecordedCalls().close, 1);
  EXPECT_EQ(sim::RecordedCalls().claimInterface, 0);
  EXPECT_EQ(sim::RecordedCalls().releaseInterface, 0);

  CloseDevice();
  EXPECT_EQ(sim::RecordedCalls().close, 1) << "nothing left to close";
  EXPECT_EQ(sim::RecordedCalls().releaseInterface, 0);
  EXPECT_EQ(sim::RecordedCalls().badHandleCalls, 0);
}

TEST_F(UsbLink, ClaimFailureClosesTheLinkSoTheNextDownloadStartsOver) {
  sim::Faults faults;
  faults.claimFails = true;
  Install(faults);
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyBox("USB device interface is occupied by other software, please check it!\n");
  ExpectClosed();
  EXPECT_EQ(g_transfer.deviceFound, 0);
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.releaseInterface, 1);
  EXPECT_EQ(calls.close, 1);

  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  EXPECT_EQ(calls.open, 2) << "opened afresh, not reused";
  EXPECT_EQ(calls.badHandleCalls, 0);
}

TEST_F(UsbLink, CloseReleasesAndClosesAnOpenLink) {
  Install({});
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  CloseDevice();
  EXPECT_EQ(g_transfer.deviceFound, 0);
  ExpectClosed();
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.releaseInterface, 1);
  EXPECT_EQ(calls.lastInterface, 0);
  EXPECT_EQ(calls.close, 1);
  EXPECT_EQ(calls.badHandleCalls, 0);
}

TEST_F(UsbLink, CloseOnAClosedLinkOnlyClearsTheFlags) {
  Install({});
  g_transfer.deviceFound = 1;
  g_transfer.interfaceClaimed = 1;  // a stale flag without a handle
  CloseDevice();
  EXPECT_EQ(g_transfer.deviceFound, 0);
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.init + calls.findBusses + calls.findDevices + calls.getBusses + calls.open +
                calls.close + calls.setConfiguration + calls.claimInterface +
                calls.releaseInterface + calls.bulkWrite + calls.interruptRead + calls.otherCalls,
            0);
}

TEST_F(UsbLink, UnpluggedBetweenTwoDownloadsIsNotFoundAtTheNextScan) {
  sim::Faults faults;
  faults.unplugAfterFrames = 1;
  Install(faults);
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  // One exchange, then the operator pulls the cable.
  SendConnect();
  ASSERT_EQ(ReadReply(), 64) << model_->LastRejection();
  ASSERT_TRUE(CheckReply());
  EXPECT_LT(ReadReply(), 0) << "gone: the read fails";
  CloseDevice();

  EXPECT_FALSE(FindDevice());
  ExpectOnlyBox("Device NOT found!");
  EXPECT_EQ(g_transfer.foundDevice, nullptr);
}
