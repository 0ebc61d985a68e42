#include "cli/settings_check.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace {

bool IsStringsHeader(std::string line) {
  line.erase(std::remove_if(line.begin(), line.end(),
                            [](unsigned char c) { return std::isspace(c) != 0; }),
             line.end());
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return line == "[strings]" || line == "\xef\xbb\xbf[strings]";  // with or without a BOM
}

}  // namespace

bool SettingsFileUsable(const std::string& path, std::string& error) {
  std::error_code ignored;
  if (std::filesystem::is_directory(path, ignored)) {
    error = "the settings file " + path + " is a folder";
    return false;
  }
  std::ifstream file(path);
  if (access(path.c_str(), R_OK) != 0 || !file) {
    error = "cannot read the settings file " + path;
    return false;
  }
  for (std::string line; std::getline(file, line);) {
    if (IsStringsHeader(line)) return true;
  }
  error = "the settings file " + path + " has no [Strings] section (the messages)";
  return false;
}
