// The station window: every slot of a station at a glance. It runs
// `tamsolt-cli --watch --json` and draws only from its events; it never drives
// a device itself.
#pragma once

#include <QProcess>
#include <QWidget>
#include <functional>
#include <map>
#include <string>

#include "station/cli_process.h"
#include "station/slot_model.h"
#include "station/station_settings.h"
#include "station/today_report.h"

class QGridLayout;
class QLabel;
class QPushButton;
class QTimer;
class SlotTile;

class StationWindow : public QWidget {
  Q_OBJECT

 public:
  // cliProgram: the tamsolt-cli beside this program; settingsPath: the settings file in use.
  StationWindow(const StationSettings& settings, QString cliProgram, QString settingsPath,
                QWidget* parent = nullptr);
  ~StationWindow() override;

  // One line of the CLI's standard output, as it arrives.
  void FeedLine(const QByteArray& line);
  // Starts the CLI; Stop asks it to stop, a second Stop interrupts.
  void Start();
  void Stop();
  // A stop signal (SIGINT, SIGTERM, SIGHUP): a press of Stop while the CLI
  // runs; with none running, closes the window.
  void StopSignalled();
  void RefreshReport();
  void ShowReport(const std::optional<TodayReport>& report);

  // What "now" is for elapsed times and the rate (a replay uses its last event's time).
  void SetClock(std::function<qint64()> now);
  // Asked before closing while boards are writing; true closes (and interrupts them).
  void SetConfirmClose(std::function<bool()> confirm) { confirmClose_ = std::move(confirm); }
  // A replay draws a recorded stream: no CLI is started.
  void SetReplay(bool replay);

  const StationModel& Model() const { return model_; }
  const SlotTile* Tile(const std::string& port) const;
  const CliProcess& Cli() const { return cli_; }
  QString RowsText() const;
  QString TallyText() const;
  QString StatusText() const;
  QString RecordText() const;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  QStringList LedgerArguments() const;
  void Redraw();
  void PlaceTiles();
  void CliEnded(int exitCode, bool crashed);
  void SayStopping();
  bool ConfirmClose();

  StationSettings settings_;
  QString cliProgram_;
  QString settingsPath_;
  StationModel model_;
  CliProcess cli_;
  QProcess report_;
  std::function<qint64()> now_;
  std::function<bool()> confirmClose_;
  bool replay_ = false;
  int countedBoards_ = 0;

  QLabel* rows_;
  QLabel* tally_;
  QLabel* status_;
  QLabel* record_;
  QPushButton* start_;
  QPushButton* stop_;
  QGridLayout* grid_;
  QTimer* tick_;
  std::map<std::string, SlotTile*> tiles_;
};
