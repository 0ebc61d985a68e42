// Wait steps that hear nothing: three resends, then the step's failure
// actions on the fourth poll limit; the begin status branches.
#include <algorithm>

#include "engine/batch.h"
#include "engine/single_download.h"
#include "engine/transfer_context.h"
#include "engine_fixture.h"
#include "sim/inprocess_usb.h"

namespace {

class WaitStepFaults : public EngineTest {
 protected:
  // The device answers frames before `from`, then stays silent.
  void SilentFrom(int from, int beginStatus = 4) {
    sim::Faults faults;
    faults.silentFromFrame = from;
    faults.silentReplies = 100000;
    faults.beginStatus = beginStatus;
    UseDevice(faults);
  }

  // The step sent its frame, resent it three times and gave up with the
  // failure report; only ids 4 and 5 close the link (and then wait 2 s).
  void ExpectGaveUp(std::uint16_t code, int polls, bool closesLink) {
    const std::vector<std::uint16_t> codes = SentCodes();
    EXPECT_EQ(std::count(codes.begin(), codes.end(), code), 4) << "code " << code;
    EXPECT_EQ(codes.back(), code);
    EXPECT_EQ(sim::RecordedCalls().interruptRead, polls);
    ASSERT_EQ(BoxTexts(), std::vector<std::string>{"M52"});
    EXPECT_EQ(host->boxes[0].title, "M11");
    EXPECT_EQ(host->boxes[0].icon, MessageIcon::Warning);
    EXPECT_FALSE(host->boxes[0].busy);
    EXPECT_EQ(host->status, "M52");
    EXPECT_EQ(host->positions.back(), 0);
    EXPECT_EQ(g_transfer.busy, 0);
    EXPECT_EQ(g_transfer.retryCount, 0);
    EXPECT_FALSE(host->AnyTimerArmed());
    EXPECT_EQ(g_transfer.m_dev == nullptr, closesLink);
    const bool waited = !host->sleeps.empty() && host->sleeps.back().ms == 2000u &&
                        !host->sleeps.back().linkOpen;
    EXPECT_EQ(waited, closesLink);
  }
};

TEST_F(WaitStepFaults, ConnectGivesUpAfterFourHundredPolls) {
  SilentFrom(0);
  host->Row(kKindFont, WriteFile("font.bin", Pattern(3000, 4)));
  OnDownloadFont();
  host->RunUntilIdle();
  ExpectGaveUp(0x06, 400, false);
}

TEST_F(WaitStepFaults, DatabasePrepareGivesUp) {
  SilentFrom(1);
  host->Row(kKindRcdb, WriteFile("db.rdb", Pattern(300, 3)));
  OnDownloadRcdb();
  host->RunUntilIdle();
  ExpectGaveUp(0x14, 1 + 400, false);
}

TEST_F(WaitStepFaults, FirstBlockResendsTheBlockAndGivesUp) {
  SilentFrom(0);
  host->Row(kKindFv, WriteFile("fv.bin", Pattern(300, 6)));
  OnDownloadFv();
  host->RunUntilIdle();
  ExpectGaveUp(0x19, 400, false);
  // FV is counted in short blocks: the resends are short blocks of block 0.
  const std::vector<SentFrame> sent = SentFrames();
  EXPECT_TRUE(sent[0].scrambled);
  for (std::size_t i = 1; i < sent.size(); ++i) EXPECT_EQ(sent[i].payload.size(), 53u);
}

TEST_F(WaitStepFaults, FirstBlockOfAFontIsResentWhole) {
  SilentFrom(1);
  host->Row(kKindFont, WriteFile("font.bin", Pattern(3000, 4)));
  OnDownloadFont();
  host->RunUntilIdle();
  ExpectGaveUp(0x12, 1 + 400, false);
  for (const SentFrame& f : SentFrames()) {
    if (f.code == 0x12) {
      EXPECT_EQ(f.payload.size(), 2056u);
    }
  }
}

TEST_F(WaitStepFaults, BeginGivesUpAfterFortyPollsAndClosesTheLink) {
  SilentFrom(0);
  host->Row(kKindBoot, WriteFile("boot.bin", ImageFile(500)));
  OnBatchDownload();
  host->RunUntilIdle();
  ExpectGaveUp(0x43, 40, true);
  EXPECT_EQ(g_transfer.batchQueue.size(), 1u);  // the unfinished item waits for the next press
}

TEST_F(WaitStepFaults, FirstChunkPollsEvery200MsAndClosesTheLink) {
  SilentFrom(1);
  host->Row(kKindBoot, WriteFile("boot.bin", ImageFile(500)));
  OnDownloadBoot();
  host->RunUntilIdle();
  ExpectGaveUp(0x42, 1 + 360, true);
  const auto pauses = std::count_if(host->sleeps.begin(), host->sleeps.end(),
                                    [](const FakeHost::SleepCall& s) { return s.ms == 200; });
  EXPECT_EQ(pauses, 360);
}

TEST_F(WaitStepFaults, BeginAfterRestartResendsTheBeginNotAChunk) {
  SilentFrom(1, /*beginStatus=*/3);
  host->Row(kKindBoot, WriteFile("boot.bin", ImageFile(500)));
  OnBatchDownload();
  host->RunUntilIdle();
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(codes, (std::vector<std::uint16_t>{0x43, 0x43, 0x43, 0x43, 0x43}));
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"M52"});
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_NE(g_transfer.m_dev, nullptr);
  EXPECT_FALSE(host->AnyTimerArmed());
}

