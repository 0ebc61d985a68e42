// A folder of its own for one test, with g_iniPath pointing into it (no
// setting.ini there: every message text is empty). Removed at the end.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "settings/settings.h"

class ScratchFolder {
 public:
  ScratchFolder() {
    char pattern[] = "/tmp/tamsolt-bench-test-XXXXXX";
    if (mkdtemp(pattern) != nullptr) path_ = pattern;
    g_iniPath = path_ + "/setting.ini";
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    g_iniPath.clear();
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};
