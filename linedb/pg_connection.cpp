#include "linedb/pg_connection.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <system_error>
#include <thread>

#include "linedb/host_lookup.h"

namespace {

// Why a wait that ended at its deadline ended: its own bound (seconds), or
// the time the host gave the line database in all.
std::string LateText(const char* what, std::chrono::milliseconds bound, bool ownBound) {
  if (!ownBound) return std::string(what) + " within the time this forward was given";
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(bound.count()) / 1000.0);
  return std::string(what) + " within " + seconds + " s";
}

bool Succeeded(const PGresult* result) {
  const ExecStatusType status = PQresultStatus(result);
  return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

// Where a connection string leads, as far as it can be known without libpq
// connecting: its host and port lists, or the environment's.
struct ConnectionTarget {
  std::string host;
  std::string port;
  bool mayLookUp = false;   // a hostaddr or a service file leaves the lookup to libpq
  std::string description;  // for a connection that never started
};

ConnectionTarget TargetOf(const std::string& connectionString) {
  ConnectionTarget target;
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connectionString.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return target;  // libpq says what is wrong with it
  std::map<std::string, std::string> given;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (option->val != nullptr && *option->val != '\0') given[option->keyword] = option->val;
  }
  PQconninfoFree(options);
  auto value = [&given](const char* keyword, const char* environment) {
    const auto found = given.find(keyword);
    const char* fallback = std::getenv(environment);
    return found != given.end() ? found->second : std::string(fallback != nullptr ? fallback : "");
  };
  auto shown = [](std::string text) { return text.empty() ? std::string("?") : text; };
  target.host = value("host", "PGHOST");
  target.port = value("port", "PGPORT");
  target.mayLookUp = !target.host.empty() && value("hostaddr", "PGHOSTADDR").empty() &&
                     value("service", "PGSERVICE").empty();
  target.description = "host=" + shown(target.host) + " db=" + shown(value("dbname", "PGDATABASE")) +
                       " user=" + shown(value("user", "PGUSER"));
  return target;
}

// Asks the server to cancel the statement under way, on a thread of its own:
// libpq's PQcancel waits until the server closes the request's connection,
// which a stalled server never does. A few at a time, so a server that holds
// them holds a few threads, not one per forward.
void CancelInBackground(PGconn* connection) {
  constexpr int kMostCancelsUnderWay = 4;
  static std::atomic<int> cancelling{0};
  if (++cancelling > kMostCancelsUnderWay) {
    --cancelling;
    return;
  }
  PGcancel* cancel = PQgetCancel(connection);
  try {
    if (cancel == nullptr) throw std::system_error(std::make_error_code(std::errc::not_enough_memory));
    std::thread([cancel] {
      char error[256];
      PQcancel(cancel, error, sizeof error);
      PQfreeCancel(cancel);
      --cancelling;
    }).detach();
  } catch (const std::system_error&) {
    PQfreeCancel(cancel);
    --cancelling;
  }
}

std::string Trimmed(const char* text) {
  std::string out = text != nullptr ? text : "";
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  return out;
}

// The userinfo password of a URI that libpq could not parse: between the
// first ':' after "://" and the last '@' before the host part.
std::string RawUriPassword(const std::string& uri) {
  const std::size_t scheme = uri.find("://");
  if (scheme == std::string::npos) return "";
  const std::size_t start = scheme + 3;
  const std::size_t hostEnd = uri.find_first_of("/?", start);
  const std::size_t at = uri.rfind('@', hostEnd == std::string::npos ? std::string::npos : hostEnd);
  if (at == std::string::npos || at < start) return "";
  const std::size_t colon = uri.find(':', start);
  if (colon == std::string::npos || colon > at) return "";
  return uri.substr(colon + 1, at - colon - 1);
}

// The length of the valid UTF-8 sequence at text[at], 0 when there is none.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  if (lead >= 0x01 && lead < 0x80) return 1;
  std::size_t length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                       : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
  }
  const unsigned char second = byte(at + 1);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||  // overlong, surrogate
      (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F)) {  // overlong, too large
    return 0;
  }
  return length;
}

}  // namespace

