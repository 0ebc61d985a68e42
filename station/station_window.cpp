#include "station/station_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDateTime>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include "events/event_reader.h"
#include "station/slot_tile.h"

namespace {

constexpr int kColumns = 4;

QLabel* HeaderLabel(int pointSize, QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = label->font();
  font.setPointSize(pointSize);
  label->setFont(font);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

}  // namespace

StationWindow::StationWindow(const StationSettings& settings, QString cliProgram,
                             QString settingsPath, QWidget* parent)
    : QWidget(parent),
      settings_(settings),
      cliProgram_(std::move(cliProgram)),
      settingsPath_(std::move(settingsPath)),
      now_([] { return QDateTime::currentMSecsSinceEpoch(); }) {
  setWindowTitle(tr("Tamsolt 工位"));
  model_.NameSlots(settings_.slotNames);

  rows_ = HeaderLabel(11, this);
  tally_ = HeaderLabel(16, this);
  status_ = HeaderLabel(12, this);
  start_ = new QPushButton(tr("开始"), this);
  stop_ = new QPushButton(tr("停止"), this);
  for (QPushButton* button : {start_, stop_}) {
    QFont font = button->font();
    font.setPointSize(16);
    button->setFont(font);
    button->setMinimumSize(120, 48);
  }
  connect(start_, &QPushButton::clicked, this, &StationWindow::Start);
  connect(stop_, &QPushButton::clicked, this, &StationWindow::Stop);

  auto* header = new QHBoxLayout;
  auto* figures = new QVBoxLayout;
  figures->addWidget(tally_);
  figures->addWidget(status_);
  header->addWidget(rows_, 3);
  header->addLayout(figures, 2);
  header->addWidget(start_);
  header->addWidget(stop_);

  auto* tiles = new QWidget;
  grid_ = new QGridLayout(tiles);
  grid_->setSpacing(8);
  for (int column = 0; column < kColumns; ++column) grid_->setColumnStretch(column, 1);
  auto* scroll = new QScrollArea(this);
  scroll->setWidget(tiles);
  scroll->setWidgetResizable(true);
  scroll->setFrameShape(QFrame::NoFrame);

  auto* recordBox = new QGroupBox(tr("今日记录（本机日期）"), this);
  record_ = HeaderLabel(11, recordBox);
  record_->setWordWrap(true);
  auto* recordLayout = new QVBoxLayout(recordBox);
  recordLayout->addWidget(record_);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(header);
  layout->addWidget(scroll, 1);
  layout->addWidget(recordBox);

  connect(&cli_, &CliProcess::lineRead, this, &StationWindow::FeedLine);
  connect(&cli_, &CliProcess::ended, this, &StationWindow::CliEnded);
  connect(&cli_, &CliProcess::failed, this, [this](const QString& why) {
    status_->setText(tr("无法启动 %1：%2").arg(cliProgram_, why));
  });
  report_.setStandardErrorFile(QProcess::nullDevice());
  connect(&report_, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
    const QByteArray out = report_.readAllStandardOutput();
    ShowReport(code == 0 && status == QProcess::NormalExit ? ParseTodayReport(out.toStdString())
                                                           : std::nullopt);
  });

  tick_ = new QTimer(this);
  tick_->setInterval(1000);
  connect(tick_, &QTimer::timeout, this, &StationWindow::Redraw);
  tick_->start();

  status_->setText(tr("未运行"));
  ShowReport(std::nullopt);
  Redraw();
}

StationWindow::~StationWindow() {
  disconnect(&cli_, nullptr, this, nullptr);
  disconnect(&report_, nullptr, this, nullptr);
  // A report still being read is of no use any more.
  if (report_.state() != QProcess::NotRunning) {
    report_.kill();
    report_.waitForFinished(5000);
  }
}

void StationWindow::SetClock(std::function<qint64()> now) {
  now_ = std::move(now);
  Redraw();
}

void StationWindow::SetReplay(bool replay) {
  replay_ = replay;
  start_->setEnabled(!replay);
  stop_->setEnabled(!replay);
}

void StationWindow::FeedLine(const QByteArray& line) {
  const std::optional<StationEvent> event = ParseEventLine(line.toStdString());
  if (!event) return;
  model_.Apply(*event);
  if (model_.TakeNewFailures() > 0 && settings_.beep) QApplication::beep();
  if (event->kind == EventKind::kStopping || event->kind == EventKind::kInterrupting) {
    SayStopping();
  }
  Redraw();
}

// The watch and the report use the same ledger.
QStringList StationWindow::LedgerArguments() const {
  if (settings_.ledger.empty()) return {};
  return {QStringLiteral("--ledger"), QString::fromStdString(settings_.ledger)};
}

void StationWindow::Start() {
  if (replay_ || cli_.Running()) return;
  const QStringList args = QStringList{QStringLiteral("--watch"), QStringLiteral("--json"),
                                       QStringLiteral("--settings"), settingsPath_} +
                           LedgerArguments();
  if (!cli_.Start(cliProgram_, args)) return;  // failed() has said why
  status_->setText(tr("运行中：插入板即开始写入"));
  RefreshReport();
  stop_->setText(tr("停止"));
  Redraw();
}

void StationWindow::Stop() {
  if (!cli_.Running()) return;
  cli_.RequestStop();
  SayStopping();
  Redraw();
}

void StationWindow::StopSignalled() {
  if (cli_.Running()) {
    Stop();
  } else {
    close();
  }
}

