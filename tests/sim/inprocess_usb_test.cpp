// The in-process libusb: the bus list it shows, how reads spend virtual time,
// and how a device that leaves the bus looks to a program.
#include <usb.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "sim/inprocess_usb.h"
#include "tests/sim/model_harness.h"

using namespace simtest;

namespace {

class InProcessUsb : public ::testing::Test {
 protected:
  void Install(const sim::Faults& faults) {
    model_ = std::make_unique<sim::DeviceModel>(faults, "");
    sim::InstallInProcessDevice(model_.get(), &clock_);
  }

  // Scans as a program does and lists "bus/device vvvv:pppp" in walk order.
  std::vector<std::string> Scan() {
    usb_init();
    usb_find_busses();
    usb_find_devices();
    std::vector<std::string> listed;
    for (usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
      for (struct usb_device* d = bus->devices; d != nullptr; d = d->next) {
        char ids[16];
        std::snprintf(ids, sizeof ids, " %04x:%04x", d->descriptor.idVendor,
                      d->descriptor.idProduct);
        listed.push_back(std::string(bus->dirname) + "/" + d->filename + ids);
        EXPECT_EQ(d->bus, bus);
        EXPECT_EQ(d->config->bConfigurationValue, 1);
      }
    }
    return listed;
  }

  struct usb_device* Served() {
    Scan();
    for (struct usb_device* d = usb_get_busses()->devices; d != nullptr; d = d->next) {
      if (std::string(d->filename) == "003") return d;
    }
    return nullptr;
  }

  int Write(usb_dev_handle* handle, const Bytes& frame) {
    return usb_bulk_write(handle, 0x02, reinterpret_cast<const char*>(frame.data()),
                          static_cast<int>(frame.size()), 10);
  }

  int Read(usb_dev_handle* handle, Report& report) {
    return usb_interrupt_read(handle, 0x81, reinterpret_cast<char*>(report.data()), 64, 20);
  }

  sim::VirtualClock clock_;
  std::unique_ptr<sim::DeviceModel> model_;
};

}  // namespace

TEST_F(InProcessUsb, ListsTheDeviceAmongOthersTheDecoyBeforeItAndNoBusWithoutAFileSystem) {
  Install({});
  EXPECT_EQ(Scan(), (std::vector<std::string>{"001/003 1206:0227", "001/004 1206:0228",
                                              "002/001 1d6b:0002", "002/005 1207:0227"}));
  sim::Faults two;
  two.twoDevices = true;
  Install(two);
  EXPECT_EQ(Scan().at(0), "001/002 1206:0227");
  EXPECT_EQ(Scan().at(1), "001/003 1206:0227");

  sim::Faults absent;
  absent.absent = true;
  Install(absent);
  EXPECT_EQ(Scan().at(0), "001/004 1206:0228");
  sim::InstallInProcessDevice(nullptr, nullptr);
  EXPECT_EQ(Scan().size(), 3u) << "no model: no device";

  // Without a USB file system the scans fail and there is no bus list.
  sim::Faults noBusses;
  noBusses.noBusses = true;
  Install(noBusses);
  usb_init();
  EXPECT_LT(usb_find_busses(), 0);
  EXPECT_LT(usb_find_devices(), 0);
  EXPECT_EQ(usb_get_busses(), nullptr);
}

TEST_F(InProcessUsb, AReadReturnsAReadyReportAtItsReadyTimeOrTimesOutAfterTheWholeTimeOut) {
  sim::Faults faults;
  faults.replyLatency = 7000;
  Install(faults);
  usb_dev_handle* handle = usb_open(Served());
  ASSERT_NE(handle, nullptr);
  Report report{};
  EXPECT_EQ(Read(handle, report), -110) << "nothing sent yet";
  EXPECT_EQ(clock_.Now(), 20000);

  ASSERT_EQ(Write(handle, Begin(0x43, 3)), 18);
  EXPECT_EQ(clock_.Now(), 20000) << "a write costs no virtual time";
  EXPECT_EQ(Read(handle, report), 64);
  EXPECT_EQ(clock_.Now(), 27000);
  EXPECT_EQ(ReplyCode(report), 0x8043);

  faults.replyLatency = 25000;
  Install(faults);
  handle = usb_open(Served());
  clock_ = sim::VirtualClock{};
  Write(handle, Begin(0x43, 3));
  EXPECT_EQ(Read(handle, report), -110) << "ready only after the time-out";
  EXPECT_EQ(clock_.Now(), 20000);
  EXPECT_EQ(Read(handle, report), 64);
  EXPECT_EQ(clock_.Now(), 25000);
  usb_close(handle);
}

