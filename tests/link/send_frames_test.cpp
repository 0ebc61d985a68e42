// What the senders actually write, the reply code they arm, and the reports
// read back, through the in-process emulated device.
#include <gtest/gtest.h>

// Before <usb.h>: its function usb_device() hides the struct name the record uses.
#include "engine/transfer_context.h"

#include <usb.h>

#include <algorithm>
#include <array>
#include <memory>

#include "link/command_frames.h"
#include "link/reply_frames.h"
#include "sim/inprocess_usb.h"
#include "tests/link/frame_reader.h"

namespace {

using linktest::Bytes;
using linktest::ParseFrame;
using linktest::Slice;

class SendFramesTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(sim::Faults{}); }

  void TearDown() override {
    if (g_transfer.m_dev != nullptr) usb_close(g_transfer.m_dev);
    g_transfer.m_dev = nullptr;
    sim::InstallInProcessDevice(nullptr, nullptr);
  }

  // Opens the emulated device with faults, the way the link would.
  void Start(const sim::Faults& faults) {
    if (g_transfer.m_dev != nullptr) usb_close(g_transfer.m_dev);
    model_ = std::make_unique<sim::DeviceModel>(faults, "");
    sim::InstallInProcessDevice(model_.get(), &clock_);
    usb_init();
    usb_find_busses();
    usb_find_devices();
    struct usb_device* found = nullptr;
    for (struct usb_bus* bus = usb_get_busses(); bus != nullptr; bus = bus->next) {
      for (struct usb_device* dev = bus->devices; dev != nullptr; dev = dev->next) {
        if (dev->descriptor.idVendor == 0x1206 && dev->descriptor.idProduct == 0x0227) found = dev;
      }
    }
    ASSERT_NE(found, nullptr);
    g_transfer.m_dev = usb_open(found);
    ASSERT_NE(g_transfer.m_dev, nullptr);
    usb_set_configuration(g_transfer.m_dev, 1);
    usb_claim_interface(g_transfer.m_dev, 0);

    g_transfer.expectedReply = 0;
    g_transfer.blockIndex = 0;
    g_transfer.itemCommand = 0;
    g_transfer.altCodeSet = 0;
    g_transfer.headerByte108 = 0;
  }

  static const Bytes& LastFrame() {
    const auto& calls = sim::RecordedCalls();
    EXPECT_EQ(calls.lastWriteEndpoint, 0x02);
    EXPECT_EQ(calls.lastWriteTimeout, 10);
    EXPECT_FALSE(calls.framesWritten.empty());
    static const Bytes none;
    return calls.framesWritten.empty() ? none : calls.framesWritten.back();
  }

  // Reads the device's answer and says whether it is accepted.
  static bool Answered() { return ReadReply() == 64 && CheckReply(); }

  sim::VirtualClock clock_;
  std::unique_ptr<sim::DeviceModel> model_;
};

struct SendCase {
  const char* name;
  void (*send)();
  std::uint16_t code;   // on the wire
  std::uint16_t armed;  // expectedReply afterwards
};

const Bytes& Image() {
  static const Bytes image = linktest::PatternImage(4 * 2048);
  return image;
}

void SetItem(std::uint16_t command, std::uint16_t index, std::uint8_t altCodeSet) {
  g_transfer.itemCommand = command;
  g_transfer.blockIndex = index;
  g_transfer.altCodeSet = altCodeSet;
}

const SendCase kSendCases[] = {
    {"connect", [] { SendConnect(); }, 0x06, 0x8006},
    {"prepare", [] { SendDatabasePrepare(); }, 0x14, 0x8014},
    {"data block", [] { SetItem(0x23, 2, 0); SendDataBlock(Image().data(), 5000); }, 0x23, 0x8023},
    {"short block", [] { SetItem(0x19, 3, 0); SendShortBlock(Image().data(), 500); }, 0x19, 0x8019},
    {"begin", [] { SendBegin(false, 2); }, 0x43, 0x8043},
    {"begin alt", [] { SendBegin(true, 3); }, 0x49, 0x8049},
    {"chunk", [] { SetItem(0, 1, 0); SendChunk(3, 44, Image().data(), 100); }, 0x42, 0x8042},
    {"chunk alt", [] { SetItem(0, 1, 1); SendChunk(2, 2048, Image().data(), 8000); }, 0x48, 0x8048},
    {"end", [] { SetItem(0, 0, 0); SendEnd(); }, 0x44, 0x8044},
    {"end alt", [] { SetItem(0, 0, 7); SendEnd(); }, 0x4A, 0x804A},
    {"test head", [] { SendTestDataHead(Image().data(), 300); }, 0x63, 0x8063},
    {"test chunk", [] { SetItem(0, 4, 0); SendTestDataChunk(Image().data(), 300); }, 0x63, 0x8063},
};

