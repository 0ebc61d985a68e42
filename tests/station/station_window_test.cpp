// The station window drawn offscreen: a recorded event stream fed through the
// same reader as the CLI's output, and a stand-in CLI stopped by the window.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <csignal>

#include "station/slot_tile.h"
#include "station/station_window.h"
#include "station/stop_signals.h"

namespace {

const QString kStream = QStringLiteral(TAMSOLT_STATION_TEST_DIR "/events_every_state.jsonl");
const QString kFakeCli = QStringLiteral(TAMSOLT_STATION_TEST_DIR "/fake_cli.sh");

const QString kUnderSignals = QStringLiteral(TAMSOLT_STATION_UNDER_SIGNALS);
constexpr int kBoundMs = 20000;

bool Alive(qint64 pid) { return pid > 0 && kill(static_cast<pid_t>(pid), 0) == 0; }

// What the fake CLI heard, line by line ("start", "TERM", "INT", "end"), from
// the file it is given in FAKE_CLI_SIGNALS.
class CliHearing {
 public:
  CliHearing() { qputenv("FAKE_CLI_SIGNALS", path_.toLocal8Bit()); }
  ~CliHearing() { qunsetenv("FAKE_CLI_SIGNALS"); }
  QStringList Lines() const {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }
  // Waits (bounded) until it has heard `count` lines or has ended, and gives them.
  QStringList After(qsizetype count) const {
    static_cast<void>(QTest::qWaitFor([&] {
      const QStringList lines = Lines();
      return lines.size() >= count || lines.contains(QStringLiteral("end"));
    }, kBoundMs));
    return Lines();
  }

