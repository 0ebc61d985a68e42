// A thin RAII layer over libpq's C API: a connection, a result, and
// statements whose values always travel as bound parameters. libpq is driven
// without blocking: every wait (name lookup, connect, each reply) ends at a
// deadline or at once when a stop descriptor becomes readable, and a wait
// given up cancels the statement and closes the connection.
#pragma once

#include <libpq-fe.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "linedb/fd_wait.h"

// How long a connection attempt may take, name lookup included, before the
// station gives up on the line database for now (seconds; also given to
// libpq as connect_timeout).
inline constexpr const char* kLineDbConnectSeconds = "2";
inline constexpr std::chrono::seconds kLineDbConnectTime{2};
// How long one statement may go unanswered (a backend stuck in I/O, a frozen
// server, a paused pooler: the kernel still acknowledges) before it is
// cancelled and the connection closed.
inline constexpr std::chrono::seconds kLineDbReplyTime{10};

// What ends the connection's waits besides its own time-outs.
struct PgWaitLimits {
  // Readable: every wait ends at once and the connection is closed (a stop
  // signal pending, a host closing). Only polled, never read. -1: none.
  int stopFd = -1;
  // No wait goes past it (a host that gives the line database so long in all).
  SteadyTime deadline = SteadyTime::max();
  // How long each statement may go unanswered.
  std::chrono::milliseconds replyTime = kLineDbReplyTime;
};

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
  explicit PgConnection(const std::string& connectionString, PgWaitLimits limits = {});
  PgConnection(const PgConnection&) = delete;
  PgConnection& operator=(const PgConnection&) = delete;

  bool Ok() const;
  // A wait ended because the stop descriptor became readable (the connection is closed).
  bool Stopped() const { return gaveUp_ == DescriptorWait::kStopped; }
  // A wait ended at its deadline (the connection is closed).
  bool TimedOut() const { return gaveUp_ == DescriptorWait::kTimedOut; }
  // libpq's last message, trimmed, with the password (if the connection
  // string held one) masked.
  std::string Error() const;
  // "host=… db=… user=…": what may be shown of the connection, never a password.
  std::string Describe() const;

  // The value of a connection option in use (libpq's keyword), "" if unset.
  std::string Option(std::string_view keyword) const;

  // A statement; every value is a bound parameter. Empty on failure (Error()).
  PgResult Exec(const char* sql, const std::vector<PgValue>& values = {});
  // The same with every result column in binary: a bytea comes as its bytes
  // (PQgetvalue, PQgetlength), not as hex text twice its size.
  PgResult ExecBinary(const char* sql, const std::vector<PgValue>& values = {});
  // A fixed script of several statements without any value (the schema).
  PgResult ExecScript(const char* sql);
  // Ends a failed transaction, keeping the message of what failed.
  void Rollback();

  // For a connection that LISTENs: its socket (-1 when closed), readable when
  // a notification may have come, and the payloads of those that came (false
  // when the connection broke).
  int Socket() const;
  bool TakeNotifications(std::vector<std::string>& payloads);
  // SQLSTATE of the last failed statement ("" when there is none).
  std::string LastState() const { return lastState_; }

 private:
  void Connect(const std::string& connectionString);
  PgResult Send(const char* sql, const std::vector<PgValue>& values, int resultFormat);
  // Sends what libpq holds and collects the statement's results (the first
  // error, else the last result), waiting within the reply time.
  PgResult Collect();
  // A wait that did not end ready: the statement is cancelled (in the
  // background) and the connection closed.
  void GiveUp(DescriptorWait end, const std::string& message);
  PgResult Checked(PGresult* result);

  struct Finish {
    void operator()(PGconn* connection) const { PQfinish(connection); }
  };
  std::unique_ptr<PGconn, Finish> connection_;
  const PgWaitLimits limits_;
  std::string password_;  // only to mask it in messages
  std::string description_;
  DescriptorWait gaveUp_ = DescriptorWait::kReady;
  std::string lastError_;
  std::string lastState_;
};

// message with every occurrence of password replaced by "***".
std::string MaskPassword(std::string message, std::string_view password);
// The password a connection string names, if libpq can read it; otherwise
// the text that would be the password in a URI's user:password@ part.
std::string PasswordIn(const std::string& connectionString);
