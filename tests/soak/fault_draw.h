// One batch's device faults, drawn from a seeded mix: which faults are on,
// the frame each strikes and how long it lasts.
#pragma once

#include <array>
#include <random>
#include <string>

#include "sim/device_model.h"

enum class FaultKind { kSilence, kWrongEcho, kDamaged, kStaleCode, kRestart, kRefusal, kUnplug, kLatency };
inline constexpr int kFaultKinds = 8;
const char* FaultName(int kind);

// A whole number drawn evenly from [low, high].
int Uniform(std::mt19937& rng, int low, int high);

struct DrawnFaults {
  sim::Faults faults;
  std::array<bool, kFaultKinds> drawn{};
  // Few enough bad replies for every step's resends, and a device that stays
  // and comes back in time: the batch must then end with every image written.
  bool recoverable = true;
  std::string Describe() const;
};

// frames: how many frames the batch sends when nothing goes wrong; the
// faults strike somewhere among them.
DrawnFaults DrawFaults(std::mt19937& rng, int frames);
