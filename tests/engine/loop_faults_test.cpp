// The block loops: pacing, echo checks and step-backs, time-outs and the
// fatal ends that close the link.
#include <algorithm>

#include "engine/batch.h"
#include "engine/single_download.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"
#include "sim/inprocess_usb.h"

namespace {

class LoopFaults : public EngineTest {
 protected:
  void Faults(int silentFrom, int silentCount, int wrongEchoAt = -1, int damagedAt = -1) {
    UseDevice({.silentFromFrame = silentFrom, .silentReplies = silentCount,
               .wrongEchoAtFrame = wrongEchoAt, .damagedAtFrame = damagedAt});
  }
  static std::vector<std::uint16_t> IndexesOf(std::uint16_t code) {
    std::vector<std::uint16_t> indexes;
    for (const SentFrame& f : SentFrames()) {
      if (f.code == code) indexes.push_back(f.index);
    }
    return indexes;
  }
  static std::vector<std::uint32_t> SleepsMs(const FakeHost& host) {
    std::vector<std::uint32_t> ms;
    for (const auto& s : host.sleeps) ms.push_back(s.ms);
    return ms;
  }
  void ExpectFatal() {
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M52"});
    EXPECT_EQ(host->status, "M52");
    EXPECT_EQ(g_transfer.busy, 0);
    EXPECT_EQ(g_transfer.m_dev, nullptr);
    ASSERT_FALSE(host->sleeps.empty());
    EXPECT_EQ(host->sleeps.back().ms, 2000u);
    EXPECT_FALSE(host->AnyTimerArmed());
  }
};

using IndexList = std::vector<std::uint16_t>;

TEST_F(LoopFaults, WrongEchoOrDamagedReplySendsTheSameBlockAgain) {
  Faults(-1, 0, /*wrongEchoAt=*/2);
  RunRow(kKindFv, Pattern(300, 6), &OnDownloadFv);
  EXPECT_EQ(IndexesOf(0x19), (IndexList{0, 1, 2, 2, 3, 4, 5}));
  EXPECT_EQ(Slice(Received("fv"), 0, 300), Pattern(300, 6));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});

  Faults(-1, 0, -1, /*damagedAt=*/4);
  Press(&OnDownloadFv);
  EXPECT_EQ(IndexesOf(0x19), (IndexList{0, 1, 2, 3, 4, 4, 5}));

  Faults(-1, 0, /*wrongEchoAt=*/3);  // begin, chunk 0, chunk 1, chunk 2
  host->checked = {};
  RunRow(kKindBoot, ImageFile(300), &OnDownloadBoot);
  EXPECT_EQ(IndexesOf(0x42), (IndexList{0, 1, 2, 2, 3}));
  EXPECT_EQ(Received("boot"), Scrambled(Slice(ImageFile(300), 128, 170), XorKeyA));
}