// Never "the boards will finish" while they are being cut: by this window's
// second Stop, or by a second signal the CLI got from elsewhere.
void StationWindow::SayStopping() {
  if (cli_.StopsSent() > 1 || model_.Interrupting()) {
    status_->setText(tr("正在中断写入中的板…"));
  } else {
    status_->setText(tr("停止中：不再接收新板，正在写入的板将写完。再按“停止”立即中断。"));
    stop_->setText(tr("中断"));
  }
}

void StationWindow::CliEnded(int exitCode, bool crashed) {
  QString how = crashed ? tr("监视程序异常结束") : tr("监视程序已结束（退出码 %1）").arg(exitCode);
  // The run's own words: its outcome names the exit and the reason, also for
  // a CLI that ended before its run began (a bad settings file, ...).
  if (!crashed && model_.ExitCode() == exitCode) {
    for (const std::string& words : {model_.ExitName(), model_.ExitReason()}) {
      if (!words.empty()) how += QStringLiteral("：") + QString::fromStdString(words);
    }
  }
  model_.RunEnded(now_(), how.toStdString());
  status_->setText(how);
  stop_->setText(tr("停止"));
  Redraw();
  RefreshReport();
}

void StationWindow::RefreshReport() {
  if (replay_ || report_.state() != QProcess::NotRunning) return;
  // The station's local day: the CLI takes a bare date as one.
  const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
  report_.start(cliProgram_, QStringList{QStringLiteral("--report"), QStringLiteral("--since"), today,
                                         QStringLiteral("--json"), QStringLiteral("--settings"),
                                         settingsPath_} +
                                 LedgerArguments());
}

void StationWindow::ShowReport(const std::optional<TodayReport>& report) {
  if (!report) {
    record_->setText(tr("今日记录不可用"));
    return;
  }
  QStringList outcomes;
  for (const ReportCount& c : report->perOutcome) {
    outcomes << QStringLiteral("%1 %2").arg(QString::fromStdString(c.key)).arg(c.boards);
  }
  QStringList bySlot;
  for (const ReportCount& c : report->perSlot) {
    bySlot << tr("%1：%2/%3").arg(QString::fromStdString(c.key)).arg(c.done).arg(c.boards);
  }
  record_->setText(tr("共 %1 块，成功 %2 块。按结果：%3。按槽位（成功/共）：%4")
                       .arg(report->boards)
                       .arg(report->done)
                       .arg(outcomes.join(QStringLiteral("，")), bySlot.join(QStringLiteral("，"))));
}

const SlotTile* StationWindow::Tile(const std::string& port) const {
  const auto it = tiles_.find(port);
  return it == tiles_.end() ? nullptr : it->second;
}

void StationWindow::PlaceTiles() {
  int index = 0;
  for (const Slot* slot : model_.Slots()) {
    SlotTile*& tile = tiles_[slot->port];
    if (tile == nullptr) tile = new SlotTile;
    grid_->addWidget(tile, index / kColumns, index % kColumns);  // moves one already placed
    ++index;
  }
}

void StationWindow::Redraw() {
  const std::vector<const Slot*> shown = model_.Slots();
  if (shown.size() != tiles_.size()) PlaceTiles();
  const qint64 now = now_();
  for (const Slot* slot : shown) tiles_[slot->port]->Show(*slot, now);

  QStringList rows;
  for (const EventRow& row : model_.Rows()) {
    QString line = QStringLiteral("%1  %2").arg(QString::fromStdString(row.item),
                                                QFileInfo(QString::fromStdString(row.file)).fileName());
    if (!row.sha256.empty()) {
      line += tr("  [锁定 %1]").arg(QString::fromStdString(row.sha256.substr(0, 12)));
    }
    rows << line;
  }
  if (!model_.Recipe().empty()) {
    QString recipe = tr("配方 %1 版本 %2").arg(QString::fromStdString(model_.Recipe()))
                         .arg(model_.RecipeVersion().value_or(0));
    if (model_.RecipeAway()) recipe += tr("（线体数据库不可用：使用缓存中的版本）");
    rows.prepend(recipe);
  }
  rows_->setText(rows.isEmpty() ? tr("（尚未收到要写入的文件）") : rows.join(QLatin1Char('\n')));

  const Tally tally = model_.TallyAt(now);
  const QString rate = tally.perHour ? QString::number(*tally.perHour, 'f', 1) : QStringLiteral("–");
  QString figures = tr("成功 %1   失败 %2   每小时 %3 块").arg(tally.written).arg(tally.failed).arg(rate);
  // Boards cut by a stop are no failures; named only once there are some.
  const int interrupted = tally.interrupted.value_or(0);
  if (interrupted > 0) figures += tr("   中断 %1").arg(interrupted);
  tally_->setText(figures);
  start_->setEnabled(!replay_ && !cli_.Running());
  stop_->setEnabled(!replay_ && cli_.Running());

  // The record follows each board that ends.
  if (tally.written + tally.failed + interrupted != countedBoards_) {
    countedBoards_ = tally.written + tally.failed + interrupted;
    RefreshReport();
  }
}

QString StationWindow::RowsText() const { return rows_->text(); }
QString StationWindow::TallyText() const { return tally_->text(); }
QString StationWindow::StatusText() const { return status_->text(); }
QString StationWindow::RecordText() const { return record_->text(); }

bool StationWindow::ConfirmClose() {
  if (confirmClose_) return confirmClose_();
  return QMessageBox::question(this, windowTitle(),
                               tr("还有板正在写入。关闭窗口会中断它们。仍要关闭吗？")) ==
         QMessageBox::Yes;
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (cli_.Running() && model_.AnyWriting() && !ConfirmClose()) {
    event->ignore();
    return;
  }
  // Never a CLI left behind: asked to stop, then interrupted, then killed.
  cli_.Shutdown(kShutdownBoundMs);
  event->accept();
}