 private:
  QTemporaryDir dir_;
  QString path_ = dir_.filePath(QStringLiteral("heard"));
};

TEST(StationWindow, RecordedStreamDrivesEveryTile) {
  StationSettings settings;
  settings.slotNames = {{"1-1.2", "A2"}, {"1-1.8", "A8"}};
  StationWindow window(settings, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
  window.SetReplay(true);
  QFile stream(kStream);
  ASSERT_TRUE(stream.open(QIODevice::ReadOnly));
  while (!stream.atEnd()) window.FeedLine(stream.readLine().trimmed());
  window.SetClock([] { return ParseEventTime("2026-12-08T14:10:00.000Z"); });

  struct Expect {
    const char* port;
    SlotState state;
    const char* name;
    const char* item;
    int percent;
    const char* elapsed;
    const char* reason;
  };
  const Expect expected[] = {
      {"1-1.1", SlotState::kDone, "1-1.1", "HOST", 100, "0:40", ""},
      {"1-1.2", SlotState::kWriting, "A2", "HOST", 42, "1:00", ""},
      {"1-1.3", SlotState::kFailed, "1-1.3", "BOOT", 20, "0:20", "下载失败，请重新上电后再试"},
      {"1-1.4", SlotState::kNotTaken, "1-1.4", "", 0, "", "未接收：若是新板，请取下后重新插入"},
      {"1-1.5", SlotState::kInterrupted, "1-1.5", "HOST", 37, "0:40", "interrupted at HOST block 24"},
      {"1-1.6", SlotState::kEmpty, "1-1.6", "", 0, "", ""},
      {"1-1.7", SlotState::kWriting, "1-1.7", "FV", 88, "0:50", ""},
      {"1-1.8", SlotState::kEmpty, "A8", "", 0, "", ""},
      {"1-1.10", SlotState::kDone, "1-1.10", "FV", 100, "0:45", ""},
  };
  window.resize(1366, 768);
  window.show();
  QApplication::processEvents();
  const SlotTile* previous = nullptr;
  for (const Expect& e : expected) {
    const SlotTile* tile = window.Tile(e.port);
    ASSERT_NE(tile, nullptr) << e.port;
    EXPECT_EQ(tile->StateShown(), SlotTile::StateText(e.state)) << e.port;
    EXPECT_EQ(tile->NameText(), QString::fromUtf8(e.name)) << e.port;
    EXPECT_EQ(tile->ItemText(), QString::fromUtf8(e.item)) << e.port;
    EXPECT_EQ(tile->Percent(), e.percent) << e.port;
    EXPECT_EQ(tile->ProgressShown(), e.state == SlotState::kWriting || e.state == SlotState::kInterrupted);
    EXPECT_EQ(tile->ElapsedText(), QString::fromUtf8(e.elapsed)) << e.port;
    EXPECT_EQ(tile->ReasonText(), QString::fromUtf8(e.reason)) << e.port;
    EXPECT_EQ(tile->palette().color(QPalette::Window), SlotTile::StateColour(e.state)) << e.port;
    // Hub-port order: left to right, then the next row.
    if (previous != nullptr) {
      EXPECT_TRUE(tile->y() > previous->y() || (tile->y() == previous->y() && tile->x() > previous->x()))
          << e.port;
    }
    previous = tile;
  }
  // The CLI's tally (interrupted counts as failed there).
  EXPECT_TRUE(window.TallyText().contains(QStringLiteral("成功 4")));
  EXPECT_TRUE(window.TallyText().contains(QStringLiteral("失败 2")));
  EXPECT_TRUE(window.TallyText().contains(QStringLiteral("48.0")));
  EXPECT_TRUE(window.RowsText().contains(QStringLiteral("boot_v2.bin  [锁定 3f9a1c02b7e4]")));
  EXPECT_TRUE(window.RowsText().contains(QStringLiteral("FV  voice.fv")));
  EXPECT_FALSE(window.RowsText().contains(QStringLiteral("FONT")));
}

// The header names the recipe and version written, and says when it comes from the cache.
TEST(StationWindow, HeaderNamesTheRecipeAndItsVersion) {
  StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
  window.SetReplay(true);
  window.FeedLine(QByteArray(R"({"schema":1,"kind":"run-start","data":{"recipe":"line3","recipe_version":6,)"
                             R"("rows":[{"item":"RCDB","enabled":true,"file":"/c/9f","sha256":"9f"}]}})"));
  EXPECT_TRUE(window.RowsText().startsWith(QStringLiteral("配方 line3 版本 6\nRCDB  9f"))) << window.RowsText().toStdString();
  window.FeedLine(QByteArray(R"({"schema":1,"kind":"recipe","data":{"name":"line3","version":7,"away":true,)"
                             R"("rows":[{"item":"RCDB","enabled":true,"file":"r7.rdb","sha256":"0a"}]}})"));
  EXPECT_TRUE(window.RowsText().startsWith(QStringLiteral("配方 line3 版本 7（线体数据库不可用：使用缓存中的版本）\nRCDB  r7.rdb")))
      << window.RowsText().toStdString();
}

TEST(StationWindow, EnglishCaptionsFromTheCompiledTranslation) {
  QTranslator english;
  ASSERT_TRUE(english.load(QStringLiteral(":/i18n/tamsolt_station_en.qm")));
  QApplication::installTranslator(&english);
  EXPECT_EQ(SlotTile::StateText(SlotState::kFailed), QStringLiteral("✖ Failed"));
  EXPECT_EQ(SlotTile::StateText(SlotState::kNotTaken), QStringLiteral("⏏ Remove board"));
  QApplication::removeTranslator(&english);
  EXPECT_EQ(SlotTile::StateText(SlotState::kFailed), QStringLiteral("✖ 失败"));
}

// A board the station did not take says why, in both languages, and is never green.
TEST(StationWindow, ABoardNotTakenSaysWhyAndIsNeverGreen) {
  struct Case {
    const char* notTaken;
    const char* chinese;
    const char* english;
  };
  const Case cases[] = {
      {"came-back", "未接收：若是新板，请取下后重新插入", "Not taken: if it is a new board, unplug it and plug it in again"},
      {"stopping", "未接收：工位正在停止", "Not taken: the station is stopping"},
      {"lot-reached", "未接收：本批数量已满", "Not taken: the lot is complete"},
      {"", "未接收此板，请取下", "Board not taken: remove it"},
  };
  QTranslator english;
  ASSERT_TRUE(english.load(QStringLiteral(":/i18n/tamsolt_station_en.qm")));
  for (const Case& c : cases) {
    StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
    window.SetReplay(true);
    // A taken board written done, then one that is not taken in its place.
    window.FeedLine(R"({"kind":"slot-state","device":"001:002","slot":"1-1.3","data":{"state":"done","present":true,"taken":true}})");
    window.FeedLine(QByteArray(R"({"kind":"slot-state","device":"001:003","slot":"1-1.3","data":{"state":"done","present":true,"taken":false,"not_taken":")") +
                    c.notTaken + R"("}})");
    const SlotTile* tile = window.Tile("1-1.3");
    ASSERT_NE(tile, nullptr);
    EXPECT_EQ(tile->StateShown(), SlotTile::StateText(SlotState::kNotTaken)) << c.notTaken;
    EXPECT_NE(tile->palette().color(QPalette::Window), SlotTile::StateColour(SlotState::kDone)) << c.notTaken;
    EXPECT_EQ(tile->ReasonText(), QString::fromUtf8(c.chinese)) << c.notTaken;
    QApplication::installTranslator(&english);
    EXPECT_EQ(SlotTile::NotTakenText(c.notTaken), QString::fromUtf8(c.english)) << c.notTaken;
    QApplication::removeTranslator(&english);
  }
}

