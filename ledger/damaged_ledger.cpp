#include "ledger/damaged_ledger.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <unordered_map>
#include <vector>

#include "ledger/ledger_damage.h"
#include "ledger/ledger_share_lock.h"

namespace {

// The columns of this version's tables that a copy carries, ids aside.
const std::vector<std::string> kBoardColumns = {
    "uuid", "started_utc", "finished_utc", "seconds", "station", "slot", "device",
    "program", "version", "operator", "settings_path", "settings_sha256", "outcome_code",
    "outcome", "message", "forwarded_utc", "log_lost", "recipe", "recipe_version", "writer",
    "end_answered"};
const std::vector<std::string> kImageColumns = {"kind", "path", "bytes", "sha256", "pinned",
                                                "started_utc", "finished_utc", "result"};
constexpr std::int64_t kChunk = 1000;
// With no readable maximum id, ranges are read on until this many in a row hold nothing.
constexpr int kEmptyChunksToEnd = 64;

bool Exists(const std::string& path) {
  struct stat facts {};
  return lstat(path.c_str(), &facts) == 0;
}

std::string CompactUtcNow() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%dT%H%M%SZ", &utc);
  return text;
}

// The columns of table in the damaged file that this version also has.
std::vector<std::string> ColumnsToCopy(const SqliteDatabase& from, const std::string& table,
                                       const std::vector<std::string>& wanted) {
  std::vector<std::string> present;
  SqliteStatement info(from, ("PRAGMA table_info(" + table + ")").c_str());
  while (info.Step() == SQLITE_ROW) present.push_back(info.Bytes(1));
  std::vector<std::string> columns;
  for (const std::string& column : wanted) {
    for (const std::string& there : present) {
      if (there == column) columns.push_back(column);
    }
  }
  return columns;
}

std::string Joined(const std::vector<std::string>& columns) {
  std::string list;
  for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + column;
  return list;
}

// The rows of table with ids in [low, high), in ranges, and one by one where
// a range meets a damaged page; visit gets the statement at each row (its
// column 0 the id). Rows that cannot be read are counted in lost.
class RowReader {
 public:
  RowReader(const SqliteDatabase& from, const std::string& table, const std::string& columns)
      : range_(from, ("SELECT id, " + columns + " FROM " + table +
                      " WHERE id >= ?1 AND id < ?2 ORDER BY id").c_str()),
        one_(from, ("SELECT id, " + columns + " FROM " + table + " WHERE id = ?1").c_str()),
        max_(from, ("SELECT max(id) FROM " + table).c_str()),
        count_(from, ("SELECT count(*) FROM " + table).c_str()) {}

  bool ok() const { return range_.ok() && one_.ok(); }

  // Every row there; false when visit asked to stop. Ids are never taken
  // back in a ledger, so every id up to the greatest that is not read is a
  // row lost; with no greatest id to be read, the table's own count of its
  // rows tells, and failing that only the rows that fail count.
  bool ReadAll(const std::function<bool(const SqliteStatement&)>& visit, long& lost) {
    std::int64_t last = -1;
    if (max_.Step() == SQLITE_ROW && !max_.IsNull(0)) last = max_.Int(0);
    max_.Reset();
    int emptyInARow = 0;
    long found = 0;
    long failed = 0;
    long failedPastTheEnd = 0;  // with no known end, what failed after the last row found
    for (std::int64_t low = 0; last >= 0 ? low <= last : emptyInARow < kEmptyChunksToEnd; low += kChunk) {
      long foundHere = 0;
      long failedHere = 0;
      if (!ReadRange(low, low + kChunk, visit, failedHere, foundHere)) return false;
      found += foundHere;
      failed += failedHere;
      emptyInARow = foundHere == 0 ? emptyInARow + 1 : 0;
      failedPastTheEnd = foundHere == 0 ? failedPastTheEnd + failedHere : 0;
    }
    std::int64_t counted = -1;
    if (last < 0 && count_.Step() == SQLITE_ROW) counted = count_.Int(0);
    count_.Reset();
    lost += last >= 0      ? static_cast<long>(std::max<std::int64_t>(0, last - found))
            : counted >= 0 ? static_cast<long>(std::max<std::int64_t>(0, counted - found))
                           : failed - failedPastTheEnd;
    return true;
  }

