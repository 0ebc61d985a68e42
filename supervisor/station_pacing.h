// The pace both station loops (--all and --watch) keep.
#pragma once

#include <chrono>

// How often the station looks at the bus and at its children.
inline constexpr int kScanPeriodMs = 250;
// How long stopped children may take to release their devices before they are killed.
inline constexpr auto kStopBound = std::chrono::seconds(5);
