// Writing setting.ini: one line changes, everything else stays byte for byte.
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "app/settings.h"
#include "settings_test_files.h"

using SettingsWrite = SettingsFileTest;

namespace {
constexpr std::string_view kHandMade =
    "; written by hand\r\n"
    "[setup]\r\n"
    "BOOT = 0   \r\n"
    "; HOST is kept off\r\n"
    "HOST=1\r\n"
    "\r\n"
    "\r\n"
    "[PATH]\r\n"
    "BOOT=/old/boot.bin\r\n"
    "\r\n"
    "[Strings]\r\n"
    "S0000=caption\r\n";
}

TEST_F(SettingsWrite, ChangingAKeyRewritesOnlyItsValue) {
  PutIni(kHandMade);
  ASSERT_TRUE(WriteSetting("SETUP", "boot", "1"));
  std::string expected(kHandMade);
  expected.replace(expected.find("BOOT = 0   "), 11, "BOOT = 1");
  EXPECT_EQ(GetIni(), expected);
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 1);
  EXPECT_EQ(OtherFileCount(), 0);
}

TEST_F(SettingsWrite, NewKeyGoesAfterTheLastKeyOfItsSection) {
  PutIni(kHandMade);
  ASSERT_TRUE(WriteSetting("setup", "RCDB", "1"));
  std::string expected(kHandMade);
  expected.insert(expected.find("HOST=1\r\n") + 8, "RCDB=1\r\n");
  EXPECT_EQ(GetIni(), expected);

  ASSERT_TRUE(WriteSetting("PATH", "HOST", "/a b/主机.bin"));
  expected.insert(expected.find("/old/boot.bin\r\n") + 15, "HOST=/a b/主机.bin\r\n");
  EXPECT_EQ(GetIni(), expected);
  EXPECT_EQ(ReadSetting("HOST", "PATH"), "/a b/主机.bin");
}

TEST_F(SettingsWrite, NewKeyInASectionWithoutKeysFollowsItsHeader) {
  PutIni("[setup]\n; nothing yet\n\n[PATH]\n");
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_EQ(GetIni(), "[setup]\nBOOT=1\n; nothing yet\n\n[PATH]\n");
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/b"));
  EXPECT_EQ(GetIni(), "[setup]\nBOOT=1\n; nothing yet\n\n[PATH]\nBOOT=/b\n");
}

TEST_F(SettingsWrite, NewSectionGoesAtTheEndInTheFilesLineEnding) {
  PutIni("[setup]\nBOOT=1\n");
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/x"));
  EXPECT_EQ(GetIni(), "[setup]\nBOOT=1\n[PATH]\nBOOT=/x\n");

  PutIni("[setup]\r\nBOOT=1");  // no line break after the last line
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/x"));
  EXPECT_EQ(GetIni(), "[setup]\r\nBOOT=1\r\n[PATH]\r\nBOOT=/x\r\n");

  PutIni("[setup]\r\nBOOT=1");
  ASSERT_TRUE(WriteSetting("setup", "HOST", "0"));
  EXPECT_EQ(GetIni(), "[setup]\r\nBOOT=1\r\nHOST=0");
}

TEST_F(SettingsWrite, CarriageReturnClosingTheFileEndsTheLastLine) {
  PutIni("[setup]\nBOOT=1\n[PATH]\r");
  ASSERT_TRUE(WriteSetting("path", "BOOT", "/x"));
  EXPECT_EQ(GetIni(), "[setup]\nBOOT=1\n[PATH]\nBOOT=/x\r");
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/x");

  PutIni("[PATH]\r\nBOOT=/x\r");
  ASSERT_TRUE(WriteSetting("Strings", "S0000", "t"));
  EXPECT_EQ(GetIni(), "[PATH]\r\nBOOT=/x\r\n[Strings]\r\nS0000=t\r\n");
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/x");
}

