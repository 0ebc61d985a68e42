// Which setting.ini the program uses. Beside the executable, as long as this
// user may write it there (an unpacked folder of one's own); an installed
// folder belongs to root, so each user then works on a copy of the shipped
// file in their own configuration folder. The package ships its defaults as
// /etc/tamsolt/setting.ini, a configuration file where the administrator
// expects one; a folder without setting.ini beside the program takes that one.
#pragma once

#include <functional>
#include <string>

// Whether this user may write path (a file, or a folder to create files in).
using WritableTest = std::function<bool(const std::string& path)>;
bool MayWrite(const std::string& path);

// $XDG_CONFIG_HOME/tamsolt, or ~/.config/tamsolt; empty without a home folder.
std::string UserSettingsFolder();

// Where the package puts the shipped setting.ini.
extern const char kSystemSettingsFolder[];

// The shipped file is exeFolder/setting.ini when it exists, else
// systemFolder/setting.ini when that exists, else exeFolder/setting.ini (made
// on the first change). It is used itself when mayWrite allows changing it
// (its folder, and the file when it exists); otherwise userFolder/setting.ini,
// first copied from the shipped one when the user has none yet. A user copy
// that cannot be made leaves the shipped file in use: it is still read, only
// changes are lost.
std::string ChooseSettingsFile(const std::string& exeFolder, const std::string& systemFolder,
                               const std::string& userFolder,
                               const WritableTest& mayWrite = MayWrite);

// Sets g_iniPath to ChooseSettingsFile(GetExeFolder(), kSystemSettingsFolder,
// UserSettingsFolder()).
void LocateSettingsFile();
