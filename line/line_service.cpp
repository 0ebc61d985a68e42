#include "line/line_service.h"

#include <QFile>
#include <QHostAddress>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QUrlQuery>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <utility>

#include "line/line_answers.h"

namespace {

using namespace std::chrono_literals;

// The page's own files, compiled into the program: nothing comes from elsewhere.
struct PageFile {
  const char* path;
  const char* resource;
  const char* type;
};
constexpr PageFile kPageFiles[] = {
    {"/", ":/line/index.html", "text/html; charset=utf-8"},
    {"/line.js", ":/line/line.js", "text/javascript; charset=utf-8"},
    {"/line.css", ":/line/line.css", "text/css; charset=utf-8"},
};

QHttpServerResponse Json(const LineAnswer& answer) {
  QHttpServerResponse response("application/json", QByteArray::fromStdString(answer.json),
                               static_cast<QHttpServerResponse::StatusCode>(answer.status));
  response.setHeader("Cache-Control", "no-store");
  return response;
}

// Compared in full whatever differs first, so the time taken does not tell how much was right.
bool SameText(const QByteArray& a, const QByteArray& b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (qsizetype i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

std::string Value(const QUrlQuery& query, const char* key) {
  return query.queryItemValue(QString::fromLatin1(key), QUrl::FullyDecoded).toStdString();
}

}  // namespace

LineService::LineService(LineSettings settings, QObject* parent)
    : QObject(parent), settings_(std::move(settings)) {
  // The upgrade to the live WebSocket goes to Accept() once a route has
  // taken it; the route itself answers nothing (the socket is handed over).
  http_.route("/api/v1/live", [](const QHttpServerRequest& request, QHttpServerResponder&& responder) {
    if (request.value("Upgrade").compare("websocket", Qt::CaseInsensitive) != 0) {
      responder.write(QByteArray("/api/v1/live is a WebSocket\n"), "text/plain",
                      QHttpServerResponder::StatusCode::BadRequest);
    }
  });
  for (const char* path : {"/", "/line.js", "/line.css", "/api/v1/stations", "/api/v1/recipes", "/api/v1/yield",
                           "/api/v1/boards"}) {
    http_.route(QString::fromLatin1(path), [this, path](const QHttpServerRequest& request) {
      return Answer(request, path);
    });
  }
  http_.route("/api/v1/boards/<arg>", [this](const QString& uuid, const QHttpServerRequest& request) {
    return Answer(request, "/api/v1/boards/" + uuid.toStdString());
  });
  connect(&http_, &QHttpServer::newWebSocketConnection, this, &LineService::Accept);
  relisten_.setInterval(5s);
  relisten_.setSingleShot(true);
  connect(&relisten_, &QTimer::timeout, this, &LineService::Listening);
  gather_.setInterval(100ms);
  gather_.setSingleShot(true);
  connect(&gather_, &QTimer::timeout, this, [this] {
    Tell(changed_);
    changed_.clear();
  });
  Listening();
}

LineService::~LineService() = default;

quint16 LineService::Listen() {
  return http_.listen(QHostAddress(QString::fromStdString(settings_.address)),
                      static_cast<quint16>(settings_.port));
}

bool LineService::Allowed(const QByteArray& given) const {
  if (settings_.password.empty()) return true;
  if (!given.startsWith("Basic ")) return false;
  const QByteArray pair = QByteArray::fromBase64(given.mid(6));
  const qsizetype colon = pair.indexOf(':');
  return colon >= 0 && SameText(pair.mid(colon + 1), QByteArray::fromStdString(settings_.password));
}

PgConnection& LineService::Database() {
  if (!db_ || !db_->Ok()) {
    db_ = std::make_unique<PgConnection>(settings_.url);
    // Besides its role's rights: this service never writes.
    if (db_->Ok()) db_->Exec("SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY");
  }
  return *db_;
}

QHttpServerResponse LineService::Answer(const QHttpServerRequest& request, const std::string& path) {
  if (!Allowed(request.value("Authorization"))) {
    QHttpServerResponse response("text/plain", "the line page asks for its password\n",
                                 QHttpServerResponse::StatusCode::Unauthorized);
    response.setHeader("WWW-Authenticate", "Basic realm=\"tamsolt-line\", charset=\"UTF-8\"");
    return response;
  }
  if (request.method() != QHttpServerRequest::Method::Get) {
    return Json(Refusal(405, "the line page only reads"));
  }
  for (const PageFile& file : kPageFiles) {
    if (path != file.path) continue;
    QFile resource(QString::fromLatin1(file.resource));
    resource.open(QIODevice::ReadOnly);
    QHttpServerResponse response(file.type, resource.readAll());
    // Nothing on the page may come from another address, nor run from what a station sent.
    response.setHeader("Content-Security-Policy",
                       "default-src 'self'; connect-src 'self' ws: wss:; img-src 'self' data:");
    response.setHeader("X-Content-Type-Options", "nosniff");
    return response;
  }
  const QUrlQuery query(request.url());
  PgConnection& db = Database();
  if (!db.Ok()) return Json(Refusal(503, "the line database does not answer: " + db.Error()));
  if (path == "/api/v1/stations") return Stations(db);
  if (path == "/api/v1/recipes") return Json(RecipesAnswer(db));
  if (path == "/api/v1/yield") return Json(YieldAnswer(db, Value(query, "from"), Value(query, "to")));
  if (path == "/api/v1/boards") {
    const std::string limit = Value(query, "limit");
    int count = 50;
    try {
      if (!limit.empty()) count = std::stoi(limit);
    } catch (const std::exception&) {
      count = 0;
    }
    return Json(BoardsAnswer(db, Value(query, "station"), Value(query, "slot"), count, Value(query, "before")));
  }
  const std::string board = "/api/v1/boards/";
  if (path.rfind(board, 0) == 0) return Json(BoardAnswer(db, path.substr(board.size())));
  return Json(Refusal(404, "no such page or question: " + path));
}

QHttpServerResponse LineService::Stations(PgConnection& db) {
  // Anything changed is notified; the heartbeats' ages grow by themselves.
  if (stations_ && std::chrono::steady_clock::now() - stationsMade_ < 1s) {
    return Json(LineAnswer{200, *stations_});
  }
  const LineAnswer answer = StationsAnswer(db);
  if (answer.status == 200) {
    stations_ = answer.json;
    stationsMade_ = std::chrono::steady_clock::now();
  }
  return Json(answer);
}

void LineService::Listening() {
  stations_.reset();  // what changed while nobody listened is not known
  heard_.reset();
  listener_ = std::make_unique<PgConnection>(settings_.url);
  if (!listener_->Ok() || !listener_->Exec("LISTEN tamsolt_line")) {
    std::fprintf(stderr, "tamsolt-line: cannot listen to the line database (the pages ask again every 5 s): %s\n",
                 listener_->Error().c_str());
    listener_.reset();
    relisten_.start();
    // The pages ask again on their own while nobody tells them.
    Tell(std::nullopt);
    return;
  }
  heard_ = std::make_unique<QSocketNotifier>(listener_->Socket(), QSocketNotifier::Read);
  connect(heard_.get(), &QSocketNotifier::activated, this, &LineService::Heard);
  Tell(std::nullopt);  // whatever changed while nobody listened
}

void LineService::Heard() {
  std::vector<std::string> stations;
  if (!listener_ || !listener_->TakeNotifications(stations)) {
    stations_.reset();
    heard_.reset();
    listener_.reset();
    relisten_.start();
    return;
  }
  if (!stations.empty()) stations_.reset();  // the next page that asks is answered anew
  for (std::string& station : stations) changed_.insert(std::move(station));
  if (!changed_.empty() && !gather_.isActive()) gather_.start();
}

void LineService::Accept() {
  while (http_.hasPendingWebSocketConnections()) {
    std::unique_ptr<QWebSocket> page = http_.nextPendingWebSocketConnection();
    if (page->requestUrl().path() != QStringLiteral("/api/v1/live") ||
        !Allowed(page->request().rawHeader("Authorization"))) {
      page->close(QWebSocketProtocol::CloseCodePolicyViolated, QStringLiteral("not a live address"));
      page.release()->deleteLater();
      continue;
    }
    QWebSocket* socket = page.get();
    connect(socket, &QWebSocket::disconnected, this, [this, socket] {
      // Not deleted inside its own signal: after it.
      for (auto& held : pages_) {
        if (held.get() == socket) held.release()->deleteLater();
      }
      std::erase(pages_, nullptr);
    });
    pages_.push_back(std::move(page));
  }
}

void LineService::Tell(const std::optional<std::set<std::string>>& stations) {
  const nlohmann::json changed = stations ? nlohmann::json(*stations) : nlohmann::json(nullptr);
  const std::string text =
      nlohmann::json{{"changed", changed}}.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  const QString message = QString::fromStdString(text);
  for (const auto& page : pages_) page->sendTextMessage(message);
}