TEST_F(InProcessUsb, RefusesWrongEndpointsShortBuffersAndStaleHandles) {
  Install({});
  usb_dev_handle* handle = usb_open(Served());
  const Bytes frame = Begin(0x43, 3);
  EXPECT_LT(usb_bulk_write(handle, 0x01, reinterpret_cast<const char*>(frame.data()), 18, 10), 0);
  Report report{};
  EXPECT_LT(usb_interrupt_read(handle, 0x82, reinterpret_cast<char*>(report.data()), 64, 20), 0);
  Write(handle, frame);
  char small[16];
  EXPECT_LT(usb_interrupt_read(handle, 0x81, small, 16, 20), 0);
  EXPECT_EQ(model_->GetSummary().frames, 1) << "the write to endpoint 1 never reached the device";

  EXPECT_EQ(usb_close(handle), 0);
  EXPECT_LT(usb_close(handle), 0);
  EXPECT_LT(Write(handle, frame), 0);
  EXPECT_EQ(sim::RecordedCalls().badHandleCalls, 2);
  EXPECT_EQ(sim::RecordedCalls().openHandles, 0);
}

TEST_F(InProcessUsb, TheDecoyTakesFramesButNeverAnswers) {
  sim::Faults faults;
  faults.twoDevices = true;
  Install(faults);
  Scan();
  usb_dev_handle* decoy = usb_open(usb_get_busses()->devices);
  ASSERT_NE(decoy, nullptr);
  EXPECT_EQ(sim::RecordedCalls().lastOpened, "001/002");
  EXPECT_EQ(usb_set_configuration(decoy, 1), 0);
  EXPECT_EQ(usb_claim_interface(decoy, 0), 0);
  EXPECT_EQ(Write(decoy, Begin(0x43, 3)), 18);
  Report report{};
  EXPECT_EQ(Read(decoy, report), -110);
  EXPECT_EQ(model_->GetSummary().frames, 0);
}

TEST_F(InProcessUsb, ARestartingDeviceVanishesFromTheBusAndComesBackOnTheVirtualClock) {
  sim::Faults faults;
  faults.beginStatus = 3;
  faults.restartAbsentFor = 12'000'000;
  Install(faults);
  usb_dev_handle* handle = usb_open(Served());
  Write(handle, Begin(0x43, 3));
  Report report{};
  ASSERT_EQ(Read(handle, report), 64);
  EXPECT_EQ(Status(report), 3);

  EXPECT_EQ(Served(), nullptr) << "gone at the next scan";
  EXPECT_LT(Write(handle, Begin(0x43, 3)), 0);
  EXPECT_LT(Read(handle, report), 0);
  clock_.Advance(11'999'999);
  EXPECT_EQ(Served(), nullptr);
  clock_.Advance(1);
  ASSERT_NE(Served(), nullptr) << "back after the restart time";

  // The handle opened before the restart carries on.
  EXPECT_EQ(Write(handle, Begin(0x43, 3)), 18);
  ASSERT_EQ(Read(handle, report), 64);
  EXPECT_EQ(Status(report), 4);
}

TEST_F(InProcessUsb, AnUnpluggedDeviceFailsWritesAndReadsAndLeavesTheBusList) {
  sim::Faults faults;
  faults.unplugAfterFrames = 1;
  Install(faults);
  usb_dev_handle* handle = usb_open(Served());
  Write(handle, Begin(0x43, 3));
  Report report{};
  ASSERT_EQ(Read(handle, report), 64);
  const sim::Micros before = clock_.Now();
  EXPECT_LT(Write(handle, Begin(0x43, 3)), 0);
  EXPECT_LT(Read(handle, report), 0);
  EXPECT_NE(Read(handle, report), -110) << "a missing device is not a time-out";
  EXPECT_EQ(clock_.Now(), before);
  EXPECT_EQ(Served(), nullptr);
  EXPECT_EQ(usb_close(handle), 0) << "closing a handle of a gone device still works";
}

TEST_F(InProcessUsb, KeepsDevicePointersValidAcrossScans) {
  Install({});
  struct usb_device* first = Served();
  Scan();
  Scan();
  EXPECT_EQ(Served(), first);
}
