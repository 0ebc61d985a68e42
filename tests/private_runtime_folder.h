// Qt wants a private runtime folder (XDG_RUNTIME_DIR); where the session has
// none, as under ctest or on a console login, every Qt program complains at
// start. A test program makes its own for the run and removes it at the end.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <string>

class PrivateRuntimeFolder {
 public:
  PrivateRuntimeFolder() {
    const char* given = getenv("XDG_RUNTIME_DIR");
    if (given != nullptr && *given != '\0') return;
    std::error_code error;
    std::string pattern = (std::filesystem::temp_directory_path(error) / "tamsolt-runtime-XXXXXX").string();
    if (error || mkdtemp(pattern.data()) == nullptr) return;  // mode 0700, as Qt asks
    path_ = pattern;
    setenv("XDG_RUNTIME_DIR", path_.c_str(), 1);
  }
  ~PrivateRuntimeFolder() {
    if (path_.empty()) return;
    std::error_code error;
    std::filesystem::remove_all(path_, error);
    unsetenv("XDG_RUNTIME_DIR");
  }
  PrivateRuntimeFolder(const PrivateRuntimeFolder&) = delete;
  PrivateRuntimeFolder& operator=(const PrivateRuntimeFolder&) = delete;

 private:
  std::string path_;
};
