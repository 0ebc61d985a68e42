// Records one board from what the host hears of the run: the device opened,
// each item read and finished, the boxes shown and the outcome. Both the
// window and tamsolt-cli feed one, so they record alike. A ledger that fails
// is reported through the report function and never stops the run.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger.h"

class BoardRecorder {
 public:
  using Report = std::function<void(const std::string& problem)>;

  // ledger may be null (no ledger for this run, or it could not be opened):
  // nothing is recorded. identity: program, version, station, operator and
  // settings of every board this recorder starts (and its uuid, when given,
  // for the one board a station's child records).
  BoardRecorder(Ledger* ledger, BoardRecord identity, Report report);

  // The device was opened for a batch of these rows (kind, path, pinned;
  // every other field is filled as the run goes).
  void DeviceOpened(const std::string& device, const std::string& slot,
                    std::vector<ImageRecord> rows);
  void ItemStarted(const std::string& kind, std::uint64_t bytes, const std::string& sha256);
  void ItemFinished(const std::string& kind);
  // The device answered the end exchange: it holds every image.
  void EndAnswered();
  void BoxShown(const std::string& text);
  // The run ended with this code and word; boxes shown since the device was
  // opened become the message unless it is done. logLost: written, but lines
  // of its log file were lost. Nothing when no board is open.
  void Finish(int code, const std::string& word, bool logLost = false);

  bool Running() const { return boardId_.has_value(); }
  // A write failed (or the ledger could not be opened) during this recorder's life.
  bool Failed() const { return failed_; }
  void MarkFailed() { failed_ = true; }

 private:
  ImageRecord* Row(const std::string& kind);
  void Note(const ImageRecord& row);
  void Problem(const std::string& what, const std::string& error);

  Ledger* ledger_;
  BoardRecord identity_;
  Report report_;
  std::optional<std::int64_t> boardId_;
  double startedSeconds_ = 0;
  std::vector<ImageRecord> rows_;
  std::string boxes_;
  bool failed_ = false;
};