TEST_F(SettingsWrite, LoneCarriageReturnsEndLinesInAFileWithoutLineFeeds) {
  PutIni("[setup]\rBOOT=0\rHOST=1\r");
  EXPECT_EQ(ReadSettingInt("setup", "HOST"), 1);
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  ASSERT_TRUE(WriteSetting("setup", "RCDB", "1"));
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/x"));
  EXPECT_EQ(GetIni(), "[setup]\rBOOT=1\rHOST=1\rRCDB=1\r[PATH]\rBOOT=/x\r");
}

TEST_F(SettingsWrite, OnlyTheFirstOfDuplicatesIsChanged) {
  PutIni("[setup]\nBOOT=0\nBOOT=0\n[SETUP]\nBOOT=0\n");
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_EQ(GetIni(), "[setup]\nBOOT=1\nBOOT=0\n[SETUP]\nBOOT=0\n");
}

TEST_F(SettingsWrite, MissingFileIsCreatedAsPlainUtf8) {
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_EQ(GetIni(), "[setup]\r\nBOOT=1\r\n");
  ASSERT_TRUE(WriteSetting("PATH", "BMP", ""));
  EXPECT_EQ(GetIni(), "[setup]\r\nBOOT=1\r\n[PATH]\r\nBMP=\r\n");
  ASSERT_TRUE(WriteSetting("PATH", "BMP", "/图片/开机;logo.bmp"));
  EXPECT_EQ(ReadSetting("BMP", "PATH"), "/图片/开机;logo.bmp");
}

TEST_F(SettingsWrite, UnstorableNamesAndValuesAreRefusedWithoutTouchingTheFile) {
  PutIni("[setup]\nBOOT=1\n");
  EXPECT_FALSE(WriteSetting("setup", "BOOT", "1\nHOST=1"));
  EXPECT_FALSE(WriteSetting("setup", "BO=OT", "1"));
  EXPECT_FALSE(WriteSetting("set]up", "BOOT", "1"));
  EXPECT_FALSE(WriteSetting("", "BOOT", "1"));
  EXPECT_FALSE(WriteSetting("setup", "", "1"));
  EXPECT_FALSE(WriteSetting("setup", ";BOOT", "1"));
  EXPECT_FALSE(WriteSetting("setup", "BOOT", "\xFF"));  // not UTF-8
  EXPECT_EQ(GetIni(), "[setup]\nBOOT=1\n");
}

TEST_F(SettingsWrite, ReplacementKeepsPermissionsAndLeavesNoTemporaryFile) {
  PutIni("[setup]\nBOOT=0\n");
  ASSERT_EQ(chmod(g_iniPath.c_str(), 0640), 0);
  struct stat before {};
  ASSERT_EQ(stat(g_iniPath.c_str(), &before), 0);

  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  struct stat after {};
  ASSERT_EQ(stat(g_iniPath.c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0640u);
  EXPECT_NE(after.st_ino, before.st_ino);  // a new file renamed into place, not rewritten
  EXPECT_EQ(OtherFileCount(), 0);
}

TEST_F(SettingsWrite, ALinkedSettingsFileIsReplacedBehindTheLink) {
  const std::string real = Path("real.ini");
  Put(real, "[setup]\nBOOT=0\n");
  ASSERT_EQ(symlink(real.c_str(), g_iniPath.c_str()), 0);
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  struct stat link {};
  ASSERT_EQ(lstat(g_iniPath.c_str(), &link), 0);
  EXPECT_TRUE(S_ISLNK(link.st_mode));
  EXPECT_EQ(Get(real), "[setup]\nBOOT=1\n");
}

TEST_F(SettingsWrite, FailedWritesReportFalseAndCleanUp) {
  // A folder cannot be replaced by a file, whoever runs the test.
  std::filesystem::create_directory(g_iniPath);
  EXPECT_FALSE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_TRUE(std::filesystem::is_directory(g_iniPath));
  EXPECT_EQ(OtherFileCount(), 0);
  g_iniPath = Path("no-such-folder/setting.ini");
  EXPECT_FALSE(WriteSetting("setup", "BOOT", "1"));
}
