// Recording a single device's run of tamsolt-cli (also each child of --all)
// in the ledger. A ledger that cannot be opened or written is said on
// standard error and never stops the transfer; the device's outcome stays the
// result, unless the device was done: then the exit code tells the ledger failed.
#pragma once

#include <memory>
#include <string>

#include "cli/terminal_host.h"
#include "ledger/board_recorder.h"
#include "run/cli_options.h"

class BoardRecording {
 public:
  // Opens the ledger of options (none with --no-ledger).
  explicit BoardRecording(const CliOptions& options);
  BoardRecorder& Recorder() { return recorder_; }
  // Finishes the board with the run's exit code; the code to exit with.
  int Finish(int code);
  // The ledger was opened (a run with --no-ledger or a ledger that could not be opened has none).
  bool Opened() const { return ledger_ != nullptr; }

 private:
  // Every board's fields of this run, the recipe's name and version among them.
  static BoardRecord Identity(const CliOptions& options);
  bool openFailed_ = false;
  std::unique_ptr<Ledger> ledger_;
  BoardRecorder recorder_;
};


// The terminal host, telling the recorder what the engine does.
class RecordingTerminalHost final : public TerminalHost {
 public:
  RecordingTerminalHost(BoardRecorder& recorder, CliRows rows, const std::string& logFile,
                        std::string device)
      : TerminalHost(std::move(rows), logFile, std::move(device)), recorder_(recorder) {}

  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  void BatchDeviceOpened() override;
  void BatchItemStarted(std::uint8_t kind, const std::string& path, std::uint64_t bytes,
                        const std::string& sha256) override;
  void BatchItemFinished(std::uint8_t kind) override;
  void TransferEndAnswered() override;

 protected:
  // An interrupted run still finishes its board row, with code 10 and where it was cut.
  void BeforeInterruptedExit(int code, const std::string& where) override;

 private:
  BoardRecorder& recorder_;
};
