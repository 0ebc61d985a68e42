#include "stalling_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSslRequest = 80877103;
constexpr std::uint32_t kGssRequest = 80877104;
constexpr std::uint32_t kCancelRequest = 80877102;

std::uint32_t BigEndian32(const std::string& bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
  return value;
}

void Put32(std::string& out, std::uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xFF);
}

std::string Message(char type, const std::string& body) {
  std::string out(1, type);
  Put32(out, static_cast<std::uint32_t>(body.size() + 4));
  return out + body;
}

// AuthenticationOk, the parameters libpq wants, BackendKeyData, ReadyForQuery.
std::string StartupReply() {
  std::string auth;
  Put32(auth, 0);
  std::string reply = Message('R', auth);
  for (const auto& [name, value] : std::vector<std::pair<std::string, std::string>>{
           {"server_version", "15.0"}, {"client_encoding", "UTF8"},
           {"standard_conforming_strings", "on"}, {"integer_datetimes", "on"}}) {
    reply += Message('S', name + '\0' + value + '\0');
  }
  std::string key;
  Put32(key, 4242);
  Put32(key, 777);
  return reply + Message('K', key) + Message('Z', "I");
}

struct Connection {
  std::string input;
  bool started = false;  // past the start-up: typed messages follow
  bool held = false;     // a cancel request: read nothing more, answer nothing
};

}  // namespace

StallingServer::StallingServer(Mode mode) : mode_(mode) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    return;  // Port() stays 0
  }
  port_ = ntohs(address.sin_port);
  thread_ = std::thread(&StallingServer::Serve, this);
}

StallingServer::~StallingServer() {
  closing_.Set();
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

void StallingServer::OnChange(std::function<void(const Seen&)> onChange) {
  std::lock_guard lock(mutex_);
  onChange_ = std::move(onChange);
}

bool StallingServer::WaitFor(const std::function<bool(const Seen&)>& done) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::minutes(1), [&] { return done(seen_); });
}

StallingServer::Seen StallingServer::Snapshot() {
  std::lock_guard lock(mutex_);
  return seen_;
}

void StallingServer::Serve() {
  std::map<int, Connection> connections;
  auto note = [this](auto change) {
    std::lock_guard lock(mutex_);
    change(seen_);
    if (onChange_) onChange_(seen_);
    changed_.notify_all();
  };
  for (;;) {
    std::vector<pollfd> fds = {{closing_.Fd(), POLLIN, 0}, {listener_, POLLIN, 0}};
    for (const auto& [fd, connection] : connections) fds.push_back({fd, POLLIN, 0});
    if (poll(fds.data(), fds.size(), -1) < 0) continue;
    if (fds[0].revents != 0) break;
    if (fds[1].revents != 0) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        connections[fd] = {};
        note([](Seen& seen) { ++seen.accepted; });
      }
    }
    for (std::size_t i = 2; i < fds.size(); ++i) {
      if (fds[i].revents == 0) continue;
      Connection& connection = connections[fds[i].fd];
      char buffer[4096];
      const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
      if (got <= 0) {
        close(fds[i].fd);
        connections.erase(fds[i].fd);
        note([](Seen& seen) { ++seen.closedByClient; });
        continue;
      }
      if (mode_ == Mode::kSilent || connection.held) continue;
      connection.input.append(buffer, static_cast<std::size_t>(got));
      std::string& in = connection.input;
      // Whole messages only: the start-up's are untyped, the rest typed.
      for (;;) {
        const std::size_t header = connection.started ? 5 : 4;
        if (in.size() < header) break;
        const std::size_t length = BigEndian32(in, header - 4) + (connection.started ? 1 : 0);
        if (in.size() < length) break;
        const std::string message = in.substr(0, length);
        in.erase(0, length);
        std::string reply;
        if (connection.started) {
          if (message[0] == 'Q' || message[0] == 'P') note([](Seen& seen) { ++seen.statements; });
          continue;
        }
        const std::uint32_t code = BigEndian32(message, 4);
        if (code == kSslRequest || code == kGssRequest) {
          reply = "N";
        } else if (code == kCancelRequest) {
          connection.held = true;
          note([](Seen& seen) { ++seen.cancelRequests; });
          break;
        } else {
          reply = StartupReply();
          connection.started = true;
          note([](Seen& seen) { ++seen.sessions; });
        }
        (void)!write(fds[i].fd, reply.data(), reply.size());
      }
    }
  }
  for (const auto& [fd, connection] : connections) close(fd);
}
