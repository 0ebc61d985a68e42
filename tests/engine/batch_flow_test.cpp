// A batch from the press to the completion message, against the emulated
// device on the virtual clock: one begin, every item's frames in order, every
// image received byte for byte, the log and the progress bar.
#include <algorithm>

#include "bmp_files.h"
#include "engine/batch.h"
#include "engine/image_files.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"
#include "link/usb_link.h"
#include "sim/inprocess_usb.h"

namespace {

using Frames = std::vector<std::pair<std::uint16_t, std::uint16_t>>;  // code, index

Frames CodesAndIndexes() {
  Frames frames;
  for (const SentFrame& f : SentFrames()) frames.emplace_back(f.code, f.index);
  return frames;
}

void Expect(Frames& frames, std::uint16_t code, int count) {
  for (int i = 0; i < count; ++i) frames.emplace_back(code, static_cast<std::uint16_t>(i));
}

Picture Stripes(int width, int height) {
  Picture picture(static_cast<std::size_t>(height), std::vector<Rgb>(static_cast<std::size_t>(width)));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      picture[y][x] = Rgb{static_cast<std::uint8_t>(x * 6), static_cast<std::uint8_t>(y * 8),
                          static_cast<std::uint8_t>((x + y) * 3)};
    }
  }
  return picture;
}

class BatchFlow : public EngineTest {};

TEST_F(BatchFlow, AllNineKindsReachTheDeviceByteForByte) {
  const Bytes boot = ImageFile(1000, 0, 0, 0, 1);
  const Bytes hostImage = ImageFile(2001, 1, 0, 0, 2);  // the host program uses the alternate codes
  const Bytes rcdb = Pattern(5000, 3);
  const Bytes font = Pattern(5000, 4);
  const Bytes lang = Pattern(4097, 5);
  const Bytes fv = Pattern(300, 6);
  const Picture picture = Stripes(40, 30);  // 2416 bytes: 2 blocks
  const Bytes pic = Pattern(2 * 2048 + 1, 8);
  const Bytes tdb = Pattern(256 + 120, 9);
  Put(kKindBoot, boot);
  Put(kKindHost, hostImage);
  Put(kKindRcdb, rcdb);
  Put(kKindFont, font);
  Put(kKindLang, lang);
  Put(kKindFv, fv);
  Put(kKindBmp, MakeBmp(picture, BmpLayout{}));
  Put(kKindPic, pic);
  Put(kKindTdb, tdb);
  host->logLines = {"left from before"};

  OnBatchDownload();
  EXPECT_EQ(g_transfer.busy, 1);
  host->RunUntilIdle();

  // One begin, with BOOT's flag and target; every later item starts with its own frames.
  const std::vector<SentFrame> sent = SentFrames();
  ASSERT_FALSE(sent.empty());
  EXPECT_EQ(sent[0].code, 0x43);
  EXPECT_EQ(sent[0].payload, (Bytes{0x01, 0x03, 0xFF}));
  Frames expected = {{0x43, 0}};
  Expect(expected, 0x42, 20);   // BOOT: 870 bytes in 44-byte chunks
  Expect(expected, 0x48, 43);   // HOST: 1871 bytes; its header selects the alternate chunk code
  Expect(expected, 0x11, 95);   // RCDB: 53-byte short blocks
  Expect(expected, 0x12, 3);    // FONT: whole 2048-byte blocks
  Expect(expected, 0x22, 3);    // LANG
  Expect(expected, 0x19, 6);    // FV: short blocks
  Expect(expected, 0x1A, 2);    // BMP
  Expect(expected, 0x23, 3);    // PIC
  Expect(expected, 0x63, 3);    // TDB: 120 bytes of test data
  expected.emplace_back(0x4A, 0);
  EXPECT_EQ(CodesAndIndexes(), expected);

  EXPECT_EQ(Received("boot"), Scrambled(Slice(boot, 128, 870), XorKeyB));
  EXPECT_EQ(Received("host"), Scrambled(Slice(hostImage, 128, 1871), XorKeyB));
  ASSERT_GE(Received("rcdb").size(), rcdb.size());
  EXPECT_EQ(Slice(Received("rcdb"), 0, rcdb.size()), Scrambled(rcdb, XorKeyB));
  EXPECT_EQ(Received("font"), Scrambled(font, XorKeyB));
  EXPECT_EQ(Received("lang"), lang);
  ASSERT_GE(Received("fv").size(), fv.size());
  EXPECT_EQ(Slice(Received("fv"), 0, fv.size()), fv);
  EXPECT_EQ(Received("bmp"), DevicePicture(picture));
  EXPECT_EQ(Received("pic"), Scrambled(pic, XorKeyB));
  EXPECT_EQ(Received("tdb"), Slice(tdb, 256, 120));
  EXPECT_EQ(model->GetSummary().rejectedFrames, 0);
  EXPECT_EQ(model->GetSummary().retries, 0);

  // The press emptied the log; start lines at block 1, completion lines, none for TDB's start.
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M32", "M41", "M33", "M42", "M34", "M43", "M35",
                                                  "M44", "M36", "M45", "M37", "M46", "M38", "M47",
                                                  "M39", "M48", "M49"}));
  EXPECT_EQ(host->selectedLine, 16);
  using Range = std::pair<std::uint16_t, std::uint16_t>;
  EXPECT_EQ(host->ranges, (std::vector<Range>{{0, 20}, {0, 43}, {0, 95}, {0, 3}, {0, 3}, {0, 6},
                                              {0, 2}, {0, 3}, {0, 3}}));
  // RCDB's bar moves at block 77 only (every 78th); the TDB item leaves the bar at its end.
  EXPECT_NE(std::find(host->positions.begin(), host->positions.end(), 77), host->positions.end());
  EXPECT_EQ(host->positions.back(), 3);

  // The end reply: link closed, 2000 ms, then S0050; busy cleared after the box.
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
  const FakeHost::Box& done = host->boxes.back();
  EXPECT_EQ(done.title, "M11");
  EXPECT_EQ(done.icon, MessageIcon::Warning);
  EXPECT_TRUE(done.busy);
  EXPECT_FALSE(done.linkOpen);
  ASSERT_FALSE(host->sleeps.empty());
  EXPECT_EQ(host->sleeps.back().ms, 2000u);
  EXPECT_FALSE(host->sleeps.back().linkOpen);
  EXPECT_EQ(done.at - host->sleeps.back().at, 2'000'000);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(g_transfer.m_dev, nullptr);
  EXPECT_TRUE(g_transfer.batchQueue.empty());
  EXPECT_FALSE(host->AnyTimerArmed());
  EXPECT_EQ(host->maxNesting, 1);
}

