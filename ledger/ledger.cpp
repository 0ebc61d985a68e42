#include "ledger/ledger.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ledger/cut_off_boards.h"
#include "ledger/damaged_ledger.h"
#include "ledger/ledger_damage.h"
#include "ledger/writer_identity.h"
#include "settings/station_name.h"

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE boards (
  id              INTEGER PRIMARY KEY,
  uuid            TEXT NOT NULL UNIQUE,
  started_utc     TEXT NOT NULL,
  finished_utc    TEXT,
  seconds         REAL,
  station         TEXT NOT NULL,
  slot            TEXT NOT NULL,
  device          TEXT NOT NULL,
  program         TEXT NOT NULL,
  version         TEXT NOT NULL,
  operator        TEXT NOT NULL,
  settings_path   BLOB NOT NULL,
  settings_sha256 TEXT NOT NULL,
  outcome_code    INTEGER,
  outcome         TEXT,
  message         TEXT NOT NULL DEFAULT '',
  forwarded_utc   TEXT,
  log_lost        INTEGER NOT NULL DEFAULT 0,
  recipe          TEXT NOT NULL DEFAULT '',
  recipe_version  INTEGER,
  writer          TEXT,
  end_answered    INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE images (
  id            INTEGER PRIMARY KEY,
  board_id      INTEGER NOT NULL REFERENCES boards(id),
  kind          TEXT NOT NULL,
  path          BLOB NOT NULL,
  bytes         INTEGER NOT NULL,
  sha256        TEXT NOT NULL,
  pinned        INTEGER NOT NULL,
  started_utc   TEXT,
  finished_utc  TEXT,
  result        TEXT NOT NULL
);
CREATE INDEX boards_unforwarded ON boards(forwarded_utc) WHERE forwarded_utc IS NULL;
CREATE INDEX images_board ON images(board_id);
CREATE INDEX boards_started ON boards(started_utc, slot, outcome_code, outcome, seconds, finished_utc,
                                     recipe, recipe_version);
PRAGMA user_version = 4;
)sql";

// Version 3 to 4: the process recording a running board, so that the next
// program can close the row of one that died, and whether its device had
// answered the end exchange by then (it holds every image).
constexpr const char* kVersion3To4 = R"sql(
ALTER TABLE boards ADD COLUMN writer TEXT;
ALTER TABLE boards ADD COLUMN end_answered INTEGER NOT NULL DEFAULT 0;
PRAGMA user_version = 4;
)sql";

// Version 2 to 3: the recipe and version a board was written from ('' and
// NULL without one). boards_started holds every column the report counts,
// so --report reads the index alone and --since/--until find their span in
// it; a version-2 ledger may have it without the recipe, so it is made anew.
constexpr const char* kVersion2To3 = R"sql(
ALTER TABLE boards ADD COLUMN recipe TEXT NOT NULL DEFAULT '';
ALTER TABLE boards ADD COLUMN recipe_version INTEGER;
DROP INDEX IF EXISTS boards_started;
CREATE INDEX boards_started ON boards(started_utc, slot, outcome_code, outcome, seconds, finished_utc,
                                     recipe, recipe_version);
PRAGMA user_version = 3;
)sql";

// Version 1 to 2. Version 1 recorded a board whose log file lost lines as
// outcome 11 ("done, record lost"); a ledger that could record that row
// itself was not the record lost, so the board was written: done, with the
// loss as its own fact.
constexpr const char* kVersion1To2 = R"sql(
ALTER TABLE boards ADD COLUMN log_lost INTEGER NOT NULL DEFAULT 0;
UPDATE boards SET outcome_code = 0, outcome = 'done', log_lost = 1 WHERE outcome_code = 11;
CREATE INDEX images_board ON images(board_id);
PRAGMA user_version = 2;
)sql";

