#include "app/settings.h"

#include <unistd.h>

#include <climits>
#include <optional>
#include <vector>

#include "app/profile_document.h"
#include "app/profile_file.h"
#include "app/text_encoding.h"

std::string g_iniPath;

namespace {

// Windows hands texts back in a buffer of 512 wide characters.
constexpr std::size_t kMaxValueUnits = 511;

ProfileDocument LoadProfile(const std::string& path) {
  std::string bytes;
  ReadWholeFile(path, bytes);  // missing or unreadable: a file without keys
  return ParseProfile(std::move(bytes));
}

std::optional<std::string> ReadProfileValue(const std::string& path, std::string_view section,
                                            std::string_view key) {
  return FindProfileValue(LoadProfile(path), section, key);
}

// Leading decimal digits, an optional '-' before them; saturates instead of overflowing.
int LeadingInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  long long magnitude = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') break;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > static_cast<long long>(INT_MAX) + 1) {
      magnitude = static_cast<long long>(INT_MAX) + 1;
    }
  }
  const long long value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  return static_cast<int>(value);
}

}  // namespace

std::string GetExeFolder() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return ".";
    if (static_cast<std::size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<std::size_t>(length));
      const auto slash = path.rfind('/');
      if (slash == std::string::npos) return path;
      return slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);  // the name may have been cut: try a larger buffer
  }
}

void InitIniPath() {
  const std::string folder = GetExeFolder();
  g_iniPath = folder == "/" ? "/setting.ini" : folder + "/setting.ini";
}

std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key) {
  std::string value = ReadProfileValue(path, section, key).value_or(std::string());
  value.resize(Utf8PrefixForUtf16Units(value, kMaxValueUnits));
  return value;
}

int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int def) {
  const auto value = ReadProfileValue(path, section, key);
  if (!value) return def;
  return LeadingInteger(*value);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  if (path.empty() || !IsValidUtf8(value)) return false;
  std::string bytes;
  if (!EditProfileValue(LoadProfile(path), section, key, value, bytes)) return false;
  return ReplaceFileAtomically(path, bytes);
}

std::string ReadSetting(std::string_view key, std::string_view section) {
  return ReadProfileString(g_iniPath, section, key);
}

int ReadSettingInt(std::string_view section, std::string_view key, int def) {
  return ReadProfileInt(g_iniPath, section, key, def);
}

bool WriteSetting(std::string_view section, std::string_view key, std::string_view value) {
  return WriteProfileString(g_iniPath, section, key, value);
}
