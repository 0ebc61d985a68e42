// The exit status of tamsolt-cli: one code per way a run can end, so a script
// can tell them apart.
#pragma once

enum class ExitCode : int {
  kDone = 0,              // the completion message came
  kSomeDeviceFailed = 1,  // --all: at least one device did not finish
  kBadCommandLine = 2,
  kRowRefused = 3,        // a row was refused at the press (path, file, size, format)
  kDeviceNotFound = 4,
  kDeviceNotOpened = 5,
  kPermissionDenied = 6,  // the device node is not writable for this user
  kBeginRefused = 7,      // the device answered the begin with a refusing status
  kTransferGaveUp = 8,    // any failure after the transfer started
  kNoDeviceInTime = 9,    // --wait: no device came
  kInterrupted = 10,      // SIGINT, SIGTERM or SIGHUP stopped the run
  kRecordLost = 11,       // the device is done, but the log file or the ledger lost its record
  kNoRecipe = 12,         // --recipe: no version of the recipe can be written (none held whole)
};
inline constexpr ExitCode kLastExitCode = ExitCode::kNoRecipe;

inline int AsInt(ExitCode code) { return static_cast<int>(code); }

// Short words for the closing table of --all and for --help ("done",
// "device not found", ...); "exit N" for a code outside the list.
const char* ExitCodeMeaning(int code);
