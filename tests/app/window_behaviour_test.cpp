// What the main dialog does apart from its rows: the close guard, Enter and
// Esc, the About entry, its message boxes, its timers and the teardown.
#include <fstream>

#include <QAction>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "app/about_dialog.h"
#include "app/tamsolt_app.h"
#include "settings/settings.h"
#include "tests/app/window_test_support.h"

namespace {

// Runs inspect on the next modal window (or popup menu) once it is up, then
// closes it, so a modal exec started right after returns without a human.
void WhenModalOpens(std::function<void(QWidget*)> inspect,
                    QWidget* (*find)() = &QApplication::activeModalWidget) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, find, inspect = std::move(inspect)] {
    QWidget* modal = find();
    if (modal == nullptr) return;
    poll->stop();
    poll->deleteLater();
    inspect(modal);
    if (modal->isVisible()) modal->close();
  });
  poll->start();
}

using MainDialogBehaviour = WindowTest;

TEST_F(MainDialogBehaviour, ClosingEndsTheModalLoopOnlyWhenIdle) {
  auto dialog = OpenDialog();
  bool stayedOpenWhileBusy = false;
  QTimer::singleShot(0, dialog.get(), [&] {
    g_transfer.busy = 1;
    dialog->close();
    stayedOpenWhileBusy = dialog->isVisible();
    g_transfer.busy = 0;
    dialog->close();
  });
  QTimer::singleShot(5000, dialog.get(), [&] { dialog->done(99); });  // never hang
  EXPECT_EQ(dialog->exec(), QDialog::Rejected);
  EXPECT_TRUE(stayedOpenWhileBusy);
}

TEST_F(MainDialogBehaviour, EnterAndEscNeitherCloseNorPressAnything) {
  WriteSetting("setup", "TDB", "1");
  auto dialog = OpenDialog();
  auto* batch = qobject_cast<QPushButton*>(dialog->Control(1047));
  QSignalSpy batchClicks(batch, &QPushButton::clicked);
  QWidget* targets[] = {dialog.get(), dialog->PathField(kKindTdb), batch,
                        dialog->BrowseButton(kKindTdb)};
  for (QWidget* target : targets) {
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
      QTest::keyClick(target, key);
      EXPECT_TRUE(dialog->isVisible()) << target->objectName().toStdString() << " key " << key;
    }
  }
  dialog->accept();
  dialog->reject();
  EXPECT_TRUE(dialog->isVisible());
  EXPECT_EQ(batchClicks.count(), 0);
  EXPECT_TRUE(filters_.empty());  // no file dialog either
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainDialogBehaviour, MenuEntryOpensTheAboutBox) {
  auto dialog = OpenDialog();
  std::unique_ptr<QMenu> menu = dialog->CreateContextMenu();
  ASSERT_NE(menu, nullptr);
  QAction* about = nullptr;
  for (QAction* action : menu->actions()) {
    if (!action->isSeparator()) about = action;
  }
  ASSERT_NE(about, nullptr);
  EXPECT_TRUE(menu->actions().front()->isSeparator());

  QString title, version, okText, settingsFile;
  bool hasIcon = false;
  WhenModalOpens([&](QWidget* modal) {
    ASSERT_NE(qobject_cast<CAboutDlg*>(modal), nullptr);
    title = modal->windowTitle();
    for (QLabel* label : modal->findChildren<QLabel*>()) {
      if (label->objectName() == QStringLiteral("settingsFile")) {
        settingsFile = label->toolTip();
      } else if (!label->text().isEmpty()) {
        version = label->text();
      }
      if (!label->pixmap().isNull()) hasIcon = true;
    }
    auto* ok = modal->findChild<QPushButton*>(QStringLiteral("1"));
    ASSERT_NE(ok, nullptr);
    okText = ok->text();
    ok->click();  // the box's only behaviour
    EXPECT_FALSE(modal->isVisible());
  });
  about->trigger();
  EXPECT_EQ(title, QStringLiteral("关于 Tamsolt"));
  EXPECT_EQ(version, QStringLiteral("Tamsolt 1.0 版"));
  EXPECT_EQ(okText, QStringLiteral("确定"));
  EXPECT_TRUE(hasIcon);
  EXPECT_EQ(settingsFile, QStringLiteral("设置文件: ") + QString::fromStdString(g_iniPath));
}

TEST_F(MainDialogBehaviour, RightClickOffersTheAboutEntry) {
  auto dialog = OpenDialog();
  QStringList offered;
  WhenModalOpens(
      [&offered](QWidget* menu) {
        for (QAction* action : menu->actions()) {
          if (!action->isSeparator()) offered << action->text();
        }
      },
      &QApplication::activePopupWidget);
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), dialog->mapToGlobal(QPoint(5, 5)));
  QApplication::sendEvent(dialog.get(), &event);
  EXPECT_EQ(offered, QStringList{QStringLiteral("关于 Tamsolt(&A)...")});
}

