// Fuzz target: a ledger file as any bytes (a damaged page, a copy cut short,
// something else given as the ledger), through what a writer and a reader do
// with it. Nothing may crash; a file set aside is kept byte for byte, and
// the ledger opened in its place takes a board.
//
// Input: the file's bytes.
#include <filesystem>
#include <string>

#include "ledger/ledger.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzz::Require;

BoardRecord Board() {
  BoardRecord board;
  board.uuid = NewUuid();
  board.startedUtc = UtcNow();
  board.station = "station";
  board.slot = "1-1.3";
  board.device = "001:004";
  board.program = "tamsolt-cli";
  board.version = "1";
  board.operatorName = "op";
  return board;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string folder = fuzz::ScratchFolder() + "/ledger";
  // Nothing of an earlier input: the file, its -wal, -shm and any kept aside.
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  std::filesystem::create_directories(folder, ignored);
  const std::string path = folder + "/ledger.sqlite";
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  fuzz::WriteFileBytes(path, bytes);

  {
    std::string error;
    const auto reader = Ledger::OpenForReading(path, error, LedgerCheck::kEveryPage);
    if (reader) reader->ForEachBoard("", "", [](const StoredBoard&) {}, error);
  }
  std::string error;
  const auto ledger = Ledger::Open(path, error);
  if (!ledger) return 0;
  const std::string& notice = ledger->Notice();
  if (!notice.empty() && !ledger->Damaged()) {
    const std::size_t at = notice.find(" as " + path + ".damaged-");
    Require(at != std::string::npos, "a damaged ledger set aside says where it is kept");
    const std::size_t from = at + 4;
    const std::string keptAs = notice.substr(from, notice.find(',', from) - from);
    Require(fuzz::ReadFileBytes(keptAs) == bytes, "the damaged file is kept as it was");
    const auto id = ledger->BeginBoard(Board(), error);
    Require(id.has_value(), "the new ledger takes a board");
    Require(ledger->FinishBoard(*id, {UtcNow(), 1, 0, "done", ""}, {}, error), "and finishes it");
  } else if (const auto id = ledger->BeginBoard(Board(), error)) {
    ledger->FinishBoard(*id, {UtcNow(), 1, 0, "done", ""}, {}, error);
  }
  return 0;
}
