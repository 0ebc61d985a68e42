// Reading setting.ini the way the Windows profile functions read it.
#include <string>

#include "app/settings.h"
#include "settings_test_files.h"

using SettingsRead = SettingsFileTest;

TEST_F(SettingsRead, SectionAndKeyNamesMatchWithoutRegardToCase) {
  PutIni("[SetUp]\nBoot=1\n[strings]\ns0050=done\n");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 1);
  EXPECT_EQ(ReadSettingInt("SETUP", "boot"), 1);
  EXPECT_EQ(ReadSetting("S0050", "Strings"), "done");
  // Only ASCII letters fold: other bytes must match exactly.
  EXPECT_EQ(ReadSetting("S0050", "Strings "), "done");  // requested names are trimmed too
  EXPECT_EQ(ReadSetting("S005O", "Strings"), "");
}

TEST_F(SettingsRead, FirstOfDuplicateKeysAndSectionsWins) {
  PutIni("[PATH]\nBOOT=/first.bin\nboot=/second.bin\n"
         "[setup]\nHOST=1\n"
         "[path]\nBOOT=/third.bin\nHOST=/only-in-second.bin\n");
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/first.bin");
  // The second occurrence of a section is never read.
  EXPECT_EQ(ReadSetting("HOST", "PATH"), "");
  EXPECT_EQ(ReadSettingInt("setup", "HOST"), 1);
}

TEST_F(SettingsRead, BlanksAroundNamesAndValuesAreIgnored) {
  PutIni("  [ Strings ]  \r\n\t S0001 \t=  引导程序  \t\r\nS0002=a b\r\n");
  EXPECT_EQ(ReadSetting("S0001", "Strings"), "引导程序");
  EXPECT_EQ(ReadSetting("S0002", "Strings"), "a b");
}

TEST_F(SettingsRead, OnePairOfMatchingQuotesIsRemoved) {
  PutIni("[s]\n"
         "double=\" padded \"\n"
         "single='x'\n"
         "mixed=\"x'\n"
         "twice=\"\"x\"\"\n"
         "lone=\"\n"
         "inner=a\"b\"\n");
  EXPECT_EQ(ReadProfileString(g_iniPath, "s", "double"), " padded ");
  EXPECT_EQ(ReadProfileString(g_iniPath, "s", "single"), "x");
  EXPECT_EQ(ReadProfileString(g_iniPath, "s", "mixed"), "\"x'");
  EXPECT_EQ(ReadProfileString(g_iniPath, "s", "twice"), "\"x\"");
  EXPECT_EQ(ReadProfileString(g_iniPath, "s", "lone"), "\"");
  EXPECT_EQ(ReadProfileString(g_iniPath, "s", "inner"), "a\"b\"");
}

TEST_F(SettingsRead, CommentsAreSkippedButSemicolonsInValuesStay) {
  PutIni("; [Strings]\n[Strings]\n;S0001=commented out\n  ; S0002=also out\nS0003=a;b ; c\n"
         "S0004=x=y\n");
  EXPECT_EQ(ReadSetting("S0001", "Strings"), "");
  EXPECT_EQ(ReadSetting("S0002", "Strings"), "");
  EXPECT_EQ(ReadSetting("S0003", "Strings"), "a;b ; c");
  EXPECT_EQ(ReadSetting("S0004", "Strings"), "x=y");  // the first '=' ends the key
}

TEST_F(SettingsRead, KeysBelongOnlyToTheirOwnSection) {
  PutIni("BOOT=1\n[PATH]\nBOOT=/p\n[setup]\n[other]\nBOOT=1\n");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT", 7), 7);
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/p");
}

TEST_F(SettingsRead, MissingOrUnreadableFileReadsAsEmpty) {
  EXPECT_EQ(ReadSetting("S0000", "Strings"), "");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 0);
  EXPECT_EQ(ReadSettingInt("setup", "BOOT", 5), 5);
  // A folder in place of the file cannot be read as one.
  std::filesystem::create_directory(g_iniPath);
  EXPECT_EQ(ReadSetting("S0000", "Strings"), "");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 0);
}

TEST_F(SettingsRead, FlagsReadAsTheirLeadingDigits) {
  PutIni("[setup]\nBOOT=2\nHOST=0\nRCDB=12abc\nFONT=abc\nLANG=\nFV=-3\nBMP=\"1\"\n"
         "PIC=99999999999\nTDB= 7 \nX=-\n");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 2);
  EXPECT_EQ(ReadSettingInt("setup", "HOST"), 0);
  EXPECT_EQ(ReadSettingInt("setup", "RCDB"), 12);
  EXPECT_EQ(ReadSettingInt("setup", "FONT", 9), 0);  // present but not a number
  EXPECT_EQ(ReadSettingInt("setup", "LANG", 9), 0);  // present but empty
  EXPECT_EQ(ReadSettingInt("setup", "FV"), -3);
  EXPECT_EQ(ReadSettingInt("setup", "BMP"), 1);
  EXPECT_EQ(ReadSettingInt("setup", "PIC"), 2147483647);  // saturates
  EXPECT_EQ(ReadSettingInt("setup", "TDB"), 7);
  EXPECT_EQ(ReadSettingInt("setup", "X", 9), 0);
  EXPECT_EQ(ReadSettingInt("setup", "absent", 9), 9);
}

TEST_F(SettingsRead, TextsAreCutAt511Utf16Units) {
  const std::string ascii(600, 'a');
  std::string chinese;  // 3 bytes, one unit each
  for (int i = 0; i < 600; ++i) chinese += "字";
  std::string pairs = std::string(510, 'b');  // then characters of two units each
  for (int i = 0; i < 3; ++i) pairs += "\xF0\x9F\x98\x80";
  PutIni("[Strings]\nA=" + ascii + "\nC=" + chinese + "\nP=" + pairs + "\nE=" +
         std::string(511, 'e') + "\n");

  EXPECT_EQ(ReadSetting("A", "Strings"), std::string(511, 'a'));
  const std::string c = ReadSetting("C", "Strings");
  EXPECT_EQ(c.size(), 511u * 3);
  EXPECT_TRUE(c.ends_with("字"));
  // The 511th unit would be half a surrogate pair: the whole character is dropped.
  EXPECT_EQ(ReadSetting("P", "Strings"), std::string(510, 'b'));
  EXPECT_EQ(ReadSetting("E", "Strings"), std::string(511, 'e'));
}

TEST_F(SettingsRead, LinesWithoutEqualsAndUnclosedHeadersAreTolerated) {
  PutIni("[setup\nBOOT=1\njunk line\nHOST=1\n\n\n[]\nRCDB=1");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 1);
  EXPECT_EQ(ReadSettingInt("setup", "HOST"), 1);
  EXPECT_EQ(ReadSettingInt("setup", "junk line", 4), 4);
  EXPECT_EQ(ReadSettingInt("setup", "RCDB"), 0);  // it belongs to the section "[]"
}

TEST(SettingsPath, ExeFolderIsTheTestProgramsFolder) {
  EXPECT_EQ(GetExeFolder(), TAMSOLT_TEST_BINARY_DIR);
  const std::string saved = g_iniPath;
  InitIniPath();
  EXPECT_EQ(g_iniPath, std::string(TAMSOLT_TEST_BINARY_DIR) + "/setting.ini");
  g_iniPath = saved;
}
