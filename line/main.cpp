// tamsolt-line [--settings FILE]: the line page and its API on the line's
// server (docs/line.md). Reads the line database only; runs until stopped.
#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <string>

#include "line/line_service.h"
#include "line/line_settings.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("tamsolt-line"));
  QCoreApplication::setApplicationVersion(QStringLiteral(TAMSOLT_VERSION));
  std::string path = kLineSettingsFile;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--settings" && i + 1 < argc) {
      path = argv[++i];
    } else {
      std::fprintf(stderr, "usage: tamsolt-line [--settings FILE]   (default %s)\n", kLineSettingsFile);
      return 2;
    }
  }
  LineSettings settings;
  std::string error;
  if (!ReadLineSettings(path, settings, error)) {
    std::fprintf(stderr, "tamsolt-line: %s\n", error.c_str());
    return 2;
  }
  // A stop signal ends the event loop, and the program with it.
  for (int signal : {SIGINT, SIGTERM}) std::signal(signal, [](int) { QCoreApplication::quit(); });
  LineService service(settings);
  const quint16 port = service.Listen();
  if (port == 0) {
    std::fprintf(stderr, "tamsolt-line: cannot listen on %s port %d\n", settings.address.c_str(), settings.port);
    return 1;
  }
  std::printf("tamsolt-line: the line page is at http://%s:%u/\n", settings.address.c_str(), port);
  std::fflush(stdout);
  return QCoreApplication::exec();
}