TEST_F(LoopFaults, ShortBlockRejectionsAloneDoNotEndTheTransfer) {
  Faults(1, 10);  // ten passes without a reply, fewer than a time-out
  RunRow(kKindFv, Pattern(200, 6), &OnDownloadFv);
  EXPECT_EQ(IndexesOf(0x19), (IndexList{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 3}));
  // Block 1 went again each time; the item started once.
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M37", "M46"}));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

// Replies later than the read's 20 ms look lost, so block 1 goes out again
// and its late reply acknowledges the resend: every image still arrives, and
// each item's lines are logged once (soak seed 3).
TEST_F(LoopFaults, LateRepliesLogEachLineOnce) {
  UseDevice({.replyLatency = 25'000});
  Put(kKindBoot, ImageFile(130 + 44 * 4));
  Put(kKindFv, Pattern(300, 6));
  Press(&OnBatchDownload);
  EXPECT_EQ(LogTexts(), (std::vector<std::string>{"M32", "M41", "M37", "M46"}));
  EXPECT_EQ(Received("boot"), Scrambled(Slice(ImageFile(130 + 44 * 4), 128, 44 * 4), XorKeyB));
  EXPECT_EQ(Slice(Received("fv"), 0, 300), Pattern(300, 6));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

// Nineteen rejections leave the retry counter at 3, so the twentieth pass
// finds it above the limit: silence ends the short-block and test-data loops
// there. The chunk loop gives up after eleven, and sends nothing more once it
// has reported.
TEST_F(LoopFaults, SilenceInALoopEndsIt) {
  std::size_t framesAtReport = 0;
  host->onBox = [&](const FakeHost::Box&) { framesAtReport = sim::RecordedCalls().bulkWrite; };
  const auto silence = [&](int silentFrom, std::uint8_t kind, const Bytes& file, void (*press)()) {
    Faults(silentFrom, 100000);
    host->boxes.clear();
    host->checked = {};
    RunRow(kind, file, press);
    EXPECT_EQ(static_cast<std::size_t>(sim::RecordedCalls().bulkWrite), framesAtReport);
    ExpectFatal();
  };
  silence(1, kKindFv, Pattern(300, 6), &OnDownloadFv);
  IndexList expected(21, 1);
  expected[0] = 0;
  EXPECT_EQ(IndexesOf(0x19), expected);
  silence(1, kKindTdb, Pattern(256 + 100, 9), &OnBatchDownload);
  EXPECT_EQ(IndexesOf(0x63), IndexList(20, 0));
  EXPECT_EQ(LogTexts(), std::vector<std::string>{"M40"});
  silence(2, kKindBoot, ImageFile(500), &OnDownloadBoot);  // begin and chunk 0 answered
  EXPECT_EQ(IndexesOf(0x42), (IndexList{0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
  host->onBox = nullptr;
}

// Silence alone never reaches a time-out that leaves the retry counter at 3
// or below (see above), so the loop is entered as if 18 passes had already
// gone without acceptance.
TEST_F(LoopFaults, TimeoutInALoopShowsTheBlockAndGoesOn) {
  const auto timeOut = [&](std::uint32_t timer, int silentFrom, std::uint8_t kind,
                           const Bytes& file, void (*press)()) {
    Faults(silentFrom, 2);
    host->boxes.clear();
    bool primed = false;
    host->beforeTick = [&](std::uint32_t id) {
      if (id == timer && !primed) g_transfer.pollCount = 18;
      primed = primed || id == timer;
    };
    RunRow(kind, file, press);
    host->beforeTick = nullptr;
    ASSERT_EQ(BoxTexts(), (std::vector<std::string>{"0", "M50"}));
    EXPECT_EQ(host->boxes[0].title, "超时重发");
    EXPECT_EQ(host->boxes[0].icon, MessageIcon::Warning);
  };
  timeOut(3, 1, kKindFv, Pattern(318, 6), &OnDownloadFv);
  EXPECT_EQ(IndexesOf(0x19), (IndexList{0, 1, 1, 1, 2, 3, 4, 5}));
  EXPECT_EQ(Received("fv"), Pattern(318, 6));
  timeOut(6, 2, kKindBoot, ImageFile(400), &OnDownloadBoot);  // begin and chunk 0 answered
  EXPECT_EQ(IndexesOf(0x42), (IndexList{0, 1, 1, 1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(Received("boot"), Scrambled(Slice(ImageFile(400), 128, 270), XorKeyA));
}

// The chunk loop gives up on its eleventh refusal; the next download's begin
// wait must not inherit those passes and resend the begin on its first tick.
TEST_F(LoopFaults, GivingUpOnRefusalsLeavesNothingCountedForTheNextDownload) {
  Faults(2, 100000);  // begin and chunk 0 answered
  RunRow(kKindBoot, ImageFile(500), &OnDownloadBoot);
  ExpectFatal();
  UseDevice(sim::Faults{});
  host->boxes.clear();
  Press(&OnBatchDownload);
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x43), 1);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

TEST_F(LoopFaults, ShortBlockPacing) {
  RunRow(kKindFv, Pattern(100 * 53, 6), &OnDownloadFv);
  std::vector<std::uint32_t> expected = {4};  // the first block's single poll
  for (int block = 1; block < 100; ++block) {
    const int next = block + 1;
    expected.push_back(next % 77 == 0 || next % 78 == 0 || next % 79 == 0 ? 10 : 4);
  }
  expected.push_back(150);  // the device files the last block
  expected.push_back(2000);
  EXPECT_EQ(SleepsMs(*host), expected);
  // The bar every 78th block only; the pump on every pass (blocks 2 to 100 and
  // the pass that finds the item complete), so the window never freezes.
  EXPECT_EQ(host->pumps, 100);
  EXPECT_EQ(host->positions, (std::vector<int>{77, 0}));
}

TEST_F(LoopFaults, ChunkAndTestDataPacing) {
  RunRow(kKindBoot, ImageFile(130 + 44 * 5), &OnDownloadBoot);
  EXPECT_EQ(SleepsMs(*host), (std::vector<std::uint32_t>{4, 200, 4, 4, 4, 4, 2000}));
  EXPECT_EQ(host->positions, (std::vector<int>{1, 2, 3, 4, 5, 0}));

  UseDevice(sim::Faults{});
  host->sleeps.clear();
  host->Row(kKindBoot, "", false);
  RunRow(kKindTdb, Pattern(256 + 1007, 9), &OnBatchDownload);
  std::vector<std::uint32_t> expected = {4};  // the begin's poll
  for (int chunk = 0; chunk < 19; ++chunk) expected.push_back((chunk + 1) % 10 == 0 ? 150 : 8);
  expected.push_back(2000);
  EXPECT_EQ(SleepsMs(*host), expected);
}

}  // namespace
