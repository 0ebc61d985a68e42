#include "linedb/pg_connection.h"

namespace {

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

PgConnection::PgConnection(const std::string& connectionString)
    : password_(PasswordIn(connectionString)) {
  // Defaults the string may change: a send cut half way on TCP (a pulled
  // cable) and a statement stuck behind a lock end instead of hanging the
  // forwarder for good. The string is expanded then, and the values after it
  // win: the short connect time-out, and UTF-8, which every text value is sent
  // in (PgValue::Text).
  const char* keywords[] = {"keepalives_idle", "keepalives_interval", "keepalives_count",
                            "tcp_user_timeout", "options", "dbname", "connect_timeout",
                            "client_encoding", "fallback_application_name", nullptr};
  const char* values[] = {"10", "5", "3", "15000", "-c statement_timeout=30000",
                          connectionString.c_str(), kLineDbConnectSeconds, "UTF8", "tamsolt",
                          nullptr};
  connection_.reset(PQconnectdbParams(keywords, values, 1 /* expand dbname */));
  if (!connection_) {
    lastError_ = "out of memory";
    return;
  }
  // The server's notices ("already exists, skipping") would go to the host's
  // stderr: whatever matters comes back as an error instead.
  PQsetNoticeProcessor(connection_.get(), [](void*, const char*) {}, nullptr);
}

bool PgConnection::Ok() const {
  return connection_ && PQstatus(connection_.get()) == CONNECTION_OK;
}

std::string PgConnection::Error() const {
  std::string message = !lastError_.empty() ? lastError_
                        : connection_      ? Trimmed(PQerrorMessage(connection_.get()))
                                           : "";
  return MaskPassword(std::move(message), password_);
}

std::string PgConnection::Describe() const {
  if (!connection_) return "host=? db=? user=?";
  auto part = [](const char* value) { return std::string(value != nullptr && *value ? value : "?"); };
  return MaskPassword("host=" + part(PQhost(connection_.get())) + " db=" +
                          part(PQdb(connection_.get())) + " user=" + part(PQuser(connection_.get())),
                      password_);
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
  if (!connection_) return nullptr;
  std::vector<const char*> data;
  std::vector<int> lengths;
  std::vector<int> formats;
  for (const PgValue& value : values) {
    data.push_back(value.isNull ? nullptr : value.data.data());
    lengths.push_back(static_cast<int>(value.data.size()));
    formats.push_back(value.binary ? 1 : 0);
  }
  return Checked(PQexecParams(connection_.get(), sql, static_cast<int>(values.size()), nullptr,
                              data.data(), lengths.data(), formats.data(), 0));
}

PgResult PgConnection::ExecScript(const char* sql) {
  if (!connection_) return nullptr;
  return Checked(PQexec(connection_.get(), sql));
}

void PgConnection::Rollback() {
  if (connection_) PQclear(PQexec(connection_.get(), "ROLLBACK"));
}
