// What the engine shows the operator: progress bar, log lines, status line and
// the failure and time-out boxes.
#pragma once

#include <cstdint>
#include <string>

// Progress bar range 0 .. g_transfer.blockCount.
void SetProgressRange();
void SetProgressPos(int pos);
// Local time as "%H:%M:%S"; empty when it cannot be had.
std::string TimeText();
// Time stamp followed directly by the text of key number; appended when add is
// true; in either case the last line of the list is selected.
void LogLine(int messageNumber, bool add);
// The end of a failed transfer: S0052 text read, busy cleared, status line set,
// S0011 read, box shown, progress back to 0.
void ReportFailure();
// "超时重发" box whose text is the block number in decimal.
void ShowTimeoutBox(int blockIndex);
