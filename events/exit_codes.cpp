#include "events/exit_codes.h"

const char* ExitCodeMeaning(int code) {
  switch (static_cast<ExitCode>(code)) {
    case ExitCode::kDone: return "done";
    case ExitCode::kSomeDeviceFailed: return "a device failed";
    case ExitCode::kBadCommandLine: return "bad command line";
    case ExitCode::kRowRefused: return "row refused";
    case ExitCode::kDeviceNotFound: return "device not found";
    case ExitCode::kDeviceNotOpened: return "device not opened";
    case ExitCode::kPermissionDenied: return "no permission on the device";
    case ExitCode::kBeginRefused: return "begin refused";
    case ExitCode::kTransferGaveUp: return "transfer gave up";
    case ExitCode::kNoDeviceInTime: return "no device in time";
    case ExitCode::kInterrupted: return "interrupted";
    case ExitCode::kRecordLost: return "done, record lost";
    case ExitCode::kNoRecipe: return "no recipe to write";
  }
  // A child ended by a signal (128 + N), as the shell reports it.
  return code > 128 ? "failed: ended by a signal" : "failed";
}
