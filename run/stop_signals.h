// SIGINT, SIGTERM and SIGHUP stop a run. They are blocked for the whole
// program and read where the program waits (its timer loop, its sleeps, the
// station's poll), so a stop happens between two frames, never inside a
// handler. SIGPIPE is ignored: a reader that goes away must not end a transfer.
#pragma once

#include <chrono>

#include "engine/precise_pause.h"

// Blocks the stop signals and ignores SIGPIPE; call first in main.
void InstallStopSignals();
// A descriptor that is readable while a stop signal is pending (for poll).
int StopSignalFd();
// The pending stop signal, taken; 0 when none.
int TakeStopSignal();
// Sleeps up to timeout; returns early with the stop signal that came (0: none).
int WaitForStopSignal(std::chrono::milliseconds timeout);
// The same until `deadline`, paused with `method`: the engine's pacing waits
// with the hosts' precise pause, as the window does.
int WaitForStopSignalUntil(std::chrono::steady_clock::time_point deadline, PauseMethod method);
// In a child between fork and exec: the signal mask and SIGPIPE as a fresh
// program gets them.
void ResetStopSignalsForExec();
// "SIGINT", "SIGTERM", "SIGHUP" (else "signal N").
const char* StopSignalName(int signal);
