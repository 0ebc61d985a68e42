// Reading setting.ini the way the Windows profile functions read it.
#include <string>

#include "settings/settings.h"
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

TEST_F(SettingsRead, FlagsReadAsWindowsReadsIntegers) {
  const struct {
    const char* value;
    int expected;
  } cases[] = {
      {"2", 2},     {"0", 0},       {"12abc", 12},  {"abc", 0},   {"-3", -3},  {"\" 1\"", 1},
      {" 7 ", 7},   {"-", 0},       {"+1", 1},      {"+3", 3},    {"0x10", 16}, {"0x1f", 31},
      {"0x1F", 31}, {"-0x10", -16}, {"0x", 0},    {"0o17", 15},   {"0b101", 5},
      {"4294967297", 1},                   // wraps past 32 bits instead of saturating
      {"99999999999", 1215752191},         // 99999999999 mod 2^32
      {"2147483648", -2147483647 - 1},
      {"", 9},                             // empty: the caller's default
  };
  std::string ini = "[setup]\n";
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    ini += "K" + std::to_string(i) + "=" + cases[i].value + "\n";
  }
  PutIni(ini);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ReadSettingInt("setup", "K" + std::to_string(i), 9), cases[i].expected)
        << '"' << cases[i].value << '"';
  }
  EXPECT_EQ(ReadSettingInt("setup", "absent", 9), 9);
}

TEST_F(SettingsRead, TextsAreCutAt511Utf16Units) {
  const std::string ascii(600, 'a');
  std::string chinese;  // 3 bytes, one unit each
  for (int i = 0; i < 600; ++i) chinese += "字";
  std::string pairs = std::string(510, 'b');  // then characters of two units each
  for (int i = 0; i < 3; ++i) pairs += "\xF0\x9F\x98\x80";
  // The mark: a line of UTF-8 with four-byte characters is otherwise taken for GB18030.
  PutIni("\xEF\xBB\xBF[Strings]\nA=" + ascii + "\nC=" + chinese + "\nP=" + pairs + "\nE=" +
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
  const std::string before = "[setup]\nBOOT=1\n[PATH\nHOST=1\njunk line\n\n\n[]\nRCDB=1";
  PutIni(before);
  // "[PATH" is no header: HOST stays in "setup", and "PATH" does not exist.
  EXPECT_EQ(ReadSettingInt("setup", "HOST"), 1);
  EXPECT_EQ(ReadSetting("HOST", "PATH"), "");
  EXPECT_EQ(ReadSettingInt("setup", "junk line", 4), 4);
  EXPECT_EQ(ReadSettingInt("setup", "RCDB"), 0);  // it belongs to the section "[]"
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/b"));
  EXPECT_EQ(GetIni(), before + "\n[PATH]\nBOOT=/b\n");
}

TEST(SettingsPath, ExeFolderIsTheTestProgramsFolder) {
  EXPECT_EQ(GetExeFolder(), TAMSOLT_TEST_BINARY_DIR);
  const std::string saved = g_iniPath;
  InitIniPath();
  EXPECT_EQ(g_iniPath, std::string(TAMSOLT_TEST_BINARY_DIR) + "/setting.ini");
  g_iniPath = saved;
}
