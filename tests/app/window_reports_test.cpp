// The engine's reports drawn on the real controls: log list 1061, status line
// 1051 and progress bar 1024.
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>

#include "engine/progress_log.h"
#include "link/usb_link.h"
#include "tests/app/window_test_support.h"

namespace {

using WindowReports = WindowTest;

TEST_F(WindowReports, LogLinesReachTheListAndTheLastIsSelected) {
  SetText(32, "开始下载引导程序");
  auto dialog = OpenDialog();
  QListWidget* log = dialog->LogList();
  LogLine(32, true);
  LogLine(32, true);
  ASSERT_EQ(log->count(), 2);
  EXPECT_TRUE(log->item(1)->text().endsWith(QStringLiteral("开始下载引导程序")));
  EXPECT_EQ(log->currentRow(), 1);

  log->setCurrentRow(0);
  LogLine(32, false);  // not added, but the selection still goes to the end
  EXPECT_EQ(log->count(), 2);
  EXPECT_EQ(log->currentRow(), 1);
}

TEST_F(WindowReports, PermissionHintIsOneSelectedLogLineAndNoBox) {
  auto dialog = OpenDialog();
  QListWidget* log = dialog->LogList();
  ShowPermissionHint(kTextPermissionHint);
  ASSERT_EQ(log->count(), 1);
  EXPECT_TRUE(log->item(0)->text().endsWith(QString::fromUtf8(kTextPermissionHint)));
  EXPECT_EQ(log->currentRow(), 0);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WindowReports, FailureFillsTheHiddenStatusLineAndEmptiesTheBar) {
  SetText(52, "通信超时，下载失败");
  auto dialog = OpenDialog();
  g_transfer.blockCount = 40;
  SetProgressRange();
  SetProgressPos(25);
  EXPECT_EQ(dialog->ProgressBar()->value(), 25);
  g_transfer.busy = 1;

  ReportFailure();
  EXPECT_EQ(g_transfer.busy, 0);
  EXPECT_EQ(dialog->StatusLine()->text(), QStringLiteral("通信超时，下载失败"));
  EXPECT_FALSE(dialog->StatusLine()->isVisible());
  EXPECT_EQ(dialog->ProgressBar()->value(), 0);
  EXPECT_EQ(messages_.size(), 1U);
}

TEST_F(WindowReports, BarFollowsTheBlockCount) {
  auto dialog = OpenDialog();
  QProgressBar* bar = dialog->ProgressBar();
  g_transfer.blockCount = 65535;
  SetProgressRange();
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 65535);
  SetProgressPos(65535);
  EXPECT_EQ(bar->value(), 65535);
  g_transfer.blockCount = 10;
  SetProgressRange();
  SetProgressPos(11);  // beyond the end: the bar stays full
  EXPECT_EQ(bar->value(), 10);
  g_transfer.blockCount = 0;
  SetProgressRange();
  SetProgressPos(0);
  EXPECT_GT(bar->maximum(), bar->minimum());  // an empty bar, not a busy indicator
  EXPECT_EQ(bar->value(), 0);
}

}  // namespace