// A slot that asks to be checked says so on its tile, in both languages,
// until a board there is written.
TEST(StationWindow, ASlotToCheckIsMarkedOnItsTileUntilABoardIsWritten) {
  StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
  window.SetReplay(true);
  window.FeedLine(R"({"kind":"slot-state","device":"001:002","slot":"1-1.3","data":{"state":"failed","present":true,"taken":true,"reason":"r"}})");
  const SlotTile* tile = window.Tile("1-1.3");
  ASSERT_NE(tile, nullptr);
  EXPECT_TRUE(tile->CheckShown().isEmpty());
  window.FeedLine(R"({"kind":"slot-alert","device":"001:002","slot":"1-1.3","data":{"check":true,"boards":3,"failed":3,"last_reasons":["no reply"]}})");
  EXPECT_EQ(tile->CheckShown(), QStringLiteral("⚠ 检查此槽位\n3 / 3 块失败\n最近：no reply"));
  QTranslator english;
  ASSERT_TRUE(english.load(QStringLiteral(":/i18n/tamsolt_station_en.qm")));
  QApplication::installTranslator(&english);
  Slot slot;
  slot.check = true;
  EXPECT_EQ(SlotTile::CheckText(slot), QStringLiteral("⚠ Check this slot"));
  QApplication::removeTranslator(&english);
  window.FeedLine(R"({"kind":"slot-state","device":"001:004","slot":"1-1.3","data":{"state":"writing","present":true,"taken":true}})");
  EXPECT_FALSE(tile->CheckShown().isEmpty());
  window.FeedLine(R"({"kind":"slot-state","device":"001:004","slot":"1-1.3","data":{"state":"done","present":true,"taken":true}})");
  EXPECT_TRUE(tile->CheckShown().isEmpty());
}

const QByteArray kWatchStart = R"({"schema":1,"kind":"run-start","time":"2026-12-08T14:00:00.000Z","data":{"program":"tamsolt-cli","mode":"watch","rows":[]}})";

QByteArray SlotStateLine(const char* time, const std::string& data) {
  return QByteArray(R"({"schema":1,"kind":"slot-state","time":"2026-12-08T)") + time +
         R"(Z","device":"001:008","slot":"1-1.5","data":)" + QByteArray::fromStdString(data) + "}";
}

