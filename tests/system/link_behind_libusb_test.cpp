// The device link on Debian's real libusb 0.1, against the emulated device
// behind umockdev. Each test expects the device fault named in its ctest entry
// (tests/system/CMakeLists.txt runs every test alone under tamsolt-sim-run);
// run by hand:  tamsolt-sim-run --absent -- tamsolt_link_system_tests
//                 --gtest_filter='*AbsentDevice*'
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <usb.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/operator_messages.h"
#include "link/reply_frames.h"
#include "link/usb_link.h"

namespace {

using namespace std::chrono_literals;

constexpr std::uint8_t kBootLoaderTarget = 3;
constexpr int kPollsPerReply = 10;

class RecordedMessages : public OperatorMessages {
 public:
  void ShowMessage(const std::string& text, const std::string&, MessageIcon) override {
    texts.push_back(text);
  }
  void ShowPermissionHint(const std::string& text) override { hints.push_back(text); }
  std::vector<std::string> texts;
  std::vector<std::string> hints;
};

class LinkBehindLibusb : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(std::getenv("UMOCKDEV_DIR"), nullptr) << "run this test under tamsolt-sim-run";
    SetOperatorMessages(&messages_);
  }
  void TearDown() override {
    CloseDevice();
    SetOperatorMessages(nullptr);
  }

  // Reads until the reply to the command last sent is accepted, as the engine
  // polls; false when it never comes.
  static bool AwaitReply() {
    for (int poll = 0; poll < kPollsPerReply; ++poll) {
      ReadReply();
      if (CheckReply()) return true;
    }
    return false;
  }

  // Begins an exchange; the begin status, or -1 without a reply.
  static int BeginStatus() {
    SendBegin(false, kBootLoaderTarget);
    return AwaitReply() ? ReplyStatus() : -1;
  }

  // Scans until the scan's outcome is wanted; the bus follows the device
  // within milliseconds, the limit only stops a broken run.
  static bool ScanUntil(bool wanted, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (FindDevice() != wanted) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(5ms);
    }
    return true;
  }

  static int MatchingDevicesListed() {
    int count = 0;
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
      for (struct usb_device* d = bus->devices; d != nullptr; d = d->next) {
        count += d->descriptor.idVendor == kDeviceVendorId &&
                 d->descriptor.idProduct == kDeviceProductId;
      }
    }
    return count;
  }

  void ExpectOnlyMessage(const char* text) const {
    ASSERT_EQ(messages_.texts.size(), 1u);
    EXPECT_EQ(messages_.texts[0], text);
  }

  static void ExpectLinkClosed() {
    EXPECT_EQ(g_transfer.m_dev, nullptr);
    EXPECT_EQ(g_transfer.interfaceClaimed, 0);
    EXPECT_EQ(g_transfer.deviceFound, 0);
  }

  RecordedMessages messages_;
};

// --- no fault ---------------------------------------------------------------

TEST_F(LinkBehindLibusb, BeginIsAnsweredReadyAndASilentReadTimesOut) {
  ASSERT_TRUE(FindDevice());
  ASSERT_NE(g_transfer.foundDevice, nullptr);
  EXPECT_EQ(g_transfer.foundDevice->descriptor.idVendor, kDeviceVendorId);
  EXPECT_EQ(g_transfer.foundDevice->descriptor.idProduct, kDeviceProductId);
  ASSERT_TRUE(OpenDevice());
  EXPECT_NE(g_transfer.m_dev, nullptr);
  EXPECT_EQ(g_transfer.interfaceClaimed, 1);

  SendBegin(false, kBootLoaderTarget);
  EXPECT_EQ(g_transfer.expectedReply, 0x8043);
  ASSERT_EQ(ReadReply(), 64);
  ASSERT_TRUE(CheckReply());
  EXPECT_EQ(ReplyStatus(), kBeginStatusReady);

  // Nothing was sent since: the read waits out its 20 ms and fails.
  EXPECT_LT(ReadReply(), 0);
  EXPECT_FALSE(CheckReply());

  // The time-out left no URB behind: the next exchange is answered as usual.
  EXPECT_EQ(BeginStatus(), kBeginStatusReady);

  CloseDevice();
  ExpectLinkClosed();
  EXPECT_TRUE(messages_.texts.empty());
}