std::string AsPgText(std::string text) {
  std::string out;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t length = Utf8SequenceAt(text, at);
    if (length == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++at;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

std::string MaskPassword(std::string message, std::string_view password) {
  if (password.empty()) return message;
  for (std::size_t at = message.find(password); at != std::string::npos;
       at = message.find(password, at + 3)) {
    message.replace(at, password.size(), "***");
  }
  return message;
}

std::string PasswordIn(const std::string& connectionString) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(connectionString.c_str(), &error);
  PQfreemem(error);
  if (options == nullptr) return RawUriPassword(connectionString);
  std::string password;
  for (PQconninfoOption* option = options; option->keyword != nullptr; ++option) {
    if (std::string_view(option->keyword) == "password" && option->val != nullptr) {
      password = option->val;
    }
  }
  PQconninfoFree(options);
  return password;
}

PgConnection::PgConnection(const std::string& connectionString, PgWaitLimits limits)
    : limits_(limits), password_(PasswordIn(connectionString)) {
  Connect(connectionString);
  if (connection_) PQsetnonblocking(connection_.get(), 1);  // a full send buffer is waited for here
}

void PgConnection::Connect(const std::string& connectionString) {
  const SteadyTime connectBy = std::chrono::steady_clock::now() + kLineDbConnectTime;
  const SteadyTime deadline = std::min(limits_.deadline, connectBy);
  const std::string late = LateText("no connection", kLineDbConnectTime, connectBy <= limits_.deadline);
  const ConnectionTarget target = TargetOf(connectionString);
  // Names are looked up here, within the connect's time, and libpq is given
  // the addresses: its own lookup would block beyond any time-out.
  HostLookup lookup;
  if (target.mayLookUp) {
    lookup = LookUpHosts(target.host, target.port, limits_.stopFd, deadline);
    if (lookup.end != DescriptorWait::kReady || !lookup.error.empty()) {
      description_ = target.description;
      GiveUp(lookup.end, lookup.end != DescriptorWait::kTimedOut
                             ? lookup.error
                             : late + " (no address for \"" + target.host +
                                   "\": the name server does not answer)");
      return;
    }
  }
  // Defaults the string may change: a send cut half way on TCP (a pulled
  // cable) and a statement stuck behind a lock end on the server too. The
  // string is expanded then, and the values after it win: the short connect
  // time-out, UTF-8, which every text value is sent in (PgValue::Text), and
  // the addresses looked up.
  std::vector<const char*> keywords = {"keepalives_idle", "keepalives_interval", "keepalives_count",
                                       "tcp_user_timeout", "options", "dbname", "connect_timeout",
                                       "client_encoding", "fallback_application_name"};
  std::vector<const char*> values = {"10", "5", "3", "15000", "-c statement_timeout=30000",
                                     connectionString.c_str(), kLineDbConnectSeconds, "UTF8", "tamsolt"};
  if (const std::optional<HostTargets>& found = lookup.targets) {
    keywords.insert(keywords.end(), {"host", "hostaddr"});
    values.insert(values.end(), {found->host.c_str(), found->hostaddr.c_str()});
    if (!found->port.empty()) {
      keywords.push_back("port");
      values.push_back(found->port.c_str());
    }
  }
  keywords.push_back(nullptr);
  values.push_back(nullptr);
  connection_.reset(PQconnectStartParams(keywords.data(), values.data(), 1 /* expand dbname */));
  if (!connection_) {
    lastError_ = "out of memory";
    return;
  }
  // The server's notices ("already exists, skipping") would go to the host's
  // stderr: whatever matters comes back as an error instead.
  PQsetNoticeProcessor(connection_.get(), [](void*, const char*) {}, nullptr);
  auto part = [](const char* value) { return std::string(value != nullptr && *value ? value : "?"); };
  description_ = "host=" + part(PQhost(connection_.get())) + " db=" + part(PQdb(connection_.get())) +
                 " user=" + part(PQuser(connection_.get()));
  if (PQstatus(connection_.get()) == CONNECTION_BAD) return;
  for (PostgresPollingStatusType polling = PGRES_POLLING_WRITING;
       polling != PGRES_POLLING_OK && polling != PGRES_POLLING_FAILED;
       polling = PQconnectPoll(connection_.get())) {
    // The socket changes from one address to the next: asked for each time.
    const DescriptorWait end =
        WaitForDescriptor(PQsocket(connection_.get()), polling == PGRES_POLLING_READING ? POLLIN : POLLOUT,
                          limits_.stopFd, deadline);
    if (end != DescriptorWait::kReady) {
      GiveUp(end, late);
      return;
    }
  }
}

int PgConnection::Socket() const { return connection_ ? PQsocket(connection_.get()) : -1; }

bool PgConnection::TakeNotifications(std::vector<std::string>& payloads) {
  if (!connection_ || PQconsumeInput(connection_.get()) == 0) {
    if (connection_) lastError_ = PQerrorMessage(connection_.get());
    connection_.reset();
    return false;
  }
  while (PGnotify* notice = PQnotifies(connection_.get())) {
    payloads.emplace_back(notice->extra != nullptr ? notice->extra : "");
    PQfreemem(notice);
  }
  return true;
}

bool PgConnection::Ok() const {
  return connection_ && PQstatus(connection_.get()) == CONNECTION_OK;
}

void PgConnection::GiveUp(DescriptorWait end, const std::string& message) {
  gaveUp_ = end;
  lastState_.clear();
  lastError_ = end == DescriptorWait::kStopped ? "stopped while waiting for an answer" : message;
  if (connection_ && PQtransactionStatus(connection_.get()) == PQTRANS_ACTIVE) {
    CancelInBackground(connection_.get());
  }
  connection_.reset();  // closes the socket: the server ends the session
}

std::string PgConnection::Error() const {
  std::string message = !lastError_.empty() ? lastError_
                        : connection_      ? Trimmed(PQerrorMessage(connection_.get()))
                                           : "";
  return MaskPassword(std::move(message), password_);
}

std::string PgConnection::Describe() const {
  return MaskPassword(description_.empty() ? "host=? db=? user=?" : description_, password_);
}

std::string PgConnection::Option(std::string_view keyword) const {
  PQconninfoOption* options = connection_ ? PQconninfo(connection_.get()) : nullptr;
  std::string value;
  for (PQconninfoOption* option = options; option && option->keyword; ++option) {
    if (keyword == option->keyword && option->val != nullptr) value = option->val;
  }
  PQconninfoFree(options);
  return value;
}

PgResult PgConnection::Checked(PGresult* raw) {
  PgResult result(raw);
  if (!result && gaveUp_ != DescriptorWait::kReady) return nullptr;  // the message is set
  if (!result && !connection_) {
    if (lastError_.empty()) lastError_ = "no connection";
    return nullptr;
  }
  const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
  if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) {
    lastError_.clear();
    lastState_.clear();
    return result;
  }
  lastError_ = Trimmed(result ? PQresultErrorMessage(result.get()) : PQerrorMessage(connection_.get()));
  const char* state = result ? PQresultErrorField(result.get(), PG_DIAG_SQLSTATE) : nullptr;
  lastState_ = state != nullptr ? state : "";
  return nullptr;
}