// Folders on the way to path, as mkdir -p makes them. Those made here are
// 0750 whatever the umask: the station's group may read the records, others
// never; folders already there keep their mode.
bool MakeParentFolders(const std::string& path, std::string& error) {
  for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0750) == 0) {
      chmod(folder.c_str(), 0750);  // the umask may have taken bits away
    } else if (errno != EEXIST) {
      error = "cannot create " + folder + ": " + std::strerror(errno);
      return false;
    }
  }
  return true;
}

// SQLite would create the file 0644 whatever the umask; made here it follows
// the umask (a shared folder with umask 002 gets a group-writable file), less
// the world's write bit. Its -wal and -shm files take the same mode.
bool CreateFileWithUmask(const std::string& path, std::string& error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0664);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  if (errno == EEXIST) return true;
  error = "cannot create " + path + ": " + std::strerror(errno);
  return false;
}

// ?2 to ?6 of a board's closing UPDATE: finished_utc, seconds, outcome_code, outcome, message.
void BindOutcome(SqliteStatement& update, const BoardOutcome& outcome) {
  update.BindText(2, outcome.finishedUtc);
  update.BindReal(3, outcome.seconds);
  update.BindInt(4, outcome.code);
  update.BindText(5, outcome.word);
  update.BindText(6, outcome.message);
}

void BindOptionalText(SqliteStatement& statement, int index, const std::string& text) {
  if (text.empty()) {
    statement.BindNull(index);
  } else {
    statement.BindText(index, text);
  }
}

// Rolls back unless committed.
class WriteTransaction {
 public:
  WriteTransaction(SqliteDatabase& db, std::string& error)
      : db_(db), open_(db.Execute("BEGIN IMMEDIATE", error)) {}
  ~WriteTransaction() {
    std::string ignored;
    if (open_) db_.Execute("ROLLBACK", ignored);
  }
  WriteTransaction(const WriteTransaction&) = delete;
  WriteTransaction& operator=(const WriteTransaction&) = delete;
  bool open() const { return open_; }
  bool Commit(std::string& error) {
    if (!db_.Execute("COMMIT", error)) return false;
    open_ = false;
    return true;
  }

 private:
  SqliteDatabase& db_;
  bool open_;
};

// A progress note: it may not hold the run up, so it waits briefly for a
// lock and leaves the flush to the disk to the finish (a killed process
// loses nothing SQLite was given; a power cut the last notes).
class QuickWrite {
 public:
  explicit QuickWrite(SqliteDatabase& db) : db_(db) {
    constexpr int kNoteBusyMs = 100;
    sqlite3_busy_timeout(db_.get(), kNoteBusyMs);
    std::string ignored;
    db_.Execute("PRAGMA synchronous = NORMAL", ignored);
  }
  ~QuickWrite() {
    std::string ignored;
    db_.Execute("PRAGMA synchronous = FULL", ignored);
    sqlite3_busy_timeout(db_.get(), kLedgerBusyTimeoutMs);
  }
  QuickWrite(const QuickWrite&) = delete;
  QuickWrite& operator=(const QuickWrite&) = delete;

 private:
  SqliteDatabase& db_;
};

// ?2 to ?9 of an image row's INSERT or UPDATE: kind, path, bytes, sha256,
// pinned, started_utc, finished_utc, result.
void BindImage(SqliteStatement& statement, const ImageRecord& image) {
  statement.BindText(2, image.kind);
  statement.BindBlob(3, image.path);
  statement.BindInt(4, static_cast<std::int64_t>(image.bytes));
  statement.BindText(5, image.sha256);
  statement.BindInt(6, image.pinned ? 1 : 0);
  BindOptionalText(statement, 7, image.startedUtc);
  BindOptionalText(statement, 8, image.finishedUtc);
  statement.BindText(9, image.result);
}

bool InsertImages(SqliteDatabase& db, std::int64_t id, const std::vector<ImageRecord>& images,
                  std::string& error) {
  SqliteStatement insert(db,
                         "INSERT INTO images (board_id, kind, path, bytes, sha256, pinned, "
                         "started_utc, finished_utc, result) "
                         "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)");
  for (const ImageRecord& image : images) {
    insert.BindInt(1, id);
    BindImage(insert, image);
    if (!insert.Run()) {
      error = db.LastError();
      return false;
    }
    insert.Reset();
  }
  return true;
}

