#include "link/operator_messages.h"

#include <unistd.h>

#include <climits>
#include <cstdio>
#include <string>

namespace {
OperatorMessages* g_sink = nullptr;

void PrintLine(const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); }
}  // namespace

void SetOperatorMessages(OperatorMessages* sink) { g_sink = sink; }

void ShowOperatorMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  if (g_sink != nullptr) {
    g_sink->ShowMessage(text, title, icon);
    return;
  }
  std::fprintf(stderr, "[%s] %s\n", title.c_str(), text.c_str());
}

void OperatorMessages::ShowPermissionHint(const std::string& text) { PrintLine(text); }

void ShowPermissionHint(const std::string& text) {
  if (g_sink != nullptr) {
    g_sink->ShowPermissionHint(text);
  } else {
    PrintLine(text);
  }
}

std::string ApplicationTitle() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string name(path, static_cast<std::size_t>(n));
  if (const auto slash = name.rfind('/'); slash != std::string::npos) name.erase(0, slash + 1);
  if (const auto dot = name.rfind('.'); dot != std::string::npos && dot > 0) name.erase(dot);
  return name;
}
