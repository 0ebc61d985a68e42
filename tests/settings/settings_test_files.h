// A private temporary folder per test, with helpers to put bytes into files
// and read them back exactly.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "settings/settings.h"

class SettingsFileTest : public ::testing::Test {
 public:
  static void Put(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
  }
  static std::string Get(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "tamsolt-settings-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    g_iniPath = Path("setting.ini");
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
    g_iniPath.clear();
  }

  std::string Path(std::string_view name) const { return (folder_ / name).string(); }

  void PutIni(std::string_view bytes) const { Put(g_iniPath, bytes); }
  std::string GetIni() const { return Get(g_iniPath); }

  // Names in the folder besides setting.ini (left-over temporary files).
  int OtherFileCount() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
      if (entry.path().filename() != "setting.ini") ++count;
    }
    return count;
  }

  std::filesystem::path folder_;
};