// Closes the rows of writers that died, saying so on no one's behalf: the
// count is the ledger's to tell.
int CloseCutOff(SqliteDatabase& db) {
  std::string ignored;
  return CloseBoardsOfDeadWriters(db, ignored);
}

}  // namespace

Ledger::~Ledger() { RetryPendingFinishes(); }

std::unique_ptr<Ledger> Ledger::Open(const std::string& path, std::string& error, LedgerCheck check) {
  if (path.empty()) {
    error = "no ledger path";
    return nullptr;
  }
  if (!MakeParentFolders(path, error) || !CreateFileWithUmask(path, error)) return nullptr;
  return OpenToWrite(path, true, check, true, error);
}

std::unique_ptr<Ledger> Ledger::OpenExisting(const std::string& path, std::string& error,
                                             LedgerCheck check) {
  return OpenToWrite(path, false, check, true, error);
}

std::unique_ptr<Ledger> Ledger::OpenToWrite(const std::string& path, bool create, LedgerCheck check,
                                            bool setAsideDamage, std::string& error) {
  auto ledger = std::unique_ptr<Ledger>(new Ledger);
  ledger->shareLock_.TakeShared(path);
  std::string damage;
  if (!ledger->db_.Open(path, create, error)) {
    error = path + ": " + error;
    return nullptr;
  }
  // Looked over before anything is written to it, the switch to WAL mode included.
  if (setAsideDamage) {
    damage = check == LedgerCheck::kEveryPage ? CheckEveryPage(ledger->db_) : CheckWhereWritten(ledger->db_);
  }
  if (damage.empty() && !ledger->PrepareWhenFree(create, error)) {
    // A ledger too damaged to open is set aside as one less damaged is; a
    // file that is no SQLite database at all is nobody's ledger to move (below).
    if (!setAsideDamage || !IsDamage(ledger->db_.LastFailure())) {
      error = path + ": " + error;
      return nullptr;
    }
    damage = error;
  }
  if (!damage.empty()) {
    if (LooksLikeSqlite(path)) return ReplaceDamaged(path, damage, std::move(ledger), error);
    error = path + ": " + damage;
    return nullptr;
  }
  ledger->closedCutOff_ = CloseCutOff(ledger->db_);
  return ledger;
}

std::unique_ptr<Ledger> Ledger::ReplaceDamaged(const std::string& path, const std::string& damage,
                                               std::unique_ptr<Ledger> damaged, std::string& error) {
  damaged.reset();  // this program's own connection and lock go before the move
  SetAside aside = MoveDamagedLedgerAside(path);
  std::unique_ptr<Ledger> ledger;
  if (aside.moved) {
    ledger = Open(path, error);  // a new ledger where the damaged one was
    if (ledger) CopyReadableRows(ledger->db_, aside);
  } else {
    // Another program has it open: this one goes on with it, and says so.
    ledger = OpenToWrite(path, false, LedgerCheck::kWhereWritten, false, error);
  }
  if (!ledger) {
    error = DamageNotice(path, damage, aside) + "; " + error;
    return nullptr;
  }
  ledger->notice_ = DamageNotice(path, damage, aside);
  ledger->damaged_ = !aside.moved;
  return ledger;
}

