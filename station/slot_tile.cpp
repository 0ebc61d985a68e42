#include "station/slot_tile.h"

#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include "station/failure_words.h"

namespace {

QString Duration(double seconds) {
  const int s = static_cast<int>(seconds);
  return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

QLabel* Label(int pointSize, bool bold, QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = label->font();
  font.setPointSize(pointSize);
  font.setBold(bold);
  label->setFont(font);
  label->setAlignment(Qt::AlignCenter);
  return label;
}

}  // namespace

SlotTile::SlotTile(QWidget* parent) : QFrame(parent) {
  setFrameShape(QFrame::Box);
  setLineWidth(2);
  setAutoFillBackground(true);
  setMinimumSize(300, 250);
  auto* layout = new QVBoxLayout(this);
  layout->setSpacing(4);
  name_ = Label(22, true, this);
  port_ = Label(10, false, this);
  state_ = Label(24, true, this);
  item_ = Label(14, false, this);
  progress_ = new QProgressBar(this);
  progress_->setRange(0, 100);
  progress_->setMinimumHeight(24);
  elapsed_ = Label(14, false, this);
  reason_ = Label(12, true, this);
  reason_->setWordWrap(true);
  // On a box of its own so that it reads on any state's colour.
  check_ = Label(16, true, this);
  check_->setWordWrap(true);
  check_->setAutoFillBackground(true);
  QPalette checkPalette = check_->palette();
  checkPalette.setColor(QPalette::Window, QColor(0xff, 0xeb, 0x3b));
  checkPalette.setColor(QPalette::WindowText, Qt::black);
  check_->setPalette(checkPalette);
  check_->hide();
  for (QWidget* w : std::initializer_list<QWidget*>{name_, port_, state_, item_, progress_, elapsed_, reason_, check_}) {
    layout->addWidget(w);
  }
  layout->addStretch(1);
}

QString SlotTile::StateText(SlotState state) {
  switch (state) {
    case SlotState::kEmpty: return tr("○ 空闲");
    case SlotState::kWriting: return tr("▶ 写入中");
    case SlotState::kDone: return tr("✔ 完成");
    case SlotState::kFailed: return tr("✖ 失败");
    case SlotState::kNotTaken: return tr("⏏ 请取下");
    case SlotState::kInterrupted: return tr("■ 已中断");
    case SlotState::kRearming: return tr("◔ 请稍候");
  }
  return {};
}

QString SlotTile::NotTakenText(const std::string& why) {
  // The same board back after a restart is written already; a new one put in
  // before the slot re-armed is not, and goes in again once the slot is empty.
  if (why == "came-back") return tr("未接收：若是新板，请取下后重新插入");
  if (why == "stopping") return tr("未接收：工位正在停止");
  if (why == "lot-reached") return tr("未接收：本批数量已满");
  return tr("未接收此板，请取下");
}

QString SlotTile::ReasonShown(const Slot& slot, qint64 nowMs) {
  switch (slot.state) {
    case SlotState::kNotTaken: return NotTakenText(slot.notTaken);
    case SlotState::kRearming:
      if (slot.notTaken == "previous-ending") return tr("请稍候：上一块板的写入程序正在结束");
      return tr("请稍候 %1 秒").arg(StationModel::RearmSeconds(slot, nowMs));
    case SlotState::kFailed:
    case SlotState::kInterrupted: return FailureWords::Of(slot);
    default: return QString::fromStdString(slot.reason);
  }
}

QString SlotTile::CheckText(const Slot& slot) {
  if (!slot.check) return {};
  QString text = tr("⚠ 检查此槽位");
  const SlotCheck& why = slot.checkEvidence;
  if (why.boards > 0) text += QLatin1Char('\n') + tr("%1 / %2 块失败").arg(why.failed).arg(why.boards);
  if (!why.lastReasons.empty()) {
    text += QLatin1Char('\n') + tr("最近：%1").arg(QString::fromStdString(why.lastReasons.back()));
  }
  return text;
}

QColor SlotTile::StateColour(SlotState state) {
  switch (state) {
    case SlotState::kEmpty: return QColor(0xd8, 0xd8, 0xd8);
    case SlotState::kWriting: return QColor(0x8e, 0xc5, 0xff);
    case SlotState::kDone: return QColor(0x5c, 0xc8, 0x5c);
    case SlotState::kFailed: return QColor(0xe5, 0x39, 0x35);
    case SlotState::kNotTaken: return QColor(0xff, 0xd5, 0x4f);
    case SlotState::kInterrupted: return QColor(0xff, 0x98, 0x00);
    // Pale amber: neither free nor a board to take out.
    case SlotState::kRearming: return QColor(0xff, 0xec, 0xb3);
  }
  return {};
}

void SlotTile::Show(const Slot& slot, qint64 nowMs) {
  QPalette palette = this->palette();
  palette.setColor(QPalette::Window, StateColour(slot.state));
  // Dark text on every colour but red, where white reads better.
  const QColor text = slot.state == SlotState::kFailed ? Qt::white : Qt::black;
  palette.setColor(QPalette::WindowText, text);
  setPalette(palette);

  const QString port = QString::fromStdString(slot.port);
  name_->setText(slot.name.empty() ? port : QString::fromStdString(slot.name));
  port_->setText(slot.name.empty() ? QString() : port);
  state_->setText(StateText(slot.state));
  const bool writing = slot.state == SlotState::kWriting;
  const bool rearming = slot.state == SlotState::kRearming;
  item_->setText(rearming ? QString() : QString::fromStdString(slot.item));
  progress_->setVisible(writing || slot.state == SlotState::kInterrupted);
  progress_->setValue(slot.percent);
  const double seconds = StationModel::ElapsedSeconds(slot, nowMs);
  // A re-arming slot's board is gone: only its wait is the slot's.
  const bool timed = slot.state != SlotState::kEmpty && !rearming;
  elapsed_->setText(!timed || slot.startedMs == 0 ? QString() : Duration(seconds));
  reason_->setText(ReasonShown(slot, nowMs));
  check_->setText(CheckText(slot));
  check_->setVisible(slot.check);
}

QString SlotTile::NameText() const { return name_->text(); }
QString SlotTile::StateShown() const { return state_->text(); }
QString SlotTile::ItemText() const { return item_->text(); }
QString SlotTile::ElapsedText() const { return elapsed_->text(); }
QString SlotTile::ReasonText() const { return reason_->text(); }
QString SlotTile::CheckShown() const { return check_->isHidden() ? QString() : check_->text(); }
int SlotTile::Percent() const { return progress_->value(); }
bool SlotTile::ProgressShown() const { return !progress_->isHidden(); }
