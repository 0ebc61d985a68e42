// A ledger damaged at a chosen page: found when it is opened, kept aside as
// it is, and replaced by a new ledger with every row that can still be read.
#include <sys/stat.h>

#include <fstream>
#include <iterator>
#include <set>

#include "ledger/ledger.h"
#include "tests/ledger/ledger_scratch.h"

namespace {

constexpr int kBoards = 300;

std::string FileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::int64_t One(const SqliteDatabase& db, const std::string& sql) {
  SqliteStatement statement(db, sql.c_str());
  return statement.Step() == SQLITE_ROW ? statement.Int(0) : -1;
}

std::set<std::string> Uuids(const SqliteDatabase& db) {
  std::set<std::string> uuids;
  SqliteStatement all(db, "SELECT uuid FROM boards");
  while (all.Step() == SQLITE_ROW) uuids.insert(all.Bytes(0));
  return uuids;
}

class DamagedLedgerTest : public LedgerTest {
 protected:
  // kBoards boards of three images, the first half forwarded, all in the file itself.
  void MakeLedger() {
    std::string error;
    {
      const auto ledger = Ledger::Open(path, error);
      ASSERT_TRUE(ledger) << error;
      for (int i = 0; i < kBoards; ++i) {
        const auto id = ledger->BeginBoard(Board(), error);
        ASSERT_TRUE(id) << error;
        std::vector<ImageRecord> images;
        for (const char* kind : {"BOOT", "HOST", "RCDB"}) {
          images.push_back({kind, std::string("/images/") + kind, 4096, std::string(64, 'e'), false,
                            UtcNow(), UtcNow(), "written"});
        }
        ASSERT_TRUE(ledger->FinishBoard(*id, {UtcNow(), 30, 0, "done", ""}, images, error)) << error;
      }
      original = Uuids(ledger->Database());
    }
    SqliteDatabase db;
    ASSERT_TRUE(db.Open(path, false, error)) << error;
    ASSERT_TRUE(db.Execute("UPDATE boards SET forwarded_utc = finished_utc WHERE id <= 150", error));
    ASSERT_TRUE(db.Execute("PRAGMA wal_checkpoint(TRUNCATE)", error)) << error;
  }

  // Overwrites the page of table chosen by order ("DESC": its last) with noise.
  void Damage(const std::string& table, const char* order) {
    std::int64_t page = 0, size = 0;
    {
      std::string error;
      SqliteDatabase db;
      ASSERT_TRUE(db.Open(path, false, error)) << error;
      page = One(db, "SELECT pageno FROM dbstat WHERE name = '" + table + "' AND pagetype = 'leaf' "
                     "ORDER BY pageno " + order + " LIMIT 1");
      size = One(db, "PRAGMA page_size");
      rowsOnPage = One(db, "SELECT ncell FROM dbstat WHERE pageno = " + std::to_string(page));
    }
    ASSERT_GT(page, 1) << "dbstat cannot say where " << table << " is";
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp((page - 1) * size + 8);  // past the page header's type: a page that reads as garbage
    const std::string noise(static_cast<std::size_t>(size - 8), '\x5a');
    file.write(noise.data(), static_cast<std::streamsize>(noise.size()));
    file.close();
    damagedBytes = FileBytes(path);
  }

  std::set<std::string> original;
  std::string damagedBytes;
  std::int64_t rowsOnPage = 0;
};

}  // namespace