std::unique_ptr<Ledger> Ledger::OpenForReading(const std::string& path, std::string& error,
                                               LedgerCheck check) {
  // Without a -wal file no process is writing, and every row is in the file
  // itself: a reader that cannot make the -shm reads it as unchanging.
  struct stat ignored {};
  const bool writerAround = stat((path + "-wal").c_str(), &ignored) == 0;
  for (const bool immutable : {false, true}) {
    if (immutable && writerAround) break;
    auto ledger = std::unique_ptr<Ledger>(new Ledger);
    ledger->shareLock_.TakeShared(path);
    if (!ledger->db_.OpenReadOnly(path, immutable, error)) break;
    sqlite3_busy_timeout(ledger->db_.get(), kLedgerBusyTimeoutMs);
    SqliteStatement version(ledger->db_, "PRAGMA user_version");
    const int step = version.Step();
    if (step == SQLITE_ROW) {
      const std::int64_t found = version.Int(0);
      version.Reset();
      // An older version is brought up in place; a newer or none is refused there.
      if (found != kLedgerSchemaVersion) return OpenExisting(path, error, check);
      const std::string damage =
          check == LedgerCheck::kEveryPage ? CheckEveryPage(ledger->db_) : CheckWhereWritten(ledger->db_);
      if (!damage.empty()) {
        // A reader may not move it: it reads what it can, and says why that may be short.
        ledger->damaged_ = true;
        ledger->notice_ = "the ledger " + path + " is damaged (" + DamageWords(damage) +
                          "): what is read from it may be short; tamsolt-cli --ledger-sync, run by the "
                          "ledger's owner, keeps it aside as it is and starts a new ledger with every "
                          "board that can still be read";
      }
      return ledger;
    }
    ledger->db_.NoteFailure(step);
    error = ledger->db_.LastError();
    if (IsDamage(step)) {
      error = "the ledger is damaged (" + error +
              "); tamsolt-cli --ledger-sync, run by the ledger's owner, keeps it aside as it is and "
              "starts a new ledger with every board that can still be read";
      break;
    }
  }
  error = path + ": " + error;
  return nullptr;
}

bool Ledger::PrepareWhenFree(bool create, std::string& error) {
  // Switching a new file to WAL, or another process doing so, can fail with
  // "locked" without waiting on the busy handler: tried again, bounded.
  constexpr int kPauseMs = 20;
  for (int waited = 0;; waited += kPauseMs) {
    db_.NoteFailure(SQLITE_OK);
    if (Prepare(create, error)) return true;
    const int code = db_.LastFailure() & 0xff;
    if ((code != SQLITE_BUSY && code != SQLITE_LOCKED) || waited >= kLedgerBusyTimeoutMs) return false;
    usleep(kPauseMs * 1000);
  }
}

bool Ledger::Prepare(bool create, std::string& error) {
  sqlite3_busy_timeout(db_.get(), kLedgerBusyTimeoutMs);
  if (!db_.Execute("PRAGMA journal_mode = WAL", error)) return false;
  SqliteStatement version(db_, "PRAGMA user_version");
  if (const int step = version.Step(); step != SQLITE_ROW) {
    db_.NoteFailure(step);
    error = db_.LastError();
    return false;
  }
  const std::int64_t found = version.Int(0);
  version.Reset();
  if (found == kLedgerSchemaVersion) return true;
  if (found >= 1 && found < kLedgerSchemaVersion) return Migrate(found, error);
  if (found != 0) {
    error = "schema version " + std::to_string(found) + ", this program knows " +
            std::to_string(kLedgerSchemaVersion);
    return false;
  }
  if (!create) {
    error = "not a ledger (no schema)";
    return false;
  }
  WriteTransaction transaction(db_, error);
  if (!transaction.open()) return false;
  // Another process may have made the schema while this one waited.
  SqliteStatement again(db_, "PRAGMA user_version");
  if (again.Step() == SQLITE_ROW && again.Int(0) == kLedgerSchemaVersion) return transaction.Commit(error);
  return db_.Execute(kSchema, error) && transaction.Commit(error);
}

bool Ledger::Migrate(std::int64_t from, std::string& error) {
  WriteTransaction transaction(db_, error);
  if (!transaction.open()) return false;
  // Another process may have migrated it while this one waited.
  SqliteStatement again(db_, "PRAGMA user_version");
  if (again.Step() != SQLITE_ROW || again.Int(0) != from) {
    again.Reset();
    return transaction.Commit(error);
  }
  again.Reset();
  return (from > 1 || db_.Execute(kVersion1To2, error)) &&
         (from > 2 || db_.Execute(kVersion2To3, error)) && db_.Execute(kVersion3To4, error) &&
         transaction.Commit(error);
}

