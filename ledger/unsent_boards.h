// The ledger's side of the forwarding to the line database: the finished
// boards not yet forwarded, oldest first, each read as the line database
// stores it, and the mark set once the line database has committed one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ledger/ledger.h"
#include "linedb/line_board.h"

// Ids of the finished boards without forwarded_utc, oldest first; nothing
// (error set) when the ledger cannot be read.
std::optional<std::vector<std::int64_t>> UnsentBoardIds(const Ledger& ledger, std::string& error);

// Board id with its images in the order of the run.
std::optional<LineBoard> ReadUnsentBoard(const Ledger& ledger, std::int64_t id, std::string& error);

// Sets forwarded_utc to now, once (a second process that marked it first
// wins). Only after the line database has committed the board: a mark lost
// sends it again, which stores nothing twice.
bool MarkBoardForwarded(const Ledger& ledger, std::int64_t id, std::string& error);

// The forwarder's connection commits its marks without waiting for the disk:
// a mark lost to a power cut only sends the board again. Without this each
// board's mark costs a disk flush, most of a backlog's forwarding time.
void MarkWithoutDiskFlush(const Ledger& ledger);

// How many finished boards still wait.
std::optional<std::int64_t> CountUnsentBoards(const Ledger& ledger, std::string& error);
