// Which setting.ini the program uses. Beside the executable, as long as this
// user may write it there (an unpacked folder of one's own); an installed
// folder belongs to root, so each user then works on a copy of the shipped
// file in their own configuration folder.
#pragma once

#include <functional>
#include <string>

// Whether this user may write path (a file, or a folder to create files in).
using WritableTest = std::function<bool(const std::string& path)>;
bool MayWrite(const std::string& path);

// $XDG_CONFIG_HOME/tamsolt, or ~/.config/tamsolt; empty without a home folder.
std::string UserSettingsFolder();

// exeFolder/setting.ini when mayWrite allows changing it there (the folder, and
// the file when it exists); otherwise userFolder/setting.ini, first copied from
// the shipped one when the user has none yet. A user copy that cannot be made
// leaves the shipped file in use: it is still read, only changes are lost.
std::string ChooseSettingsFile(const std::string& exeFolder, const std::string& userFolder,
                               const WritableTest& mayWrite = MayWrite);

// Sets g_iniPath to ChooseSettingsFile(GetExeFolder(), UserSettingsFolder()).
void LocateSettingsFile();
