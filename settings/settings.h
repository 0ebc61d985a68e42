// setting.ini beside the executable, read and written the way the Windows
// private-profile functions do it: nothing cached, every read goes to the file,
// every write changes only its own line and happens at once.
#pragma once

#include <string>
#include <string_view>

// Full path of setting.ini: the executable's folder + "/setting.ini".
extern std::string g_iniPath;

// The folder of the running executable, without a trailing separator.
std::string GetExeFolder();
// Sets g_iniPath to GetExeFolder() + "/setting.ini"; called once at start-up.
void InitIniPath();

// Text of key in section of g_iniPath (at most 511 characters; empty when absent).
std::string ReadSetting(std::string_view key, std::string_view section);
// The number the value begins with, read as Windows reads it ("+3", "-1",
// "0x10"; wraps past 32 bits); def when the key is absent or its value empty,
// 0 when the value does not begin with a number.
int ReadSettingInt(std::string_view section, std::string_view key, int def = 0);
// Writes key=value into section of g_iniPath, creating file and section as needed.
// Returns false when the file could not be written (callers do not report it).
bool WriteSetting(std::string_view section, std::string_view key, std::string_view value);

// The same operations on any profile file (tests and tools).
std::string ReadProfileString(const std::string& path, std::string_view section,
                              std::string_view key);
int ReadProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int def);
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value);