// The CLI's reason is the message table's words only for a box; for the other
// kinds the tile says it in the window's language, never the CLI's English.
TEST(StationWindow, AFailureSaysWhyInTheWindowsLanguage) {
  struct Case {
    const char* item;
    const char* ended;  // the written state's fields after state, present and taken
    const char* chinese;
    const char* english;
  };
  const Case cases[] = {
      {"HOST", R"("state":"failed","reason":"设备拒绝开始下载，请重启设备后重试！","reason_kind":"box")",
       "设备拒绝开始下载，请重启设备后重试！", "设备拒绝开始下载，请重启设备后重试！"},
      {"HOST", R"("state":"interrupted","reason":"Interrupted by SIGTERM at HOST block 24 of 40","reason_kind":"interrupted")",
       "写入被中断（HOST）", "Write interrupted (HOST)"},
      {"", R"("state":"interrupted","reason":"Interrupted by SIGINT before the first item","reason_kind":"interrupted")",
       "写入被中断", "Write interrupted"},
      {"BOOT", R"("state":"interrupted","reason":"killed: it did not stop within 20 s","reason_kind":"killed")",
       "停止时被强制结束", "Killed after the stop"},
      {"", R"("state":"failed","reason":"cannot start its writer: fork: Resource temporarily unavailable","reason_kind":"not-started")",
       "未能启动写入程序", "The writer could not be started"},
      {"", R"("state":"failed","reason":"no recipe to write","reason_kind":"no-recipe","exit_code":12)",
       "无可写入的配方", "No recipe version can be written"},
      {"", R"("state":"failed","reason":"device not opened","reason_kind":"exit","exit_code":5)",
       "无法打开设备", "Device could not be opened"},
      {"RCDB", R"("state":"failed","reason":"transfer gave up","reason_kind":"exit")", "传输失败", "Transfer failed"},
      {"RCDB", R"("state":"failed","reason":"failed: ended by a signal","reason_kind":"exit","exit_code":137)",
       "写入程序被信号 9 结束", "Writer ended by signal 9"},
      {"RCDB", R"("state":"failed","reason":"failed","reason_kind":"exit","exit_code":42)",
       "写入失败（代码 42）", "Write failed (code 42)"},
      {"RCDB", R"("state":"failed","reason":"failed","reason_kind":"exit")", "写入失败", "Write failed"},
      // A kind this window does not know, or none: the reason as it came.
      {"HOST", R"("state":"failed","reason":"a reason to come","reason_kind":"a-kind-to-come")", "a reason to come", "a reason to come"},
      {"HOST", R"("state":"interrupted","reason":"interrupted at HOST block 24")", "interrupted at HOST block 24",
       "interrupted at HOST block 24"},
  };
  QTranslator english;
  ASSERT_TRUE(english.load(QStringLiteral(":/i18n/tamsolt_station_en.qm")));
  for (const Case& c : cases) {
    StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
    window.SetReplay(true);
    window.FeedLine(kWatchStart);
    window.FeedLine(SlotStateLine("14:00:01.000", std::string(R"({"state":"writing","present":true,"taken":true,"item":")") + c.item + R"(","percent":37})"));
    window.FeedLine(SlotStateLine("14:00:20.000", std::string(R"({"present":true,"taken":true,"waiting":true,"rearm_in":0,)") + c.ended + "}"));
    const SlotTile* tile = window.Tile("1-1.5");
    ASSERT_NE(tile, nullptr) << c.ended;
    EXPECT_EQ(tile->ReasonText(), QString::fromUtf8(c.chinese)) << c.ended;
    QApplication::installTranslator(&english);
    EXPECT_EQ(SlotTile::ReasonShown(*window.Model().Find("1-1.5"), 0), QString::fromUtf8(c.english)) << c.ended;
    QApplication::removeTranslator(&english);
  }
}

// A board gone before its outcome: the tile waits, counting down, until the CLI says empty.
TEST(StationWindow, AReArmingSlotShowsItsWaitNeverFree) {
  StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
  window.SetReplay(true);
  window.FeedLine(kWatchStart);
  window.FeedLine(SlotStateLine("14:00:01.000", R"({"state":"writing","present":true,"device":"001:008","taken":true,"item":"TDB","percent":90})"));
  window.FeedLine(SlotStateLine("14:00:30.000", R"({"state":"done","present":false,"device":"001:008","taken":false,"waiting":false,"rearm_in":2.6,"text":"done, empty"})"));
  const SlotTile* tile = window.Tile("1-1.5");
  ASSERT_NE(tile, nullptr);
  const qint64 left = ParseEventTime("2026-12-08T14:00:30.000Z");
  window.SetClock([left] { return left; });
  EXPECT_EQ(tile->StateShown(), QStringLiteral("◔ 请稍候"));
  EXPECT_EQ(tile->ReasonText(), QStringLiteral("请稍候 3 秒"));
  EXPECT_EQ(tile->ItemText(), QString());
  EXPECT_EQ(tile->palette().color(QPalette::Window), SlotTile::StateColour(SlotState::kRearming));
  EXPECT_NE(SlotTile::StateColour(SlotState::kRearming), SlotTile::StateColour(SlotState::kEmpty));
  window.SetClock([left] { return left + 2100; });
  EXPECT_EQ(tile->ReasonText(), QStringLiteral("请稍候 1 秒"));
  window.FeedLine(SlotStateLine("14:00:32.600", R"({"state":"empty","present":false,"device":"","taken":false,"text":"empty"})"));
  EXPECT_EQ(tile->StateShown(), SlotTile::StateText(SlotState::kEmpty));
  EXPECT_EQ(tile->ReasonText(), QString());
  // A board put in while the writer before it still ends is taken once it has: a wait too.
  window.FeedLine(SlotStateLine("14:00:40.000", R"({"state":"failed","present":true,"device":"001:009","taken":false,"not_taken":"previous-ending","waiting":false,"rearm_in":0,"reason":"why","reason_kind":"box"})"));
  EXPECT_EQ(tile->StateShown(), QStringLiteral("◔ 请稍候"));
  EXPECT_EQ(tile->ReasonText(), QStringLiteral("请稍候：上一块板的写入程序正在结束"));
  QTranslator english;
  ASSERT_TRUE(english.load(QStringLiteral(":/i18n/tamsolt_station_en.qm")));
  QApplication::installTranslator(&english);
  EXPECT_EQ(SlotTile::StateText(SlotState::kRearming), QStringLiteral("◔ Please wait"));
  QApplication::removeTranslator(&english);
}

// The header's figures are the tally's: interrupted boards are named apart from failures.
TEST(StationWindow, TheTallyNamesInterruptedBoardsApart) {
  StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
  window.SetReplay(true);
  window.FeedLine(kWatchStart);
  // A child that never was a board: no tile, nothing counted.
  window.FeedLine(R"({"schema":1,"kind":"outcome","time":"2026-12-08T14:00:01.021Z","device":"001:002","slot":"001:002","data":{"exit_code":4,"exit_name":"device not found","seconds":0.01,"reason":"Device NOT found!"}})");
  EXPECT_EQ(window.Tile("001:002"), nullptr);
  EXPECT_EQ(window.TallyText(), QStringLiteral("成功 0   失败 0   每小时 – 块"));
  window.FeedLine(R"({"schema":1,"kind":"tally","time":"2026-12-08T14:05:00.000Z","data":{"written":5,"failed":1,"interrupted":2,"per_hour":null}})");
  EXPECT_EQ(window.TallyText(), QStringLiteral("成功 5   失败 1   每小时 – 块   中断 2"));
}

// The status follows the CLI's own word: never "the boards will finish" while they are being cut.
TEST(StationWindow, StatusTellsInterruptingFromStopping) {
  const QString stopping = QStringLiteral("停止中：不再接收新板，正在写入的板将写完。再按“停止”立即中断。");
  const QString interrupting = QStringLiteral("正在中断写入中的板…");
  const QByteArray stoppingLine = R"({"kind":"stopping","data":{"signal":"SIGTERM","running":1}})";
  const QByteArray interruptingLine = R"({"kind":"interrupting","data":{"signal":"SIGTERM","running":1}})";
  const struct {
    std::vector<QByteArray> lines;
    QString status;
  } cases[] = {
      {{stoppingLine}, stopping},
      {{stoppingLine, interruptingLine}, interrupting},
      {{interruptingLine}, interrupting},
  };
  for (const auto& c : cases) {
    StationWindow window(StationSettings{}, QStringLiteral("/nonexistent/tamsolt-cli"), QString());
    for (const QByteArray& line : c.lines) window.FeedLine(line);
    EXPECT_EQ(window.StatusText(), c.status) << c.lines.size();
  }
}

struct FakeStation {
  StationWindow window{StationSettings{}, kFakeCli, QStringLiteral("/tmp/setting.ini")};
  FakeStation() {
    window.Start();
    const bool writing = QTest::qWaitFor([&] {
      const Slot* slot = window.Model().Find("1-1.2");
      return slot != nullptr && slot->percent == 30;
    }, 20000);
    EXPECT_TRUE(writing);
  }
};

TEST(StationWindow, FirstStopTakesNoNewBoardSecondInterrupts) {
  FakeStation station;
  StationWindow& window = station.window;
  const qint64 pid = window.Cli().Pid();
  ASSERT_TRUE(Alive(pid));
  EXPECT_TRUE(QTest::qWaitFor([&] { return window.RecordText().contains(QStringLiteral("共 5 块")); }, 20000));
  window.Stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.Model().Stopping(); }, 20000));
  EXPECT_EQ(window.Model().Find("1-1.2")->state, SlotState::kWriting);  // lets it finish
  EXPECT_TRUE(window.Cli().Running());
  window.Stop();
  EXPECT_EQ(window.StatusText(), QStringLiteral("正在中断写入中的板…"));  // before the CLI says so
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Cli().Running(); }, 20000));
  EXPECT_FALSE(Alive(pid));
  const SlotTile* tile = window.Tile("1-1.2");
  EXPECT_EQ(tile->StateShown(), SlotTile::StateText(SlotState::kInterrupted));
  EXPECT_EQ(tile->ReasonText(), QStringLiteral("interrupted at HOST block 3"));
  EXPECT_TRUE(window.StatusText().endsWith(QStringLiteral("（退出码 10）：interrupted"))) << qPrintable(window.StatusText());
}

