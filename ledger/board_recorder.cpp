#include "ledger/board_recorder.h"

#include <time.h>

namespace {

// A clock that does not jump with the wall clock, for the board's seconds.
double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

BoardRecorder::BoardRecorder(Ledger* ledger, BoardRecord identity, Report report)
    : ledger_(ledger), identity_(std::move(identity)), report_(std::move(report)) {}

void BoardRecorder::Problem(const std::string& what, const std::string& error) {
  failed_ = true;
  if (report_) report_("ledger: " + what + ": " + error);
}

void BoardRecorder::DeviceOpened(const std::string& device, const std::string& slot,
                                 std::vector<ImageRecord> rows) {
  if (ledger_ == nullptr || boardId_) return;
  BoardRecord board = identity_;
  if (board.uuid.empty()) board.uuid = NewUuid();  // a station's child is given its row's
  board.startedUtc = UtcNow();
  board.device = device;
  board.slot = slot;
  rows_ = std::move(rows);
  for (ImageRecord& row : rows_) row.result = "not reached";
  boxes_.clear();
  startedSeconds_ = MonotonicSeconds();
  std::string error;
  boardId_ = ledger_->BeginBoard(board, error, rows_);
  if (!boardId_) Problem("cannot record the board", error);
}

ImageRecord* BoardRecorder::Row(const std::string& kind) {
  for (ImageRecord& row : rows_) {
    if (row.kind == kind) return &row;
  }
  return nullptr;
}

void BoardRecorder::ItemStarted(const std::string& kind, std::uint64_t bytes,
                                const std::string& sha256) {
  if (ImageRecord* row = Row(kind)) {
    row->bytes = bytes;
    row->sha256 = sha256;
    row->startedUtc = UtcNow();
    row->result = "failed";  // until the device has taken it whole
    Note(*row);
  }
}

void BoardRecorder::Note(const ImageRecord& row) {
  if (ledger_ != nullptr && boardId_) ledger_->NoteImage(*boardId_, row);
}

void BoardRecorder::EndAnswered() {
  if (ledger_ != nullptr && boardId_) ledger_->NoteEndAnswered(*boardId_);
}

void BoardRecorder::ItemFinished(const std::string& kind) {
  if (ImageRecord* row = Row(kind)) {
    row->finishedUtc = UtcNow();
    row->result = "written";
    Note(*row);
  }
}

void BoardRecorder::BoxShown(const std::string& text) {
  if (!boardId_) return;
  if (!boxes_.empty()) boxes_ += '\n';
  boxes_ += text;
}

void BoardRecorder::Finish(int code, const std::string& word, bool logLost) {
  if (ledger_ == nullptr || !boardId_) return;
  BoardOutcome outcome;
  outcome.finishedUtc = UtcNow();
  outcome.seconds = MonotonicSeconds() - startedSeconds_;
  outcome.code = code;
  outcome.word = word;
  outcome.logLost = logLost;
  if (code != 0) outcome.message = boxes_;
  for (ImageRecord& row : rows_) {
    // An item cut off mid-way ends when the run does.
    if (row.result == "failed") row.finishedUtc = outcome.finishedUtc;
  }
  std::string error;
  if (!ledger_->FinishBoard(*boardId_, outcome, rows_, error)) {
    Problem("cannot finish the board", error + " (kept: tried again with the next board and at the "
                                               "end, else closed by the next program on this ledger)");
  }
  boardId_.reset();
}