PgResult PgConnection::Exec(const char* sql, const std::vector<PgValue>& values) {
  return Send(sql, values, 0);
}

PgResult PgConnection::ExecBinary(const char* sql, const std::vector<PgValue>& values) {
  return Send(sql, values, 1);
}

PgResult PgConnection::Send(const char* sql, const std::vector<PgValue>& values, int resultFormat) {
  if (!Ok()) return Checked(nullptr);
  std::vector<const char*> data;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const PgValue& value : values) {
    data.push_back(value.isNull ? nullptr : value.data.data());
    lengths.push_back(static_cast<int>(value.data.size()));
    formats.push_back(value.binary ? 1 : 0);
  }
  if (!PQsendQueryParams(connection_.get(), sql, static_cast<int>(values.size()), nullptr,
                         data.data(), lengths.data(), formats.data(), resultFormat)) {
    return Checked(nullptr);
  }
  return Collect();
}

PgResult PgConnection::ExecScript(const char* sql) {
  if (!Ok()) return Checked(nullptr);
  if (!PQsendQuery(connection_.get(), sql)) return Checked(nullptr);
  return Collect();
}

PgResult PgConnection::Collect() {
  const SteadyTime replyBy = std::chrono::steady_clock::now() + limits_.replyTime;
  const SteadyTime deadline = std::min(limits_.deadline, replyBy);
  const std::string late = LateText("no reply", limits_.replyTime, replyBy <= limits_.deadline);
  PGconn* connection = connection_.get();
  auto wait = [&](short events) {
    const DescriptorWait end = WaitForDescriptor(PQsocket(connection), events, limits_.stopFd, deadline);
    if (end != DescriptorWait::kReady) GiveUp(end, late + " (the statement was cancelled and the connection closed)");
    return end == DescriptorWait::kReady;
  };
  // What libpq could not send at once (a full socket buffer) goes first.
  for (int pending; (pending = PQflush(connection)) != 0;) {
    if (pending < 0 || !wait(POLLIN | POLLOUT)) return Checked(nullptr);
    if (!PQconsumeInput(connection)) return Checked(nullptr);
  }
  PgResult kept;
  for (;;) {
    while (PQisBusy(connection)) {
      if (!wait(POLLIN)) return Checked(nullptr);
      if (!PQconsumeInput(connection)) return Checked(nullptr);
    }
    PgResult next(PQgetResult(connection));
    if (!next) break;
    if (!kept || Succeeded(kept.get())) kept = std::move(next);  // an error, once there, stays
  }
  return Checked(kept.release());
}

void PgConnection::Rollback() {
  if (!Ok()) return;
  const std::string error = lastError_;
  const std::string state = lastState_;
  ExecScript("ROLLBACK");
  if (Ok()) {
    lastError_ = error;
    lastState_ = state;
  }
}