TEST(StationWindow, ClosingWhileWritingAsksAndLeavesNoCli) {
  FakeStation station;
  StationWindow& window = station.window;
  const qint64 pid = window.Cli().Pid();
  int asked = 0;
  bool answer = false;
  window.SetConfirmClose([&] {
    ++asked;
    return answer;
  });
  QCloseEvent refused;
  QApplication::sendEvent(&window, &refused);
  EXPECT_FALSE(refused.isAccepted());
  EXPECT_TRUE(Alive(pid));
  answer = true;
  QCloseEvent accepted;
  QApplication::sendEvent(&window, &accepted);
  EXPECT_TRUE(accepted.isAccepted());
  EXPECT_EQ(asked, 2);
  EXPECT_FALSE(window.Cli().Running());
  EXPECT_FALSE(Alive(pid));
  // Interrupted by the CLI itself (its second signal), not killed.
  EXPECT_EQ(window.Model().Find("1-1.2")->state, SlotState::kInterrupted);
  EXPECT_EQ(window.Model().Find("1-1.2")->reason, "interrupted at HOST block 3");
}

// Each stop signal the window gets is a press of Stop: the first, one SIGTERM
// (the boards finish); the second, another (they are interrupted); with no CLI
// left, the window closes.
// A CLI slow to take its first stop (a loaded machine) still hears the two
// that interrupt it, not one that only lets its boards finish until it is killed.
TEST(StationWindow, ClosingSendsTheSecondStopOnceTheCliHasTakenTheFirst) {
  CliHearing heard;
  qputenv("FAKE_CLI_NAP", "1");
  FakeStation station;
  qunsetenv("FAKE_CLI_NAP");
  station.window.SetConfirmClose([] { return true; });
  QCloseEvent close;
  QApplication::sendEvent(&station.window, &close);
  EXPECT_TRUE(close.isAccepted());
  EXPECT_EQ(heard.Lines(), (QStringList{"start", "TERM", "TERM", "end"}));
  EXPECT_EQ(station.window.Model().Find("1-1.2")->state, SlotState::kInterrupted);
}

