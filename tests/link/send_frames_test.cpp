// What the senders actually write, the reply code they arm, and the reports
// read back, through the in-process emulated device.
#include <gtest/gtest.h>

// Before <usb.h>: its function usb_device() hides the struct name the record uses.
#include "record/transfer_context.h"

#include <usb.h>

#include <algorithm>
#include <array>

#include "link/command_frames.h"
#include "link/reply_frames.h"
#include "sim/inprocess_usb.h"
#include "tests/link/frame_reader.h"

namespace {

using linktest::Bytes;
using linktest::Built;
using linktest::BuildStep;

void SetItem(std::uint16_t command, std::uint16_t index, std::uint8_t altCodeSet) {
  g_transfer.itemCommand = command;
  g_transfer.blockIndex = index;
  g_transfer.altCodeSet = altCodeSet;
}

class SendFramesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::InstallInProcessDevice(&model_, &clock_);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    g_transfer.m_dev = usb_open(usb_get_busses()->devices);  // the served device comes first
    ASSERT_NE(g_transfer.m_dev, nullptr);
    SetItem(0, 0, 0);
    g_transfer.headerByte108 = 0;
  }

  void TearDown() override {
    usb_close(g_transfer.m_dev);
    g_transfer.m_dev = nullptr;
    sim::InstallInProcessDevice(nullptr, nullptr);
  }

  static Bytes LastFrame() {
    const auto& calls = sim::RecordedCalls();
    EXPECT_EQ(calls.lastWriteEndpoint, 0x02);
    EXPECT_EQ(calls.lastWriteTimeout, 10);
    return calls.framesWritten.empty() ? Bytes{} : calls.framesWritten.back();
  }

  // Reads the device's answer and says whether it is accepted.
  static bool Answered() { return ReadReply() == 64 && CheckReply(); }

  sim::VirtualClock clock_;
  sim::DeviceModel model_{sim::Faults{}, ""};
};

const std::uint8_t* SentImage() {
  static const Bytes image = linktest::PatternImage(4 * 2048);
  return image.data();
}

std::array<std::uint8_t, kTestDataStageSize> g_referenceStage;

struct SendCase {
  const char* name;
  void (*send)();
  BuildStep expected;   // the same frame, built with the code and index spelled out
  std::uint16_t armed;  // expectedReply afterwards
};

const SendCase kSendCases[] = {
    {"connect", [] { SendConnect(); }, [](auto f) { return BuildConnectFrame(f); }, 0x8006},
    {"prepare", [] { SendDatabasePrepare(); }, [](auto f) { return BuildDatabasePrepareFrame(f); },
     0x8014},
    {"data block", [] { SetItem(0x23, 2, 0); SendDataBlock(SentImage(), 5000); },
     [](auto f) { return BuildDataBlockFrame(f, 0x23, 2, SentImage(), 5000); }, 0x8023},
    {"short block", [] { SetItem(0x19, 3, 0); SendShortBlock(SentImage(), 500); },
     [](auto f) { return BuildShortBlockFrame(f, 0x19, 3, SentImage(), 500); }, 0x8019},
    {"begin", [] { SendBegin(false, 2); }, [](auto f) { return BuildBeginFrame(f, 0x43, 2); }, 0x8043},
    {"begin alt", [] { SendBegin(true, 3); }, [](auto f) { return BuildBeginFrame(f, 0x49, 3); }, 0x8049},
    {"chunk", [] { SetItem(0, 1, 0); SendChunk(3, 44, SentImage(), 100); },
     [](auto f) { return BuildChunkFrame(f, 0x42, 3, 44, 1, SentImage(), 100); }, 0x8042},
    {"chunk alt", [] { SetItem(0, 1, 1); SendChunk(2, 2048, SentImage(), 8000); },
     [](auto f) { return BuildChunkFrame(f, 0x48, 2, 2048, 1, SentImage(), 8000); }, 0x8048},
    {"end", [] { SendEnd(); }, [](auto f) { return BuildEndFrame(f, 0x44); }, 0x8044},
    {"end alt", [] { SetItem(0, 0, 7); SendEnd(); }, [](auto f) { return BuildEndFrame(f, 0x4A); },
     0x804A},
    {"test head", [] { SendTestDataHead(SentImage(), 300); },
     [](auto f) { return BuildTestDataHeadFrame(f, SentImage(), 300); }, 0x8063},
    {"test chunk", [] { SetItem(0, 4, 0); SendTestDataChunk(SentImage(), 300); },
     [](auto f) { return BuildTestDataChunkFrame(f, g_referenceStage, SentImage(), 300, 4); }, 0x8063},
};

