// The narrow interface through which the engine reaches the window: timers,
// sleeping, the message pump, the progress bar, the log list, the status line,
// the rows and message boxes. The dialog implements it; engine tests fake it on
// a virtual clock. Nothing here includes a GUI header.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "link/operator_messages.h"

class EngineHost : public OperatorMessages {
 public:
  // Window timers: after SetTimer(id, period) the host calls OnTimer(id) every
  // period until KillTimer(id). SetTimer on a running id restarts it with the new
  // period; KillTimer of a timer that is not running does nothing.
  virtual void SetTimer(std::uint32_t id, std::uint32_t periodMs) = 0;
  virtual void KillTimer(std::uint32_t id) = 0;
  // Blocks the user-interface thread (the device's pacing).
  virtual void Sleep(std::uint32_t ms) = 0;
  // Handles every message already waiting (timer ticks that are due included), then returns.
  virtual void PumpMessages() = 0;

  // Progress bar 1024.
  virtual void SetBarRange(std::uint16_t low, std::uint16_t high) = 0;
  virtual void SetBarPos(int pos) = 0;
  // Log list 1061: lines stay in the order added.
  virtual void AppendLogLine(const std::string& line) = 0;
  virtual int LogLineCount() = 0;
  virtual void SelectLogLine(int index) = 0;
  virtual void ClearLog() = 0;
  // Status line 1051.
  virtual void SetStatusText(const std::string& text) = 0;

  // Rows: the check box state and the path field's current text (typed or browsed).
  virtual bool IsRowChecked(std::uint8_t kind) = 0;
  virtual std::string RowPath(std::uint8_t kind) = 0;

  // Wall-clock time for log time stamps.
  virtual std::time_t Now() { return std::time(nullptr); }

  // What a host may record of a batch (the ledger); nothing by default.
  // The device was opened for a batch that is about to begin.
  virtual void BatchDeviceOpened() {}
  // An item's file was read for sending: its size and SHA-256 as read.
  virtual void BatchItemStarted(std::uint8_t /*kind*/, const std::string& /*path*/,
                                std::uint64_t /*bytes*/, const std::string& /*sha256*/) {}
  // The device took the whole item.
  virtual void BatchItemFinished(std::uint8_t /*kind*/) {}
  // The device answered the end exchange of the last item: it holds every
  // image. What follows (closing the link, the close wait, the box) cannot
  // undo that.
  virtual void TransferEndAnswered() {}
};

// Installs the host (also as the operator-message sink); null removes it.
void SetEngineHost(EngineHost* host);
// The installed host. Calling it with none installed is a programming error.
EngineHost& Host();

// The dialog's timer handler: one step of the transfer state machine.
void OnTimer(std::uint32_t id);
