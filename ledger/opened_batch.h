// The board the engine's batch has just opened, told to the recorder as both
// programs record it: the device's BUS:ADDR and hub port, and a row per
// queued item with its path and whether it is pinned.
#pragma once

#include "ledger/board_recorder.h"

void RecordOpenedBatchDevice(BoardRecorder& recorder);
