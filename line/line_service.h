// tamsolt-line: the line page and its JSON API over HTTP, and a WebSocket
// (/api/v1/live) on which every open page hears of each change at once. The
// line database's notifications (channel tamsolt_line) are listened to on a
// connection of their own; each is passed on to the pages as
// {"changed":"STATION"} at most every 100 ms, and the page asks again.
#pragma once

#include <QHttpServer>
#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <QWebSocket>

#include <memory>
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
  void Tell(const std::string& station);

  const LineSettings settings_;
  QHttpServer http_;
  std::unique_ptr<PgConnection> db_;        // the answers'
  std::unique_ptr<PgConnection> listener_;  // LISTEN tamsolt_line
  std::unique_ptr<QSocketNotifier> heard_;
  QTimer relisten_;                         // the listener again after it broke
  QTimer gather_;                           // notifications in one push
  std::set<std::string> changed_;
  std::vector<std::unique_ptr<QWebSocket>> pages_;
};
