// linedb_stalling_server after-startup|silent: the StallingServer for the
// program runs (tests/cli/line_db_runs.sh). Writes "port N", then one line
// per thing seen ("session", "statement", "cancel", "closed"), each flushed,
// and runs until it is killed.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "stalling_server.h"

int main(int argc, char** argv) {
  if (argc != 2 || (std::strcmp(argv[1], "after-startup") != 0 && std::strcmp(argv[1], "silent") != 0)) {
    std::fprintf(stderr, "usage: %s after-startup|silent\n", argv[0]);
    return 2;
  }
  ::signal(SIGPIPE, SIG_IGN);
  StallingServer server(std::strcmp(argv[1], "silent") == 0 ? StallingServer::Mode::kSilent
                                                            : StallingServer::Mode::kAfterStartup);
  if (server.Port() == 0) return 1;
  StallingServer::Seen last;
  server.OnChange([&last](const StallingServer::Seen& seen) {
    auto tell = [](int from, int to, const char* what) {
      for (int i = from; i < to; ++i) std::printf("%s\n", what);
    };
    tell(last.sessions, seen.sessions, "session");
    tell(last.statements, seen.statements, "statement");
    tell(last.cancelRequests, seen.cancelRequests, "cancel");
    tell(last.closedByClient, seen.closedByClient, "closed");
    std::fflush(stdout);
    last = seen;
  });
  std::printf("port %d\n", server.Port());
  std::fflush(stdout);
  for (;;) pause();
}
