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
    UseDevice({.silentFromFrame = from, .silentReplies = 100000, .beginStatus = beginStatus});
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

struct GiveUp {
  const char* step;
  std::uint8_t kind;
  void (*press)();
  Bytes file;
  int silentFrom;  // frames the device still answers
  std::uint16_t code;
  int polls;
  bool closesLink;
  std::size_t resentPayload = 0;  // 0: not checked
  int pausesOf200Ms = -1;         // -1: not checked
  // A box the operator leaves open for seconds runs the message loop: the
  // step's timer ticks that arrive meanwhile must not poll or resend.
  sim::Micros boxDwell = 0;
};

TEST_F(WaitStepFaults, EachStepResendsThreeTimesThenGivesUp) {
  const GiveUp cases[] = {
      {"connect", kKindFont, &OnDownloadFont, Pattern(3000, 4), 0, 0x06, 400, false, 0},
      {"prepare", kKindRcdb, &OnDownloadRcdb, Pattern(300, 3), 1, 0x14, 1 + 400, false, 0},
      // FV is counted in short blocks: the resends are short blocks of block 0.
      {"first fv block", kKindFv, &OnDownloadFv, Pattern(300, 6), 0, 0x19, 400, false, 53},
      {"first font block", kKindFont, &OnDownloadFont, Pattern(3000, 4), 1, 0x12, 1 + 400, false,
       2056},
      {"begin", kKindBoot, &OnBatchDownload, ImageFile(500), 0, 0x43, 40, true, 0},
      {"first chunk", kKindBoot, &OnDownloadBoot, ImageFile(500), 1, 0x42, 1 + 360, true, 0, 360},
      // The loop's completion pass counted a poll that the end step inherits.
      {"end", kKindPic, &OnDownloadPic, Pattern(100, 8), 1, 0x44, 1 + 399, false},
      {"connect, box left open", kKindFont, &OnDownloadFont, Pattern(3000, 4), 0, 0x06, 400, false,
       0, -1, 5'000'000},
  };
  for (const GiveUp& step : cases) {
    SCOPED_TRACE(step.step);
    SilentFrom(step.silentFrom);
    host->boxes.clear();
    host->sleeps.clear();
    host->positions.clear();
    host->status.clear();
    host->checked = {};
    host->boxDwell = step.boxDwell;
    host->Row(step.kind, WriteFile("image", step.file));
    step.press();
    host->RunUntilIdle();
    ExpectGaveUp(step.code, step.polls, step.closesLink);
    const std::vector<SentFrame> sent = SentFrames();
    if (step.resentPayload != 0) {
      EXPECT_TRUE(sent[step.silentFrom].scrambled);  // the first is a whole data block
      EXPECT_EQ(sent.back().payload.size(), step.resentPayload);
    }
    if (step.pausesOf200Ms >= 0) {
      EXPECT_EQ(std::count_if(host->sleeps.begin(), host->sleeps.end(),
                              [](const FakeHost::SleepCall& s) { return s.ms == 200; }),
                step.pausesOf200Ms);
    }
    // An unfinished batch item waits for the next press; a single download queues nothing.
    EXPECT_EQ(g_transfer.batchQueue.size(), step.press == &OnBatchDownload ? 1u : 0u);
  }
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

TEST_F(WaitStepFaults, EndGivesUpWithoutClosingTheLink) {
  SilentFrom(1);
  RunRow(kKindPic, Pattern(100, 8), &OnDownloadPic);
  // The loop's completion pass counted a poll that the end step inherits.
  ExpectGaveUp(0x44, 1 + 399, false);
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
