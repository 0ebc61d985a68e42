// --settings FILE: a file the run can take its rows and messages from. A
// folder, an unreadable file or one without the message table ([Strings])
// would otherwise run with no rows and empty messages.
#pragma once

#include <string>

// False with the reason in error.
bool SettingsFileUsable(const std::string& path, std::string& error);
