// The two halves of the wire format meet: frames from the host's senders are
// accepted and placed by the emulated device, and its reports pass the host's
// check for exactly the code the sender armed.
#include <usb.h>

#include <gtest/gtest.h>

#include <algorithm>

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
  static bool Answered() { return ReadReply() == 64 && CheckReply(); }

  sim::VirtualClock clock_;
  sim::DeviceModel model_{sim::Faults{}, ""};
};

// One image kind per row: how many frames carry it, and how each is sent from
// the loaded image at g_transfer.blockIndex.
struct ImageRow {
  const char* stored;
  std::size_t length;
  std::uint16_t command;
  std::uint16_t frames;
  void (*send)();
};

const ImageRow kImages[] = {
    {"boot", 100, 0, 3, [] { SendChunk(3, 44, g_transfer.fileBuffer, g_transfer.fileLength); }},
    {"font", 5000, 0x12, 3, [] { SendDataBlock(g_transfer.fileBuffer, g_transfer.fileLength); }},
    {"rcdb", 106, 0x11, 2, [] { SendShortBlock(g_transfer.fileBuffer, g_transfer.fileLength); }},
    {"tdb", 120, 0, 3,
     [] { SendTestDataChunk(g_transfer.fileBuffer, static_cast<std::uint16_t>(g_transfer.fileLength)); }},
};

}  // namespace

TEST_F(HostContract, EveryImageKindSentBlockByBlockArrivesWholeAndCutToItsLength) {
  std::uint8_t seed = 0;
  for (const ImageRow& row : kImages) {
    SCOPED_TRACE(row.stored);
    const simtest::Bytes image = simtest::Pattern(row.length, ++seed);
    std::copy(image.begin(), image.end(), g_transfer.fileBuffer);
    g_transfer.fileLength = static_cast<std::uint32_t>(image.size());
    g_transfer.itemCommand = row.command;
    for (g_transfer.blockIndex = 0; g_transfer.blockIndex < row.frames; ++g_transfer.blockIndex) {
      row.send();
      ASSERT_TRUE(Answered()) << model_.LastRejection();
      EXPECT_EQ(ReplyEcho(), g_transfer.blockIndex);
    }
    EXPECT_EQ(model_.Images().at(row.stored), image);
  }
}
