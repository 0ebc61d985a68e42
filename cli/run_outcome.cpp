#include "cli/run_outcome.h"

#include "settings/messages.h"
#include "record/transfer_context.h"
#include "link/usb_link.h"

namespace {

bool IsOpenFailureText(const std::string& text) {
  return text == kTextCouldNotOpen || text == kTextCouldNotSetConfiguration ||
         text == kTextInterfaceOccupied;
}

}  // namespace

void RunOutcome::Decide(ExitCode code) {
  if (decided_) return;
  decided_ = true;
  code_ = code;
}

void RunOutcome::FailureReported() {
  Decide(ExitCode::kTransferGaveUp);
}

void RunOutcome::MessageShown(const std::string& text, const std::string& title) {
  if (decided_) return;
  if (inPress_) {
    if (text == kTextDeviceNotFound) {
      Decide(ExitCode::kDeviceNotFound);
    } else if (IsOpenFailureText(text)) {
      Decide(LastOpenRefusedForPermission() ? ExitCode::kPermissionDenied
                                        : ExitCode::kDeviceNotOpened);
    } else if (g_transfer.busy == 0) {
      // Every other box of a press that started nothing refuses a row.
      Decide(ExitCode::kRowRefused);
    }
    // A box of a started item is followed by the failure report.
    return;
  }
  if (g_transfer.busy == 0) {
    // Only the refused begin ends a transfer with a box but no failure report.
    Decide(ExitCode::kBeginRefused);
  } else if (g_transfer.m_dev == nullptr && text == MessageText(kMsgDone) &&
             title == MessageText(kMsgTitle)) {
    // The completion box comes after the end reply closed the link.
    done_ = true;
  }
}

ExitCode RunOutcome::Result() const {
  if (decided_) return code_;
  return done_ ? ExitCode::kDone : ExitCode::kTransferGaveUp;
}
