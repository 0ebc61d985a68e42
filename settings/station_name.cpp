#include "settings/station_name.h"

#include <unistd.h>

#include "settings/settings.h"

std::string StationName(const std::string& settingsPath) {
  if (!settingsPath.empty()) {
    std::string named = ReadProfileString(settingsPath, "station", "name");
    if (!named.empty()) return named;
  }
  char host[256] = {};
  return gethostname(host, sizeof host - 1) == 0 ? host : "";
}
