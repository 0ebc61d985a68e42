#include "bench/link_timing.h"

#include <cstring>

namespace bench {

namespace {

struct Field {
  const char* key;
  std::uint64_t LinkTiming::*value = nullptr;
  CallTime LinkTiming::*call = nullptr;
};

constexpr Field kFields[] = {
    {"writes", nullptr, &LinkTiming::writes},
    {"reads", nullptr, &LinkTiming::reads},
    {"empty-reads", nullptr, &LinkTiming::emptyReads},
    {"pauses", nullptr, &LinkTiming::pauses},
    {"pauses-asked-us", &LinkTiming::pausesAskedMicros, nullptr},
    {"first-frame-us", &LinkTiming::firstFrameMicros, nullptr},
    {"exit-us", &LinkTiming::exitMicros, nullptr},
};

}  // namespace

void PrintLinkTiming(std::FILE* out, const LinkTiming& timing) {
  for (const Field& field : kFields) {
    if (field.call != nullptr) {
      const CallTime& call = timing.*field.call;
      std::fprintf(out, "link-timing %s %llu %llu\n", field.key, static_cast<unsigned long long>(call.calls),
                   static_cast<unsigned long long>(call.micros));
    } else {
      std::fprintf(out, "link-timing %s %llu\n", field.key, static_cast<unsigned long long>(timing.*field.value));
    }
  }
}

bool ParseLinkTiming(const std::vector<std::string>& lines, LinkTiming& timing) {
  bool found = false;
  for (const std::string& line : lines) {
    char key[32] = {};
    unsigned long long first = 0;
    unsigned long long second = 0;
    const int got = std::sscanf(line.c_str(), "link-timing %31s %llu %llu", key, &first, &second);
    for (const Field& field : kFields) {
      if (got < 2 || std::strcmp(key, field.key) != 0) continue;
      if (field.call != nullptr && got == 3) {
        timing.*field.call = CallTime{first, second};
        found = true;
      } else if (field.value != nullptr) {
        timing.*field.value = first;
        found = true;
      }
    }
  }
  return found;
}

}  // namespace bench
