// The station's name in every record and on the line page: [station] name=
// of the settings file in use, else the machine's host name (two stations
// on one machine, or a host name that says nothing to the line).
#pragma once

#include <string>

std::string StationName(const std::string& settingsPath);
