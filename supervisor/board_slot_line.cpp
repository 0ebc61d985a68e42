#include "supervisor/board_slot_line.h"

#include "events/exit_codes.h"

SlotLine WritingSlotLine(const std::string& device, const std::string& item, int percent, long seconds) {
  Event data = {{"state", "writing"}, {"present", true}, {"device", device}, {"taken", true}};
  if (item.empty()) return {"writing", seconds, std::move(data)};
  data["item"] = item;
  data["percent"] = percent;
  return {"writing " + item + " " + std::to_string(percent) + "%", seconds, std::move(data)};
}

SlotLine EndedSlotLine(const std::string& device, int exitCode, const std::string& reason,
                       const std::string& reasonKind) {
  Event data = {{"present", true}, {"device", device}, {"taken", true}};
  if (exitCode == AsInt(ExitCode::kDone) || exitCode == AsInt(ExitCode::kRecordLost)) {
    data["state"] = "done";
    return {"done", 0, std::move(data)};
  }
  const bool interrupted = exitCode == AsInt(ExitCode::kInterrupted);
  const std::string why = reason.empty() ? ExitCodeMeaning(exitCode) : reason;
  data["state"] = interrupted ? "interrupted" : "failed";
  data["reason"] = why;
  data["reason_kind"] = reason.empty() ? "exit" : reasonKind;
  return {(interrupted ? "interrupted: " : "failed: ") + why, 0, std::move(data)};
}
