// Writing setting.ini: one line changes, everything else stays byte for byte.
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

#include "settings/settings.h"
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

TEST_F(SettingsWrite, ReadOnlyFileIsLeftUntouched) {
  // No write bit means read-only, for root as for anyone.
  for (const mode_t mode : {0444, 0400, 0555}) {
    PutIni("[setup]\nBOOT=0\n");
    ASSERT_EQ(chmod(g_iniPath.c_str(), mode), 0);
    EXPECT_FALSE(WriteSetting("setup", "BOOT", "1")) << std::oct << mode;
    EXPECT_EQ(GetIni(), "[setup]\nBOOT=0\n");
    EXPECT_EQ(OtherFileCount(), 0);
    ASSERT_EQ(chmod(g_iniPath.c_str(), 0600), 0);
  }
}

namespace {
// Runs write in a child process under an ordinary account: as root, the
// account "nobody" (root passes every permission check); else the caller's own.
// The child's exit status: 0 written, 1 refused, 2 could not switch accounts.
int WriteAsOrdinaryAccount(const std::function<bool()>& write) {
  const pid_t child = fork();
  if (child == 0) {
    constexpr uid_t kNobody = 65534;
    if (geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)) {
      _exit(2);
    }
    _exit(write() ? 0 : 1);
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}
}  // namespace

TEST_F(SettingsWrite, FilesTheFolderOrAccountDoNotAllowToReplaceAreRewrittenInPlace) {
  const bool root = geteuid() == 0;
  const struct {
    const char* what;
    mode_t folderMode;
    mode_t fileMode;
    bool needsOtherAccount;  // the file must belong to another account than the writer
    bool written;
  } cases[] = {
      {"writable file in a folder the account cannot write", 0555, 0666, false, true},
      {"writable file of another account", 0777, 0666, true, true},
      {"another account's file it may not write", 0777, 0644, true, false},
      {"another account's file it may write but not read", 0777, 0622, true, false},
  };
  const std::string before = "[setup]\nBOOT=10\n";  // the rewrite is shorter
  for (const auto& c : cases) {
    if (c.needsOtherAccount && !root) continue;
    PutIni(before);
    ASSERT_EQ(chmod(g_iniPath.c_str(), c.fileMode), 0);
    ASSERT_EQ(chmod(folder_.c_str(), c.folderMode), 0);
    struct stat old {};
    ASSERT_EQ(stat(g_iniPath.c_str(), &old), 0);
    const std::string path = g_iniPath;
    const int result =
        WriteAsOrdinaryAccount([&] { return WriteProfileString(path, "setup", "BOOT", "1"); });
    ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);

    EXPECT_EQ(result, c.written ? 0 : 1) << c.what;
    EXPECT_EQ(GetIni(), c.written ? "[setup]\nBOOT=1\n" : before) << c.what;
    struct stat now {};
    ASSERT_EQ(stat(g_iniPath.c_str(), &now), 0);
    // The same file, its owner and mode as they were.
    EXPECT_EQ(now.st_ino, old.st_ino) << c.what;
    EXPECT_EQ(now.st_uid, old.st_uid) << c.what;
    EXPECT_EQ(now.st_mode, old.st_mode) << c.what;
    EXPECT_EQ(OtherFileCount(), 0) << c.what;
  }
}