std::optional<std::int64_t> Ledger::BeginBoard(const BoardRecord& board, std::string& error,
                                               const std::vector<ImageRecord>& images) {
  RetryPendingFinishes();
  WriteTransaction transaction(db_, error);
  if (!transaction.open()) return std::nullopt;
  SqliteStatement insert(db_,
                         "INSERT INTO boards (uuid, started_utc, station, slot, device, program, "
                         "version, operator, settings_path, settings_sha256, recipe, recipe_version, "
                         "writer) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)");
  insert.BindText(1, board.uuid);
  insert.BindText(2, board.startedUtc);
  insert.BindText(3, board.station);
  insert.BindText(4, board.slot);
  insert.BindText(5, board.device);
  insert.BindText(6, board.program);
  insert.BindText(7, board.version);
  insert.BindText(8, board.operatorName);
  insert.BindBlob(9, board.settingsPath);
  insert.BindText(10, board.settingsSha256);
  insert.BindText(11, board.recipe);
  if (board.recipeVersion > 0) {
    insert.BindInt(12, board.recipeVersion);
  } else {
    insert.BindNull(12);
  }
  BindOptionalText(insert, 13, ThisWriter());
  if (!insert.Run()) {
    error = db_.LastError();
    return std::nullopt;
  }
  const std::int64_t id = sqlite3_last_insert_rowid(db_.get());
  if (!InsertImages(db_, id, images, error) || !transaction.Commit(error)) return std::nullopt;
  return id;
}

bool Ledger::NoteImage(std::int64_t id, const ImageRecord& image) {
  QuickWrite quick(db_);
  SqliteStatement update(db_,
                         "UPDATE images SET bytes = ?3, sha256 = ?4, started_utc = ?5, "
                         "finished_utc = ?6, result = ?7 WHERE board_id = ?1 AND kind = ?2");
  update.BindInt(1, id);
  update.BindText(2, image.kind);
  update.BindInt(3, static_cast<std::int64_t>(image.bytes));
  update.BindText(4, image.sha256);
  BindOptionalText(update, 5, image.startedUtc);
  BindOptionalText(update, 6, image.finishedUtc);
  update.BindText(7, image.result);
  return update.Run();
}

bool Ledger::NoteEndAnswered(std::int64_t id) {
  QuickWrite quick(db_);
  SqliteStatement update(db_, "UPDATE boards SET end_answered = 1 WHERE id = ?1");
  update.BindInt(1, id);
  return update.Run();
}

bool Ledger::CloseRunningBoard(const std::string& uuid, const BoardOutcome& outcome, bool& closed,
                               std::string& error) {
  closed = false;
  SqliteStatement update(db_,
                         "UPDATE boards SET finished_utc = ?2, seconds = ?3, outcome_code = ?4, "
                         "outcome = ?5, message = ?6, log_lost = 0 "
                         "WHERE uuid = ?1 AND (finished_utc IS NULL OR "
                         "(outcome = 'cut off' AND forwarded_utc IS NULL))");
  update.BindText(1, uuid);
  BindOutcome(update, outcome);
  if (!update.Run()) {
    error = db_.LastError();
    return false;
  }
  closed = sqlite3_changes(db_.get()) == 1;
  return true;
}

bool Ledger::FinishBoard(std::int64_t id, const BoardOutcome& outcome,
                         const std::vector<ImageRecord>& images, std::string& error) {
  RetryPendingFinishes();
  if (WriteFinish(id, outcome, images, error)) return true;
  // A row that is not running has nothing to keep; anything else (a full
  // disk, a lock held too long) is tried again.
  if (error.find("is not running") == std::string::npos) pending_.push_back({id, outcome, images});
  return false;
}

