#include "cli/board_recording.h"

#include <cstdio>

#include "engine/sha256.h"
#include "events/exit_codes.h"
#include "ledger/opened_batch.h"
#include "record/transfer_context.h"
#include "run/ledger_options.h"
#include "settings/settings.h"

namespace {

void ReportProblem(const std::string& problem) {
  std::fprintf(stderr, "tamsolt-cli: %s\n", problem.c_str());
  std::fflush(stderr);
}

std::unique_ptr<Ledger> OpenLedger(const std::string& path, bool& failed) {
  if (path.empty()) return nullptr;
  std::string error;
  auto ledger = Ledger::Open(path, error);
  if (!ledger) {
    ReportProblem("ledger: " + error + " (this run is not recorded)");
    failed = true;
    return ledger;
  }
  if (!ledger->Notice().empty()) ReportProblem("ledger: " + ledger->Notice());
  if (const int closed = ledger->ClosedCutOffBoards(); closed > 0) {
    ReportProblem("ledger: closed " + std::to_string(closed) +
                  " board row(s) whose writer had ended without closing them");
  }
  return ledger;
}

}  // namespace

BoardRecording::BoardRecording(const CliOptions& options)
    : ledger_(OpenLedger(LedgerPathFor(options.ledger), openFailed_)),
      recorder_(ledger_.get(), Identity(options), &ReportProblem) {
  if (openFailed_) recorder_.MarkFailed();
}

BoardRecord BoardRecording::Identity(const CliOptions& options) {
  BoardRecord identity = BoardIdentity("tamsolt-cli", g_iniPath, Sha256OfFile(g_iniPath));
  identity.uuid = options.ledger.boardUuid;
  if (const auto& taken = options.recipe.taken) {
    identity.recipe = taken->first;
    identity.recipeVersion = taken->second;
  }
  return identity;
}

int BoardRecording::Finish(int code) {
  // Lines lost from the log file (11): the board is written all the same, and
  // the ledger says so, with the loss as its own fact; the exit code stays 11.
  const bool logLost = code == AsInt(ExitCode::kRecordLost);
  const int written = logLost ? AsInt(ExitCode::kDone) : code;
  recorder_.Finish(written, ExitCodeMeaning(written), logLost);
  if (code == AsInt(ExitCode::kDone) && recorder_.Failed()) return AsInt(ExitCode::kRecordLost);
  return code;
}

void RecordingTerminalHost::ShowMessage(const std::string& text, const std::string& title,
                                        MessageIcon icon) {
  TerminalHost::ShowMessage(text, title, icon);
  recorder_.BoxShown(text);
}

void RecordingTerminalHost::BatchDeviceOpened() { RecordOpenedBatchDevice(recorder_); }

void RecordingTerminalHost::BatchItemStarted(std::uint8_t kind, const std::string&,
                                             std::uint64_t bytes, const std::string& sha256) {
  recorder_.ItemStarted(KindName(kind), bytes, sha256);
}

void RecordingTerminalHost::BatchItemFinished(std::uint8_t kind) {
  recorder_.ItemFinished(KindName(kind));
}

void RecordingTerminalHost::TransferEndAnswered() {
  // Noted before it is told, so a supervisor that hears it finds it in the ledger.
  recorder_.EndAnswered();
  TerminalHost::TransferEndAnswered();
}

void RecordingTerminalHost::BeforeInterruptedExit(int code, const std::string& where) {
  recorder_.BoxShown(where);  // the row's message says where, as the log line does
  recorder_.Finish(code, ExitCodeMeaning(code));
}
