// The settings of tamsolt-line (/etc/tamsolt/line.ini, section [line]): the
// line database to read (url, a role that may only read: docs/line.md), the
// address and port to listen on (loopback unless the line's address is
// given) and an optional password for the page and the API.
#pragma once

#include <string>

struct LineSettings {
  std::string url;
  std::string address = "127.0.0.1";
  int port = 8742;
  std::string password;  // empty: no password asked
};

inline constexpr const char* kLineSettingsFile = "/etc/tamsolt/line.ini";

// False with the reason when the file cannot be read or says something unusable.
bool ReadLineSettings(const std::string& path, LineSettings& settings, std::string& error);
