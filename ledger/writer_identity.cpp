#include "ledger/writer_identity.h"

#include <unistd.h>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

namespace {

std::string FirstLine(const std::string& path) {
  std::ifstream file(path);
  std::string line;
  std::getline(file, line);
  return line;
}

std::string PidNamespace() {
  char target[PATH_MAX] = {};
  const ssize_t n = readlink("/proc/self/ns/pid", target, sizeof target - 1);
  return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

// Field 22 of /proc/PID/stat, the process's start in clock ticks since boot:
// a pid taken again by a later process has another.
std::string StartTime(long pid) {
  const std::string stat = FirstLine("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t name_end = stat.rfind(')');  // the name may hold spaces and parentheses
  if (name_end == std::string::npos) return {};
  std::istringstream fields(stat.substr(name_end + 1));
  std::string field;
  for (int i = 3; i <= 22 && fields >> field; ++i) {
    if (i == 22) return field;
  }
  return {};
}

struct Writer {
  std::string boot, pidNamespace, start;
  long pid = 0;
};

bool Parse(const std::string& text, Writer& writer) {
  std::istringstream fields(text);
  return static_cast<bool>(fields >> writer.boot >> writer.pidNamespace >> writer.pid >> writer.start) &&
         writer.pid > 0;
}

}  // namespace

std::string ThisWriter() {
  const std::string boot = FirstLine("/proc/sys/kernel/random/boot_id");
  const std::string pidNamespace = PidNamespace();
  const long pid = static_cast<long>(getpid());
  const std::string start = StartTime(pid);
  if (boot.empty() || pidNamespace.empty() || start.empty()) return {};
  return boot + " " + pidNamespace + " " + std::to_string(pid) + " " + start;
}

WriterState JudgeWriter(const std::string& text) {
  Writer writer;
  if (!Parse(text, writer)) return WriterState::kUnknown;
  const std::string boot = FirstLine("/proc/sys/kernel/random/boot_id");
  if (boot.empty()) return WriterState::kUnknown;
  if (writer.boot != boot) return WriterState::kGone;  // the machine has restarted since
  if (writer.pidNamespace != PidNamespace()) return WriterState::kUnknown;
  return StartTime(writer.pid) == writer.start ? WriterState::kAlive : WriterState::kGone;
}

long WriterPid(const std::string& text) {
  Writer writer;
  return Parse(text, writer) ? writer.pid : 0;
}