TEST_F(MainDialogBehaviour, MessageBoxesHaveOneOkButtonTitleAndIcon) {
  auto dialog = OpenDialog();
  dialog->EngineHostImpl().SetMessagePresenter({});  // the real box
  const std::pair<MessageIcon, QMessageBox::Icon> icons[] = {
      {MessageIcon::Warning, QMessageBox::Warning}, {MessageIcon::Error, QMessageBox::Critical}};
  for (const auto& [icon, expected] : icons) {
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QString shownTitle, shownText;
    QList<QAbstractButton*> buttons;
    QWidget* owner = nullptr;
    WhenModalOpens([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      ASSERT_NE(box, nullptr);
      shownIcon = box->icon();
      shownTitle = box->windowTitle();
      shownText = box->text();
      buttons = box->buttons();
      owner = box->parentWidget();
      box->button(QMessageBox::Ok)->click();
    });
    dialog->EngineHostImpl().ShowMessage("通信失败", "提示", icon);
    EXPECT_EQ(shownIcon, expected);
    EXPECT_EQ(shownTitle, QStringLiteral("提示"));
    EXPECT_EQ(shownText, QStringLiteral("通信失败"));
    EXPECT_EQ(buttons.size(), 1);
    EXPECT_EQ(owner, dialog.get());
  }
}

TEST_F(MainDialogBehaviour, TimersTickWithTheirIdUntilKilled) {
  auto dialog = OpenDialog();
  QtEngineHost& host = dialog->EngineHostImpl();
  std::vector<std::uint32_t> ticks;
  host.SetTimerHandler([&](std::uint32_t id) {
    ticks.push_back(id);
    if (id == 4) host.KillTimer(4);  // a step that hands over kills its own timer
  });
  host.SetTimer(4, 10);
  EXPECT_TRUE(host.IsTimerRunning(4));
  ASSERT_TRUE(QTest::qWaitFor([&] { return !ticks.empty(); }, 5000));
  EXPECT_EQ(ticks, std::vector<std::uint32_t>{4});
  EXPECT_FALSE(host.IsTimerRunning(4));
  QTest::qWait(50);
  EXPECT_EQ(ticks.size(), 1U);

  host.SetTimer(6, 10);
  ASSERT_TRUE(QTest::qWaitFor([&] { return ticks.size() >= 3; }, 5000));  // repeats
  EXPECT_EQ(ticks[1], 6U);
  EXPECT_EQ(ticks[2], 6U);
  host.KillTimer(6);
  host.KillTimer(99);  // never set: nothing happens
  ticks.clear();
  QTest::qWait(50);
  EXPECT_TRUE(ticks.empty());
}

TEST_F(MainDialogBehaviour, SettingARunningTimerRestartsItWithTheNewPeriod) {
  auto dialog = OpenDialog();
  QtEngineHost& host = dialog->EngineHostImpl();
  int ticks = 0;
  host.SetTimerHandler([&](std::uint32_t) { ++ticks; });
  host.SetTimer(7, 10);
  host.SetTimer(7, 600000);
  QTest::qWait(100);
  EXPECT_EQ(ticks, 0);
  EXPECT_TRUE(host.IsTimerRunning(7));
  host.SetTimer(7, 10);
  EXPECT_TRUE(QTest::qWaitFor([&] { return ticks > 0; }, 5000));
  host.KillTimer(7);
}

TEST_F(MainDialogBehaviour, RowsAnswerWithTheirControlsState) {
  WriteSetting("setup", "FV", "1");
  WriteSetting("PATH", "FV", "/stored/voice.fv");
  auto dialog = OpenDialog();
  QtEngineHost& host = dialog->EngineHostImpl();
  EXPECT_TRUE(host.IsRowChecked(kKindFv));
  EXPECT_FALSE(host.IsRowChecked(kKindBoot));
  EXPECT_EQ(host.RowPath(kKindFv), "/stored/voice.fv");
}

TEST_F(MainDialogBehaviour, TeardownClosesTheDeviceLink) {
  auto dialog = OpenDialog();
  g_transfer.deviceFound = 1;
  g_transfer.interfaceClaimed = 1;
  g_transfer.m_dev = nullptr;
  dialog.reset();
  EXPECT_EQ(g_transfer.deviceFound, 0);
  EXPECT_EQ(g_transfer.interfaceClaimed, 0);
  EXPECT_EQ(g_transfer.m_dev, nullptr);
}

}  // namespace

// A settings file that names a recipe is a station's: the window, which has
// only its own rows, refuses it with the reason rather than write local rows
// beside the recipe.
TEST_F(MainDialogBehaviour, ASettingsFileNamingARecipeIsRefusedWithTheReason) {
  { std::ofstream(g_iniPath) << "[setup]\r\nRCDB=1\r\n"; }
  EXPECT_TRUE(CTamsoltApp::RecipeRefusal().isEmpty());
  { std::ofstream(g_iniPath, std::ios::app) << "[line]\r\nrecipe=line3\r\n"; }
  const QString refusal = CTamsoltApp::RecipeRefusal();
  EXPECT_TRUE(refusal.contains(QStringLiteral("line3"))) << refusal.toStdString();
  EXPECT_TRUE(refusal.contains(QStringLiteral("tamsolt-cli --recipe line3"))) << refusal.toStdString();
}
