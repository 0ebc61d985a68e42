// A board that one writer writes from start to end (a child of --all, a
// single run) as a slot-state says it, in the station window's words:
// writing with its item and percentage, then done, failed or interrupted
// with its reason.
#pragma once

#include <string>

#include "supervisor/slot_view.h"

// seconds: since the writer started.
SlotLine WritingSlotLine(const std::string& device, const std::string& item, int percent, long seconds);
// exitCode: the writer's; reasonKind: "box" (the failure box's words),
// "interrupted", "exit" (only the exit code's word). Done and record lost
// (the board holds its images) are done.
SlotLine EndedSlotLine(const std::string& device, int exitCode, const std::string& reason,
                       const std::string& reasonKind);
