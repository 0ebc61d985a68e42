// Who records a running board: enough for a later program on this machine to
// tell whether that process still lives (a board whose writer was killed, by
// a power cut or the OOM killer, is closed by the next program, never left
// "running" for good).
#pragma once

#include <string>

// This process as "BOOT-ID PID-NAMESPACE PID START-TIME"; "" when /proc
// cannot say (the row is then never judged).
std::string ThisWriter();

enum class WriterState {
  kAlive,    // that process still runs
  kGone,     // it ended, or the machine has booted since
  kUnknown,  // another pid namespace (a container), or no writer recorded
};
WriterState JudgeWriter(const std::string& writer);

// The pid of a writer text, for messages; 0 when it has none.
long WriterPid(const std::string& writer);
