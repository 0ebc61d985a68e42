// The link's state table against the in-process emulated device: every
// failure row with its exact box and the state it leaves, and which libusb
// calls each operation makes.
#include "link/usb_link.h"

#include <usb.h>

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "record/transfer_context.h"
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
    ResetLink();
  }
  static void ResetLink() {
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
    const Shown box = messages_.shown[0];
    messages_.shown.clear();
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.title, ApplicationTitle());
    EXPECT_FALSE(box.title.empty());
    EXPECT_EQ(box.icon, MessageIcon::Warning);
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

TEST_F(UsbLink, FindOpenReuseAndCloseMakeOnlyTheCallsTheyNeed) {
  sim::Faults faults;
  faults.twoDevices = true;
  Install(faults);
  const sim::UsbCalls& calls = sim::RecordedCalls();
  EXPECT_TRUE(FindDevice());
  EXPECT_EQ(g_transfer.deviceFound, 1);
  // Of two matching devices the last in walk order is taken. After it sit one
  // with the vendor only and one with the product only: neither may be taken.
  EXPECT_EQ(FoundName(), "001/003");
  EXPECT_EQ(calls.open, 0) << "finding opens nothing";

  ASSERT_TRUE(OpenDevice());
  EXPECT_EQ(g_transfer.interfaceClaimed, 1);
  EXPECT_EQ(calls.lastOpened, "001/003");
  EXPECT_EQ(calls.lastConfiguration, 1);
  EXPECT_EQ(calls.lastInterface, 0);
  usb_dev_handle* handle = g_transfer.m_dev;

  // The engine scans again at the next download; the open handle is reused.
  ASSERT_TRUE(FindDevice());
  EXPECT_TRUE(OpenDevice());
  EXPECT_EQ(g_transfer.m_dev, handle);
  EXPECT_EQ((std::array{calls.init, calls.findBusses, calls.findDevices, calls.getBusses}),
            (std::array{2, 2, 2, 2}));
  EXPECT_EQ((std::array{calls.open, calls.setConfiguration, calls.claimInterface}),
            (std::array{1, 1, 1}));

  CloseDevice();
  EXPECT_EQ(g_transfer.deviceFound, 0);
  ExpectClosed();
  EXPECT_EQ(calls.releaseInterface, 1);
  EXPECT_EQ(calls.close, 1);
  EXPECT_EQ(calls.badHandleCalls, 0);
  EXPECT_TRUE(messages_.shown.empty());
}

struct FailureRow {
  const char* name;
  bool sim::Faults::*fault;
  const char* box;
  bool found;                         // the scan succeeds and the open fails
  int deviceFound, closes, releases;  // afterwards
};

const FailureRow kFailures[] = {
    {"no device", &sim::Faults::absent, "Device NOT found!", false, 0, 0, 0},
    {"no usb file system", &sim::Faults::noBusses, "Device NOT found!", false, 0, 0, 0},
    {"open fails", &sim::Faults::openFails, "Could not open m_dev\n", true, 1, 0, 0},
    {"configuration fails", &sim::Faults::setConfigFails, "Could not set configuration\n", true, 1,
     1, 0},
    {"claim fails", &sim::Faults::claimFails,
     "USB device interface is occupied by other software, please check it!\n", true, 0, 1, 1},
};

TEST_F(UsbLink, EveryFailureShowsItsBoxAndLeavesTheLinkClosedForAFreshStart) {
  for (const FailureRow& row : kFailures) {
    SCOPED_TRACE(row.name);
    ResetLink();
    sim::Faults faults;
    faults.*row.fault = true;
    Install(faults);
    g_transfer.deviceFound = 1;  // left from an earlier download
    EXPECT_EQ(FindDevice(), row.found);
    if (row.found) {
      EXPECT_FALSE(OpenDevice());
    }
    ExpectOnlyBox(row.box);
    ExpectClosed();
    EXPECT_EQ(g_transfer.deviceFound, row.deviceFound);
    EXPECT_EQ(g_transfer.foundDevice == nullptr, !row.found);
    const sim::UsbCalls& calls = sim::RecordedCalls();
    EXPECT_EQ(calls.close, row.closes);
    EXPECT_EQ(calls.releaseInterface, row.releases);

    // Nothing is left to release or close, and the next download opens afresh.
    CloseDevice();
    EXPECT_EQ(calls.close, row.closes);
    EXPECT_EQ(calls.releaseInterface, row.releases);
    if (row.found) {
      ASSERT_TRUE(FindDevice());
      EXPECT_FALSE(OpenDevice());
      EXPECT_EQ(calls.open, 2);
      messages_.shown.clear();
    }
    EXPECT_EQ(calls.badHandleCalls, 0);
  }
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
  EXPECT_EQ(g_transfer.interfaceClaimed, 1);
  EXPECT_EQ(calls.openHandles, 1);
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
  EXPECT_LT(ReadReply(), 0) << "gone: the read fails";
  CloseDevice();

  EXPECT_FALSE(FindDevice());
  ExpectOnlyBox("Device NOT found!");
  EXPECT_EQ(g_transfer.foundDevice, nullptr);
}

// libusb 0.1 leaves open()'s errno: EACCES there is a permission refusal as
// EPERM is, any other cause is not.
TEST_F(UsbLink, AnOpenRefusedWithEaccesOrEpermIsForLackOfPermission) {
  for (const int error : {EACCES, EPERM, EIO}) {
    Install({.openFails = true});
    ASSERT_TRUE(FindDevice());
    errno = error;  // the in-process usb_open fails without touching errno
    EXPECT_FALSE(OpenDevice());
    EXPECT_EQ(LastOpenRefusedForPermission(), error != EIO) << error;
    messages_.shown.clear();
  }
}
