// Whole-file reading and safe replacement of setting.ini.
#pragma once

#include <string>
#include <string_view>

enum class FileReadResult {
  Read,
  Missing,  // no file (or no folder) of that name
  Failed,   // there is one, but it cannot be read
};

// The whole file; out is empty unless the result is Read.
FileReadResult ReadWholeFile(const std::string& path, std::string& out);

// Replaces the file's content with bytes, as Windows does: false, and the file
// untouched, when it exists and is read-only (no write permission bit) or not
// writable for this process. Where the folder allows it, bytes go to a new file
// that is renamed over path, so the file is either old or new, never half
// written, and keeps its permissions and owner. Where it does not (a writable
// file in a folder the user cannot write, or an owner the process cannot give a
// new file), the file is rewritten in place. A symbolic link keeps pointing at
// the file it named, which is the one written.
bool WriteFileSafely(const std::string& path, std::string_view bytes);
