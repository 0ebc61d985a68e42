#include "engine/progress_log.h"

#include <cstdio>
#include <ctime>

#include "settings/messages.h"
#include "engine/engine_host.h"
#include "record/transfer_context.h"

void SetProgressRange() { Host().SetBarRange(0, g_transfer.blockCount); }

void SetProgressPos(int pos) { Host().SetBarPos(pos); }

std::string TimeText() {
  const std::time_t now = Host().Now();
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {};
  char text[128];
  const std::size_t length = std::strftime(text, sizeof text, kTimeFormat, &local);
  return length == 0 ? std::string() : std::string(text, length);
}

void LogLine(int messageNumber, bool add) {
  const std::string line = TimeText() + MessageText(messageNumber);
  EngineHost& host = Host();
  if (add) host.AppendLogLine(line);
  // Selecting the last line keeps the newest entry in view.
  host.SelectLogLine(host.LogLineCount() - 1);
}

void ReportFailure() {
  const std::string text = MessageText(kMsgNoReply);
  g_transfer.busy = 0;
  Host().SetStatusText(text);
  const std::string title = MessageText(kMsgTitle);
  Host().ShowMessage(text, title, MessageIcon::Warning);
  SetProgressPos(0);
}

void ShowTimeoutBox(int blockIndex) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", blockIndex);
  Host().ShowMessage(text, kTextTimeoutTitle, MessageIcon::Warning);
}
