// tamsolt-bench-window: the real main window, offscreen, runs one batch from
// the rows of the setting.ini it is given, started by tamsolt-bench under
// tamsolt-sim-run. A 10 ms heartbeat timer in the window's own event loop
// shows how long the window went without handling events; the device's fixed
// waits (pauses of 100 ms and more) are taken out of each gap, since the
// program links with --wrap for the engine's pause (bench/link_timing.h).
// Prints its figures as "key value" lines, and where its time went as
// "link-timing" lines; exit code 0 when the batch ended with the completion
// message.
//   tamsolt-bench-window SETTING_INI
#include <sys/resource.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "settings/messages.h"
#include "app/qt_host.h"
#include "bench/link_timing.h"
#include "settings/settings.h"
#include "record/transfer_context.h"

namespace {

constexpr int kHeartbeatMs = 10;
constexpr qint64 kNetGapReportedMs = 50;
constexpr int kBatchButton = 1047;
constexpr int kTimeoutMs = 15 * 60 * 1000;

double CpuSeconds(const rusage& usage) {
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tamsolt-bench-window SETTING_INI\n");
    return 2;
  }
  QApplication application(argc, argv);
  g_iniPath = argv[1];
  CTamsoltDlg dialog;
  std::vector<std::string> boxes;
  // Boxes are recorded, not shown: nobody is there to dismiss them.
  dialog.EngineHostImpl().SetMessagePresenter(
      [&boxes](const std::string& text, const std::string&, MessageIcon) { boxes.push_back(text); });
  dialog.show();
  QApplication::processEvents();
  auto* button = qobject_cast<QAbstractButton*>(dialog.Control(kBatchButton));
  if (button == nullptr) return 1;

  QElapsedTimer clock;
  qint64 lastBeat = 0;
  qint64 longestGap = 0;
  qint64 longestNetGap = 0;
  int netGapsOver = 0;
  QTimer heartbeat;
  QObject::connect(&heartbeat, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    const qint64 gap = now - lastBeat;
    const qint64 net = gap - static_cast<qint64>(bench::TakeFixedWaitMicros() / 1000);
    longestGap = std::max(longestGap, gap);
    longestNetGap = std::max(longestNetGap, net);
    if (net > kNetGapReportedMs) ++netGapsOver;
    lastBeat = now;
  });
  QEventLoop loop;
  QTimer done;
  QObject::connect(&done, &QTimer::timeout, [&] {
    if (!boxes.empty() && g_transfer.busy == 0) loop.quit();
  });
  QTimer::singleShot(kTimeoutMs, &loop, &QEventLoop::quit);

  rusage before{};
  getrusage(RUSAGE_SELF, &before);
  clock.start();
  heartbeat.start(kHeartbeatMs);
  done.start(kHeartbeatMs);
  const std::uint64_t pressedAt = bench::MicrosSinceStart();
  button->click();
  loop.exec();
  const qint64 wall = clock.elapsed();
  rusage after{};
  getrusage(RUSAGE_SELF, &after);

  std::printf("window-wall-ms %lld\n", static_cast<long long>(wall));
  std::printf("window-cpu-s %.3f\n", CpuSeconds(after) - CpuSeconds(before));
  std::printf("window-peak-rss-kb %ld\n", after.ru_maxrss);
  std::printf("window-longest-gap-ms %lld\n", static_cast<long long>(longestGap));
  std::printf("window-longest-net-gap-ms %lld\n", static_cast<long long>(longestNetGap));
  std::printf("window-net-gaps-over-50-ms %d\n", netGapsOver);
  std::printf("window-press-us %llu\n", static_cast<unsigned long long>(pressedAt));
  for (const std::string& box : boxes) std::printf("window-box %s\n", box.c_str());
  return boxes.size() == 1 && boxes.front() == MessageText(kMsgDone) ? 0 : 1;
}
