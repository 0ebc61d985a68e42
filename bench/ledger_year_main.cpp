// tamsolt-bench-ledger: a busy station's year of boards in a ledger, for
// timing the report, the export and the forward (scripts/bench.sh ledger).
//
//   tamsolt-bench-ledger PATH [--boards N] [--images N]   make PATH (must not exist)
//   tamsolt-bench-ledger PATH --unforward N               the last N finished boards wait again
//
// The schema is the ledger's own (Ledger::Open makes it); the rows go in
// through one transaction of prepared statements. Seeded, so every run makes
// the same ledger: local days of the year (fewer on Sundays), two shifts of
// 32 slots, a few % of boards failed or interrupted and a few left running.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include "ledger/ledger.h"

namespace {

struct Kind {
  const char* name;
  std::int64_t bytes;
};
constexpr Kind kKinds[] = {{"BOOT", 262274}, {"HOST", 524418}, {"RCDB", 262144},
                           {"FONT", 2097152}, {"LANG", 1048576}, {"FV", 524288},
                           {"BMP", 61494},    {"PIC", 2097152},  {"TDB", 1263}};
constexpr int kSlots = 32;
constexpr int kYear = 2026;

std::string Utc(std::time_t seconds, int millis) {
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", millis);
  return text;
}

std::string Uuid(std::mt19937_64& random) {
  const std::uint64_t high = random();
  const std::uint64_t low = random();
  char text[40];
  std::snprintf(text, sizeof text, "%08x-%04x-4%03x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                static_cast<unsigned>((high >> 16) & 0xffff), static_cast<unsigned>(high & 0xfff),
                static_cast<unsigned>(0x8000 | (low >> 48 & 0x3fff)),
                static_cast<unsigned long long>(low & 0xffffffffffffULL));
  return text;
}

bool Fail(const std::string& what, const std::string& error) {
  std::fprintf(stderr, "tamsolt-bench-ledger: %s: %s\n", what.c_str(), error.c_str());
  return false;
}

bool Run(SqliteDatabase& db, const char* sql) {
  std::string error;
  return db.Execute(sql, error) || Fail(sql, error);
}

// The boards' start times, oldest first: the year's local days, weighted
// (Sundays a third, Saturdays two thirds), in two shifts from 06:00 to 22:00.
std::vector<std::time_t> StartTimes(std::int64_t boards, std::mt19937_64& random) {
  std::vector<double> weights;
  std::vector<std::time_t> midnights;
  for (int day = 0; day < 365; ++day) {
    std::tm local{};
    local.tm_year = kYear - 1900;
    local.tm_mday = 1 + day;  // mktime normalises the day of the year
    local.tm_isdst = -1;
    midnights.push_back(std::mktime(&local));
    weights.push_back(local.tm_wday == 0 ? 1.0 / 3 : local.tm_wday == 6 ? 2.0 / 3 : 1.0);
  }
  std::discrete_distribution<int> pickDay(weights.begin(), weights.end());
  std::uniform_int_distribution<int> pickSecond(6 * 3600, 22 * 3600 - 1);
  std::vector<std::time_t> starts;
  starts.reserve(static_cast<std::size_t>(boards));
  for (std::int64_t i = 0; i < boards; ++i) {
    starts.push_back(midnights[static_cast<std::size_t>(pickDay(random))] + pickSecond(random));
  }
  std::sort(starts.begin(), starts.end());
  return starts;
}

bool MakeYear(const std::string& path, std::int64_t boards, int imagesPerBoard) {
  std::string error;
  if (!Ledger::Open(path, error)) return Fail("cannot create the ledger", error);
  SqliteDatabase db;
  if (!db.Open(path, false, error)) return Fail(path, error);
  // A throw-away file: nothing needs to reach the disk before the commit.
  if (!Run(db, "PRAGMA synchronous = OFF") || !Run(db, "BEGIN")) return false;
  SqliteStatement insertBoard(
      db,
      "INSERT INTO boards (uuid, started_utc, finished_utc, seconds, station, slot, device, program, "
      "version, operator, settings_path, settings_sha256, outcome_code, outcome, message, "
      "forwarded_utc, log_lost) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13, ?14, "
      "?15, ?16, 0)");
  SqliteStatement insertImage(db,
                              "INSERT INTO images (board_id, kind, path, bytes, sha256, pinned, "
                              "started_utc, finished_utc, result) VALUES (?1, ?2, ?3, ?4, ?5, 1, ?6, ?7, ?8)");
  if (!insertBoard.ok() || !insertImage.ok()) return Fail("cannot prepare", db.LastError());
  std::mt19937_64 random(742);
  const std::vector<std::time_t> starts = StartTimes(boards, random);
  std::uniform_real_distribution<double> chance(0, 1);
  std::normal_distribution<double> batchSeconds(185, 4);
  const std::string sha(64, 'c');
  for (std::int64_t i = 0; i < boards; ++i) {
    const std::time_t start = starts[static_cast<std::size_t>(i)];
    const int slot = static_cast<int>(random() % kSlots);
    // 96 % done; the rest begin refused, gave up mid-transfer or interrupted;
    // one in two thousand was killed and never finished.
    const double roll = chance(random);
    const bool running = roll >= 0.9995;
    const int code = roll < 0.96 ? 0 : roll < 0.975 ? 7 : roll < 0.995 ? 8 : 10;
    const char* word = code == 0 ? "done" : code == 7 ? "begin refused" : code == 8 ? "transfer gave up" : "interrupted";
    // A failure stops at some item; the rest are not reached.
    const int failedAt = code == 0 ? imagesPerBoard : code == 7 ? 0 : static_cast<int>(random() % imagesPerBoard);
    const double seconds = code == 0 ? batchSeconds(random) : 2.0 + 20.0 * failedAt;
    const std::string started = Utc(start, static_cast<int>(random() % 1000));
    const std::string finished = Utc(start + static_cast<std::time_t>(seconds), static_cast<int>(random() % 1000));
    char slotName[16], device[16];
    std::snprintf(slotName, sizeof slotName, "1-%d.%d", 1 + slot / 8, 1 + slot % 8);
    std::snprintf(device, sizeof device, "00%d:%03d", 1 + slot / 8, 4 + static_cast<int>(i % 120));
    insertBoard.BindText(1, Uuid(random));
    insertBoard.BindText(2, started);
    if (!running) {
      insertBoard.BindText(3, finished);
      insertBoard.BindReal(4, seconds);
      insertBoard.BindInt(13, code);
      insertBoard.BindText(14, word);
      insertBoard.BindText(16, finished);  // forwarded as it ended
    }
    insertBoard.BindText(15, code == 0 || running ? "" : std::string("The VX742 stopped answering: ") + word);
    insertBoard.BindText(5, "station-07");
    insertBoard.BindText(6, slotName);
    insertBoard.BindText(7, device);
    insertBoard.BindText(8, "tamsolt-cli");
    insertBoard.BindText(9, "1.0.8");
    insertBoard.BindText(10, i % 3 == 0 ? "line2" : "line1");
    insertBoard.BindBlob(11, "/srv/tamsolt/setting.ini");
    insertBoard.BindText(12, sha);
    if (!insertBoard.Run()) return Fail("inserting a board", db.LastError());
    insertBoard.Reset();
    const std::int64_t id = sqlite3_last_insert_rowid(db.get());
    for (int k = 0; k < imagesPerBoard; ++k) {
      const Kind& kind = kKinds[k % 9];
      insertImage.BindInt(1, id);
      insertImage.BindText(2, kind.name);
      insertImage.BindBlob(3, std::string("/srv/tamsolt/images/") + kind.name + ".bin");
      insertImage.BindInt(4, kind.bytes);
      insertImage.BindText(5, sha);
      const bool reached = k <= failedAt && !running;
      if (reached) {
        insertImage.BindText(6, started);
        insertImage.BindText(7, finished);
      }
      insertImage.BindText(8, !reached ? "not reached" : k == failedAt ? "failed" : "written");
      if (!insertImage.Run()) return Fail("inserting an image", db.LastError());
      insertImage.Reset();
    }
  }
  return Run(db, "COMMIT");
}

// The last N finished boards are waiting for the line database again.
bool Unforward(const std::string& path, std::int64_t count) {
  std::string error;
  SqliteDatabase db;
  if (!db.Open(path, false, error)) return Fail(path, error);
  if (!Run(db, "UPDATE boards SET forwarded_utc = finished_utc WHERE forwarded_utc IS NULL")) return false;
  SqliteStatement mark(db,
                       "UPDATE boards SET forwarded_utc = NULL WHERE id IN (SELECT id FROM boards "
                       "WHERE finished_utc IS NOT NULL ORDER BY id DESC LIMIT ?1)");
  mark.BindInt(1, count);
  return mark.Run() || Fail("marking boards unforwarded", db.LastError());
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  std::int64_t boards = 500000;
  int images = 9;
  std::int64_t unforward = -1;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool valued = arg == "--boards" || arg == "--images" || arg == "--unforward";
    if (valued && i + 1 < argc) {
      const long long value = std::atoll(argv[++i]);
      if (arg == "--boards") boards = value;
      if (arg == "--images") images = static_cast<int>(value);
      if (arg == "--unforward") unforward = value;
    } else if (!valued && arg[0] != '-' && path.empty()) {
      path = arg;
    } else {
      std::fprintf(stderr, "usage: tamsolt-bench-ledger PATH [--boards N] [--images N] | PATH --unforward N\n");
      return 2;
    }
  }
  if (path.empty()) return 2;
  if (unforward >= 0) return Unforward(path, unforward) ? 0 : 1;
  struct stat existing {};
  if (stat(path.c_str(), &existing) == 0) return Fail(path, "exists already"), 1;
  return MakeYear(path, boards, images) ? 0 : 1;
}