void Ledger::RetryPendingFinishes() {
  std::vector<PendingFinish> waiting;
  waiting.swap(pending_);
  for (PendingFinish& finish : waiting) {
    std::string error;
    if (!WriteFinish(finish.id, finish.outcome, finish.images, error) &&
        error.find("is not running") == std::string::npos) {
      pending_.push_back(std::move(finish));
    }
  }
}

bool Ledger::WriteFinish(std::int64_t id, const BoardOutcome& outcome,
                         const std::vector<ImageRecord>& images, std::string& error) {
  WriteTransaction transaction(db_, error);
  if (!transaction.open()) return false;
  SqliteStatement update(db_,
                         "UPDATE boards SET finished_utc = ?2, seconds = ?3, outcome_code = ?4, "
                         "outcome = ?5, message = ?6, log_lost = ?7 "
                         "WHERE id = ?1 AND finished_utc IS NULL");
  update.BindInt(1, id);
  BindOutcome(update, outcome);
  update.BindInt(7, outcome.logLost ? 1 : 0);
  if (!update.Run()) {
    error = db_.LastError();
    return false;
  }
  if (sqlite3_changes(db_.get()) != 1) {
    error = "board " + std::to_string(id) + " is not running";
    return false;
  }
  // The rows noted as the run went take the run's own account, in place:
  // ids are never taken back, so a damaged ledger's copy can count what it lost.
  std::vector<std::int64_t> noted;
  {
    SqliteStatement rows(db_, "SELECT id FROM images WHERE board_id = ?1 ORDER BY id");
    rows.BindInt(1, id);
    while (rows.Step() == SQLITE_ROW) noted.push_back(rows.Int(0));
  }
  SqliteStatement rewrite(db_,
                          "UPDATE images SET kind = ?2, path = ?3, bytes = ?4, sha256 = ?5, pinned = ?6, "
                          "started_utc = ?7, finished_utc = ?8, result = ?9 WHERE id = ?1");
  const std::size_t inPlace = std::min(noted.size(), images.size());
  for (std::size_t i = 0; i < inPlace; ++i) {
    rewrite.BindInt(1, noted[i]);
    BindImage(rewrite, images[i]);
    if (!rewrite.Run()) {
      error = db_.LastError();
      return false;
    }
    rewrite.Reset();
  }
  SqliteStatement extra(db_, "DELETE FROM images WHERE board_id = ?1 AND id > ?2");
  extra.BindInt(1, id);
  extra.BindInt(2, inPlace > 0 ? noted[inPlace - 1] : 0);
  if (noted.size() > images.size() && !extra.Run()) {
    error = db_.LastError();
    return false;
  }
  const std::vector<ImageRecord> more(images.begin() + static_cast<std::ptrdiff_t>(inPlace), images.end());
  return InsertImages(db_, id, more, error) && transaction.Commit(error);
}

