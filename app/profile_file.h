// Whole-file reading and crash-safe replacement of setting.ini.
#pragma once

#include <string>
#include <string_view>

// The whole file; false (and out empty) when it is missing or unreadable.
bool ReadWholeFile(const std::string& path, std::string& out);

// Writes bytes to a temporary file in the same folder and renames it over path,
// so the file is either the old one or the new one, never half written. An
// existing file keeps its permissions; a symbolic link keeps pointing at the
// file it named, which is the one replaced.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes);
