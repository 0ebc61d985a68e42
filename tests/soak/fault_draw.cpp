#include "fault_draw.h"

#include <cstdio>

namespace {

constexpr double kShare = 0.3;                      // each kind is on in about this share of batches
constexpr int kResendsEveryStepAllows = 3;          // bad replies in a row a wait step survives
constexpr sim::Micros kRestartWaitUs = 12'000'000;  // the host looks for the device again after this
constexpr int kLatestReplyMs = 45;                  // later than any read's 20 ms, within the resends

bool Chance(std::mt19937& rng, double p) { return std::bernoulli_distribution(p)(rng); }

}  // namespace

int Uniform(std::mt19937& rng, int low, int high) {
  return std::uniform_int_distribution<int>(low, high)(rng);
}

const char* FaultName(int kind) {
  static constexpr const char* kNames[kFaultKinds] = {"silence", "wrong-echo", "damaged", "stale-code",
                                                      "restart", "refusal",    "unplug",  "latency"};
  return kNames[kind];
}

DrawnFaults DrawFaults(std::mt19937& rng, int frames) {
  DrawnFaults d;
  sim::Faults& f = d.faults;
  const auto on = [&](FaultKind kind) {
    const bool drawn = Chance(rng, kShare);
    d.drawn[static_cast<int>(kind)] = drawn;
    return drawn;
  };
  const auto frame = [&] { return Uniform(rng, 0, frames - 1); };
  int badReplies = 0;

  if (on(FaultKind::kSilence)) {
    f.silentFromFrame = frame();
    // Mostly a few lost replies; now and then enough to make a step give up.
    f.silentReplies = Chance(rng, 0.75) ? Uniform(rng, 1, kResendsEveryStepAllows) : Uniform(rng, 4, 60);
    badReplies += f.silentReplies;
  }
  if (on(FaultKind::kWrongEcho)) {
    f.wrongEchoAtFrame = frame();
    ++badReplies;
  }
  if (on(FaultKind::kDamaged)) {
    f.damagedAtFrame = frame();
    ++badReplies;
  }
  if (on(FaultKind::kStaleCode)) {
    f.staleCodeAtFrame = frame();
    ++badReplies;
  }
  if (on(FaultKind::kRestart)) {
    f.beginStatus = 3;
    // Usually back before the host looks again; sometimes too late or never.
    f.restartAbsentFor = Chance(rng, 0.8) ? Uniform(rng, 0, 11'000) * sim::Micros{1000}
                                          : Uniform(rng, 12'100, 20'000) * sim::Micros{1000};
    f.neverBack = Chance(rng, 0.1);
    // A restart reply the host cannot read leaves it talking to a device that has gone.
    const bool replyUnread = f.damagedAtFrame == 0 || f.staleCodeAtFrame == 0;
    d.recoverable = d.recoverable && !f.neverBack && f.restartAbsentFor < kRestartWaitUs && !replyUnread;
  } else if (on(FaultKind::kRefusal)) {
    f.beginStatus = Chance(rng, 0.5) ? 5 : Uniform(rng, 0, 2);
    d.recoverable = false;
  }
  if (on(FaultKind::kUnplug)) {
    f.unplugAfterFrames = Uniform(rng, 1, frames);
    d.recoverable = false;
  }
  if (on(FaultKind::kLatency)) f.replyLatency = Uniform(rng, 1, kLatestReplyMs) * sim::Micros{1000};
  d.recoverable = d.recoverable && badReplies <= kResendsEveryStepAllows;
  return d;
}

std::string DrawnFaults::Describe() const {
  std::string text;
  char part[64];
  const auto add = [&](const char* format, auto... values) {
    if constexpr (sizeof...(values) == 0) {
      text += format;  // a fixed text: no format to read
    } else {
      std::snprintf(part, sizeof part, format, values...);
      text += part;
    }
  };
  const sim::Faults& f = faults;
  if (f.silentFromFrame >= 0) add(" --silent=%d:%d", f.silentFromFrame, f.silentReplies);
  if (f.wrongEchoAtFrame >= 0) add(" --wrong-echo=%d", f.wrongEchoAtFrame);
  if (f.damagedAtFrame >= 0) add(" --damaged=%d", f.damagedAtFrame);
  if (f.staleCodeAtFrame >= 0) add(" --stale-code=%d", f.staleCodeAtFrame);
  if (f.beginStatus != 4) add(" --begin-status=%d", f.beginStatus);
  if (f.beginStatus == 3) add(" --restart-ms=%lld", static_cast<long long>(f.restartAbsentFor / 1000));
  if (f.neverBack) add(" --never-back");
  if (f.unplugAfterFrames >= 0) add(" --unplug-after=%d", f.unplugAfterFrames);
  if (f.replyLatency > 0) add(" --latency-ms=%lld", static_cast<long long>(f.replyLatency / 1000));
  return text.empty() ? " (none)" : text;
}
