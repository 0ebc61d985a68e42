// The runner's --report: one line per device once everything has ended, for
// a test to grep what each board received and how its interface was let go.
#pragma once

#include <cstddef>
#include <string>

#include "sim/device_model.h"

namespace sim {

// "device K port PORT frames N rejected N interface HOW ended N" (no
// newline), HOW being released, closed-while-claimed, lost-on-leave or
// never-claimed, and ended the end exchanges the device answered.
// number counts from 1.
std::string ReportLine(std::size_t number, const std::string& port, const Summary& summary,
                       ClaimEnd claimEnd);

}  // namespace sim
