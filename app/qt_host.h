// The window's side of the engine: window timers, sleeping, the message pump,
// the progress bar, the log list, the status line, the rows and message boxes,
// all on the main dialog's controls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <QObject>

#include "app/window_recording.h"
#include "engine/engine_host.h"

class CTamsoltDlg;
class QTimer;

class QtEngineHost final : public QObject, public EngineHost {
  Q_OBJECT

 public:
  // Shows one message and returns once it is dismissed.
  using MessagePresenter =
      std::function<void(const std::string& text, const std::string& title, MessageIcon icon)>;

  // Called at every timer tick with the timer's id.
  using TimerHandler = std::function<void(std::uint32_t id)>;

  explicit QtEngineHost(CTamsoltDlg& dialog);
  ~QtEngineHost() override;

  // Replaces the modal message box (tests record and dismiss); empty restores it.
  void SetMessagePresenter(MessagePresenter presenter);
  // Replaces the engine's OnTimer as the tick handler (tests); empty restores it.
  void SetTimerHandler(TimerHandler handler);
  bool IsTimerRunning(std::uint32_t id) const;

  void ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) override;
  // One time-stamped line in the log list, as the engine's own lines.
  void ShowPermissionHint(const std::string& text) override;
  void SetTimer(std::uint32_t id, std::uint32_t periodMs) override;
  void KillTimer(std::uint32_t id) override;
  void Sleep(std::uint32_t ms) override;
  void PumpMessages() override;
  void SetBarRange(std::uint16_t low, std::uint16_t high) override;
  void SetBarPos(int pos) override;
  void AppendLogLine(const std::string& line) override;
  int LogLineCount() override;
  void SelectLogLine(int index) override;
  void ClearLog() override;
  void SetStatusText(const std::string& text) override;
  bool IsRowChecked(std::uint8_t kind) override;
  std::string RowPath(std::uint8_t kind) override;
  // The ledger's record of each batch (app/window_recording.h).
  void BatchDeviceOpened() override { recording_.DeviceOpened(); }
  void BatchItemStarted(std::uint8_t kind, const std::string&, std::uint64_t bytes,
                        const std::string& sha256) override {
    recording_.ItemStarted(kind, bytes, sha256);
  }
  void BatchItemFinished(std::uint8_t kind) override { recording_.ItemFinished(kind); }
  void TransferEndAnswered() override { recording_.EndAnswered(); }

 private:
  void Tick(std::uint32_t id);
  void ShowMessageBox(const std::string& text, const std::string& title, MessageIcon icon);

  CTamsoltDlg& dialog_;
  MessagePresenter presenter_;
  TimerHandler timerHandler_;
  std::map<std::uint32_t, std::unique_ptr<QTimer>> timers_;
  WindowRecording recording_;
};
