// The transfer, one timer message at a time. Wait steps poll once per tick;
// the block loops run a whole image inside one tick, pacing the device with
// fixed sleeps. Every sleep and poll limit here is what the device needs.
#include "engine/state_machine.h"

#include <cstring>

#include "settings/messages.h"
#include "engine/batch.h"
#include "engine/engine_host.h"
#include "engine/progress_log.h"
#include "engine/test_data.h"
#include "record/transfer_context.h"
#include "link/command_frames.h"
#include "link/reply_frames.h"
#include "link/usb_link.h"

namespace {

constexpr std::uint16_t kRetryLimit = 3;        // resends a wait step may make
constexpr std::uint16_t kChunkRejectLimit = 10;  // rejected chunk replies before giving up
constexpr std::uint16_t kLoopPollLimit = 20;     // loop passes without acceptance: a time-out
constexpr std::uint32_t kCloseWaitMs = 2000;     // the device settles after the link is closed
constexpr std::uint32_t kNextItemPauseMs = 100;
constexpr std::uint16_t kDatabaseCommand = 17;

TransferContext& T() { return g_transfer; }

void Arm(std::uint32_t id) { Host().SetTimer(id, kTimerPeriodMs); }
void Stop(std::uint32_t id) { Host().KillTimer(id); }
void ClearReply() { std::memset(T().replyBuffer, 0, sizeof T().replyBuffer); }

void SendChunkOfSize(std::uint16_t size) {
  SendChunk(T().targetId, size, T().fileBuffer, T().fileLength);
}
void SendWholeBlock() { SendDataBlock(T().fileBuffer, T().fileLength); }
void SendShort() { SendShortBlock(T().fileBuffer, T().fileLength); }
void SendBeginOfImage() { SendBegin(T().altCodeSet != 0, T().targetId); }

// FONT, LANG, BMP and PIC are counted in 2048-byte blocks, so each of their
// blocks goes out whole; RCDB and FV are counted in 53-byte short blocks.
bool CountsWholeBlocks(std::uint8_t kind) {
  return kind == kKindFont || kind == kKindLang || kind == kKindBmp || kind == kKindPic;
}
void SendItemBlock() {
  if (CountsWholeBlocks(T().itemKind)) {
    SendWholeBlock();
  } else {
    SendShort();
  }
}

// The fatal end of a data loop and of the begin and first-chunk waits: the
// link is closed and the device given time before anything else happens.
void FailAndCloseLink() {
  T().busy = 0;
  ReportFailure();
  CloseDevice();
  Host().Sleep(kCloseWaitMs);
}

// ---- wait steps ---------------------------------------------------------

struct WaitStep {
  std::uint32_t id;
  std::uint32_t pauseMs;
  std::uint16_t pollLimit;
  void (*resend)();
  void (*accept)();
  void (*giveUp)();
};

void RunWaitStep(const WaitStep& step) {
  ++T().pollCount;
  if (step.pauseMs != 0) Host().Sleep(step.pauseMs);
  ReadReply();
  // The limit comes before the check: the report read on the last poll is ignored.
  if (T().pollCount >= step.pollLimit) {
    ++T().retryCount;
    T().pollCount = 0;
    if (T().retryCount <= kRetryLimit) {
      step.resend();
    } else {
      step.giveUp();
    }
    return;
  }
  if (CheckReply()) {
    Stop(step.id);
    T().pollCount = 0;
    T().retryCount = 0;
    step.accept();
  }
}

void AfterConnect() {
  if (T().itemCommand == kDatabaseCommand) {
    SendDatabasePrepare();
    Arm(kTimerDbPrepare);
  } else {
    SendWholeBlock();
    Arm(kTimerFirstBlock);
  }
}

void AfterDatabasePrepare() {
  T().itemCommand = kDatabaseCommand;
  SendWholeBlock();
  Arm(kTimerFirstBlock);
}

void AfterReadyBegin() {
  switch (T().itemKind) {
    case kKindBoot:
    case kKindHost:
      SendChunkOfSize(kChunk);
      Arm(kTimerFirstChunk);
      break;
    case kKindRcdb:
    case kKindFv:
      SendShort();
      Arm(kTimerFirstBlock);
      break;
    case kKindTdb:
      LogLine(MsgItemStarted(kKindTdb), true);
      Arm(kTimerTestDataLoop);
      break;
    default:
      SendWholeBlock();
      Arm(kTimerFirstBlock);
      break;
  }
}

void AfterBegin() {
  const std::uint8_t status = ReplyStatus();
  if (status == kBeginStatusRestart) {
    ClearReply();
    Host().SetTimer(kTimerRestart, kRestartDelayMs);
  } else if (status == kBeginStatusReady) {
    ClearReply();
    AfterReadyBegin();
  } else {
    T().busy = 0;
    ShowTableMessage(kMsgBeginRefused);
  }
}

void AfterBeginAgain() {
  switch (T().itemKind) {
    case kKindBoot:
    case kKindHost:
      SendChunkOfSize(static_cast<std::uint16_t>(kDataBlock));
      Arm(kTimerFirstChunk);
      break;
    case kKindTdb:
      // The head's reply is awaited like any first frame: a loop started on
      // top of it would take each chunk's acknowledgement from the frame before.
      SendTestDataHeadOfImage();
      LogLine(MsgItemStarted(kKindTdb), true);
      Arm(kTimerTestDataHead);
      break;
    default:
      SendWholeBlock();
      Arm(kTimerFirstBlock);
      break;
  }
}

void AfterEnd() {
  if (!T().batchQueue.empty()) return;
  CloseDevice();
  // Told after the link is closed, before the close wait: a stop from here on
  // meets a board whose device holds every image.
  Host().TransferEndAnswered();
  Host().Sleep(kCloseWaitMs);
  ShowTableMessage(kMsgDone);
  T().busy = 0;
}

void ResendFirstChunk() { SendChunkOfSize(kChunk); }
// A lost begin is sent again, not the chunk that would follow it.
void ResendBeginAgain() { SendBeginOfImage(); }

void GiveUpConnect() {
  T().retryCount = 0;
  ReportFailure();
  T().busy = 0;
  Stop(kTimerConnect);
}
void GiveUpFirstBlock() {
  Stop(kTimerFirstBlock);
  T().retryCount = 0;
  T().busy = 0;
  ReportFailure();
}
void GiveUpBegin() {
  Stop(kTimerBegin);
  T().retryCount = 0;
  FailAndCloseLink();
}
void GiveUpFirstChunk() {
  Stop(kTimerFirstChunk);
  T().retryCount = 0;
  FailAndCloseLink();
}
void GiveUpBeginAgain() {
  Stop(kTimerBeginAgain);
  T().retryCount = 0;
  T().busy = 0;
  ReportFailure();
}
void GiveUpEnd() {
  Stop(kTimerEnd);
  T().retryCount = 0;
  T().busy = 0;
  ReportFailure();
}
void GiveUpTestDataHead() {
  Stop(kTimerTestDataHead);
  T().retryCount = 0;
  T().busy = 0;
  ReportFailure();
}
void GiveUpDatabasePrepare() {
  Stop(kTimerDbPrepare);
  T().retryCount = 0;
  T().busy = 0;
  ReportFailure();
}

constexpr WaitStep kConnectStep{kTimerConnect, 4, 100, &SendConnect, &AfterConnect, &GiveUpConnect};
constexpr WaitStep kFirstBlockStep{kTimerFirstBlock, 4, 100, &SendItemBlock,
                                   [] { Arm(kTimerBlockLoop); }, &GiveUpFirstBlock};
constexpr WaitStep kBeginStep{kTimerBegin, 4, 10, &SendBeginOfImage, &AfterBegin, &GiveUpBegin};
constexpr WaitStep kFirstChunkStep{kTimerFirstChunk, 200, 90, &ResendFirstChunk,
                                   [] { Arm(kTimerChunkLoop); }, &GiveUpFirstChunk};
constexpr WaitStep kBeginAgainStep{kTimerBeginAgain, 4, 100, &ResendBeginAgain, &AfterBeginAgain,
                                   &GiveUpBeginAgain};
constexpr WaitStep kTestDataHeadStep{kTimerTestDataHead, 4, 100, &SendTestDataHeadOfImage,
                                     [] { Arm(kTimerTestDataLoop); }, &GiveUpTestDataHead};
constexpr WaitStep kEndStep{kTimerEnd, 0, 100, &SendEnd, &AfterEnd, &GiveUpEnd};
constexpr WaitStep kDatabasePrepareStep{kTimerDbPrepare, 4, 100, &SendDatabasePrepare,
                                        &AfterDatabasePrepare, &GiveUpDatabasePrepare};

// ---- restart --------------------------------------------------------------

// Twelve seconds after the device said it restarts: it has left the bus and
// come back, so the handle from before is dead. It is released and the link
// opened anew before the begin goes out again.
void RestartLink() {
  Stop(kTimerRestart);
  CloseDevice();
  if (!FindDevice()) {
    T().interfaceClaimed = 0;
    ReportFailure();
    return;
  }
  if (T().interfaceClaimed == 0 && !OpenDevice()) {
    ReportFailure();
    return;
  }
  SendBeginOfImage();
  Arm(kTimerBeginAgain);
}

// ---- finishing ------------------------------------------------------------

void HandOverOrEnd() {
  if (T().batchQueue.empty()) {
    SendEnd();
    Arm(kTimerEnd);
  } else {
    StartBatchItem();
    Host().Sleep(kNextItemPauseMs);
  }
}

void FinishItem() {
  LogLine(MsgItemFinished(T().itemKind), T().itemKind != kKindTdb);
  SetProgressPos(0);
  Host().BatchItemFinished(T().itemKind);
  if (!T().batchQueue.empty()) T().batchQueue.pop_front();
  HandOverOrEnd();
}

void FinishTestData() {
  Host().BatchItemFinished(kKindTdb);
  if (!T().batchQueue.empty()) T().batchQueue.pop_front();
  if (!T().batchQueue.empty()) {
    StartBatchItem();
  } else if (T().m_dev != nullptr) {
    SendEnd();
    Arm(kTimerEnd);
  } else {
    // No link left to close the exchange on.
    ReportFailure();
  }
}

// ---- the loops ------------------------------------------------------------

bool IsPaceBoundary(std::uint32_t next) { return next % 78 == 0 || next % 77 == 0 || next % 79 == 0; }

// A pass whose reply was not accepted: the same block goes out again.
// Returns false when the loop must end (the transfer failed).
bool StepBackAfterTimeout() {
  --T().blockIndex;
  ++T().retryCount;
  T().pollCount = 0;
  if (T().retryCount > kRetryLimit) {
    T().retryCount = 0;
    FailAndCloseLink();
    return false;
  }
  ShowTimeoutBox(T().blockIndex);
  return true;
}

// The start line goes out with block 1, once per item: block 1 is sent again
// whenever its reply is late or lost (a reply later than the read's 20 ms
// looks lost), and the item has not started a second time.
void LogStartOnce(bool& started) {
  if (T().blockIndex != 1 || started) return;
  LogLine(MsgItemStarted(T().itemKind), true);
  started = true;
}

bool EchoMatches() { return CheckReply() && ReplyEcho() == T().blockIndex; }

void RunShortBlockLoop() {
  Stop(kTimerBlockLoop);  // before any pump can deliver another tick of it
  if (T().blockIndex >= T().blockCount) {
    FinishItem();  // nothing left to send: the item is complete
    return;
  }
  bool keepGoing = true;
  bool started = false;
  while (T().itemKind != kKindTdb && keepGoing) {
    ++T().pollCount;
    ++T().blockIndex;
    ClearReply();
    const std::uint32_t next = T().blockIndex + 1u;
    if (next % 78 == 0) SetProgressPos(T().blockIndex);
    // Deliberately not the original cadence, for the operator: the bar moves
    // every 78th block as before, but events are handled on every pass, so the
    // window no longer freezes for the ~330 ms between two positions. The device
    // sees the same frames and sleeps in the same order either way.
    Host().PumpMessages();
    if (T().blockIndex >= T().blockCount) {
      Stop(kTimerFirstBlock);
      Stop(kTimerBlockLoop);
      FinishItem();
      return;
    }
    LogStartOnce(started);
    SendItemBlock();
    Stop(kTimerBlockLoop);
    Host().Sleep(IsPaceBoundary(next) ? 10 : 4);
    if (next == T().blockCount) Host().Sleep(150);  // the device files the last block
    ReadReply();
    if (T().pollCount >= kLoopPollLimit) {
      keepGoing = StepBackAfterTimeout();
    } else if (EchoMatches()) {
      T().pollCount = 0;
      T().retryCount = 0;
    } else {
      --T().blockIndex;
      if (++T().retryCount > kRetryLimit) T().retryCount = 0;
    }
    if (T().blockIndex >= T().blockCount) break;
  }
}

void RunChunkLoop() {
  Stop(kTimerChunkLoop);  // the first pump below must not start a second loop
  if (T().blockIndex >= T().blockCount) {
    FinishItem();  // nothing left to send: the item is complete
    return;
  }
  bool keepGoing = true;
  bool started = false;
  while (T().itemKind != kKindRcdb && T().itemKind != kKindTdb && keepGoing) {
    ++T().pollCount;
    ++T().blockIndex;
    ClearReply();
    SetProgressPos(T().blockIndex);
    Host().PumpMessages();
    if (T().blockIndex >= T().blockCount) {
      Stop(kTimerFirstChunk);
      Stop(kTimerChunkLoop);
      FinishItem();
      return;
    }
    LogStartOnce(started);
    SendChunkOfSize(kChunk);
    Stop(kTimerChunkLoop);
    Host().Sleep(4);
    ReadReply();
    if (T().pollCount >= kLoopPollLimit) {
      keepGoing = StepBackAfterTimeout();
    } else if (EchoMatches()) {
      T().pollCount = 0;
      T().retryCount = 0;
    } else {
      --T().blockIndex;
      if (++T().retryCount > kChunkRejectLimit) {
        // Too many refusals: the transfer ends here, no frame follows the report.
        ResetCounters(T());
        FailAndCloseLink();
        keepGoing = false;
      }
    }
    if (T().blockIndex >= T().blockCount) break;
  }
}

void RunTestDataLoop() {
  Stop(kTimerBegin);
  T().blockIndex = 0;
  Stop(kTimerTestDataLoop);
  while (T().blockIndex <= T().blockCount) {
    ++T().pollCount;
    SetProgressPos(T().blockIndex);
    Host().PumpMessages();
    if (T().blockIndex >= T().blockCount) {
      ++T().blockIndex;
      T().pollCount = 0;
      T().retryCount = 0;
      Stop(kTimerTestDataLoop);
      LogLine(MsgItemFinished(kKindTdb), true);
      FinishTestData();
      return;
    }
    ClearReply();
    SendTestDataChunkAtIndex();
    Stop(kTimerTestDataLoop);
    Host().Sleep((T().blockIndex + 1u) % 10 == 0 ? 150 : 8);
    ReadReply();
    if (T().pollCount >= kLoopPollLimit) {
      ++T().retryCount;
      T().pollCount = 0;
      if (T().retryCount > kRetryLimit) {
        T().retryCount = 0;
        Stop(kTimerTestDataLoop);
        FailAndCloseLink();
        return;
      }
    } else if (EchoMatches()) {  // a late reply to an earlier chunk is not this one's
      ++T().blockIndex;
      T().pollCount = 0;
      T().retryCount = 0;
      Stop(kTimerTestDataLoop);
    } else {
      ++T().retryCount;
    }
  }
}

bool IsTransferTimer(std::uint32_t id) {
  return id >= kTimerConnect && id <= kTimerTestDataLoop;
}

}  // namespace