TEST_F(LinkBehindLibusb, LargestFrameArrivesWholeAndIsStoredAtTheEnd) {
  const char* outputDir = std::getenv("TAMSOLT_RECEIVED_DIR");
  ASSERT_NE(outputDir, nullptr) << "the ctest entry names the runner's --out folder";
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  ASSERT_EQ(BeginStatus(), kBeginStatusReady);

  // One whole data block: a 2071-byte frame in one bulk write.
  std::vector<std::uint8_t> image(kDataBlock);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 1);
  g_transfer.itemCommand = 0x22;  // the language pack's data code
  g_transfer.blockIndex = 0;
  SendDataBlock(image.data(), static_cast<std::uint32_t>(image.size()));
  ASSERT_TRUE(AwaitReply());
  EXPECT_EQ(ReplyEcho(), 0);

  SendEnd();
  ASSERT_TRUE(AwaitReply());
  std::ifstream stored(std::string(outputDir) + "/lang.bin", std::ios::binary);
  ASSERT_TRUE(stored) << "the device wrote no lang.bin into " << outputDir;
  const std::vector<std::uint8_t> received((std::istreambuf_iterator<char>(stored)),
                                           std::istreambuf_iterator<char>());
  EXPECT_EQ(received, image);
}

// A second handle on the device, as a second program holds one, is refused
// what the link's handle holds (EBUSY, as usbfs answers), and gets it once the
// link has let go: by a release, or by closing without one.
TEST_F(LinkBehindLibusb, InterfaceHeldByTheLinkIsBusyForASecondHandle) {
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  usb_dev_handle* second = usb_open(g_transfer.foundDevice);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(usb_set_configuration(second, 1), -EBUSY);
  EXPECT_EQ(usb_claim_interface(second, 0), -EBUSY);
  char frame[64] = {};
  EXPECT_EQ(usb_bulk_write(second, 0x02, frame, sizeof frame, 100), -EBUSY);
  EXPECT_EQ(BeginStatus(), kBeginStatusReady) << "the link's exchange goes on";

  CloseDevice();
  ASSERT_EQ(usb_claim_interface(second, 0), 0) << "released by the link";
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice()) << "now the link is the second";
  usb_close(second);  // without a release: the device sees the file close a moment later
  ASSERT_TRUE(ScanUntil(true, 100ms));
  const auto end = std::chrono::steady_clock::now() + 2000ms;
  while (!OpenDevice() && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
  EXPECT_EQ(g_transfer.interfaceClaimed, 1) << "a closed handle still holds the interface";
}

// --- --unwritable-for-ms=1500 -----------------------------------------------

// udev applies the rule a moment after the node appears: a handle opened
// before is a read-only one and stays refused; one opened after works.
TEST_F(LinkBehindLibusb, NodeWritableOnlyAfterAMomentRefusesAnEarlyHandleOnly) {
  ASSERT_TRUE(FindDevice());
  const std::string node = std::string("/dev/bus/usb/") + g_transfer.foundDevice->bus->dirname +
                           "/" + g_transfer.foundDevice->filename;
  struct stat status {};
  ASSERT_EQ(::stat(node.c_str(), &status), 0) << node;
  ASSERT_EQ(status.st_mode & 0777, 0444u) << "started after the node's read-only moment";
  EXPECT_FALSE(OpenDevice());
  EXPECT_EQ(messages_.hints, std::vector<std::string>{kTextPermissionHint});

  const auto end = std::chrono::steady_clock::now() + 5000ms;
  while (::stat(node.c_str(), &status) == 0 && (status.st_mode & 0777) == 0444 &&
         std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(5ms);
  }
  EXPECT_EQ(status.st_mode & 0777, 0644u) << "the rule never came";
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  EXPECT_EQ(BeginStatus(), kBeginStatusReady);
}

// --- --silent=0:1 -----------------------------------------------------------

