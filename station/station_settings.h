// What the station window reads from the settings file in use: the names
// written on the fixture for each hub port ([slots], e.g. "1-1.2=A1") and
// whether a failure beeps ([station] beep=1), and the ledger the station
// records into and reports from ([station] ledger=PATH; empty: the CLI's own).
#pragma once

#include <map>
#include <string>

struct StationSettings {
  std::map<std::string, std::string> slotNames;  // port -> name
  bool beep = false;
  std::string ledger;
};

// Nothing named and no sound when the file is missing or unreadable.
StationSettings ReadStationSettings(const std::string& path);