TEST(StationWindow, EachStopSignalIsAPressOfStop) {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    CliHearing heard;
    FakeStation station;
    StationWindow& window = station.window;
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::received, &window, &StationWindow::StopSignalled);
    window.show();
    raise(signal);
    EXPECT_EQ(heard.After(2), (QStringList{"start", "TERM"})) << signal;
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Model().Stopping(); }, kBoundMs)) << signal;
    EXPECT_EQ(window.Cli().StopsSent(), 1) << signal;  // not two sent at once, heard as one
    EXPECT_EQ(window.Model().Find("1-1.2")->state, SlotState::kWriting) << signal;
    raise(signal);
    EXPECT_EQ(heard.After(4), (QStringList{"start", "TERM", "TERM", "end"})) << signal;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.Cli().Running(); }, kBoundMs)) << signal;
    EXPECT_EQ(window.Model().Find("1-1.2")->state, SlotState::kInterrupted) << signal;
    EXPECT_TRUE(window.isVisible());
    raise(signal);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.isVisible(); }, kBoundMs)) << signal;
  }
}

// The window as its own program, in a process group of its own as a
// terminal's foreground job is.
struct StationProgram {
  QProcess process;
  explicit StationProgram(const CliHearing& heard) {
    process.setChildProcessModifier([] { setpgid(0, 0); });
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.start(kUnderSignals, {kFakeCli});
    EXPECT_TRUE(process.waitForStarted(kBoundMs));
    EXPECT_EQ(heard.After(1), QStringList{"start"});  // its CLI runs
  }
};

