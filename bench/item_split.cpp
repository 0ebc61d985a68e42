#include "bench/item_split.h"

namespace bench {

std::vector<sim::Micros> SplitAtCompletionLines(const std::vector<std::string>& completions,
                                                const std::vector<TimedLine>& lines, sim::Micros end) {
  std::vector<sim::Micros> times;
  sim::Micros from = 0;
  std::size_t line = 0;
  for (std::size_t i = 0; i < completions.size(); ++i) {
    sim::Micros to = end;
    if (i + 1 < completions.size()) {
      if (completions[i].empty()) return {};
      while (line < lines.size() && lines[line].text.find(completions[i]) == std::string::npos) ++line;
      if (line == lines.size()) return {};
      to = lines[line++].at;
    }
    times.push_back(to - from);
    from = to;
  }
  return times;
}

}  // namespace bench
