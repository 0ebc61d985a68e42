// The message table: texts read at each use, and the shipped setting.ini.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "settings/messages.h"
#include "settings/settings.h"
#include "settings/text_encoding.h"
#include "link/operator_messages.h"
#include "settings_test_files.h"

namespace {

struct ShownMessage {
  std::string text;
  std::string title;
  MessageIcon icon;
};

class RecordingMessages : public OperatorMessages {
 public:
  // Called while the box is up; lets a test edit the file in between.
  std::function<void()> whileShown;
  std::vector<ShownMessage> shown;

  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    shown.push_back({text, title, icon});
    if (whileShown) whileShown();
  }
};

class MessageTable : public SettingsFileTest {
 protected:
  void SetUp() override {
    SettingsFileTest::SetUp();
    SetOperatorMessages(&sink_);
  }
  void TearDown() override {
    SetOperatorMessages(nullptr);
    SettingsFileTest::TearDown();
  }
  RecordingMessages sink_;
};

const std::string kShippedIni = std::string(TAMSOLT_SOURCE_DIR) + "/res/setting.ini";

}  // namespace

TEST_F(MessageTable, BoxReadsTextAndTitleAtEachShowing) {
  PutIni("[Strings]\nS0011=title one\nS0052=text one\n");
  // The operator edits the file while the first box is up.
  sink_.whileShown = [this] {
    sink_.whileShown = nullptr;
    PutIni("[Strings]\nS0011=title two\nS0052=text two\n");
  };
  ShowTableMessage(kMsgNoReply);
  ShowTableMessage(kMsgNoReply, MessageIcon::Error);
  ASSERT_EQ(sink_.shown.size(), 2u);
  EXPECT_EQ(sink_.shown[0].text, "text one");
  EXPECT_EQ(sink_.shown[0].title, "title one");
  EXPECT_EQ(sink_.shown[0].icon, MessageIcon::Warning);
  EXPECT_EQ(sink_.shown[1].text, "text two");
  EXPECT_EQ(sink_.shown[1].title, "title two");
  EXPECT_EQ(sink_.shown[1].icon, MessageIcon::Error);
}

TEST(ShippedSettings, IsCrLfUtf8WithoutMark) {
  const std::string bytes = SettingsFileTest::Get(kShippedIni);
  ASSERT_FALSE(bytes.empty()) << kShippedIni;
  EXPECT_EQ(DetectTextEncoding(bytes), TextEncoding::Utf8);
  for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1)) {
    ASSERT_TRUE(i > 0 && bytes[i - 1] == '\r') << "bare LF at byte " << i;
  }
  EXPECT_TRUE(bytes.ends_with("\r\n"));
}

TEST(ShippedSettings, HoldsEveryTextAndTheBuiltInCaptions) {
  for (int n = 0; n < kMessageCount; ++n) {
    EXPECT_FALSE(ReadProfileString(kShippedIni, "Strings", MessageKey(n)).empty()) << n;
  }
  EXPECT_EQ(ReadProfileString(kShippedIni, "Strings", MessageKey(kMessageCount)), "");
  const char* captions[] = {"VX742程序下载工具 V1.00.08", "引导程序(*.bin)", "主机程序(*.bin)",
                            "字体库(*.pack)", "语言包(*.lang)", "语音报号(*.fv)",
                            "开机图片(*.bmp)--最大支持160*128像素大小", "图片资源包[*.pic]",
                            "调测批写[*.tdb]", "批量下载"};
  for (int n = 0; n <= kMsgBatchButton; ++n) {
    EXPECT_EQ(ReadProfileString(kShippedIni, "Strings", MessageKey(n)), captions[n]) << n;
  }
  EXPECT_EQ(ReadProfileString(kShippedIni, "Strings", MessageKey(kMsgTitle)), "提示");
}

TEST_F(MessageTable, ShippedFileStartsWithNoRowsAndTakesThemInItsOwnSections) {
  const std::string shipped = Get(kShippedIni);
  PutIni(shipped);
  for (const char* kind : {"BOOT", "HOST", "RCDB", "FONT", "LANG", "FV", "BMP", "PIC", "TDB"}) {
    EXPECT_EQ(ReadSettingInt("setup", kind, 9), 9) << kind;
    EXPECT_EQ(ReadSetting(kind, "PATH"), "") << kind;
  }
  ASSERT_TRUE(WriteSetting("setup", "BOOT", "1"));
  ASSERT_TRUE(WriteSetting("PATH", "BOOT", "/images/boot.bin"));
  std::string expected = shipped;
  expected.insert(expected.find("[setup]\r\n") + 9, "BOOT=1\r\n");
  expected.insert(expected.find("[PATH]\r\n") + 8, "BOOT=/images/boot.bin\r\n");
  EXPECT_EQ(GetIni(), expected);
}
