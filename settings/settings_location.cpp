#include "settings/settings_location.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "settings/settings.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSettingsFileName[] = "setting.ini";

std::string InFolder(const std::string& folder, const char* name) {
  return folder == "/" ? std::string("/") + name : folder + "/" + name;
}

// The copy is made beside its final name and renamed: a start that is cut
// short never leaves half a file to be used from then on.
bool CopyShippedSettings(const std::string& shipped, const std::string& copy) {
  std::error_code error;
  fs::create_directories(fs::path(copy).parent_path(), error);
  if (error) return false;
  const std::string partial = copy + ".partial";
  if (!fs::copy_file(shipped, partial, fs::copy_options::overwrite_existing, error)) {
    fs::remove(partial, error);
    return false;
  }
  fs::rename(partial, copy, error);
  if (error) fs::remove(partial, error);
  return !error;
}

}  // namespace

const char kSystemSettingsFolder[] = "/etc/tamsolt";

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

std::string UserSettingsFolder() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is to be ignored.
  const char* configHome = std::getenv("XDG_CONFIG_HOME");
  if (configHome != nullptr && configHome[0] == '/') return InFolder(configHome, "tamsolt");
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] != '/') return {};
  return InFolder(InFolder(home, ".config"), "tamsolt");
}

std::string ChooseSettingsFile(const std::string& exeFolder, const std::string& systemFolder,
                               const std::string& userFolder, const WritableTest& mayWrite) {
  std::error_code error;
  std::string shippedFolder = exeFolder;
  std::string shipped = InFolder(exeFolder, kSettingsFileName);
  bool shippedExists = fs::exists(shipped, error);
  if (!shippedExists && !systemFolder.empty()) {
    const std::string system = InFolder(systemFolder, kSettingsFileName);
    if (fs::exists(system, error)) {
      shippedFolder = systemFolder;
      shipped = system;
      shippedExists = true;
    }
  }
  // Changes replace the whole file through a new one in its folder, so the
  // folder must be writable as well as the file.
  if (mayWrite(shippedFolder) && (!shippedExists || mayWrite(shipped))) return shipped;
  if (userFolder.empty()) return shipped;

  const std::string own = InFolder(userFolder, kSettingsFileName);
  if (fs::exists(own, error)) return own;
  if (shippedExists) return CopyShippedSettings(shipped, own) ? own : shipped;
  // Nothing shipped: the user's file comes into being with the first change.
  fs::create_directories(userFolder, error);
  return error ? shipped : own;
}

void LocateSettingsFile() {
  g_iniPath = ChooseSettingsFile(GetExeFolder(), kSystemSettingsFolder, UserSettingsFolder());
}