TEST_F(LinkBehindLibusb, ResentBeginIsAnsweredAfterASilentOne) {
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  EXPECT_EQ(BeginStatus(), -1);
  EXPECT_EQ(BeginStatus(), kBeginStatusReady);
}

// --- --unplug-after=1 -------------------------------------------------------

TEST_F(LinkBehindLibusb, DeviceUnpluggedBetweenTwoScansIsNotFound) {
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  ASSERT_EQ(BeginStatus(), kBeginStatusReady);  // the device leaves once this is read
  CloseDevice();

  ASSERT_TRUE(ScanUntil(false, 2000ms));
  ASSERT_FALSE(messages_.texts.empty());
  EXPECT_EQ(messages_.texts.back(), kTextDeviceNotFound);
  EXPECT_EQ(g_transfer.foundDevice, nullptr);
  EXPECT_EQ(g_transfer.deviceFound, 0);
}

// --- --begin-status=3 --restart-ms=1000 -------------------------------------

TEST_F(LinkBehindLibusb, RestartingDeviceLeavesTheBusAndAnswersReadyOnItsReturn) {
  ASSERT_TRUE(FindDevice());
  ASSERT_TRUE(OpenDevice());
  ASSERT_EQ(BeginStatus(), kBeginStatusRestart);

  ASSERT_TRUE(ScanUntil(false, 2000ms)) << "the device did not leave the bus";
  ASSERT_TRUE(ScanUntil(true, 5000ms)) << "the device did not come back";
  // As the engine does: the link still counts as open and is reused.
  ASSERT_TRUE(OpenDevice());
  EXPECT_EQ(BeginStatus(), kBeginStatusReady);
}

// --- --absent / --no-busses -------------------------------------------------

TEST_F(LinkBehindLibusb, AbsentDeviceIsNotFound) {
  EXPECT_FALSE(FindDevice());
  ExpectOnlyMessage(kTextDeviceNotFound);
  EXPECT_EQ(g_transfer.foundDevice, nullptr);
  EXPECT_EQ(g_transfer.deviceFound, 0);
}

// --- --two-devices ----------------------------------------------------------

TEST_F(LinkBehindLibusb, LastOfTwoMatchingDevicesIsTheOneThatAnswers) {
  ASSERT_TRUE(FindDevice());
  EXPECT_EQ(MatchingDevicesListed(), 2);
  ASSERT_TRUE(OpenDevice());
  EXPECT_EQ(BeginStatus(), kBeginStatusReady);
}

// --- open failures ----------------------------------------------------------

TEST_F(LinkBehindLibusb, OccupiedInterfaceIsReportedAndLeavesTheLinkClosed) {
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyMessage(kTextInterfaceOccupied);
  EXPECT_TRUE(messages_.hints.empty()) << "the node is writable: the box is right as it is";
  ExpectLinkClosed();
}

// Without the udev rule: libusb falls back to a read-only handle, usbfs refuses
// its configuration, and the hint names the missing rule beside the usual box.
// (Runs as an ordinary user: root may write any node.)
TEST_F(LinkBehindLibusb, UnwritableNodeAddsThePermissionHintBesideTheUsualBox) {
  ASSERT_NE(::geteuid(), 0u) << "root writes any node";
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyMessage(kTextCouldNotSetConfiguration);
  EXPECT_EQ(messages_.hints, std::vector<std::string>{kTextPermissionHint});
  EXPECT_EQ(g_transfer.m_dev, nullptr);
}

TEST_F(LinkBehindLibusb, RefusedConfigurationIsReportedAndLeavesNoHandle) {
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyMessage(kTextCouldNotSetConfiguration);
  EXPECT_EQ(g_transfer.m_dev, nullptr);
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
}

// Debian's libusb 0.1 ignores a failed open() in usb_open and hands out a
// handle without a file; the failure surfaces at the configuration.
TEST_F(LinkBehindLibusb, DeviceThatCannotBeOpenedFailsAtItsConfiguration) {
  ASSERT_TRUE(FindDevice());
  EXPECT_FALSE(OpenDevice());
  ExpectOnlyMessage(kTextCouldNotSetConfiguration);
  EXPECT_EQ(g_transfer.m_dev, nullptr);
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
}

}  // namespace
