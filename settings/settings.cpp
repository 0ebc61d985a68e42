#include "settings/settings.h"

#include <unistd.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <vector>

#include "settings/profile_document.h"
#include "settings/profile_file.h"
#include "settings/text_encoding.h"

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

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

// The number at the start of text as the Windows integer profile read takes it:
// blanks (those kept inside quotes), an optional sign, a "0x", "0o" or "0b"
// prefix for base 16, 8 or 2, else decimal; digits up to the first that does
// not belong; arithmetic modulo 2^32.
int ProfileInteger(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  const bool negative = text.starts_with('-');
  if (negative || text.starts_with('+')) text.remove_prefix(1);
  unsigned base = 10;
  if (text.size() >= 2 && text[0] == '0') {
    const auto prefix = std::string_view("xob").find(text[1]);
    if (prefix != std::string_view::npos) {
      base = prefix == 0 ? 16 : prefix == 1 ? 8 : 2;
      text.remove_prefix(2);
    }
  }
  std::uint32_t value = 0;
  for (const char c : text) {
    const int digit = DigitValue(c);
    if (digit >= static_cast<int>(base)) break;
    value = value * base + static_cast<std::uint32_t>(digit);
  }
  if (negative) value = 0u - value;
  return static_cast<int>(value);  // two's complement, as the platform returns it
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
  if (!value || value->empty()) return def;
  return ProfileInteger(*value);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value) {
  if (path.empty() || !IsValidUtf8(value)) return false;
  std::string bytes;
  // A file that is there but cannot be read must not be replaced by one key.
  if (ReadWholeFile(path, bytes) == FileReadResult::Failed) return false;
  std::string newBytes;
  if (!EditProfileValue(ParseProfile(std::move(bytes)), section, key, value, newBytes)) {
    return false;
  }
  return WriteFileSafely(path, newBytes);
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