// A terminal's Ctrl-C goes to its whole foreground group: the CLI, in a
// session of its own, hears only the window's one SIGTERM, never the SIGINT.
TEST(StationProgram, CtrlCReachesTheWindowAloneWhichStopsItsCliOnceThenInterrupts) {
  CliHearing heard;
  StationProgram window(heard);
  const pid_t group = static_cast<pid_t>(window.process.processId());
  ASSERT_EQ(kill(-group, SIGINT), 0);
  EXPECT_EQ(heard.After(2), (QStringList{"start", "TERM"}));
  ASSERT_EQ(kill(-group, SIGINT), 0);
  EXPECT_EQ(heard.After(4), (QStringList{"start", "TERM", "TERM", "end"}));
  EXPECT_EQ(window.process.state(), QProcess::Running);  // the window stays, showing the end
}

TEST(StationProgram, AWindowKilledTakesItsCliWithIt) {
  CliHearing heard;
  StationProgram window(heard);
  ASSERT_EQ(kill(static_cast<pid_t>(window.process.processId()), SIGKILL), 0);
  // The CLI is told to stop as by a first Stop (it then finds no one to write to).
  const QStringList lines = heard.After(2);
  ASSERT_GE(lines.size(), 2);
  EXPECT_EQ(lines.mid(0, 2), (QStringList{"start", "TERM"}));
}

}  // namespace
