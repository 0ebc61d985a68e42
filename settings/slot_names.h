// The names written on a station's fixture for its hub ports: every entry of
// every [slots] section of the settings file ("1-1.2=A1"), read as the
// profile readers read names. Nothing when the file is missing or unreadable.
#pragma once

#include <map>
#include <string>

std::map<std::string, std::string> ReadSlotNames(const std::string& path);
