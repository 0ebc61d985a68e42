// One operator session on the real window: a private setting.ini with the
// shipped texts, source files placed on the rows, the main dialog with its
// message boxes recorded and dismissed, the batch button pressed with the
// mouse, and what the emulated device stored read back from its --out folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <QTemporaryDir>

#include "demo/device_check.h"
#include "demo/expected_images.h"
#include "link/operator_messages.h"

class CTamsoltDlg;

struct ShownBox {
  std::string text;
  std::string title;
  MessageIcon icon;
};

// The device's counters from summary.txt: command code -> frames, "exchanges".
struct DeviceSummary {
  std::map<int, int> commands;
  int exchanges = -1;  // -1: no summary written
  int CommandCount(int code) const;
};

class BatchWindowSession {
 public:
  // receivedDir: the folder the runner's --out names.
  explicit BatchWindowSession(std::filesystem::path receivedDir);
  ~BatchWindowSession();

  bool Ready() const { return ready_; }

  // Writes the row's source file and enables the row in setting.ini (before OpenWindow).
  std::filesystem::path PlaceRow(std::uint8_t kind, const Bytes& file, const char* extension);
  // The rows placed so far, in kind order, as the device check takes them.
  std::vector<SourceFile> Sources() const;
  // Rewrites a row's file in place (between two presses).
  bool ReplaceFile(std::uint8_t kind, const Bytes& file);

  // The main dialog as the operator gets it after start-up, shown offscreen.
  CTamsoltDlg& OpenWindow();
  CTamsoltDlg& Window() { return *dialog_; }

  // Clears the device's folder, clicks button 1047 and runs the event loop
  // until a box has been shown and no transfer runs, or timeoutMs pass.
  // False on the time-out.
  bool PressBatchAndWait(int timeoutMs = 60000);

  const std::vector<ShownBox>& Boxes() const { return boxes_; }
  void ForgetBoxes() { boxes_.clear(); }
  std::vector<std::string> LogLines() const;

  // A stored image (boot, host, rcdb, font, lang, fv, bmp, pic, tdb); empty when absent.
  Bytes Received(const char* name) const;
  bool WasReceived(const char* name) const;
  DeviceSummary Summary() const;

  // What happened, for a reader of the test's output.
  void PrintOutcome() const;

 private:
  void ClearReceived() const;

  QTemporaryDir folder_;
  std::filesystem::path receivedDir_;
  std::map<std::uint8_t, std::filesystem::path> rowFiles_;
  std::unique_ptr<CTamsoltDlg> dialog_;
  std::vector<ShownBox> boxes_;
  bool ready_ = false;
};

// Kind k's image name in the device's folder.
const char* StoredName(std::uint8_t kind);