// What the first item sends once the begin is answered: without a restart the
// loop goes on where the begin left it; after a restart it starts afresh.
TEST_F(BatchFlow, FirstItemAfterTheBeginStartsWhereItShould) {
  const auto firstFrame = [&](int beginStatus, std::uint8_t kind, const Bytes& file) {
    UseDevice({.beginStatus = beginStatus});
    host->boxes.clear();
    host->armed.clear();
    host->checked = {};
    RunRow(kind, file, &OnBatchDownload);
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
    const std::vector<SentFrame> sent = SentFrames();
    const std::size_t first = beginStatus == 3 ? 2 : 1;  // after the begin(s)
    return sent.size() > first ? sent[first] : SentFrame{};
  };
  const Bytes rcdb = Pattern(106, 3), font = Pattern(3000, 4), tdb = Pattern(256 + 70, 9);
  SentFrame f = firstFrame(4, kKindRcdb, rcdb);  // short block 0, not a data block
  EXPECT_EQ(f.code, 0x11);
  EXPECT_FALSE(f.scrambled);
  EXPECT_EQ(f.payload, Slice(Scrambled(rcdb, XorKeyB), 0, 53));
  EXPECT_EQ(SentFrames()[0].payload, (Bytes{0x01, 0x00, 0xFF}));  // target zero, normal code
  EXPECT_EQ(host->armed, (std::vector<std::uint32_t>{4, 2, 3, 9}));
  EXPECT_EQ(Received("rcdb"), Scrambled(rcdb, XorKeyB));

  f = firstFrame(4, kKindFont, font);  // data block 0
  EXPECT_EQ(f.code, 0x12);
  EXPECT_TRUE(f.scrambled);
  EXPECT_EQ(Received("font"), Scrambled(font, XorKeyB));

  f = firstFrame(3, kKindRcdb, rcdb);  // after a restart: a whole data block first
  EXPECT_EQ(f.code, 0x11);
  EXPECT_TRUE(f.scrambled);
  EXPECT_EQ(f.payload.size(), 2056u);
  EXPECT_EQ(Received("rcdb"), Scrambled(rcdb, XorKeyB));

  f = firstFrame(3, kKindTdb, tdb);  // the test data's head, and its start line
  EXPECT_EQ(f.code, 0x63);
  EXPECT_EQ(f.chunkSize, 0);
  EXPECT_EQ(f.total, 70);
  EXPECT_EQ(f.payload, Slice(tdb, 256, 53));
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M40", "M49"}));
  EXPECT_EQ(Received("tdb"), Slice(tdb, 256, 70));
}

