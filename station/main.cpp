// tamsolt-station: every slot of a station at a glance.
//   tamsolt-station                            runs tamsolt-cli --watch --json beside it
//   tamsolt-station --replay FILE              draws a recorded event stream instead
//   tamsolt-station --replay FILE --screenshot OUT.png   draws it into a PNG and exits
#include <cstdio>

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QStringList>
#include <QTranslator>

#include "events/event_reader.h"
#include "settings/settings.h"
#include "settings/settings_location.h"
#include "station/station_settings.h"
#include "station/station_window.h"
#include "station/stop_signals.h"

namespace {

QString ArgumentAfter(const QStringList& args, const QString& option) {
  const qsizetype at = args.indexOf(option);
  return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : QString();
}

// Feeds every line of a recorded stream; "now" is its last event's time.
bool Replay(StationWindow& window, const QString& file) {
  QFile in(file);
  if (!in.open(QIODevice::ReadOnly)) return false;
  qint64 last = 0;
  while (!in.atEnd()) {
    QByteArray line = in.readLine();
    if (line.endsWith('\n')) line.chop(1);
    if (const auto event = ParseEventLine(line.toStdString()); event && event->timeMs > last) {
      last = event->timeMs;
    }
    window.FeedLine(line);
  }
  window.SetClock([last] { return last; });
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  // Captions are Chinese; another locale gets its translation when there is one.
  QTranslator translator;
  if (translator.load(QLocale(), QStringLiteral("tamsolt_station"), QStringLiteral("_"),
                      QStringLiteral(":/i18n"))) {
    QApplication::installTranslator(&translator);
  }

  LocateSettingsFile();
  const QString settingsPath = QString::fromStdString(g_iniPath);
  const QString cli = QApplication::applicationDirPath() + QStringLiteral("/tamsolt-cli");
  StationWindow window(ReadStationSettings(g_iniPath), cli, settingsPath);
  window.resize(1366, 768);
  // Ctrl-C, SIGTERM and SIGHUP do what Stop does (the CLI, in a session of
  // its own, hears only the window); with nothing running they close it.
  StopSignals stopSignals;
  QObject::connect(&stopSignals, &StopSignals::received, &window, &StationWindow::StopSignalled);

  const QStringList args = QApplication::arguments();
  const QString replay = ArgumentAfter(args, QStringLiteral("--replay"));
  const QString screenshot = ArgumentAfter(args, QStringLiteral("--screenshot"));
  if (args.contains(QStringLiteral("--replay")) || args.contains(QStringLiteral("--screenshot"))) {
    if (replay.isEmpty()) {
      std::fprintf(stderr, "usage: tamsolt-station [--replay EVENTS.jsonl [--screenshot OUT.png]]\n");
      return 2;
    }
    window.SetReplay(true);
    if (!Replay(window, replay)) {
      std::fprintf(stderr, "tamsolt-station: cannot read %s\n", qPrintable(replay));
      return 2;
    }
  }
  window.show();
  if (!screenshot.isEmpty()) {
    QApplication::processEvents();
    if (!window.grab().save(screenshot, "PNG")) {
      std::fprintf(stderr, "tamsolt-station: could not write %s\n", qPrintable(screenshot));
      return 1;
    }
    return 0;
  }
  if (replay.isEmpty()) window.RefreshReport();
  return QApplication::exec();
}