TEST_F(WaitStepFaults, EndGivesUpWithoutClosingTheLink) {
  SilentFrom(1);
  host->Row(kKindPic, WriteFile("pic.bin", Pattern(100, 8)));
  OnDownloadPic();
  host->RunUntilIdle();
  // The loop's completion pass counted a poll that the end step inherits.
  ExpectGaveUp(0x44, 1 + 399, false);
}

// The limit test comes before the check: a good report read on the limit poll is ignored.
TEST_F(WaitStepFaults, ReportOnTheLimitPollIsIgnored) {
  host->Row(kKindLang, WriteFile("lang.bin", Pattern(100, 5)));
  OnDownloadLang();
  g_transfer.pollCount = 99;  // the connect reply is waiting; this poll reaches the limit
  host->RunUntilIdle();
  const std::vector<std::uint16_t> codes = SentCodes();
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[0], 0x06);
  EXPECT_EQ(codes[1], 0x06);  // resent although a good reply had been read
  EXPECT_EQ(codes.back(), 0x44);
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

TEST_F(WaitStepFaults, StaleReplyIsNotTakenForTheNewCommand) {
  sim::Faults faults;
  faults.staleCodeAtFrame = 1;  // the prepare reply carries the connect code
  UseDevice(faults);
  host->Row(kKindRcdb, WriteFile("db.rdb", Pattern(100, 3)));
  OnDownloadRcdb();
  host->RunUntilIdle();
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x14), 2);
  EXPECT_EQ(Received("rcdb"), Scrambled(Pattern(100, 3), XorKeyB));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

TEST_F(WaitStepFaults, RefusedBeginShowsS0051AndKeepsTheLink) {
  sim::Faults faults;
  faults.beginStatus = 5;
  UseDevice(faults);
  host->Row(kKindBoot, WriteFile("boot.bin", ImageFile(500)));
  OnBatchDownload();
  host->RunUntilIdle();
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"M51"});
  EXPECT_EQ(host->boxes[0].title, "M11");
  EXPECT_FALSE(host->boxes[0].busy);
  EXPECT_EQ(host->status, "");  // no failure report
  EXPECT_NE(g_transfer.m_dev, nullptr);
  EXPECT_FALSE(host->AnyTimerArmed());
  EXPECT_EQ(SentCodes(), std::vector<std::uint16_t>{0x43});
}

TEST_F(WaitStepFaults, DeviceNotBackAfterRestartEndsTheTransfer) {
  sim::Faults faults;
  faults.beginStatus = 3;
  faults.neverBack = true;
  UseDevice(faults);
  host->Row(kKindRcdb, WriteFile("db.rdb", Pattern(100, 3)));
  OnBatchDownload();
  host->RunUntilIdle();
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Device NOT found!", "M52"}));
  EXPECT_EQ(host->boxes[1].at - host->armedAt[1], 12'000'000);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
  EXPECT_EQ(host->armed, (std::vector<std::uint32_t>{4, 7}));
  EXPECT_FALSE(host->AnyTimerArmed());
}

// A box the operator leaves open for seconds runs the message loop: the
// connect timer's ticks that arrive meanwhile must not poll or resend.
TEST_F(WaitStepFaults, TicksDuringTheFailureBoxDoNothing) {
  SilentFrom(0);
  host->boxDwell = 5'000'000;
  host->Row(kKindFont, WriteFile("font.bin", Pattern(3000, 4)));
  OnDownloadFont();
  host->RunUntilIdle();
  ExpectGaveUp(0x06, 400, false);
}

}  // namespace