// The page a writer adds the next board's images to: the next writer finds
// it, keeps the file as it is beside a new ledger that has every board and
// every image that could be read, forwarded or not as before.
TEST_F(DamagedLedgerTest, AWriterSetsItAsideAndKeepsWhatCanBeRead) {
  MakeLedger();
  Damage("images", "DESC");
  std::string error;
  // A board committed to the -wal only (its writer still has the file open):
  // the -wal goes aside with the file, and the board is read from them both.
  SqliteDatabase walWriter;
  ASSERT_TRUE(walWriter.Open(path, false, error)) << error;
  ASSERT_TRUE(walWriter.Execute("PRAGMA wal_autocheckpoint = 0", error)) << error;
  ASSERT_TRUE(walWriter.Execute(
      "INSERT INTO boards (uuid, started_utc, station, slot, device, program, version, operator, "
      "settings_path, settings_sha256) VALUES ('in-the-wal', '2026-12-09T10:00:00.000Z', 's', '', "
      "'001:004', 'tamsolt-cli', '1', 'op', '', '')", error)) << error;
  original.insert("in-the-wal");
  ASSERT_EQ(FileBytes(path), damagedBytes) << "the board went into the file itself";
  const auto ledger = Ledger::Open(path, error);
  ASSERT_TRUE(ledger) << error;
  const std::string notice = ledger->Notice();
  EXPECT_NE(notice.find("is damaged (database disk image is malformed)"), std::string::npos) << notice;
  const std::size_t kept = notice.find("kept as it is as " + path + ".damaged-");
  ASSERT_NE(kept, std::string::npos) << notice;
  const std::string keptAs = notice.substr(kept + 17, notice.find(',', kept) - kept - 17);
  EXPECT_EQ(FileBytes(keptAs), damagedBytes) << "the damaged file was changed";
  EXPECT_FALSE(ledger->Damaged());

  EXPECT_EQ(Uuids(ledger->Database()), original);
  const std::int64_t images = One(ledger->Database(), "SELECT count(*) FROM images");
  EXPECT_EQ(images, 3 * kBoards - rowsOnPage);
  EXPECT_NE(notice.find(std::to_string(rowsOnPage) + " image row(s) could not be read"), std::string::npos)
      << notice;
  EXPECT_EQ(One(ledger->Database(), "SELECT count(*) FROM boards WHERE forwarded_utc IS NULL"), kBoards - 150 + 1);
  // Every image copied belongs to its own board.
  EXPECT_EQ(One(ledger->Database(), "SELECT count(*) FROM images i JOIN boards b ON b.id = i.board_id"),
            images);
  // Nothing made of the damaged page's garbage: every image copied is one that was written.
  EXPECT_EQ(One(ledger->Database(), "SELECT count(*) FROM images WHERE kind IN ('BOOT', 'HOST', 'RCDB') "
                                    "AND sha256 = '" + std::string(64, 'e') + "' AND bytes = 4096"),
            images);
  ASSERT_TRUE(ledger->BeginBoard(Board(), error)) << error;
}

// A page in the middle of the boards: a writer's cheap look may pass it
// by; every page read (a reader's report, --ledger-sync) finds it.
TEST_F(DamagedLedgerTest, EveryPageReadFindsDamageElsewhere) {
  MakeLedger();
  Damage("boards", "ASC");
  std::string error;
  {
    const auto reader = Ledger::OpenForReading(path, error, LedgerCheck::kEveryPage);
    ASSERT_TRUE(reader) << error;
    EXPECT_TRUE(reader->Damaged());
    EXPECT_NE(reader->Notice().find("what is read from it may be short"), std::string::npos) << reader->Notice();
  }
  {
    // While another program has it open it stays where it is, and is said so.
    const auto other = Ledger::OpenForReading(path, error);
    ASSERT_TRUE(other) << error;
    const auto writer = Ledger::OpenExisting(path, error, LedgerCheck::kEveryPage);
    ASSERT_TRUE(writer) << error;
    EXPECT_TRUE(writer->Damaged());
    EXPECT_NE(writer->Notice().find("stays where it is for now (another program has it open)"),
              std::string::npos) << writer->Notice();
  }
  EXPECT_EQ(FileBytes(path), damagedBytes);
  const auto writer = Ledger::OpenExisting(path, error, LedgerCheck::kEveryPage);
  ASSERT_TRUE(writer) << error;
  EXPECT_FALSE(writer->Damaged()) << writer->Notice();
  const std::set<std::string> read = Uuids(writer->Database());
  EXPECT_EQ(static_cast<std::int64_t>(read.size()), kBoards - rowsOnPage);
  for (const std::string& uuid : read) EXPECT_EQ(original.count(uuid), 1u);
  EXPECT_NE(writer->Notice().find(std::to_string(rowsOnPage) + " board row(s)"), std::string::npos)
      << writer->Notice();
}

TEST_F(DamagedLedgerTest, AFileThatIsNoDatabaseIsRefusedWhereItIs) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  { std::ofstream(path) << "[Strings]\nnot a ledger at all, but long enough to be read as a header\n"; }
  const std::string before = FileBytes(path);
  std::string error;
  EXPECT_FALSE(Ledger::Open(path, error));
  EXPECT_NE(error.find("not a database"), std::string::npos) << error;
  EXPECT_EQ(FileBytes(path), before);
}
