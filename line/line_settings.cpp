#include "line/line_settings.h"

#include <QHostAddress>
#include <QString>

#include "settings/profile_file.h"
#include "settings/settings.h"

bool ReadLineSettings(const std::string& path, LineSettings& settings, std::string& error) {
  std::string bytes;
  if (ReadWholeFile(path, bytes) != FileReadResult::Read) {
    error = "cannot read the settings file " + path;
    return false;
  }
  settings.url = ReadProfileString(path, "line", "url");
  if (settings.url.empty()) {
    error = path + ": [line] url= names no line database";
    return false;
  }
  const std::string address = ReadProfileString(path, "line", "listen");
  if (!address.empty()) settings.address = address;
  if (QHostAddress(QString::fromStdString(settings.address)).isNull()) {
    error = path + ": [line] listen=" + settings.address + " is not an address";
    return false;
  }
  settings.port = ReadProfileInt(path, "line", "port", settings.port);
  if (settings.port < 0 || settings.port > 65535) {
    error = path + ": [line] port=" + std::to_string(settings.port) + " is not a port";
    return false;
  }
  settings.password = ReadProfileString(path, "line", "password");
  return true;
}