 private:
  bool ReadRange(std::int64_t low, std::int64_t high,
                 const std::function<bool(const SqliteStatement&)>& visit, long& lost, long& found) {
    range_.BindInt(1, low);
    range_.BindInt(2, high);
    std::int64_t next = low;
    int step = SQLITE_ROW;
    while ((step = range_.Step()) == SQLITE_ROW) {
      ++found;
      next = range_.Int(0) + 1;
      if (!visit(range_)) {
        range_.Reset();
        return false;
      }
    }
    range_.Reset();
    if (step == SQLITE_DONE) return true;
    // A damaged page in the range: the rest of it one row at a time.
    for (std::int64_t id = next; id < high; ++id) {
      one_.BindInt(1, id);
      step = one_.Step();
      if (step == SQLITE_ROW) {
        ++found;
        if (!visit(one_)) {
          one_.Reset();
          return false;
        }
      } else if (step != SQLITE_DONE) {
        ++lost;
      }
      one_.Reset();
    }
    return true;
  }

  SqliteStatement range_;
  SqliteStatement one_;
  SqliteStatement max_;
  SqliteStatement count_;
};

std::string Placeholders(std::size_t count, int first) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) {
    text += (i == 0 ? "?" : ", ?") + std::to_string(first + static_cast<int>(i));
  }
  return text;
}

}  // namespace

std::string DamageWords(const std::string& damage) {
  // quick_check heads its findings with the database's name: the first finding says more.
  std::size_t start = 0;
  while (damage.compare(start, 3, "***") == 0 && damage.find('\n', start) != std::string::npos) {
    start = damage.find('\n', start) + 1;
  }
  return damage.substr(start, damage.find('\n', start) - start);
}

bool LooksLikeSqlite(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  char magic[16] = {};
  return file.read(magic, sizeof magic) && std::memcmp(magic, "SQLite format 3", 16) == 0;
}

SetAside MoveDamagedLedgerAside(const std::string& path) {
  SetAside aside;
  LedgerShareLock alone;
  if (!alone.TakeExclusive(path)) {
    aside.error = "another program has it open";
    return aside;
  }
  std::string keptAs = path + ".damaged-" + CompactUtcNow();
  for (int n = 2; Exists(keptAs) || Exists(keptAs + "-wal"); ++n) {
    keptAs = path + ".damaged-" + CompactUtcNow() + "-" + std::to_string(n);
  }
  // The -shm first and the -wal next, while the file is still at path and
  // locked: a program that opens path meanwhile waits, then finds the new file.
  unlink((path + "-shm").c_str());
  if (Exists(path + "-wal") && rename((path + "-wal").c_str(), (keptAs + "-wal").c_str()) != 0) {
    aside.error = "cannot move " + path + "-wal: " + std::strerror(errno);
    return aside;
  }
  if (rename(path.c_str(), keptAs.c_str()) != 0) {
    aside.error = "cannot move it: " + std::string(std::strerror(errno));
    rename((keptAs + "-wal").c_str(), (path + "-wal").c_str());
    return aside;
  }
  aside.moved = true;
  aside.keptAs = keptAs;
  return aside;
}

