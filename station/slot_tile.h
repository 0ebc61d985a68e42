// One slot drawn large enough to read from a metre away: its name, the state
// as a colour and as a word with a symbol (colour is never the only signal),
// the item and its progress, the elapsed time, a failure's reason, and a
// slot that asks to be checked.
#pragma once

#include <QFrame>

#include "station/slot_model.h"

class QLabel;
class QProgressBar;

class SlotTile : public QFrame {
  Q_OBJECT

 public:
  explicit SlotTile(QWidget* parent = nullptr);

  void Show(const Slot& slot, qint64 nowMs);

  // The state's word with its symbol, as the tile shows it.
  static QString StateText(SlotState state);
  // Why a board in the slot was not taken, in plain words (the CLI's not_taken).
  static QString NotTakenText(const std::string& why);
  // The tile's line under the state at nowMs: why a board failed or was not
  // taken, or how long a re-arming slot still waits.
  static QString ReasonShown(const Slot& slot, qint64 nowMs);
  // "检查此槽位" with the evidence (failures of boards, the last reason); empty without an alert.
  static QString CheckText(const Slot& slot);
  // The state's background colour.
  static QColor StateColour(SlotState state);

  QString NameText() const;
  QString StateShown() const;
  QString ItemText() const;
  QString ElapsedText() const;
  QString ReasonText() const;
  QString CheckShown() const;
  int Percent() const;
  bool ProgressShown() const;

 private:
  QLabel* name_;
  QLabel* port_;
  QLabel* state_;
  QLabel* item_;
  QProgressBar* progress_;
  QLabel* elapsed_;
  QLabel* reason_;
  QLabel* check_;
};
