#include "fake_host.h"

#include <gtest/gtest.h>

#include "record/transfer_context.h"

namespace {
constexpr int kTickBudget = 2'000'000;  // a runaway state machine fails the test, not the run
}

FakeHost::FakeHost(sim::VirtualClock& clock) : clock_(clock) { SetEngineHost(this); }

FakeHost::~FakeHost() { SetEngineHost(nullptr); }

void FakeHost::SetTimer(std::uint32_t id, std::uint32_t periodMs) {
  armed.push_back(id);
  armedAt.push_back(clock_.Now());
  timers_[id] = Timer{periodMs, clock_.Now() + sim::Micros{periodMs} * 1000, order_++};
}

void FakeHost::KillTimer(std::uint32_t id) { timers_.erase(id); }

void FakeHost::Sleep(std::uint32_t ms) {
  sleeps.push_back({ms, clock_.Now(), g_transfer.m_dev != nullptr});
  clock_.Advance(sim::Micros{ms} * 1000);
}

void FakeHost::PumpMessages() {
  ++pumps;
  FireDueUntil(clock_.Now());
  if (onPump) onPump();
}

void FakeHost::SetBarRange(std::uint16_t low, std::uint16_t high) { ranges.emplace_back(low, high); }

void FakeHost::SetBarPos(int pos) { positions.push_back(pos); }

void FakeHost::AppendLogLine(const std::string& line) { logLines.push_back(line); }

std::time_t FakeHost::Now() { return wallBase + static_cast<std::time_t>(clock_.Now() / 1'000'000); }

void FakeHost::ShowMessage(const std::string& text, const std::string& title, MessageIcon icon) {
  boxes.push_back(Box{text, title, icon, clock_.Now(), g_transfer.m_dev != nullptr,
                      g_transfer.busy != 0});
  const Box shown = boxes.back();
  if (boxDwell > 0) {
    const sim::Micros dismissed = clock_.Now() + boxDwell;
    FireDueUntil(dismissed);
    clock_.AdvanceTo(dismissed);
  }
  if (onBox) onBox(shown);
}

void FakeHost::Fire(std::uint32_t id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  // A window timer posts at most one tick at a time; the next one is due a
  // period after this one is handled.
  it->second.due = clock_.Now() + sim::Micros{it->second.periodMs} * 1000;
  ticks.push_back(id);
  tickAt.push_back(clock_.Now());
  if (beforeTick) beforeTick(id);
  ++nesting_;
  if (nesting_ > maxNesting) maxNesting = nesting_;
  OnTimer(id);
  --nesting_;
}

void FakeHost::FireDueUntil(sim::Micros until) {
  while (!timers_.empty()) {
    auto next = timers_.begin();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->second.due < next->second.due ||
          (it->second.due == next->second.due && it->second.order < next->second.order)) {
        next = it;
      }
    }
    if (next->second.due > until) break;
    if (static_cast<int>(ticks.size()) > kTickBudget) {
      ADD_FAILURE() << "timer " << next->first << " keeps firing";
      timers_.clear();
      return;
    }
    clock_.AdvanceTo(next->second.due);
    Fire(next->first);
  }
}

void FakeHost::RunUntilIdle(sim::Micros limit) { FireDueUntil(clock_.Now() + limit); }