bool Ledger::ForEachBoard(const std::string& since, const std::string& until,
                          const std::function<void(const StoredBoard&)>& visit, std::string& error) {
  // One read transaction, so the boards and their images agree.
  if (!db_.Execute("BEGIN", error)) return false;
  SqliteStatement boards(db_, BoardsInSpanQuery(!until.empty()).c_str());
  boards.BindText(1, since);
  if (!until.empty()) boards.BindText(2, until);
  SqliteStatement images(db_,
                         "SELECT kind, path, bytes, sha256, pinned, started_utc, finished_utc, "
                         "result FROM images WHERE board_id = ?1 ORDER BY id");
  // Boards without the images they have would be a wrong answer, not a short one.
  if (!boards.Prepared() || !images.Prepared()) {
    error = db_.LastError();
    std::string ignored;
    db_.Execute("ROLLBACK", ignored);
    return false;
  }
  int step = SQLITE_ROW;
  while ((step = boards.Step()) == SQLITE_ROW) {
    StoredBoard stored;
    stored.id = boards.Int(0);
    BoardRecord& b = stored.board;
    b.uuid = boards.Bytes(1);
    b.startedUtc = boards.Bytes(2);
    b.station = boards.Bytes(5);
    b.slot = boards.Bytes(6);
    b.device = boards.Bytes(7);
    b.program = boards.Bytes(8);
    b.version = boards.Bytes(9);
    b.operatorName = boards.Bytes(10);
    b.settingsPath = boards.Bytes(11);
    b.settingsSha256 = boards.Bytes(12);
    b.recipe = boards.Bytes(17);
    b.recipeVersion = boards.IsNull(18) ? 0 : static_cast<int>(boards.Int(18));
    if (!boards.IsNull(3)) {
      stored.outcome = BoardOutcome{boards.Bytes(3), boards.Real(4), static_cast<int>(boards.Int(13)),
                                    boards.Bytes(14), boards.Bytes(15), boards.Int(16) != 0};
    }
    images.BindInt(1, stored.id);
    int imageStep = SQLITE_ROW;
    while ((imageStep = images.Step()) == SQLITE_ROW) {
      stored.images.push_back(ImageRecord{images.Bytes(0), images.Bytes(1),
                                          static_cast<std::uint64_t>(images.Int(2)), images.Bytes(3),
                                          images.Int(4) != 0, images.Bytes(5), images.Bytes(6),
                                          images.Bytes(7)});
    }
    if (imageStep != SQLITE_DONE) {
      error = db_.LastError();
      std::string ignored;
      db_.Execute("ROLLBACK", ignored);
      return false;
    }
    images.Reset();
    visit(stored);
  }
  std::string ignored;
  db_.Execute("COMMIT", ignored);
  if (step != SQLITE_DONE) {
    error = db_.LastError();
    return false;
  }
  return true;
}

std::string BoardsInSpanQuery(bool untilSet) {
  // Both ends as plain bounds, so that boards_started finds the span (an "or
  // no end" in SQL would leave it to scan from since to the ledger's end).
  return std::string(
             "SELECT id, uuid, started_utc, finished_utc, seconds, station, slot, device, program, "
             "version, operator, settings_path, settings_sha256, outcome_code, outcome, message, "
             "log_lost, recipe, recipe_version FROM boards WHERE started_utc >= ?1") +
         (untilSet ? " AND started_utc < ?2" : "") + " ORDER BY started_utc, id";
}

std::string LocalDayStartUtc(const std::string& date) {
  if (date.size() > 10) return date;
  std::tm day{};
  if (date.size() != 10 || std::sscanf(date.c_str(), "%4d-%2d-%2d", &day.tm_year, &day.tm_mon,
                                       &day.tm_mday) != 3) {
    return {};
  }
  day.tm_year -= 1900;
  day.tm_mon -= 1;
  day.tm_isdst = -1;  // whatever daylight saving time says for that midnight
  const std::time_t start = std::mktime(&day);
  std::tm utc{};
  if (start == static_cast<std::time_t>(-1) || gmtime_r(&start, &utc) == nullptr) return {};
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S.000Z", &utc);
  return text;
}

std::string NewUuid() {
  unsigned char bytes[16] = {};
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);  // RFC 4122 variant
  char text[37];
  std::snprintf(text, sizeof text,
                "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  return text;
}

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

BoardRecord BoardIdentity(const std::string& program, const std::string& settingsPath,
                          const std::string& settingsSha256) {
  BoardRecord board;
  board.program = program;
  board.version = TAMSOLT_VERSION;
  board.station = StationName(settingsPath);
  // The account the process runs as; the login name of a terminal may be another.
  if (const passwd* account = getpwuid(geteuid()); account != nullptr && account->pw_name != nullptr) {
    board.operatorName = account->pw_name;
  } else if (const char* user = std::getenv("USER"); user != nullptr) {
    board.operatorName = user;
  }
  board.settingsPath = settingsPath;
  board.settingsSha256 = settingsSha256;
  return board;
}

std::string DefaultLedgerPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/tamsolt/ledger.sqlite";
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/state/tamsolt/ledger.sqlite";
}
