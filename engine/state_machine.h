// The timer-driven transfer: the timer id is the state. OnTimer (engine_host.h)
// is the entry point; these are the ids and what arms them.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kTimerConnect = 1;
inline constexpr std::uint32_t kTimerFirstBlock = 2;
inline constexpr std::uint32_t kTimerBlockLoop = 3;
inline constexpr std::uint32_t kTimerBegin = 4;
inline constexpr std::uint32_t kTimerFirstChunk = 5;
inline constexpr std::uint32_t kTimerChunkLoop = 6;
inline constexpr std::uint32_t kTimerRestart = 7;
inline constexpr std::uint32_t kTimerBeginAgain = 8;
inline constexpr std::uint32_t kTimerEnd = 9;
inline constexpr std::uint32_t kTimerDbPrepare = 10;
// After a restart the test-data head is acknowledged before the first chunk goes out.
inline constexpr std::uint32_t kTimerTestDataHead = 11;
inline constexpr std::uint32_t kTimerTestDataLoop = 12;

inline constexpr std::uint32_t kTimerPeriodMs = 10;
inline constexpr std::uint32_t kRestartDelayMs = 12000;
