// The station window drawn offscreen: a recorded event stream fed through the
// same reader as the CLI's output, and a stand-in CLI stopped by the window.
#include <gtest/gtest.h>
#include <signal.h>

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QTest>
#include <QTranslator>

#include "station/slot_tile.h"
#include "station/station_window.h"

namespace {

const QString kStream = QStringLiteral(TAMSOLT_STATION_TEST_DIR "/events_every_state.jsonl");
const QString kFakeCli = QStringLiteral(TAMSOLT_STATION_TEST_DIR "/fake_cli.sh");

bool Alive(qint64 pid) { return pid > 0 && kill(static_cast<pid_t>(pid), 0) == 0; }

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
      {"1-1.4", SlotState::kWaitingRemoval, "1-1.4", "", 0, "", "槽位尚未就绪，未接收此板"},
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

TEST(StationWindow, EnglishCaptionsFromTheCompiledTranslation) {
  QTranslator english;
  ASSERT_TRUE(english.load(QStringLiteral(":/i18n/tamsolt_station_en.qm")));
  QApplication::installTranslator(&english);
  EXPECT_EQ(SlotTile::StateText(SlotState::kFailed), QStringLiteral("✖ Failed"));
  EXPECT_EQ(SlotTile::StateText(SlotState::kWaitingRemoval), QStringLiteral("⏏ Remove board"));
  QApplication::removeTranslator(&english);
  EXPECT_EQ(SlotTile::StateText(SlotState::kFailed), QStringLiteral("✖ 失败"));
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

}  // namespace