TEST_F(SendFramesTest, EverySenderWritesOneFrameArmsItsReplyAndIsAnswered) {
  for (const SendCase& c : kSendCases) {
    SCOPED_TRACE(c.name);
    const int writesBefore = sim::RecordedCalls().bulkWrite;
    g_transfer.expectedReply = 0;
    g_transfer.blockIndex = 0;  // senders without an index leave the record's index 0
    c.send();
    EXPECT_EQ(sim::RecordedCalls().bulkWrite, writesBefore + 1);
    EXPECT_EQ(g_transfer.expectedReply, c.armed);
    Bytes frame = LastFrame();
    const bool scrambled = !frame.empty() && frame[0] == (0x5A ^ 0xC3);
    EXPECT_EQ(scrambled, c.code == 0x23) << "only data blocks go out scrambled";
    if (scrambled) frame = linktest::DescrambleWithKeyA(frame);
    const auto parsed = ParseFrame(frame);
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.code, c.code);
    EXPECT_EQ(parsed.index, g_transfer.blockIndex);
    EXPECT_TRUE(Answered()) << model_->LastRejection();
  }
}

TEST_F(SendFramesTest, DataBlockIsWrittenAsBuiltAndLandsWhole) {
  const Bytes image = linktest::PatternImage(3 * 2048);
  g_transfer.itemCommand = 0x12;
  g_transfer.blockIndex = 1;
  SendDataBlock(image.data(), 3 * 2048);

  std::array<std::uint8_t, kFrameBufferSize> built{};
  const std::uint16_t length = BuildDataBlockFrame(built, 0x12, 1, image.data(), 3 * 2048);
  EXPECT_EQ(LastFrame(), Bytes(built.begin(), built.begin() + length));
  ASSERT_TRUE(Answered());
  EXPECT_EQ(ReplyEcho(), 1);
  const auto& font = model_->Images().at("font");
  EXPECT_EQ(Slice(font, 2048, 2048), Slice(image, 2048, 2048));
}

TEST_F(SendFramesTest, ShortBlockAndBeginAnswersCarryEchoAndStatus) {
  const Bytes image = linktest::PatternImage(1000);
  g_transfer.itemCommand = 0x11;
  g_transfer.blockIndex = 7;
  SendShortBlock(image.data(), 1000);
  const auto parsed = ParseFrame(LastFrame());
  EXPECT_EQ(parsed.payload, Slice(image, 7 * 53, 53));
  ASSERT_TRUE(Answered());
  EXPECT_EQ(ReplyEcho(), 7);

  SendBegin(false, 2);
  EXPECT_EQ(ParseFrame(LastFrame()).payload, (Bytes{0x01, 0x02, 0xFF}));
  ASSERT_TRUE(Answered());
  EXPECT_EQ(ReplyStatus(), 4);
}

TEST_F(SendFramesTest, BeginOfAnImageWithHeaderByte108GoesOutUnderCode0AndArmsNothing) {
  SendConnect();
  ASSERT_TRUE(Answered());
  g_transfer.headerByte108 = 1;
  SendBegin(true, 3);
  EXPECT_EQ(g_transfer.expectedReply, 0x8006);
  const auto parsed = ParseFrame(LastFrame());
  ASSERT_TRUE(parsed.valid);
  EXPECT_EQ(parsed.code, 0);
  EXPECT_EQ(parsed.payload, (Bytes{0x01, 0x03, 0xFF}));
  EXPECT_LT(ReadReply(), 0) << "the device answers no code-0 frame";
  EXPECT_FALSE(CheckReply());
}

TEST_F(SendFramesTest, TestDataChunkRefillsTheProgramWideStage) {
  const Bytes data = linktest::PatternImage(300);
  std::fill(std::begin(TestDataStage), std::end(TestDataStage), 0xEE);
  g_transfer.blockIndex = 5;
  SendTestDataChunk(data.data(), 300);
  Bytes expected = Slice(data, 265, 35);
  expected.resize(53, 0);
  EXPECT_EQ(ParseFrame(LastFrame()).payload, expected);
  EXPECT_EQ(Bytes(TestDataStage, TestDataStage + 300), data);
  EXPECT_TRUE(std::all_of(TestDataStage + 300, std::end(TestDataStage), [](auto b) { return b == 0; }));
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

TEST_F(SendFramesTest, AReplyToAnEarlierCommandIsRejectedOnceANewOneIsSent) {
  g_transfer.itemCommand = 0x11;
  const Bytes image = linktest::PatternImage(100);
  SendShortBlock(image.data(), 100);  // its reply is left unread
  SendBegin(false, 3);
  EXPECT_EQ(ReadReply(), 64);
  EXPECT_FALSE(CheckReply());
  EXPECT_TRUE(Answered()) << "the begin reply itself follows";
}

TEST_F(SendFramesTest, DamagedStaleAndWrongEchoRepliesAreToldApart) {
  sim::Faults faults;
  faults.damagedAtFrame = 0;
  faults.staleCodeAtFrame = 2;
  faults.wrongEchoAtFrame = 3;
  Start(faults);
  const Bytes image = linktest::PatternImage(4 * 44);

  SendBegin(false, 3);  // frame 0: bad CRC
  EXPECT_EQ(ReadReply(), 64);
  EXPECT_FALSE(CheckReply());

  SendBegin(false, 3);  // frame 1: good
  EXPECT_TRUE(Answered());

  SendChunk(3, 44, image.data(), 4 * 44);  // frame 2: carries the begin's code
  EXPECT_EQ(ReadReply(), 64);
  EXPECT_FALSE(CheckReply());

  g_transfer.blockIndex = 1;
  SendChunk(3, 44, image.data(), 4 * 44);  // frame 3: accepted, echoes another block
  ASSERT_TRUE(Answered());
  EXPECT_NE(ReplyEcho(), 1);
}

}  // namespace
