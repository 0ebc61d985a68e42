// The main dialog as template 102 lays it out: sizes from dialog units, which
// controls are visible, captions from the message table, the font.
#include <set>
#include <string>
#include <utility>

#include <QFile>

#include <QCheckBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "app/dialog_builder.h"
#include "app/dialog_layout.h"
#include "app/rows.h"
#include "tests/app/window_test_support.h"

namespace {

TEST(DialogUnits, RoundLikeTheDialogManager) {
  EXPECT_EQ(MulDiv(7, 6, 4), 11);  // 10.5 rounds up
  EXPECT_EQ(MulDiv(-7, 6, 4), -11);
  EXPECT_EQ(MulDiv(1, 5, 4), 1);  // 1.25
  EXPECT_EQ(MulDiv(1, 2, 0), -1);
}

TEST(DialogUnits, AverageWidthIsHalfOfTwentySixLettersRounded) {
  EXPECT_EQ(BaseUnitsFromMetrics(312, 12).x, 6);  // 6 px letters
  EXPECT_EQ(BaseUnitsFromMetrics(337, 12).x, 6);
  EXPECT_EQ(BaseUnitsFromMetrics(338, 12).x, 7);  // 6.5 px rounds up
  EXPECT_EQ(BaseUnitsFromMetrics(338, 15).y, 15);
}

TEST(DialogUnits, MainDialogInNinePointSimSunHasItsWindowsSize) {
  const DialogBaseUnits units{6, 12};
  EXPECT_EQ(DluToPixelsX(MainDialogTemplate().cx, units), 491);
  EXPECT_EQ(DluToPixelsY(MainDialogTemplate().cy, units), 614);
}

TEST(DialogTemplates, RowsNameControlsOfTheRightKind) {
  const DialogTemplate& main = MainDialogTemplate();
  std::set<int> ids;
  for (const DialogControl& control : main.controls) {
    EXPECT_TRUE(ids.insert(control.id).second) << "duplicate id " << control.id;
  }
  auto kindOf = [&](int id) {
    const DialogControl* control = FindControl(main, id);
    EXPECT_NE(control, nullptr) << id;
    return control != nullptr ? control->kind : ControlKind::StaticIcon;
  };
  for (const RowLayout& row : RowLayouts()) {
    SCOPED_TRACE(KindName(row.kind));
    EXPECT_EQ(kindOf(row.groupId), ControlKind::GroupBox);
    EXPECT_EQ(kindOf(row.checkId), ControlKind::AutoCheckBox);
    EXPECT_EQ(kindOf(row.pathId), ControlKind::Edit);
    EXPECT_EQ(kindOf(row.browseId), ControlKind::PushButton);
    if (row.downloadId != 0) {
      EXPECT_EQ(kindOf(row.downloadId), ControlKind::PushButton);
    }
  }
  EXPECT_EQ(RowOf(kKindTdb).downloadId, 0);
}

using MainDialogLayout = WindowTest;

TEST_F(MainDialogLayout, EveryControlSitsWhereTheTemplatePutsIt) {
  auto dialog = OpenDialog();
  const DialogBaseUnits units = BaseUnitsOf(dialog->font());
  ASSERT_GT(units.x, 0);
  ASSERT_GT(units.y, 0);
  for (const DialogControl& control : MainDialogTemplate().controls) {
    QWidget* widget = dialog->Control(control.id);
    ASSERT_NE(widget, nullptr) << control.id;
    EXPECT_EQ(widget->objectName(), QString::number(control.id));
    EXPECT_EQ(widget->parentWidget(), dialog.get());
    EXPECT_EQ(widget->geometry(),
              QRect(DluToPixelsX(control.x, units), DluToPixelsY(control.y, units),
                    DluToPixelsX(control.cx, units), DluToPixelsY(control.cy, units)))
        << control.id;
  }
  EXPECT_EQ(dialog->Control(9999), nullptr);
}

TEST_F(MainDialogLayout, FixedSizeWithMinimiseButNoMaximise) {
  auto dialog = OpenDialog();
  const DialogBaseUnits units = BaseUnitsOf(dialog->font());
  EXPECT_EQ(dialog->size(), QSize(DluToPixelsX(327, units), DluToPixelsY(409, units)));
  EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
  const Qt::WindowFlags flags = dialog->windowFlags();
  EXPECT_TRUE(flags.testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_FALSE(flags.testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(flags.testFlag(Qt::WindowCloseButtonHint));
  EXPECT_EQ(dialog->windowType(), Qt::Window);  // its own taskbar entry
  EXPECT_FALSE(dialog->windowIcon().isNull());
}

TEST_F(MainDialogLayout, FontDrawsChineseCaptions) {
  auto dialog = OpenDialog();
  const QFont font = dialog->font();
  EXPECT_EQ(font.pointSize(), 9);
  EXPECT_EQ(font.families().value(0), QStringLiteral("宋体"));
  const QFontMetrics metrics(font);
  for (const QChar glyph : QStringLiteral("引导程序批量下载")) {
    EXPECT_TRUE(metrics.inFont(glyph)) << QFontInfo(font).family().toStdString();
  }
}

// Visible by the template, and nothing ever shows or hides a control.
const std::set<int> kVisibleIds = {1062, 1052, 1000, 1001, 1063, 1053, 1025, 1026,
                                   1064, 1054, 1028, 1029, 1067, 1057, 1037, 1038,
                                   1070, 1060, 1049, 1048, 1061, 1047, 1024};

TEST_F(MainDialogLayout, OnlyTheFiveRowsListBatchButtonAndBarAreVisible) {
  auto dialog = OpenDialog();
  ASSERT_TRUE(dialog->isVisible());
  for (const DialogControl& control : MainDialogTemplate().controls) {
    EXPECT_EQ(dialog->Control(control.id)->isVisible(), kVisibleIds.count(control.id) == 1)
        << control.id;
  }
  // Still hidden after the rows are used.
  for (const RowLayout& row : RowLayouts()) dialog->RowCheck(row.kind)->click();
  EXPECT_FALSE(dialog->StatusLine()->isVisible());
  for (const RowLayout& row : RowLayouts()) {
    if (row.downloadId != 0) {
      EXPECT_FALSE(dialog->Control(row.downloadId)->isVisible());
    }
  }
}

// Group boxes captioned by S0001 .. S0008; RCDB's has a fixed caption.
constexpr int kCaptionedGroups[] = {1062, 1063, 1065, 1066, 1067, 1068, 1069, 1070};

TEST_F(MainDialogLayout, WithoutSettingsFileCaptionsAreEmptyButRcdbAndRowsAreOff) {
  auto dialog = OpenDialog();
  EXPECT_TRUE(dialog->windowTitle().isEmpty());
  for (const int id : kCaptionedGroups) {
    EXPECT_TRUE(qobject_cast<QGroupBox*>(dialog->Control(id))->title().isEmpty()) << id;
  }
  EXPECT_EQ(qobject_cast<QGroupBox*>(dialog->Control(1064))->title(),
            QStringLiteral("RCDB(*.rdbx,*.rdb,*.p33p)"));
  EXPECT_TRUE(qobject_cast<QPushButton*>(dialog->Control(1047))->text().isEmpty());
  for (const RowLayout& row : RowLayouts()) {
    EXPECT_FALSE(dialog->RowCheck(row.kind)->isChecked());
    EXPECT_FALSE(dialog->PathField(row.kind)->isEnabled());
    EXPECT_FALSE(dialog->BrowseButton(row.kind)->isEnabled());
    EXPECT_TRUE(dialog->PathField(row.kind)->text().isEmpty());
  }
  EXPECT_TRUE(messages_.empty());
  EXPECT_FALSE(QFile::exists(QString::fromStdString(g_iniPath)));  // starting writes nothing
}

TEST_F(MainDialogLayout, CaptionsComeFromTheirMessageKeys) {
  for (int number = 0; number < 55; ++number) SetText(number, "文本" + std::to_string(number));
  g_transfer.expectedImageTag = 7;
  auto dialog = OpenDialog();
  EXPECT_EQ(dialog->windowTitle(), QStringLiteral("文本0"));
  for (int n = 1; n <= 8; ++n) {
    EXPECT_EQ(qobject_cast<QGroupBox*>(dialog->Control(kCaptionedGroups[n - 1]))->title(),
              QStringLiteral("文本%1").arg(n));
  }
  EXPECT_EQ(qobject_cast<QGroupBox*>(dialog->Control(1064))->title(),
            QStringLiteral("RCDB(*.rdbx,*.rdb,*.p33p)"));
  EXPECT_EQ(qobject_cast<QPushButton*>(dialog->Control(1047))->text(), QStringLiteral("文本9"));
  // Download buttons keep their built-in text.
  EXPECT_EQ(qobject_cast<QPushButton*>(dialog->Control(1002))->text(), QStringLiteral("下载"));
  EXPECT_EQ(g_transfer.expectedImageTag, 0);
}

TEST_F(MainDialogLayout, StatusLineIsBlue) {
  auto dialog = OpenDialog();
  EXPECT_EQ(dialog->StatusLine()->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

}  // namespace
