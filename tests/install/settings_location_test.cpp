// Which setting.ini is used: beside the program (or, with none there, the
// package's one in /etc/tamsolt) while this user may change it there,
// otherwise a copy in the user's configuration folder. Writability goes
// through the seam: tests run as root, who may write anything.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "settings/settings_location.h"

namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, const std::string& text) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SettingsLocation : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(root_);
    fs::create_directories(exe_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // Paths listed in readOnly are refused, everything else may be written.
  std::string Choose(const std::set<fs::path>& readOnly) {
    return ChooseSettingsFile(exe_.string(), etc_.string(), user_.string(),
                              [&](const std::string& path) {
      return readOnly.count(fs::path(path)) == 0;
    });
  }

  fs::path root_ = fs::temp_directory_path() /
                   (std::string("tamsolt-location-") +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
  fs::path exe_ = root_ / "opt";
  fs::path etc_ = root_ / "etc" / "tamsolt";
  fs::path user_ = root_ / "config" / "tamsolt";
  fs::path shipped_ = exe_ / "setting.ini";
  fs::path own_ = user_ / "setting.ini";
};

TEST_F(SettingsLocation, FolderTheUserMayWriteKeepsTheFileBesideTheProgram) {
  EXPECT_EQ(Choose({}), shipped_.string());  // no file yet: created there on the first change
  WriteFile(shipped_, "[setup]\nBOOT=1\n");
  EXPECT_EQ(Choose({}), shipped_.string());
  EXPECT_FALSE(fs::exists(user_));
}

TEST_F(SettingsLocation, ReadOnlyInstallGetsACopyOnceThenKeepsIt) {
  WriteFile(shipped_, "[Strings]\nS0000=shipped\n");
  for (const auto& readOnly : {std::set<fs::path>{exe_, shipped_}, std::set<fs::path>{shipped_},
                               std::set<fs::path>{exe_}}) {
    fs::remove_all(user_);
    EXPECT_EQ(Choose(readOnly), own_.string());
    EXPECT_EQ(ReadFile(own_), "[Strings]\nS0000=shipped\n");
    WriteFile(own_, "[setup]\nBOOT=1\n");  // the user's own changes are never replaced
    EXPECT_EQ(Choose(readOnly), own_.string());
    EXPECT_EQ(ReadFile(own_), "[setup]\nBOOT=1\n");
    EXPECT_FALSE(fs::exists(own_.string() + ".partial"));
  }
}

TEST_F(SettingsLocation, ReadOnlyInstallWithoutAShippedFileStartsAnEmptyOwnOne) {
  EXPECT_EQ(Choose({exe_}), own_.string());
  EXPECT_TRUE(fs::is_directory(user_));
  EXPECT_FALSE(fs::exists(own_));
}

TEST_F(SettingsLocation, CopyThatCannotBeMadeLeavesTheShippedFileInUse) {
  WriteFile(shipped_, "x");
  WriteFile(root_ / "config", "a file where the folder should be");
  EXPECT_EQ(Choose({exe_}), shipped_.string());
}

TEST_F(SettingsLocation, PackagedDefaultsInEtcServeAFolderWithoutItsOwnFile) {
  const fs::path system = etc_ / "setting.ini";
  WriteFile(system, "[Strings]\nS0000=packaged\n");
  // An administrator (who may write /etc) works on the configuration file itself.
  EXPECT_EQ(Choose({}), system.string());
  EXPECT_FALSE(fs::exists(shipped_));
  // A user gets a copy of it, made once.
  for (const auto& readOnly : {std::set<fs::path>{exe_, etc_, system}, std::set<fs::path>{system},
                               std::set<fs::path>{etc_}}) {
    fs::remove_all(user_);
    EXPECT_EQ(Choose(readOnly), own_.string());
    EXPECT_EQ(ReadFile(own_), "[Strings]\nS0000=packaged\n");
  }
  // A file beside the program (an unpacked folder, an install of 1.0.8) wins.
  fs::remove_all(user_);
  WriteFile(shipped_, "[Strings]\nS0000=beside\n");
  EXPECT_EQ(Choose({}), shipped_.string());
  EXPECT_EQ(Choose({exe_, shipped_}), own_.string());
  EXPECT_EQ(ReadFile(own_), "[Strings]\nS0000=beside\n");
}

TEST_F(SettingsLocation, UserFolderFollowsXdgConfigHome) {
  struct Case {
    const char* configHome;
    const char* home;
    std::string folder;
  };
  const Case cases[] = {
      {"/cfg", "/home/op", "/cfg/tamsolt"},
      {nullptr, "/home/op", "/home/op/.config/tamsolt"},
      {"relative", "/home/op", "/home/op/.config/tamsolt"},  // only absolute ones count
      {nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    c.configHome ? ::setenv("XDG_CONFIG_HOME", c.configHome, 1) : ::unsetenv("XDG_CONFIG_HOME");
    c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
    EXPECT_EQ(UserSettingsFolder(), c.folder) << (c.configHome ? c.configHome : "(unset)");
  }
}

}  // namespace