TEST_F(BatchFlow, TestDataFirstLogsItsStartLineAndNotFirstDoesNot) {
  RunRow(kKindTdb, Pattern(256 + 60, 9), &OnBatchDownload);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M40", "M49"}));
  EXPECT_EQ(host->armed, (std::vector<std::uint32_t>{4, 12, 9}));
  EXPECT_EQ(Received("tdb"), Slice(Pattern(256 + 60, 9), 256, 60));

  Put(kKindRcdb, Pattern(200, 3));
  UseDevice(sim::Faults{});
  host->armed.clear();
  Press(&OnBatchDownload);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M34", "M43", "M49"}));
  EXPECT_EQ(host->armed, (std::vector<std::uint32_t>{4, 2, 3, 12, 9}));
  EXPECT_EQ(Received("tdb"), Slice(Pattern(256 + 60, 9), 256, 60));
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"M50", "M50"}));
}

TEST_F(BatchFlow, AlternateCodesFollowTheBootHeader) {
  RunRow(kKindBoot, ImageFile(500, 1), &OnBatchDownload);
  const std::vector<std::uint16_t> codes = SentCodes();
  ASSERT_FALSE(codes.empty());
  EXPECT_EQ(codes.front(), 0x49);
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x48), 9);  // 370 bytes
  EXPECT_EQ(codes.back(), 0x4A);
  EXPECT_EQ(Received("boot"), Scrambled(Slice(ImageFile(500, 1), 128, 370), XorKeyB));
}

TEST_F(BatchFlow, RestartWaitsTwelveSecondsThenSendsTheBeginAgain) {
  UseDevice({.beginStatus = 3});
  const Bytes boot = ImageFile(1000, 0, 0, 0, 1);
  const Bytes rcdb = Pattern(300, 3);
  Put(kKindBoot, boot);
  Put(kKindRcdb, rcdb);
  RunRow(kKindTdb, Pattern(256 + 100, 9), &OnBatchDownload);

  EXPECT_EQ(model->GetSummary().restarts, 1);
  // The handle from before the restart is released and the device opened anew.
  EXPECT_EQ(sim::RecordedCalls().open, 2);   // at the press and after the restart
  EXPECT_EQ(sim::RecordedCalls().close, 2);  // at the restart and after the end reply
  const std::vector<SentFrame> sent = SentFrames();
  ASSERT_GE(sent.size(), 3u);
  EXPECT_EQ(sent[0].code, 0x43);
  EXPECT_EQ(sent[1].code, 0x43);
  // After the restart the first chunk carries 2048 bytes; the loop goes on in 44-byte chunks.
  EXPECT_EQ(sent[2].code, 0x42);
  EXPECT_EQ(sent[2].payload.size(), 9u + 2048u);
  EXPECT_EQ(sent[3].payload.size(), 9u + 44u);
  EXPECT_EQ(std::vector<std::uint32_t>(host->armed.begin(), host->armed.begin() + 4),
            (std::vector<std::uint32_t>{4, 7, 8, 5}));
  // Timer 7 fired once, 12 s after it was armed.
  EXPECT_EQ(std::count(host->ticks.begin(), host->ticks.end(), 7u), 1);
  const auto tick7 = std::find(host->ticks.begin(), host->ticks.end(), 7u) - host->ticks.begin();
  EXPECT_EQ(host->tickAt[static_cast<std::size_t>(tick7)] - host->armedAt[1], 12'000'000);

  EXPECT_EQ(Received("boot"), Scrambled(Slice(boot, 128, 870), XorKeyB));
  EXPECT_EQ(Slice(Received("rcdb"), 0, rcdb.size()), Scrambled(rcdb, XorKeyB));
  EXPECT_EQ(Received("tdb"), Slice(Pattern(256 + 100, 9), 256, 100));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
  EXPECT_EQ(g_transfer.busy, 0);
}

}  // namespace
