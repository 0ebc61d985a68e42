// --watch on a terminal: one line per slot redrawn in place (slot, state,
// time in that state) under the log lines, and the tally; on a pipe one plain
// line per change; with --json the slot-state and tally events instead.
#pragma once

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <string>

#include "events/event_writer.h"

struct Tally {
  long written = 0;
  long failed = 0;
  long interrupted = 0;  // cut by a stop: neither written nor failed
  // Boards (written or failed) per hour of the session; none while too early to say.
  std::optional<double> perHour;

  bool operator==(const Tally&) const = default;
};

std::string TallyText(const Tally& tally);

struct SlotLine {
  std::string text;  // "writing RCDB 45%"
  long seconds = 0;  // in this state
  Event data;        // the same for a program: state, present, device, item, percent, reason
};

class SlotView {
 public:
  enum class Mode { kTerminal, kPlain, kJson };
  explicit SlotView(Mode mode) : mode_(mode) {}

  // A child's log line or box, with its slot in front.
  void Line(const std::string& slot, const std::string& text);
  // A line of the station itself.
  void Note(const std::string& text);
  // The slots and the tally; shown when anything changed (the terminal also
  // redraws the times).
  void Show(const std::map<std::string, SlotLine>& slots, const Tally& tally);
  // The last drawing stays on the terminal; what follows goes below it.
  void Keep() { drawnLines_ = 0; }

 private:
  void Erase();

  Mode mode_;
  int drawnLines_ = 0;
  std::map<std::string, std::string> shown_;
  Tally shownTally_;
};
