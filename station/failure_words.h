// Why a board failed or was cut, as a tile says it in the window's language.
// The CLI's reason is the message table's words only for a box; for the other
// kinds it is English for a log, so the tile says it in its own words.
#pragma once

#include <QCoreApplication>
#include <QString>

#include "station/slot_model.h"

class FailureWords {
  Q_DECLARE_TR_FUNCTIONS(FailureWords)

 public:
  // The slot's reason by its kind (box, interrupted, killed, not-started,
  // no-recipe, exit); an unknown or absent kind shows the reason as it came.
  static QString Of(const Slot& slot);
  // A writer's exit without a box: by its code, else by its name; the code
  // itself for one without words of its own.
  static QString OfExit(std::optional<int> code, const std::string& name);
};
