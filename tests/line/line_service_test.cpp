// tamsolt-line's own behaviour beside its answers: a line database that comes
// back after the service started is listened to again, and every open page is
// told that anything may have changed.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTimer>
#include <QWebSocket>

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "line/line_service.h"
#include "linedb/line_schema.h"
#include "linedb/pg_connection.h"
#include "tests/linedb/line_server.h"

namespace {

// Runs the event loop until done() or the time is up; done() at the end.
bool Until(const std::function<bool()>& done, int ms) {
  QEventLoop loop;
  QTimer poll, limit;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done()) loop.quit();
  });
  QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
  poll.start(10);
  limit.start(ms);
  if (!done()) loop.exec();
  return done();
}

int StatusOf(QNetworkAccessManager& http, quint16 port, const char* path) {
  std::unique_ptr<QNetworkReply> reply(
      http.get(QNetworkRequest(QUrl(QString("http://127.0.0.1:%1%2").arg(port).arg(path)))));
  Until([&] { return reply->isFinished(); }, 5000);
  return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

}  // namespace

TEST(LineService, ADatabaseBackIsListenedToAgainAndEveryPageIsTold) {
  char name[] = "line_service_tests";
  char* argv[] = {name, nullptr};
  int argc = 1;
  QCoreApplication app(argc, argv);
  const std::string url = FreshLineDatabase();
  PgConnection admin(url);
  ASSERT_TRUE(EnsureLineSchema(admin)) << admin.Error();
  SwitchableServer server;  // down
  LineSettings settings;
  settings.url = server.Through(url);
  settings.port = 0;
  LineService service(settings);
  const quint16 port = service.Listen();
  ASSERT_NE(port, 0);
  QNetworkAccessManager http;
  http.setProxy(QNetworkProxy::NoProxy);
  EXPECT_EQ(StatusOf(http, port, "/api/v1/stations"), 503);

  QWebSocket page;
  page.setProxy(QNetworkProxy::NoProxy);
  std::vector<nlohmann::json> told;
  QObject::connect(&page, &QWebSocket::textMessageReceived,
                   [&](const QString& text) { told.push_back(nlohmann::json::parse(text.toStdString())); });
  page.open(QUrl(QString("ws://127.0.0.1:%1/api/v1/live").arg(port)));
  ASSERT_TRUE(Until([&] { return page.state() == QAbstractSocket::ConnectedState; }, 5000));

  server.Up();
  // It listens again within its 5 s, and says anything may have changed.
  ASSERT_TRUE(Until([&] { return !told.empty(); }, 8000));
  EXPECT_TRUE(told.back()["changed"].is_null()) << told.back().dump();
  EXPECT_EQ(StatusOf(http, port, "/api/v1/stations"), 200);
  // Then a station's change is told by its name.
  ASSERT_TRUE(admin.Exec("INSERT INTO line_stations (station, program_version, started_utc, heartbeat_utc)"
                         " VALUES ('st-a', '1.1.0', now(), now())"))
      << admin.Error();
  ASSERT_TRUE(Until([&] { return told.size() >= 2; }, 3000));
  EXPECT_EQ(told.back()["changed"], nlohmann::json::array({"st-a"}));
}
