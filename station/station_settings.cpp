#include "station/station_settings.h"

#include "settings/profile_document.h"
#include "settings/profile_file.h"
#include "settings/profile_lines.h"
#include "settings/settings.h"

StationSettings ReadStationSettings(const std::string& path) {
  StationSettings settings;
  std::string bytes;
  if (ReadWholeFile(path, bytes) != FileReadResult::Read) return settings;
  const ProfileDocument document = ParseProfile(std::move(bytes));
  // Every entry of every [slots] section, read as the profile readers read names.
  bool inSlots = false;
  for (const ProfileTextLine& text : document.lines) {
    const ProfileLine line = ClassifyProfileLine(text.text);
    if (line.kind == ProfileLineKind::Section) {
      inSlots = ProfileNamesEqual(line.name, "slots");
    } else if (inSlots && line.kind == ProfileLineKind::Entry && !line.name.empty()) {
      const std::string_view name = UnquoteProfileValue(line.value);
      if (!name.empty()) settings.slotNames.emplace(std::string(line.name), std::string(name));
    }
  }
  settings.beep = ReadProfileInt(path, "station", "beep", 0) != 0;
  settings.ledger = ReadProfileString(path, "station", "ledger");
  return settings;
}
