// The local ledger: an SQLite file with a row per board written or attempted
// and a row per image of its run (docs/ledger.md has the schema). WAL mode and
// a bounded busy wait let several processes record at once.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger_records.h"
#include "ledger/ledger_share_lock.h"
#include "ledger/sqlite_handles.h"

// 2: boards.log_lost (a board written whose log file lost lines is done,
// with the loss its own fact) and an index of images by board.
// 3: boards.recipe and boards.recipe_version.
// 4: boards.writer and boards.end_answered; a board's image rows are there
// from its start and follow its run, so that a board whose writer died is
// closed by the next program with the images it had reached.
inline constexpr int kLedgerSchemaVersion = 4;
// How long a write waits for another process holding the lock.
inline constexpr int kLedgerBusyTimeoutMs = 3000;

// How much of the file a program reads when it opens the ledger, to find
// damage before it writes: the pages a writer goes through (milliseconds),
// or every page (--report, --export, --ledger-sync).
enum class LedgerCheck { kWhereWritten, kEveryPage };

class Ledger {
 public:
  // Opens the file, creating it (and its folder) with the user's umask, never
  // world-writable; creates the schema in a new file. Null with the reason in error.
  // A damaged ledger found then is kept aside as it is, and a new one at
  // path takes every row that can still be read (Notice() says so); while
  // another program has it open it is written as it is, and said so.
  static std::unique_ptr<Ledger> Open(const std::string& path, std::string& error,
                                      LedgerCheck check = LedgerCheck::kWhereWritten);
  // An existing file only, to read and mark rows (forwarding, closing).
  static std::unique_ptr<Ledger> OpenExisting(const std::string& path, std::string& error,
                                              LedgerCheck check = LedgerCheck::kWhereWritten);
  // An existing file, read only: needs no write access to the file or its
  // folder, so a reader the folder's group admits can read it while no writer
  // runs (no -shm to make then). A ledger of an older version is brought up
  // first, which needs write access.
  // Damage found then is said in Notice(); the rows that read are read.
  static std::unique_ptr<Ledger> OpenForReading(const std::string& path, std::string& error,
                                                LedgerCheck check = LedgerCheck::kWhereWritten);

  // A finish that could not be written is kept and tried again with the
  // next write and when the ledger is closed.
  ~Ledger();
  Ledger(const Ledger&) = delete;
  Ledger& operator=(const Ledger&) = delete;

  // Inserts the board's row (still running, this process its writer) and
  // the rows of its images as they stand; its id.
  std::optional<std::int64_t> BeginBoard(const BoardRecord& board, std::string& error,
                                         const std::vector<ImageRecord>& images = {});
  // The run's progress, so that a board whose writer dies keeps what it
  // reached: an image's row as it stands now, the end exchange answered.
  // Never waits long for a lock or the disk; a note that cannot be written
  // is left to the finish, which writes every row again.
  bool NoteImage(std::int64_t id, const ImageRecord& image);
  bool NoteEndAnswered(std::int64_t id);
  // Finishes the board and writes its images, in one transaction. One that
  // fails is kept, to be tried again (false all the same).
  bool FinishBoard(std::int64_t id, const BoardOutcome& outcome,
                   const std::vector<ImageRecord>& images, std::string& error);
  // Finishes that could not be written yet.
  std::size_t PendingFinishes() const { return pending_.size(); }

  // Finishes the running board of this uuid, whose own recorder never could
  // (its process was killed, or its ledger's disk was full), or one the next
  // program closed as cut off and that has not been forwarded yet: the
  // station knows better. closed: there was one. Its images stay as noted.
  bool CloseRunningBoard(const std::string& uuid, const BoardOutcome& outcome, bool& closed,
                         std::string& error);

  // Boards of writers that ended without closing them, closed when this
  // ledger was opened to write (cut off, or done when the device had
  // answered the end exchange).
  int ClosedCutOffBoards() const { return closedCutOff_; }
  // What the program should tell when it opened this ledger (damage found,
  // a damaged ledger set aside), else "".
  const std::string& Notice() const { return notice_; }
  // The file this ledger reads is damaged (a reader's, or one another
  // program held open so that it could not be set aside).
  bool Damaged() const { return damaged_; }

  // Every board started at or after since and before until (UTC times, ""
  // for an open end), oldest first, with its images.
  bool ForEachBoard(const std::string& since, const std::string& until,
                    const std::function<void(const StoredBoard&)>& visit, std::string& error);

  const SqliteDatabase& Database() const { return db_; }

 private:
  bool Prepare(bool create, std::string& error);
  // A version-1 or -2 ledger brought to this version in place, in one transaction.
  bool Migrate(std::int64_t from, std::string& error);
  bool PrepareWhenFree(bool create, std::string& error);
  bool WriteFinish(std::int64_t id, const BoardOutcome& outcome,
                   const std::vector<ImageRecord>& images, std::string& error);
  void RetryPendingFinishes();
  Ledger() = default;
  static std::unique_ptr<Ledger> OpenToWrite(const std::string& path, bool create, LedgerCheck check,
                                             bool setAsideDamage, std::string& error);
  static std::unique_ptr<Ledger> ReplaceDamaged(const std::string& path, const std::string& damage,
                                                std::unique_ptr<Ledger> damaged, std::string& error);

  struct PendingFinish {
    std::int64_t id;
    BoardOutcome outcome;
    std::vector<ImageRecord> images;
  };
  LedgerShareLock shareLock_;  // released after the connection closes
  SqliteDatabase db_;
  std::vector<PendingFinish> pending_;
  int closedCutOff_ = 0;
  std::string notice_;
  bool damaged_ = false;
};

// ForEachBoard's query: ?1 the start, ?2 the end when untilSet.
std::string BoardsInSpanQuery(bool untilSet);

// A random UUID, version 4, lower case.
std::string NewUuid();
// Now in UTC as "YYYY-MM-DDTHH:MM:SS.mmmZ".
std::string UtcNow();
// The stored (UTC) time at which the station's local day DATE (YYYY-MM-DD)
// begins, as "YYYY-MM-DDTHH:MM:SS.000Z"; a longer text (a time) is taken as
// UTC and returned as it is; "" when DATE is not a day.
std::string LocalDayStartUtc(const std::string& date);
// The fields every board of this process shares: program, this build's
// version, the station's name (settings/station_name.h), the login name and
// the settings file in use.
BoardRecord BoardIdentity(const std::string& program, const std::string& settingsPath,
                          const std::string& settingsSha256);
// $XDG_STATE_HOME/tamsolt/ledger.sqlite, or ~/.local/state/tamsolt/ledger.sqlite.
std::string DefaultLedgerPath();
