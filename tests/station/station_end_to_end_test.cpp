// The station window on emulated boards, run under tamsolt-sim-run: the real
// tamsolt-cli --watch --json beside it, the real libusb below. Each case is
// its own ctest entry, with the boards it needs (tests/station/CMakeLists.txt).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include "settings/settings.h"
#include "station/slot_tile.h"
#include "station/station_settings.h"
#include "station/station_window.h"

namespace {

// The processes whose command line names folder: a CLI started for this test.
int ProcessesNaming(const QString& folder) {
  int found = 0;
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
    if (pid.toLongLong() > 0 && cmdline.open(QIODevice::ReadOnly) &&
        cmdline.readAll().contains(folder.toUtf8())) {
      ++found;
    }
  }
  return found;
}

class Station : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    settings_ = folder_.filePath(QStringLiteral("setting.ini"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TAMSOLT_SHIPPED_SETTINGS), settings_));
    QFile::setPermissions(settings_, QFile::ReadOwner | QFile::WriteOwner);
    const std::string path = settings_.toStdString();
    ASSERT_TRUE(WriteProfileString(path, "setup", "RCDB", "1"));
    ASSERT_TRUE(WriteProfileString(path, "PATH", "RCDB", TAMSOLT_TEST_RCDB));
    // Whatever the CLI records stays in this test's folder: the station's ledger there.
    qputenv("XDG_STATE_HOME", folder_.filePath(QStringLiteral("state")).toUtf8());
    ledger_ = folder_.filePath(QStringLiteral("boards.sqlite"));
    ASSERT_TRUE(WriteProfileString(path, "station", "ledger", ledger_.toStdString()));
    window_ = std::make_unique<StationWindow>(ReadStationSettings(path),
                                              QStringLiteral(TAMSOLT_CLI), settings_);
    window_->Start();
    ASSERT_TRUE(window_->Cli().Running());
  }

  void TearDown() override {
    if (window_) {
      window_->SetConfirmClose([] { return true; });
      QCloseEvent close;
      QApplication::sendEvent(window_.get(), &close);
      EXPECT_TRUE(close.isAccepted());
      window_.reset();  // and the report it may be reading
    }
    EXPECT_EQ(ProcessesNaming(folder_.path()), 0) << "a tamsolt-cli was left running";
  }

  SlotState StateOf(const char* port) const {
    const Slot* slot = window_->Model().Find(port);
    return slot == nullptr ? SlotState::kEmpty : slot->state;
  }

  // The ledger's rows, one JSON line each, as tamsolt-cli --export jsonl reads them back.
  QStringList LedgerRows() const {
    QProcess cli;
    cli.start(QStringLiteral(TAMSOLT_CLI), {QStringLiteral("--settings"), settings_,
                                            QStringLiteral("--ledger"), ledger_,
                                            QStringLiteral("--export"), QStringLiteral("jsonl")});
    if (!cli.waitForFinished(60000) || cli.exitCode() != 0) return {};
    return QString::fromUtf8(cli.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  QTemporaryDir folder_;
  QString settings_;
  QString ledger_;
  std::unique_ptr<StationWindow> window_;
};

// Boards plugged into 1-1.1, 1-1.2 and 1-1.3 one after another.
TEST_F(Station, ThreeBoardsArrivingOneAfterAnotherEndAsThreeDoneTiles) {
  const char* ports[] = {"1-1.1", "1-1.2", "1-1.3"};
  ASSERT_TRUE(QTest::qWaitFor([&] {
    for (const char* port : ports) {
      if (StateOf(port) != SlotState::kDone) return false;
    }
    return true;
  }, 120000));
  for (const char* port : ports) {
    EXPECT_EQ(window_->Tile(port)->StateShown(), SlotTile::StateText(SlotState::kDone)) << port;
    EXPECT_EQ(window_->Tile(port)->ReasonText(), QString()) << port;
  }
  // The CLI's tally follows the last board's own outcome by a moment.
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->TallyText().contains(QStringLiteral("成功 3")); }, 60000))
      << qPrintable(window_->TallyText());
  EXPECT_TRUE(window_->TallyText().contains(QStringLiteral("失败 0")));
  EXPECT_TRUE(window_->RowsText().contains(QStringLiteral("RCDB")));
  // Three ledger rows, each a board written in its slot.
  const QStringList rows = LedgerRows();
  ASSERT_EQ(rows.size(), 3) << qPrintable(rows.join(QLatin1Char('\n')));
  for (const char* port : ports) {
    EXPECT_EQ(rows.filter(QStringLiteral("\"slot\":\"%1\"").arg(QLatin1String(port))).size(), 1) << port;
  }
  EXPECT_EQ(rows.filter(QStringLiteral("\"outcome\":\"done\"")).size(), 3);
  // Today's record panel from the real report of that ledger.
  window_->RefreshReport();
  EXPECT_TRUE(QTest::qWaitFor([&] { return window_->RecordText().contains(QStringLiteral("共 3 块，成功 3 块")); }, 60000))
      << qPrintable(window_->RecordText());
  for (const char* port : ports) {
    EXPECT_TRUE(window_->RecordText().contains(QStringLiteral("%1：1/1").arg(QLatin1String(port))))
        << qPrintable(window_->RecordText());
  }
}

// One slow board: Stop while it writes lets it go on; a second Stop cuts it.
TEST_F(Station, StopDuringAWriteInterruptsItAndLeavesNoCli) {
  ASSERT_TRUE(QTest::qWaitFor([&] { return window_->Model().Find("1-1.1") != nullptr &&
                                           window_->Model().Find("1-1.1")->item == "RCDB"; },
                              120000));
  window_->Stop();
  // The CLI says it heard the stop before the second goes, so the two never merge.
  ASSERT_TRUE(QTest::qWaitFor([&] { return window_->Model().Stopping(); }, 60000));
  EXPECT_EQ(StateOf("1-1.1"), SlotState::kWriting);
  window_->Stop();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !window_->Cli().Running(); }, 60000));
  EXPECT_EQ(StateOf("1-1.1"), SlotState::kInterrupted);
  EXPECT_EQ(window_->Tile("1-1.1")->StateShown(), SlotTile::StateText(SlotState::kInterrupted));
  EXPECT_FALSE(window_->Tile("1-1.1")->ReasonText().isEmpty());
  EXPECT_EQ(window_->Model().ExitCode(), 10);
}

// A CLI that stops before its run begins says why in its outcome, and the
// window shows it.
TEST_F(Station, ACliThatCannotReadItsSettingsSaysWhy) {
  StationWindow refused(StationSettings{}, QStringLiteral(TAMSOLT_CLI),
                        folder_.filePath(QStringLiteral("missing.ini")));
  refused.Start();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !refused.Cli().Running(); }, 60000));
  EXPECT_EQ(refused.Model().ExitCode(), 2);
  EXPECT_TRUE(refused.StatusText().contains(QStringLiteral("cannot read the settings file")))
      << qPrintable(refused.StatusText());
}

}  // namespace
