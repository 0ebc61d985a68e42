#include "ledger/cut_off_boards.h"

#include <cstdint>
#include <vector>

#include "ledger/ledger.h"
#include "ledger/writer_identity.h"

namespace {

struct RunningRow {
  std::int64_t id;
  std::string writer;
  std::string program;
  bool endAnswered;
};

// The last moment the row tells of, for its finish: the latest image start
// or end noted, else the board's own start.
constexpr const char* kLastKnown =
    "COALESCE((SELECT max(max(COALESCE(finished_utc, ''), COALESCE(started_utc, ''))) FROM images "
    "WHERE board_id = boards.id AND started_utc IS NOT NULL), started_utc)";

}  // namespace

int CloseBoardsOfDeadWriters(SqliteDatabase& db, std::string& error) {
  // Running rows are never forwarded: the partial index finds them.
  std::vector<RunningRow> gone;
  {
    SqliteStatement running(db,
                            "SELECT id, writer, program, end_answered FROM boards "
                            "WHERE forwarded_utc IS NULL AND finished_utc IS NULL AND writer IS NOT NULL");
    int step = SQLITE_ROW;
    while ((step = running.Step()) == SQLITE_ROW) {
      RunningRow row{running.Int(0), running.Bytes(1), running.Bytes(2), running.Int(3) != 0};
      if (JudgeWriter(row.writer) == WriterState::kGone) gone.push_back(std::move(row));
    }
    if (step != SQLITE_DONE) {
      error = db.LastError();
      return -1;
    }
  }
  const std::string sql = std::string("UPDATE boards SET finished_utc = ") + kLastKnown +
                          ", seconds = max(0, (julianday(" + kLastKnown +
                          ") - julianday(started_utc)) * 86400.0), outcome_code = ?2, outcome = ?3, "
                          "message = ?4 WHERE id = ?1 AND finished_utc IS NULL";
  SqliteStatement close(db, sql.c_str());
  int closed = 0;
  for (const RunningRow& row : gone) {
    close.BindInt(1, row.id);
    if (row.endAnswered) {
      // Its device held every image when the writer ended: the board is written.
      close.BindInt(2, 0);
      close.BindText(3, "done");
      close.BindText(4, "");
    } else {
      close.BindInt(2, 10);
      close.BindText(3, kCutOffWord);
      close.BindText(4, "cut off: its writer (" + row.program + ", pid " +
                            std::to_string(WriterPid(row.writer)) +
                            ") ended without closing the board; closed at " + UtcNow() +
                            " by the next program on this ledger");
    }
    if (!close.Run()) {
      error = db.LastError();
      return -1;
    }
    closed += sqlite3_changes(db.get());
    close.Reset();
  }
  return closed;
}