void CopyReadableRows(SqliteDatabase& into, SetAside& aside) {
  SqliteDatabase from;
  std::string error;
  // Read only: the damaged file stays as it is (no checkpoint into it).
  if (!from.OpenReadOnly(aside.keptAs, false, error)) {
    aside.error = "cannot read it: " + error;
    return;
  }
  const std::vector<std::string> boardColumns = ColumnsToCopy(from, "boards", kBoardColumns);
  const std::vector<std::string> imageColumns = ColumnsToCopy(from, "images", kImageColumns);
  if (boardColumns.empty()) {
    aside.error = "no board could be read from it";
    return;
  }
  std::unordered_map<std::int64_t, std::int64_t> newIds;
  if (!into.Execute("BEGIN IMMEDIATE", error)) {
    aside.error = error;
    return;
  }
  {
    SqliteStatement insertBoard(into, ("INSERT OR IGNORE INTO boards (" + Joined(boardColumns) +
                                       ") VALUES (" + Placeholders(boardColumns.size(), 1) + ")")
                                          .c_str());
    RowReader boards(from, "boards", Joined(boardColumns));
    const bool copied = boards.ok() && insertBoard.ok() &&
                        boards.ReadAll(
                            [&](const SqliteStatement& row) {
                              for (std::size_t i = 0; i < boardColumns.size(); ++i) {
                                insertBoard.BindColumnOf(static_cast<int>(i) + 1, row, static_cast<int>(i) + 1);
                              }
                              if (!insertBoard.Run()) return false;
                              insertBoard.Reset();
                              if (sqlite3_changes(into.get()) == 1) {
                                newIds[row.Int(0)] = sqlite3_last_insert_rowid(into.get());
                                ++aside.boardsKept;
                              }
                              return true;
                            },
                            aside.boardsLost);
    if (!copied) aside.error = boards.ok() ? into.LastError() : "its boards cannot be read";
  }
  if (aside.error.empty() && !imageColumns.empty()) {
    SqliteStatement insertImage(into, ("INSERT INTO images (board_id, " + Joined(imageColumns) +
                                       ") VALUES (?1, " + Placeholders(imageColumns.size(), 2) + ")")
                                          .c_str());
    RowReader images(from, "images", "board_id, " + Joined(imageColumns));
    const bool copied = images.ok() && insertImage.ok() &&
                        images.ReadAll(
                            [&](const SqliteStatement& row) {
                              const auto board = newIds.find(row.Int(1));
                              if (board == newIds.end()) {
                                ++aside.imagesLost;  // its board could not be read
                                return true;
                              }
                              insertImage.BindInt(1, board->second);
                              for (std::size_t i = 0; i < imageColumns.size(); ++i) {
                                insertImage.BindColumnOf(static_cast<int>(i) + 2, row, static_cast<int>(i) + 2);
                              }
                              if (!insertImage.Run()) return false;
                              insertImage.Reset();
                              return true;
                            },
                            aside.imagesLost);
    if (!copied) aside.error = images.ok() ? into.LastError() : "its images cannot be read";
  }
  if (!aside.error.empty() || !into.Execute("COMMIT", error)) {
    if (aside.error.empty()) aside.error = error;
    into.Execute("ROLLBACK", error);
    aside.boardsKept = 0;
  }
}

std::string DamageNotice(const std::string& path, const std::string& damage, const SetAside& aside) {
  std::string text = "the ledger " + path + " is damaged (" + DamageWords(damage) + "): ";
  if (!aside.moved) {
    return text + "it stays where it is for now (" + aside.error +
           "); the first program that opens it while no other has it open keeps it aside as it "
           "is and starts a new ledger with every board that can still be read";
  }
  text += "it is kept as it is as " + aside.keptAs + ", and a new ledger at " + path + " holds the " +
          std::to_string(aside.boardsKept) + " board(s) that could still be read from it";
  if (aside.boardsLost > 0 || aside.imagesLost > 0) {
    text += " (" + std::to_string(aside.boardsLost) + " board row(s) and " +
            std::to_string(aside.imagesLost) + " image row(s) could not be read)";
  }
  if (!aside.error.empty()) text += "; the copy stopped: " + aside.error;
  return text;
}
