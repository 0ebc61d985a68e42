#include "engine/engine_host.h"

#include <cstdlib>

namespace {
EngineHost* g_host = nullptr;
}

void SetEngineHost(EngineHost* host) {
  g_host = host;
  SetOperatorMessages(host);
}

EngineHost& Host() {
  if (g_host == nullptr) std::abort();  // the engine runs only under a host
  return *g_host;
}
