// How a run ended, read from what the engine did through its host: which box
// it showed (the link's fixed texts, a table message), whether the failure
// report came (it writes the status line), where in the run it happened and
// what the transfer record says at that moment.
#pragma once

#include <string>

#include "events/exit_codes.h"

class RunOutcome {
 public:
  // Around the call of the batch press: refusals and link failures happen there.
  void PressStarted() { inPress_ = true; }
  void PressEnded() { inPress_ = false; }

  // Every box the engine or the link shows.
  void MessageShown(const std::string& text, const std::string& title);
  // The failure report writes the status line before its box.
  void FailureReported();

  // A failure (or a refusal) has decided the run: nothing after it changes the code.
  bool FailureDecided() const { return decided_; }
  // Inside the press: nothing was sent to the device yet.
  bool InPress() const { return inPress_; }

  // The code for the run as it stands; a run that ended without any of the
  // known signs counts as given up.
  ExitCode Result() const;

 private:
  void Decide(ExitCode code);

  bool inPress_ = false;
  bool decided_ = false;
  bool done_ = false;
  ExitCode code_ = ExitCode::kTransferGaveUp;
};
