// A thin RAII layer over libpq's C API: a connection, a result, and
// statements whose values always travel as bound parameters.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// How long a connection attempt may take before the station gives up on the
// line database for now (seconds, libpq's connect_timeout).
inline constexpr const char* kLineDbConnectSeconds = "2";

struct PgResultDeleter {
  void operator()(PGresult* result) const { PQclear(result); }
};
using PgResult = std::unique_ptr<PGresult, PgResultDeleter>;

// text as the server's text type takes it: UTF-8, each byte that is not part
// of a valid sequence (or a NUL, which text cannot hold) replaced by U+FFFD,
// so a host or login name in another encoding cannot keep a record out.
std::string AsPgText(std::string text);

// One value of a statement: NULL, text (made valid UTF-8), or bytes sent as
// binary (bytea).
struct PgValue {
  static PgValue Null() { return {}; }
  static PgValue Text(std::string text) { return {AsPgText(std::move(text)), false, false}; }
  static PgValue Bytes(std::string bytes) { return {std::move(bytes), false, true}; }

  std::string data;
  bool isNull = true;
  bool binary = false;
};

class PgConnection {
 public:
  // Connects with a connection string in libpq's format (key=value or
  // postgresql:// URI) and the short connect time-out, whatever the string
  // says. Check Ok() or Error() afterwards.
  explicit PgConnection(const std::string& connectionString);
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  bool Ok() const;
  // libpq's last message, trimmed, with the password (if the connection
  // string held one) masked.
  std::string Error() const;
  // "host=… db=… user=…": what may be shown of the connection, never a password.
  std::string Describe() const;

  // The value of a connection option in use (libpq's keyword), "" if unset.
  std::string Option(std::string_view keyword) const;

  // A statement; every value is a bound parameter. Empty on failure (Error()).
  PgResult Exec(const char* sql, const std::vector<PgValue>& values = {});
  // A fixed script of several statements without any value (the schema).
  PgResult ExecScript(const char* sql);
  // Ends a failed transaction, keeping the message of what failed.
  void Rollback();
  // SQLSTATE of the last failed statement ("" when there is none).
  std::string LastState() const { return lastState_; }

 private:
  PgResult Checked(PGresult* result);

  struct Finish {
    void operator()(PGconn* connection) const { PQfinish(connection); }
  };
  std::unique_ptr<PGconn, Finish> connection_;
  std::string password_;  // only to mask it in messages
  std::string lastError_;
  std::string lastState_;
};

// message with every occurrence of password replaced by "***".
std::string MaskPassword(std::string message, std::string_view password);
// The password a connection string names, if libpq can read it; otherwise
// the text that would be the password in a URI's user:password@ part.
std::string PasswordIn(const std::string& connectionString);
