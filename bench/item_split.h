// Where each item of a batch ends: at its completion line in the program's
// log, in every run alike (the in-process host's, tamsolt-cli's, the floor's).
// An item's time so holds the reading and checking of its own file, which
// happen after the previous item's completion line.
#pragma once

#include <string>
#include <vector>

#include "sim/device_model.h"

namespace bench {

struct TimedLine {
  sim::Micros at = 0;  // since the run started
  std::string text;
};

// Each item's time from a program's time-stamped lines: item i ends at the
// first line after the previous item's end that contains completions[i]; the
// last item ends at `end`. Empty when a completion line is missing.
std::vector<sim::Micros> SplitAtCompletionLines(const std::vector<std::string>& completions,
                                                const std::vector<TimedLine>& lines, sim::Micros end);

}  // namespace bench
