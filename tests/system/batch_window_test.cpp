// The tool as the operator uses it, end to end: the real window (offscreen)
// presses its batch button, the engine talks through Debian's libusb 0.1 to the
// emulated device served by umockdev, and what the device stored is compared
// with the source files. Run under tamsolt-sim-run --out=DIR with DIR as the
// first argument; each test runs in its own runner (see CMakeLists.txt).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QTest>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "engine/sha256.h"
#include "ledger/ledger.h"
#include "settings/messages.h"
#include "settings/settings.h"
#include "batch_window_session.h"
#include "demo/device_check.h"
#include "demo/expected_images.h"
#include "record/transfer_context.h"
#include "tests/private_runtime_folder.h"

namespace {

std::filesystem::path g_receivedDir;

// The log lines the listed message keys make, without their time.
std::vector<std::string> Texts(std::initializer_list<int> keys) {
  std::vector<std::string> texts;
  for (int key : keys) texts.push_back(MessageText(key));
  return texts;
}

// "HH:MM:SS" at the start of line, a time of day.
bool StartsWithTime(const std::string& line) {
  const auto number = [&](std::size_t at, int limit) {
    return line.size() > at + 1 && std::isdigit(static_cast<unsigned char>(line[at])) &&
           std::isdigit(static_cast<unsigned char>(line[at + 1])) &&
           (line[at] - '0') * 10 + (line[at + 1] - '0') < limit;
  };
  return number(0, 24) && line[2] == ':' && number(3, 60) && line[5] == ':' && number(6, 60);
}

// Each line is "%H:%M:%S" followed directly by the message text.
void ExpectLog(const std::vector<std::string>& lines, const std::vector<std::string>& texts) {
  std::vector<std::string> withoutTime;
  for (const std::string& line : lines) {
    EXPECT_TRUE(StartsWithTime(line)) << "no time in front of: " << line;
    withoutTime.push_back(line.size() >= 8 ? line.substr(8) : line);
  }
  EXPECT_EQ(withoutTime, texts);
}

// The device may keep short-block images in whole blocks: the source must be
// its beginning.
void ExpectStored(const BatchWindowSession& session, std::uint8_t kind, const Bytes& want) {
  const char* name = StoredName(kind);
  ASSERT_TRUE(session.WasReceived(name)) << name << ".bin was not stored";
  const Bytes got = session.Received(name);
  ASSERT_GE(got.size(), want.size()) << name << ".bin is short";
  const auto differs = std::mismatch(want.begin(), want.end(), got.begin());
  EXPECT_TRUE(differs.first == want.end())
      << name << ".bin differs first at byte " << (differs.first - want.begin()) << " of " << want.size();
}

void ExpectOnlyBox(const BatchWindowSession& session, int key) {
  ASSERT_EQ(session.Boxes().size(), 1u) << "first box: " << session.Boxes().front().text;
  EXPECT_EQ(session.Boxes()[0].text, MessageText(key));
  EXPECT_EQ(session.Boxes()[0].title, MessageText(kMsgTitle));
  EXPECT_EQ(session.Boxes()[0].icon, MessageIcon::Warning);
}

// The boards this test's window recorded (its ledger is the test's own,
// through XDG_STATE_HOME).
std::vector<StoredBoard> RecordedBoards() {
  std::vector<StoredBoard> boards;
  std::string error;
  const auto ledger = Ledger::OpenExisting(DefaultLedgerPath(), error);
  EXPECT_TRUE(ledger) << error;
  if (ledger) ledger->ForEachBoard("", "", [&](const StoredBoard& b) { boards.push_back(b); }, error);
  return boards;
}

void ForgetRecordedBoards() { std::filesystem::remove(DefaultLedgerPath()); }

constexpr int kBegin = 0x43, kBeginAlt = 0x49, kChunk = 0x42, kChunkAlt = 0x48, kEnd = 0x44,
              kEndAlt = 0x4A;

TEST(BatchWindow, AllNineRowsArriveInTheFormTheDeviceStores) {
  ForgetRecordedBoards();
  BatchWindowSession session(g_receivedDir);
  ASSERT_TRUE(session.Ready());
  constexpr int kWidth = 6, kHeight = 4;  // 18-byte rows: the file pads each by 2
  const Bytes boot = ProgramFile(PatternBytes(300, 1), 1);  // alternate codes: 7 chunks
  const Bytes host = ProgramFile(PatternBytes(200, 2), 0);  // 5 chunks
  const Bytes rcdb = PatternBytes(120, 3);                  // 3 short blocks
  const Bytes font = PatternBytes(5000, 4);                 // 3 data blocks
  const Bytes lang = PatternBytes(2100, 5);                 // 2 data blocks
  const Bytes fv = PatternBytes(160, 6);                    // 4 short blocks
  const Bytes bmp = BitmapFile(kWidth, kHeight, 7);         // one block
  const Bytes pic = PatternBytes(3000, 8);                  // 2 data blocks
  const Bytes testData = PatternBytes(300, 9);              // 6 test-data chunks
  ASSERT_FALSE(session.PlaceRow(kKindBoot, boot, ".bin").empty());
  ASSERT_FALSE(session.PlaceRow(kKindHost, host, ".bin").empty());
  ASSERT_FALSE(session.PlaceRow(kKindRcdb, rcdb, ".rdb").empty());
  ASSERT_FALSE(session.PlaceRow(kKindFont, font, ".pack").empty());
  ASSERT_FALSE(session.PlaceRow(kKindLang, lang, ".lang").empty());
  ASSERT_FALSE(session.PlaceRow(kKindFv, fv, ".fv").empty());
  ASSERT_FALSE(session.PlaceRow(kKindBmp, bmp, ".bmp").empty());
  ASSERT_FALSE(session.PlaceRow(kKindPic, pic, ".pic").empty());
  ASSERT_FALSE(session.PlaceRow(kKindTdb, TestDataFile(testData), ".tdb").empty());
  CTamsoltDlg& window = session.OpenWindow();

  ASSERT_TRUE(session.PressBatchAndWait()) << "no end of the batch within a minute";
  std::printf("nine rows, one batch:\n");
  session.PrintOutcome();

  ExpectOnlyBox(session, kMsgDone);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(g_transfer.m_dev, nullptr) << "the link stays open after the batch";
  EXPECT_TRUE(window.StatusLine()->text().isEmpty()) << window.StatusLine()->text().toStdString();
  // BMP is a single block, done before the loop reaches block 1: no start line.
  // TDB is not the first item: no start line either.
  ExpectLog(session.LogLines(),
            Texts({MsgItemStarted(kKindBoot), MsgItemFinished(kKindBoot),  //
                   MsgItemStarted(kKindHost), MsgItemFinished(kKindHost),  //
                   MsgItemStarted(kKindRcdb), MsgItemFinished(kKindRcdb),  //
                   MsgItemStarted(kKindFont), MsgItemFinished(kKindFont),  //
                   MsgItemStarted(kKindLang), MsgItemFinished(kKindLang),  //
                   MsgItemStarted(kKindFv), MsgItemFinished(kKindFv),      //
                   MsgItemFinished(kKindBmp),                              //
                   MsgItemStarted(kKindPic), MsgItemFinished(kKindPic),    //
                   MsgItemFinished(kKindTdb)}));
  // The batch-write item, last, leaves the bar where its loop ended.
  EXPECT_EQ(window.ProgressBar()->maximum(), 6);
  EXPECT_EQ(window.ProgressBar()->value(), 6);

  ExpectStored(session, kKindBoot, StoredProgram(boot));
  ExpectStored(session, kKindHost, StoredProgram(host));
  ExpectStored(session, kKindRcdb, ScrambledB(rcdb));
  ExpectStored(session, kKindFont, ScrambledB(font));
  ExpectStored(session, kKindLang, lang);
  ExpectStored(session, kKindFv, fv);
  ExpectStored(session, kKindBmp, DevicePicture(kWidth, kHeight, 7));
  ExpectStored(session, kKindPic, ScrambledB(pic));
  ExpectStored(session, kKindTdb, testData);
  // tamsolt-verify-device's check agrees with the device on the same rows,
  // short blocks' rounded-up ends included.
  const std::vector<ImageFinding> findings = CheckDeviceImages(session.Sources(), g_receivedDir);
  for (const ImageFinding& finding : findings) EXPECT_TRUE(finding.matches) << finding.line;
  EXPECT_EQ(findings.size(), 9u);

  // One exchange, opened once with BOOT's alternate codes; each program's
  // chunks carry its own header's codes, the end those of the last one, HOST.
  const DeviceSummary device = session.Summary();
  EXPECT_EQ(device.exchanges, 1);
  EXPECT_EQ(device.CommandCount(kBeginAlt), 1);
  EXPECT_EQ(device.CommandCount(kBegin), 0);
  EXPECT_EQ(device.CommandCount(kChunkAlt), 7);
  EXPECT_EQ(device.CommandCount(kChunk), 5);
  EXPECT_EQ(device.CommandCount(kEnd), 1);
  EXPECT_EQ(device.CommandCount(kEndAlt), 0);

  // One board, done, with every image written and the digest of its file.
  const std::vector<StoredBoard> boards = RecordedBoards();
  ASSERT_EQ(boards.size(), 1u);
  ASSERT_TRUE(boards[0].outcome);
  EXPECT_EQ(boards[0].outcome->code, 0);
  EXPECT_EQ(boards[0].board.program, "tamsolt");
  EXPECT_FALSE(boards[0].board.slot.empty());
  ASSERT_EQ(boards[0].images.size(), 9u);
  const std::vector<SourceFile> sources = session.Sources();
  for (const ImageRecord& image : boards[0].images) {
    std::string bytes;
    const auto source = std::find_if(sources.begin(), sources.end(),
                                     [&](const SourceFile& s) { return s.path.string() == image.path; });
    ASSERT_NE(source, sources.end()) << image.path;
    std::ifstream in(image.path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    EXPECT_EQ(image.sha256, Sha256Hex(bytes)) << image.kind;
    EXPECT_EQ(image.bytes, bytes.size()) << image.kind;
    EXPECT_EQ(image.result, "written") << image.kind;
  }
}

TEST(BatchWindow, SecondPressStartsOverWithTheCodesTheLastProgramLeft) {
  BatchWindowSession session(g_receivedDir);
  ASSERT_TRUE(session.Ready());
  const Bytes boot = ProgramFile(PatternBytes(100, 11), 0);
  const Bytes host = ProgramFile(PatternBytes(90, 12), 1);
  const Bytes fv = PatternBytes(100, 13);
  ASSERT_FALSE(session.PlaceRow(kKindBoot, boot, ".bin").empty());
  ASSERT_FALSE(session.PlaceRow(kKindHost, host, ".bin").empty());
  ASSERT_FALSE(session.PlaceRow(kKindRcdb, PatternBytes(70, 14), ".rdb").empty());
  ASSERT_FALSE(session.PlaceRow(kKindFv, fv, ".fv").empty());
  CTamsoltDlg& window = session.OpenWindow();

  ASSERT_TRUE(session.PressBatchAndWait()) << "the first batch did not end within a minute";
  std::printf("first press, BOOT HOST RCDB FV:\n");
  session.PrintOutcome();
  ExpectOnlyBox(session, kMsgDone);
  const DeviceSummary first = session.Summary();
  EXPECT_EQ(first.CommandCount(kBegin), 1) << "BOOT's header asks for the normal codes";
  EXPECT_EQ(first.CommandCount(kEndAlt), 1) << "HOST, the last program, asks for the alternate codes";
  ExpectStored(session, kKindHost, StoredProgram(host));

  // The operator unticks the programs and brings a new database.
  QTest::mouseClick(window.RowCheck(kKindBoot), Qt::LeftButton);
  QTest::mouseClick(window.RowCheck(kKindHost), Qt::LeftButton);
  ASSERT_FALSE(window.RowCheck(kKindBoot)->isChecked());
  ASSERT_FALSE(window.RowCheck(kKindHost)->isChecked());
  const Bytes rcdb = PatternBytes(150, 15);
  ASSERT_TRUE(session.ReplaceFile(kKindRcdb, rcdb));
  session.ForgetBoxes();

  ASSERT_TRUE(session.PressBatchAndWait()) << "the second batch did not end within a minute";
  std::printf("second press, RCDB FV:\n");
  session.PrintOutcome();
  ExpectOnlyBox(session, kMsgDone);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(g_transfer.m_dev, nullptr);
  // The first batch's lines are gone.
  ExpectLog(session.LogLines(), Texts({MsgItemStarted(kKindRcdb), MsgItemFinished(kKindRcdb),
                                       MsgItemStarted(kKindFv), MsgItemFinished(kKindFv)}));
  ExpectStored(session, kKindRcdb, ScrambledB(rcdb));
  ExpectStored(session, kKindFv, fv);
  EXPECT_FALSE(session.WasReceived("boot")) << "an unticked row was sent";
  EXPECT_FALSE(session.WasReceived("host")) << "an unticked row was sent";

  // A new begin, with the codes HOST left behind, and a second exchange.
  const DeviceSummary second = session.Summary();
  EXPECT_EQ(second.exchanges, 2);
  EXPECT_EQ(second.CommandCount(kBeginAlt) - first.CommandCount(kBeginAlt), 1);
  EXPECT_EQ(second.CommandCount(kBegin) - first.CommandCount(kBegin), 0);
  EXPECT_EQ(second.CommandCount(kEndAlt) - first.CommandCount(kEndAlt), 1);
}

// Runs under --begin-status=5: the device refuses every begin.
TEST(BatchWindow, RefusedBeginEndsTheBatchWithItsOwnBoxAndStoresNothing) {
  ForgetRecordedBoards();
  BatchWindowSession session(g_receivedDir);
  ASSERT_TRUE(session.Ready());
  ASSERT_FALSE(session.PlaceRow(kKindBoot, ProgramFile(PatternBytes(100, 21), 0), ".bin").empty());
  ASSERT_FALSE(session.PlaceRow(kKindRcdb, PatternBytes(70, 22), ".rdb").empty());
  CTamsoltDlg& window = session.OpenWindow();

  ASSERT_TRUE(session.PressBatchAndWait()) << "the refusal did not end the batch within a minute";
  std::printf("begin refused:\n");
  session.PrintOutcome();
  ExpectOnlyBox(session, kMsgBeginRefused);
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_NE(g_transfer.m_dev, nullptr) << "a refused begin leaves the link open";
  EXPECT_TRUE(session.LogLines().empty());
  EXPECT_TRUE(window.StatusLine()->text().isEmpty()) << "a refusal is no failure report";
  EXPECT_FALSE(session.WasReceived("boot"));
  EXPECT_EQ(session.Summary().exchanges, -1) << "the device saw an end command";
  const std::vector<StoredBoard> boards = RecordedBoards();
  ASSERT_EQ(boards.size(), 1u);
  ASSERT_TRUE(boards[0].outcome);
  EXPECT_EQ(boards[0].outcome->code, 7);
  EXPECT_EQ(boards[0].outcome->message, MessageText(kMsgBeginRefused));
}

// Runs under --unplug-after=4: the device leaves during the database.
TEST(BatchWindow, AGiveUpIsRecordedWithItsCode) {
  ForgetRecordedBoards();
  BatchWindowSession session(g_receivedDir);
  ASSERT_TRUE(session.Ready());
  ASSERT_FALSE(session.PlaceRow(kKindRcdb, PatternBytes(530, 31), ".rdb").empty());
  ASSERT_FALSE(session.PlaceRow(kKindFv, PatternBytes(106, 32), ".fv").empty());
  session.OpenWindow();
  ASSERT_TRUE(session.PressBatchAndWait()) << "the give-up did not end the batch within a minute";
  session.PrintOutcome();
  const std::vector<StoredBoard> boards = RecordedBoards();
  ASSERT_EQ(boards.size(), 1u);
  ASSERT_TRUE(boards[0].outcome);
  EXPECT_EQ(boards[0].outcome->code, 8);
  EXPECT_EQ(boards[0].outcome->word, "transfer gave up");
  ASSERT_EQ(boards[0].images.size(), 2u);
  EXPECT_EQ(boards[0].images[0].result, "failed");
  EXPECT_EQ(boards[0].images[1].result, "not reached");
}

// A line database that cannot be reached: the board is written and recorded,
// and the window's log says so in one line (from the forwarder's thread,
// queued to the window's), without the password of the url.
TEST(BatchWindow, AnUnreachableLineDatabaseIsOneLogLine) {
  ForgetRecordedBoards();
  BatchWindowSession session(g_receivedDir);
  ASSERT_TRUE(session.Ready());
  ASSERT_FALSE(session.PlaceRow(kKindRcdb, PatternBytes(70, 41), ".rdb").empty());
  const std::string nowhere = (g_receivedDir / "no-server").string();
  ASSERT_TRUE(WriteSetting("ledger", "url", "host=" + nowhere + " user=s password=hunter2 dbname=line3"));
  session.OpenWindow();
  ASSERT_TRUE(session.PressBatchAndWait()) << "the batch did not end within a minute";
  ExpectOnlyBox(session, kMsgDone);
  const auto forwardLines = [&] {
    std::vector<std::string> lines;
    for (const std::string& line : session.LogLines()) {
      if (line.find("line database") != std::string::npos) lines.push_back(line);
    }
    return lines;
  };
  // The forward runs on its own thread: wait for its line, boundedly.
  for (int i = 0; i < 600 && forwardLines().empty(); ++i) QTest::qWait(50);
  const std::vector<std::string> lines = forwardLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(nowhere), std::string::npos) << lines[0];
  EXPECT_EQ(lines[0].find("hunter2"), std::string::npos) << lines[0];
  const std::vector<StoredBoard> boards = RecordedBoards();
  ASSERT_EQ(boards.size(), 1u);
  EXPECT_EQ(boards[0].outcome->code, 0);
}

}  // namespace

int main(int argc, char** argv) {
  const PrivateRuntimeFolder runtimeFolder;
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: tamsolt-sim-run --out=DIR -- %s DIR [gtest options]\n"
                 "DIR is the folder where the emulated device stores what it receives.\n",
                 argv[0]);
    return 2;
  }
  g_receivedDir = argv[1];
  return RUN_ALL_TESTS();
}
