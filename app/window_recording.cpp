#include "app/window_recording.h"

#include "engine/sha256.h"
#include "ledger/opened_batch.h"
#include "record/transfer_context.h"
#include "settings/messages.h"
#include "settings/settings.h"

namespace {

// tamsolt-cli's exit codes for the ways a batch with an open device ends.
constexpr int kDone = 0;
constexpr int kBeginRefused = 7;
constexpr int kGaveUp = 8;

std::string LedgerPath() {
  const std::string configured = ReadSetting("path", "ledger");
  return configured.empty() ? DefaultLedgerPath() : configured;
}

}  // namespace

WindowRecording::WindowRecording(Report report, Report forwardReport)
    : report_(std::move(report)), forwardReport_(std::move(forwardReport)) {}

void WindowRecording::DeviceOpened() {
  if (!ledger_) {
    std::string error;
    ledger_ = Ledger::Open(LedgerPath(), error);
    if (!ledger_) {
      report_("ledger: " + error + " (this board is not recorded)");
      return;
    }
    if (!ledger_->Notice().empty()) report_("ledger: " + ledger_->Notice());
  }
  recorder_ = std::make_unique<BoardRecorder>(
      ledger_.get(), BoardIdentity("tamsolt", g_iniPath, Sha256OfFile(g_iniPath)), report_);
  failureReported_ = false;
  RecordOpenedBatchDevice(*recorder_);
}

void WindowRecording::ItemStarted(std::uint8_t kind, std::uint64_t bytes, const std::string& sha256) {
  if (recorder_) recorder_->ItemStarted(KindName(kind), bytes, sha256);
}

void WindowRecording::ItemFinished(std::uint8_t kind) {
  if (recorder_) recorder_->ItemFinished(KindName(kind));
}

void WindowRecording::EndAnswered() {
  if (recorder_) recorder_->EndAnswered();
}

void WindowRecording::StatusShown() {
  if (recorder_ && recorder_->Running()) failureReported_ = true;
}

void WindowRecording::BoxComing(const std::string& text, const std::string& title) {
  if (!recorder_ || !recorder_->Running()) return;
  recorder_->BoxShown(text);
  if (failureReported_) {
    Finish(kGaveUp, "transfer gave up");
  } else if (g_transfer.m_dev == nullptr && text == MessageText(kMsgDone) &&
             title == MessageText(kMsgTitle)) {
    // The completion box comes after the end reply closed the link.
    Finish(kDone, "done");
  } else if (g_transfer.busy == 0) {
    // Only the refused begin ends a transfer with a box but no failure report.
    Finish(kBeginRefused, "begin refused");
  }
}

void WindowRecording::Finish(int code, const char* word) {
  recorder_->Finish(code, word);
  recorder_.reset();
  // The row is finished: forward it and any backlog, off this thread.
  if (!forwarder_) {
    const std::string url = ReadSetting("url", "ledger");
    if (url.empty()) return;
    forwarder_ = std::make_unique<BacklogForwarder>(
        LedgerPath(), url, [report = forwardReport_](const ForwardResult& result, bool errorIsNew) {
          if (errorIsNew) report(result.error + " (the boards stay queued in the ledger)");
          if (!result.notice.empty()) report(result.notice);  // given once by the forwarder
        });
  }
  forwarder_->Request();
}
