// A station's child that could not close its board's row (a signal ended it,
// or its ledger's disk was full when it finished) leaves the row running:
// the station closes it for the child from what it knows of the child's end,
// so no row stays "running" for a board that is over. A close that cannot be
// written now is kept and tried again with the next child's and at the end.
#pragma once

#include <string>
#include <vector>

#include "run/ledger_options.h"

// The reason of a writer the station killed because it had not ended after
// the stop (its bound passed, or a further stop signal came): interrupted.
inline constexpr char kKilledAfterStopText[] =
    "interrupted: the station ended its writer, which had not stopped when told";

class EndedChildRows {
 public:
  explicit EndedChildRows(const LedgerOptions& options) : options_(options) {}
  // Tries the closes still kept once more.
  ~EndedChildRows();
  EndedChildRows(const EndedChildRows&) = delete;
  EndedChildRows& operator=(const EndedChildRows&) = delete;

  // The child recorded under uuid ended with code (its exit code, or what the
  // station judged of a signal; 11, written with its record lost, is done):
  // closes its row if it is still running, with code's word and message. A
  // row the child closed itself, or none, stays as it is.
  void Close(const std::string& uuid, int code, const std::string& message, double seconds);
  std::size_t Kept() const { return kept_.size(); }

 private:
  struct Row {
    std::string uuid;
    int code;
    std::string message;
    double seconds;
    std::string finishedUtc;
  };
  void TryKept();

  const LedgerOptions& options_;
  std::vector<Row> kept_;
};
