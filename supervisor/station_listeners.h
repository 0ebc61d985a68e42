// What a host hears of the station besides its lines and events (the line
// page's live rows): each slot whose state changed, as its slot-state says
// it, and each recipe version taken. Called on the station's own thread.
#pragma once

#include <functional>
#include <string>

#include "recipes/recipe_source.h"
#include "supervisor/slot_view.h"

struct StationListeners {
  std::function<void(const std::string& slot, const SlotLine& line)> slotChanged;
  std::function<void(const RecipeTake& take)> recipeTaken;
};
