// setting.ini in the encodings Windows tools leave behind: read, and rewritten
// in the same encoding with only the changed line different.
#include <string>

#include "settings/settings.h"
#include "settings/text_encoding.h"
#include "settings_test_files.h"

namespace {

std::string Utf16Le(std::u16string_view text) {
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  return bytes;
}

std::string Utf16Be(std::u16string_view text) {
  std::string bytes = "\xFE\xFF";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit >> 8);
    bytes += static_cast<char>(unit & 0xFF);
  }
  return bytes;
}

// GB18030 of the texts used below.
constexpr std::string_view kGbBootLoader = "\xD2\xFD\xB5\xBC\xB3\xCC\xD0\xF2";  // 引导程序
constexpr std::string_view kGbCloseBracket = "\x81\x5D";  // 乚: second byte is ']'
constexpr std::string_view kGbOpenBracket = "\x81\x5B";   // 乕: second byte is '['
constexpr std::string_view kGbEmoji = "\x94\x39\xFC\x36";  // 😀, four bytes

// Made with `iconv -f UTF-8 -t GBK`; every one of them is also valid UTF-8.
struct GbkWord {
  const char* text;
  std::string_view gbk;
};
constexpr GbkWord kGbkWords[] = {
    {"平台", "\xC6\xBD\xCC\xA8"}, {"模式", "\xC4\xA3\xCA\xBD"}, {"实时", "\xCA\xB5\xCA\xB1"},
    {"系统", "\xCF\xB5\xCD\xB3"}, {"状态", "\xD7\xB4\xCC\xAC"}, {"图片", "\xCD\xBC\xC6\xAC"},
    {"€", "\x80"},  // code page 936's single-byte euro sign
};
// GBK of 浣板啊 (iconv again), which as UTF-8 would read 佰尡.
constexpr std::string_view kGbkLooksLikeUtf8 = "\xE4\xBD\xB0\xE5\xB0\xA1";

std::string Gbk(std::string_view text) {
  for (const GbkWord& word : kGbkWords) {
    if (text == word.text) return std::string(word.gbk);
  }
  ADD_FAILURE() << "no GBK bytes for " << text;
  return {};
}

}  // namespace

using SettingsEncoding = SettingsFileTest;

TEST_F(SettingsEncoding, Utf16LittleEndianIsReadAndRewrittenInPlace) {
  const std::u16string text =
      u"; 工具设置\r\n[Strings]\r\nS0001=引导程序\r\nS0002=\U0001F600\r\n\r\n[setup]\r\nBOOT=0\r\n";
  PutIni(Utf16Le(text));
  EXPECT_EQ(ReadSetting("S0001", "Strings"), "引导程序");
  EXPECT_EQ(ReadSetting("S0002", "Strings"), "\xF0\x9F\x98\x80");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT", 9), 0);

  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  std::u16string expected = text;
  expected.replace(expected.find(u"BOOT=0"), 6, u"BOOT=1");
  EXPECT_EQ(GetIni(), Utf16Le(expected));

  ASSERT_TRUE(WriteSetting("Strings", "S0003", "主机"));
  expected.insert(expected.find(u"\r\n\r\n[setup]"), u"\r\nS0003=主机");
  EXPECT_EQ(GetIni(), Utf16Le(expected));

  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/路径/boot.bin"));
  expected += u"[PATH]\r\nBOOT=/路径/boot.bin\r\n";
  EXPECT_EQ(GetIni(), Utf16Le(expected));
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/路径/boot.bin");
}

TEST_F(SettingsEncoding, Utf16BigEndianAndLfEndingsAreKept) {
  const std::u16string text = u"[setup]\nBOOT=1\n";
  PutIni(Utf16Be(text));
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 1);
  ASSERT_TRUE(WriteSetting("setup", "HOST", "1"));
  EXPECT_EQ(GetIni(), Utf16Be(u"[setup]\nBOOT=1\nHOST=1\n"));
}

TEST_F(SettingsEncoding, Utf16FileWithOnlyItsMarkGetsItsFirstSection) {
  PutIni("\xFF\xFE");
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_EQ(GetIni(), Utf16Le(u"[setup]\r\nBOOT=1\r\n"));
}

TEST_F(SettingsEncoding, Gb18030IsReadByCharacterNotByByte) {
  const std::string section = std::string(kGbCloseBracket) + std::string(kGbOpenBracket);
  PutIni("[Strings]\r\nS0001=" + std::string(kGbBootLoader) + "\r\n[" + section + "]\r\nK=" +
         std::string(kGbCloseBracket) + std::string(kGbEmoji) + "\r\n");
  EXPECT_EQ(ReadSetting("S0001", "Strings"), "引导程序");
  EXPECT_EQ(ReadSetting("K", "乚乕"), "乚\xF0\x9F\x98\x80");
}

TEST_F(SettingsEncoding, Gb18030IsRewrittenInGb18030KeepingOtherBytes) {
  // The comment holds a byte pair that is not GB18030 at all; it must survive.
  const std::string before = "; \x81\x20 damaged\r\n[Strings]\r\nS0001=" +
                             std::string(kGbBootLoader) + "\r\n[PATH]\r\nBOOT=/a\r\n";
  PutIni(before);
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/引导程序.bin"));
  std::string expected = before;
  expected.replace(expected.find("BOOT=/a"), 7, "BOOT=/" + std::string(kGbBootLoader) + ".bin");
  EXPECT_EQ(GetIni(), expected);
  EXPECT_EQ(ReadSetting("BOOT", "PATH"), "/引导程序.bin");
}

