// Wait steps that hear nothing: three resends, then the step's failure
// actions on the fourth poll limit; the begin status branches.
#include <algorithm>

#include "engine/batch.h"
#include "engine/single_download.h"
#include "record/transfer_context.h"
#include "engine_fixture.h"
#include "sim/inprocess_usb.h"

namespace {

class WaitStepFaults : public EngineTest {
 protected:
  // The device answers frames before `from`, then stays silent.
  void SilentFrom(int from, int beginStatus = 4) {
    UseDevice({.silentFromFrame = from, .silentReplies = 100000, .beginStatus = beginStatus});
  }

  // Runs one row on a device silent from frame `silentFrom`: the step sent its
  // frame, resent it three times and gave up with the failure report; only ids
  // 4 and 5 close the link (and then wait 2 s). An unfinished batch item waits
  // for the next press.
  void ExpectGaveUp(int silentFrom, std::uint8_t kind, const Bytes& file, void (*press)(),
                    std::uint16_t code, int polls, bool closesLink) {
    SilentFrom(silentFrom);
    host->boxes.clear();
    host->sleeps.clear();
    host->checked = {};
    RunRow(kind, file, press);
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
    EXPECT_EQ(g_transfer.batchQueue.size(), press == &OnBatchDownload ? 1u : 0u);
  }
};

TEST_F(WaitStepFaults, EachStepResendsThreeTimesThenGivesUp) {
  {
    SCOPED_TRACE("connect");
    ExpectGaveUp(0, kKindFont, Pattern(3000, 4), &OnDownloadFont, 0x06, 400, false);
  }
  {
    SCOPED_TRACE("prepare");
    ExpectGaveUp(1, kKindRcdb, Pattern(300, 3), &OnDownloadRcdb, 0x14, 1 + 400, false);
  }
  {
    SCOPED_TRACE("first block of FV: short blocks of block 0 after the whole one");
    ExpectGaveUp(0, kKindFv, Pattern(300, 6), &OnDownloadFv, 0x19, 400, false);
    EXPECT_TRUE(SentFrames().front().scrambled);
    EXPECT_EQ(SentFrames().back().payload.size(), 53u);
  }
  {
    SCOPED_TRACE("first block of a font: resent whole");
    ExpectGaveUp(1, kKindFont, Pattern(3000, 4), &OnDownloadFont, 0x12, 1 + 400, false);
    EXPECT_EQ(SentFrames().back().payload.size(), 2056u);
  }
  {
    SCOPED_TRACE("begin");
    ExpectGaveUp(0, kKindBoot, ImageFile(500), &OnBatchDownload, 0x43, 40, true);
  }
  {
    SCOPED_TRACE("first chunk: polls every 200 ms");
    ExpectGaveUp(1, kKindBoot, ImageFile(500), &OnDownloadBoot, 0x42, 1 + 360, true);
    EXPECT_EQ(std::count_if(host->sleeps.begin(), host->sleeps.end(),
                            [](const FakeHost::SleepCall& s) { return s.ms == 200; }),
              360);
  }
  {
    SCOPED_TRACE("end: the loop's completion pass counted a poll the end step inherits");
    ExpectGaveUp(1, kKindPic, Pattern(100, 8), &OnDownloadPic, 0x44, 1 + 399, false);
  }
}

// A box the operator leaves open for seconds runs the message loop: the
// connect timer's ticks that arrive meanwhile must not poll or resend.
TEST_F(WaitStepFaults, TicksDuringTheFailureBoxDoNothing) {
  host->boxDwell = 5'000'000;
  ExpectGaveUp(0, kKindFont, Pattern(3000, 4), &OnDownloadFont, 0x06, 400, false);
}

TEST_F(WaitStepFaults, BeginAfterRestartResendsTheBeginNotAChunk) {
  SilentFrom(1, /*beginStatus=*/3);
  RunRow(kKindBoot, ImageFile(500), &OnBatchDownload);
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(codes, (std::vector<std::uint16_t>{0x43, 0x43, 0x43, 0x43, 0x43}));
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"M52"});
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_NE(g_transfer.m_dev, nullptr);
  EXPECT_FALSE(host->AnyTimerArmed());
}

// The limit test comes before the check: a good report read on the limit poll is ignored.
TEST_F(WaitStepFaults, ReportOnTheLimitPollIsIgnored) {
  Put(kKindLang, Pattern(100, 5));
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
  UseDevice({.staleCodeAtFrame = 1});
  RunRow(kKindRcdb, Pattern(100, 3), &OnDownloadRcdb);
  const std::vector<std::uint16_t> codes = SentCodes();
  EXPECT_EQ(std::count(codes.begin(), codes.end(), 0x14), 2);
  EXPECT_EQ(Received("rcdb"), Scrambled(Pattern(100, 3), XorKeyB));
  EXPECT_EQ(BoxTexts(), std::vector<std::string>{"M50"});
}

TEST_F(WaitStepFaults, RefusedBeginShowsS0051AndKeepsTheLink) {
  UseDevice({.beginStatus = 5});
  RunRow(kKindBoot, ImageFile(500), &OnBatchDownload);
  ASSERT_EQ(BoxTexts(), std::vector<std::string>{"M51"});
  EXPECT_EQ(host->boxes[0].title, "M11");
  EXPECT_FALSE(host->boxes[0].busy);
  EXPECT_EQ(host->status, "");  // no failure report
  EXPECT_NE(g_transfer.m_dev, nullptr);
  EXPECT_FALSE(host->AnyTimerArmed());
  EXPECT_EQ(SentCodes(), std::vector<std::uint16_t>{0x43});
}

TEST_F(WaitStepFaults, DeviceNotBackAfterRestartEndsTheTransfer) {
  UseDevice({.beginStatus = 3, .neverBack = true});
  RunRow(kKindRcdb, Pattern(100, 3), &OnBatchDownload);
  EXPECT_EQ(BoxTexts(), (std::vector<std::string>{"Device NOT found!", "M52"}));
  EXPECT_EQ(host->boxes[1].at - host->armedAt[1], 12'000'000);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
  EXPECT_EQ(host->armed, (std::vector<std::uint32_t>{4, 7}));
  EXPECT_FALSE(host->AnyTimerArmed());
}

}  // namespace
