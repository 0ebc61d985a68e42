#include "station/station_settings.h"

#include "settings/settings.h"
#include "settings/slot_names.h"

StationSettings ReadStationSettings(const std::string& path) {
  StationSettings settings;
  settings.slotNames = ReadSlotNames(path);
  settings.beep = ReadProfileInt(path, "station", "beep", 0) != 0;
  settings.ledger = ReadProfileString(path, "station", "ledger");
  return settings;
}
