// Progress, status and log as the engine makes them, on a recording host: the
// log line's form, the order of a failure report and the time-out box.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "settings/messages.h"
#include "settings/settings.h"
#include "engine/engine_host.h"
#include "engine/progress_log.h"
#include "record/transfer_context.h"

namespace {

class RecordingHost : public EngineHost {
 public:
  std::vector<std::string> calls;
  std::vector<std::string> log;
  int selected = -2;
  std::time_t now = 0;
  std::function<void()> onStatus;
  std::function<void()> onMessage;

  void SetTimer(std::uint32_t, std::uint32_t) override { calls.push_back("SetTimer"); }
  void KillTimer(std::uint32_t) override { calls.push_back("KillTimer"); }
  void Sleep(std::uint32_t) override { calls.push_back("Sleep"); }
  void PumpMessages() override { calls.push_back("Pump"); }
  void SetBarRange(std::uint16_t low, std::uint16_t high) override {
    calls.push_back("Range " + std::to_string(low) + ".." + std::to_string(high));
  }
  void SetBarPos(int pos) override { calls.push_back("Pos " + std::to_string(pos)); }
  void AppendLogLine(const std::string& line) override {
    calls.push_back("Append " + line);
    log.push_back(line);
  }
  int LogLineCount() override { return static_cast<int>(log.size()); }
  void SelectLogLine(int index) override {
    calls.push_back("Select " + std::to_string(index));
    selected = index;
  }
  void ClearLog() override { calls.push_back("Clear"); }
  void SetStatusText(const std::string& text) override {
    calls.push_back("Status " + text + " busy=" + std::to_string(g_transfer.busy));
    if (onStatus) onStatus();
  }
  bool IsRowChecked(std::uint8_t) override { return false; }
  std::string RowPath(std::uint8_t) override { return {}; }
  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override {
    calls.push_back("Box " + text + " | " + title + (icon == MessageIcon::Warning ? " | warning" : " | error") +
                    " busy=" + std::to_string(g_transfer.busy));
    if (onMessage) onMessage();
  }
  std::time_t Now() override { return now; }
};

class ProgressLog : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC0", 1);
    tzset();
    std::string pattern =
        (std::filesystem::temp_directory_path() / "tamsolt-progress-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    g_iniPath = (folder_ / "setting.ini").string();
    host_.now = 9 * 3600 + 5 * 60 + 7;  // 09:05:07
    SetEngineHost(&host_);
  }
  void TearDown() override {
    SetEngineHost(nullptr);
    g_transfer.busy = 0;
    g_transfer.blockCount = 0;
    g_iniPath.clear();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  static void SetText(int number, const std::string& text) {
    ASSERT_TRUE(WriteSetting("Strings", MessageKey(number), text));
  }

  std::filesystem::path folder_;
  RecordingHost host_;
};

TEST_F(ProgressLog, TimeTextIsHoursMinutesSecondsOfLocalTime) {
  EXPECT_EQ(TimeText(), "09:05:07");
  host_.now = 23 * 3600 + 59 * 60 + 59;
  EXPECT_EQ(TimeText(), "23:59:59");
  setenv("TZ", "CST-8", 1);  // the factory's time zone: UTC+8
  tzset();
  EXPECT_EQ(TimeText(), "07:59:59");
  host_.now = std::numeric_limits<std::time_t>::max();  // no calendar time for it
  EXPECT_EQ(TimeText(), "");
}

TEST_F(ProgressLog, LogLineIsTheTimeImmediatelyFollowedByTheTextAndSelected) {
  SetText(33, "开始下载主机程序");
  LogLine(33, true);
  LogLine(34, true);  // empty text: the time alone
  EXPECT_EQ(host_.log, (std::vector<std::string>{"09:05:07开始下载主机程序", "09:05:07"}));
  EXPECT_EQ(host_.selected, 1);
  // A line not added still selects the last one.
  host_.calls.clear();
  LogLine(33, false);
  EXPECT_EQ(host_.calls, std::vector<std::string>{"Select 1"});
  host_.log.clear();
  LogLine(33, false);  // empty list: nothing to select
  EXPECT_EQ(host_.selected, -1);
}

TEST_F(ProgressLog, FailureReportRunsInItsOrder) {
  SetText(52, "通信失败");
  SetText(11, "标题");
  g_transfer.busy = 1;
  // Texts changed while the report runs show which were read when.
  host_.onStatus = [] {
    SetText(52, "改过的失败");
    SetText(11, "新标题");
  };
  ReportFailure();
  EXPECT_EQ(host_.calls, (std::vector<std::string>{
                             "Status 通信失败 busy=0",
                             "Box 通信失败 | 新标题 | warning busy=0",
                             "Pos 0",
                         }));
  EXPECT_EQ(g_transfer.busy, 0);
}

TEST_F(ProgressLog, TimeoutBoxTextIsTheBlockNumber) {
  ShowTimeoutBox(17);
  ShowTimeoutBox(0);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"Box 17 | 超时重发 | warning busy=0",
                                                   "Box 0 | 超时重发 | warning busy=0"}));
}

}  // namespace