TEST_F(SettingsEncoding, GbkWordsThatAreValidUtf8ReadAsGbk) {
  std::string ini = "[Strings]\r\n";
  for (std::size_t i = 0; i < std::size(kGbkWords); ++i) {
    ini += "K" + std::to_string(i) + "=" + std::string(kGbkWords[i].gbk) + "\r\n";
  }
  PutIni(ini);
  for (std::size_t i = 0; i < std::size(kGbkWords); ++i) {
    EXPECT_EQ(ReadSetting("K" + std::to_string(i), "Strings"), kGbkWords[i].text) << i;
  }
  // A write adds GBK, not UTF-8, to a GBK file.
  ASSERT_TRUE(WriteSetting("Strings", "Mode", "实时"));
  EXPECT_EQ(GetIni(), ini + "Mode=" + Gbk("实时") + "\r\n");
}

TEST_F(SettingsEncoding, EachLineIsReadInItsOwnEncoding) {
  // A Latin-1 comment added to the shipped UTF-8 file garbles nothing else.
  const std::string shipped = Get(std::string(TAMSOLT_SOURCE_DIR) + "/res/setting.ini");
  const std::string comment = "; caf\xE9\r\n";
  PutIni(comment + shipped);
  EXPECT_EQ(ReadSetting("S0000", "Strings"), "VX742程序下载工具 V1.00.08");
  EXPECT_EQ(ReadSetting("S0001", "Strings"), "引导程序(*.bin)");
  // New lines follow the file's UTF-8 majority; the comment keeps its byte.
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/图片/boot.bin"));
  std::string expected = comment + shipped;
  expected.insert(expected.find("[PATH]\r\n") + 8, "BOOT=/图片/boot.bin\r\n");
  EXPECT_EQ(GetIni(), expected);

  // In a GBK file the one UTF-8 line stays UTF-8 when rewritten.
  const std::string gbk = "[Strings]\r\nA=" + Gbk("平台") + "\r\nB=" + Gbk("模式") + "\r\n";
  PutIni(gbk + "C=引导程序\r\n");
  EXPECT_EQ(ReadSetting("A", "Strings"), "平台");
  EXPECT_EQ(ReadSetting("C", "Strings"), "引导程序");
  ASSERT_TRUE(WriteSetting("Strings", "C", "主机"));
  ASSERT_TRUE(WriteSetting("Strings", "D", "系统"));
  EXPECT_EQ(GetIni(), gbk + "C=主机\r\nD=" + Gbk("系统") + "\r\n");
}

TEST_F(SettingsEncoding, TextThatWouldReadBackDifferentlyTakesTheOtherEncoding) {
  const struct {
    std::string file;
    const char* value;
    std::string storedLine;
  } cases[] = {
      // ü as UTF-8 (C3 BC) does not look like UTF-8 on its own: GB18030 A8 B9.
      {"[s]\r\nA=引导程序\r\n", "/home/müller", "K=/home/m\xA8\xB9ller"},
      // GBK bytes that pass for UTF-8 go as UTF-8 instead.
      {"[s]\r\nA=" + Gbk("平台") + "\r\n", "浣板啊", "K=浣板啊"},
  };
  for (const auto& c : cases) {
    PutIni(c.file);
    ASSERT_TRUE(WriteSetting("s", "K", c.value)) << c.value;
    EXPECT_EQ(GetIni(), c.file + c.storedLine + "\r\n");
    EXPECT_EQ(ReadSetting("K", "s"), c.value);
  }
  EXPECT_TRUE(LooksLikeUtf8Text(kGbkLooksLikeUtf8));  // what the second case rests on
}

TEST_F(SettingsEncoding, Utf8MarkIsKept) {
  PutIni("\xEF\xBB\xBF[setup]\nBOOT=0\n");
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_EQ(GetIni(), "\xEF\xBB\xBF[setup]\nBOOT=1\n");
  EXPECT_EQ(ReadSettingInt("setup", "BOOT"), 1);
  PutIni("\xEF\xBB\xBF");
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  EXPECT_EQ(GetIni(), "\xEF\xBB\xBF[setup]\r\nBOOT=1\r\n");
}

TEST(TextEncoding, Utf8ValidityRejectsMalformedSequences) {
  EXPECT_TRUE(IsValidUtf8("a\xC2\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF"));
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xF0\x8F\xBF\xBF",  // overlong
                          "\xED\xA0\x80",                                  // a surrogate
                          "\xF4\x90\x80\x80",                              // above U+10FFFF
                          "\xE5\xAD", "\x80"}) {  // cut short; a lone continuation byte
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

TEST(TextEncoding, UndecodableBytesBecomeReplacementCharacters) {
  EXPECT_EQ(DecodeToUtf8("a\xFF" "b", TextEncoding::Utf8), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(DecodeToUtf8("\x81\x20x", TextEncoding::Gb18030), "\xEF\xBF\xBD x");
  // A lone high surrogate, then 'A'.
  EXPECT_EQ(DecodeToUtf8(std::string("\x00\xD8\x41\x00", 4), TextEncoding::Utf16Le),
            "\xEF\xBF\xBD" "A");
  // 'A', then half a code unit.
  EXPECT_EQ(DecodeToUtf8(std::string("A\x00\x42", 3), TextEncoding::Utf16Le), "A\xEF\xBF\xBD");
}