void OnTimer(std::uint32_t id) {
  if (!IsTransferTimer(id)) return;
  // A tick that was already queued when the transfer ended (a modal failure
  // box runs the message loop) must not poll or resend for a finished transfer.
  if (T().busy == 0) {
    Stop(id);
    return;
  }
  switch (id) {
    case kTimerConnect:
      RunWaitStep(kConnectStep);
      break;
    case kTimerFirstBlock:
      RunWaitStep(kFirstBlockStep);
      break;
    case kTimerBlockLoop:
      RunShortBlockLoop();
      break;
    case kTimerBegin:
      RunWaitStep(kBeginStep);
      break;
    case kTimerFirstChunk:
      RunWaitStep(kFirstChunkStep);
      break;
    case kTimerChunkLoop:
      RunChunkLoop();
      break;
    case kTimerRestart:
      RestartLink();
      break;
    case kTimerBeginAgain:
      RunWaitStep(kBeginAgainStep);
      break;
    case kTimerEnd:
      RunWaitStep(kEndStep);
      break;
    case kTimerDbPrepare:
      RunWaitStep(kDatabasePrepareStep);
      break;
    case kTimerTestDataHead:
      RunWaitStep(kTestDataHeadStep);
      break;
    case kTimerTestDataLoop:
      RunTestDataLoop();
      break;
    default:
      break;
  }
}