TEST_F(SendFramesTest, EverySenderWritesItsFrameOnceArmsItsReplyAndIsAnswered) {
  std::fill(std::begin(TestDataStage), std::end(TestDataStage), 0xEE);
  for (const SendCase& c : kSendCases) {
    SCOPED_TRACE(c.name);
    const int writesBefore = sim::RecordedCalls().bulkWrite;
    SetItem(0, 0, 0);
    g_transfer.expectedReply = 0;
    c.send();
    EXPECT_EQ(sim::RecordedCalls().bulkWrite, writesBefore + 1);
    EXPECT_EQ(g_transfer.expectedReply, c.armed);
    const Bytes expected = Built(c.expected);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(LastFrame(), expected);
    EXPECT_TRUE(Answered()) << model_.LastRejection();
    EXPECT_EQ(ReplyEcho(), g_transfer.blockIndex);
  }
  // The test-data chunk staged its data in the program-wide stage, zeros after it.
  EXPECT_TRUE(std::equal(TestDataStage, TestDataStage + 300, SentImage()));
  EXPECT_TRUE(std::all_of(TestDataStage + 300, std::end(TestDataStage), [](auto b) { return b == 0; }));
}

TEST_F(SendFramesTest, BeginOfAnImageWithHeaderByte108GoesOutUnderCode0AndArmsNothing) {
  SendConnect();
  ASSERT_TRUE(Answered());
  g_transfer.headerByte108 = 1;
  SendBegin(true, 3);
  EXPECT_EQ(g_transfer.expectedReply, 0x8006);
  EXPECT_EQ(LastFrame(), Built([](auto f) { return BuildBeginFrame(f, 0, 3); }));
  EXPECT_EQ(linktest::ParseFrame(LastFrame()).code, 0);
  EXPECT_LT(ReadReply(), 0) << "the device answers no code-0 frame";
  EXPECT_FALSE(CheckReply());
}

TEST_F(SendFramesTest, ReadReplyReadsOneReportAndKeepsTheResult) {
  SendEnd();
  EXPECT_EQ(ReadReply(), 64);
  EXPECT_EQ(g_transfer.replyLength, 64);
  const auto& calls = sim::RecordedCalls();
  EXPECT_EQ(calls.lastReadEndpoint, 0x81);
  EXPECT_EQ(calls.lastReadSize, 64);
  EXPECT_EQ(calls.lastReadTimeout, 20);
  EXPECT_TRUE(CheckReply());

  // Nothing more queued: a time-out, which is never a reply.
  const std::int32_t silent = ReadReply();
  EXPECT_LT(silent, 0);
  EXPECT_EQ(g_transfer.replyLength, silent);
  EXPECT_FALSE(CheckReply());
}

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
    {"tdb", 120, 0, 3, [] {
       SendTestDataChunk(g_transfer.fileBuffer, static_cast<std::uint16_t>(g_transfer.fileLength));
     }},
};

// The device, parsing on its own, places what the senders send.
TEST_F(SendFramesTest, EveryImageKindSentBlockByBlockArrivesWholeAndCutToItsLength) {
  for (const ImageRow& row : kImages) {
    SCOPED_TRACE(row.stored);
    const Bytes image = linktest::PatternImage(row.length);
    std::copy(image.begin(), image.end(), g_transfer.fileBuffer);
    g_transfer.fileLength = static_cast<std::uint32_t>(image.size());
    g_transfer.itemCommand = row.command;
    for (g_transfer.blockIndex = 0; g_transfer.blockIndex < row.frames; ++g_transfer.blockIndex) {
      row.send();
      ASSERT_TRUE(Answered()) << model_.LastRejection();
    }
    EXPECT_EQ(model_.Images().at(row.stored), image);
  }
}

}  // namespace
