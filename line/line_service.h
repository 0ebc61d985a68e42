// tamsolt-line: the line page and its JSON API over HTTP, and a WebSocket
// (/api/v1/live) on which every open page hears of each change at once. The
// line database's notifications (channel tamsolt_line) are listened to on a
// connection of their own and passed on to the pages at most every 100 ms as
// {"changed":["STATION",...]}, and the page asks again. The stations' answer
// is made once for every page that asks until the next change (or for a
// second), so a busy line with many pages open costs the database one
// question per change, not one per page.
#pragma once

#include <QHttpServer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebSocket>

#include <chrono>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "line/line_settings.h"
#include "linedb/pg_connection.h"

class LineService : public QObject {
 public:
  explicit LineService(LineSettings settings, QObject* parent = nullptr);
  ~LineService() override;

  // The port listened on (the settings' or, given 0, the one chosen); 0 when
  // the address cannot be listened on.
  quint16 Listen();

 private:
  QHttpServerResponse Answer(const QHttpServerRequest& request, const std::string& path);
  bool Allowed(const QByteArray& authorization) const;
  PgConnection& Database();
  void Listening();
  void Heard();
  void Accept();
  // stations: null after the service (re)connects to the database: anything may have changed.
  void Tell(const std::optional<std::set<std::string>>& stations);
  QHttpServerResponse Stations(PgConnection& db);

  const LineSettings settings_;
  QHttpServer http_;
  std::unique_ptr<PgConnection> db_;        // the answers'
  std::unique_ptr<PgConnection> listener_;  // LISTEN tamsolt_line
  std::unique_ptr<QSocketNotifier> heard_;
  QTimer relisten_;                         // the listener again after it broke
  QTimer gather_;                           // notifications in one push
  std::set<std::string> changed_;
  std::optional<std::string> stations_;     // the stations' answer made since the last change
  std::chrono::steady_clock::time_point stationsMade_;
  std::vector<std::unique_ptr<QWebSocket>> pages_;
};
