// What the station window shows, built only from the CLI's events: one state
// per slot, the rows being written and the session's tally. Plain C++, so it
// is tested without a display; the window only draws it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "events/event_reader.h"

// kNotTaken: a board is in the slot that the station did not take (it is not
// written); it must come out. kRearming: the board left before its result came
// (it may be restarting): the slot takes no new board until its wait is over.
enum class SlotState { kEmpty, kWriting, kDone, kFailed, kNotTaken, kInterrupted, kRearming };

// Why a slot asks to be checked, as the CLI's slot-alert said it.
struct SlotCheck {
  std::string rule;  // last-three-failed, high-rate (empty: not said)
  int boards = 0;    // the slot's boards written or failed this session
  int failed = 0;
  std::optional<double> rate;         // the slot's failure rate, 0 to 1
  std::optional<double> stationRate;  // the station's
  std::vector<std::string> lastReasons;  // oldest first
};

struct Slot {
  std::string port;  // hub port (or BUS:ADDR), the slot's identity
  std::string name;  // the fixture's name from [slots]; empty: none given
  std::string device;  // BUS:ADDR of the board written last
  SlotState state = SlotState::kEmpty;
  std::string item;
  int percent = 0;
  std::int64_t startedMs = 0;  // when this board's write began
  std::int64_t endedMs = 0;    // when it ended; 0 while writing
  std::string reason;          // why it failed (the message table's words, or the CLI's own)
  std::string reasonKind;      // what reason is, as the CLI said it (box, interrupted, ...); empty: not said
  std::optional<int> exitCode;  // the writer's exit code, when the CLI gave it with the reason
  std::int64_t rearmAtMs = 0;  // kRearming: when the slot takes a board again
  std::string lastBox;         // the last box's text; success has one too
  std::string notTaken;        // kNotTaken: the CLI's why (came-back, stopping, lot-reached; empty: not said)
  bool counted = false;        // this board is in the tally already
  bool alert = false;          // failed since the last look: the window beeps once
  // Repeated failures here: check the port, cable or hub. Kept across boards
  // until a board in the slot is written.
  bool check = false;
  SlotCheck checkEvidence;
};

struct Tally {
  int written = 0;
  int failed = 0;
  std::optional<int> interrupted;  // the CLI's count of boards cut by a stop; never failures
  std::optional<double> perHour;  // from the CLI; otherwise the window works it out
};

// Hub ports in the order of the hub ("1-1.2" before "1-1.10"); BUS:ADDR after ports.
bool PortBefore(const std::string& a, const std::string& b);

class StationModel {
 public:
  // The fixture's names (port -> name); their slots show from the start, empty.
  void NameSlots(const std::map<std::string, std::string>& names);
  void Apply(const StationEvent& event);
  // The CLI has ended (or died): a board still shown writing was cut off with it.
  void RunEnded(std::int64_t timeMs, const std::string& reason);

  // Slots in hub-port order.
  std::vector<const Slot*> Slots() const;
  const Slot* Find(const std::string& port) const;
  // Seconds the slot's board has been (or was) writing, at nowMs for one still writing.
  static double ElapsedSeconds(const Slot& slot, std::int64_t nowMs);
  // Whole seconds a re-arming slot still waits at nowMs, rounded up; never below 0.
  static int RearmSeconds(const Slot& slot, std::int64_t nowMs);
  // The stream is the station supervisor's (--watch): its slot-state and tally
  // alone say what a slot shows and what is counted.
  bool Supervised() const { return supervised_; }

  const std::vector<EventRow>& Rows() const { return rows_; }
  // The recipe written ("" for none), its version, and whether it comes from
  // the cache because the line database cannot be used.
  const std::string& Recipe() const { return recipe_; }
  std::optional<int> RecipeVersion() const { return recipeVersion_; }
  bool RecipeAway() const { return recipeAway_; }
  Tally TallyAt(std::int64_t nowMs) const;
  bool AnyWriting() const;
  bool Stopping() const { return stopping_; }
  bool Interrupting() const { return interrupting_; }
  bool Ended() const { return ended_; }
  std::optional<int> ExitCode() const { return exitCode_; }
  // The run's outcome in the CLI's words: its exit code's name, and with a failure the reason.
  const std::string& ExitName() const { return exitName_; }
  const std::string& ExitReason() const { return exitReason_; }
  // Slots that failed since the last call (each once), for the sound.
  int TakeNewFailures();

 private:
  Slot& At(const std::string& port);
  void StartWriting(Slot& slot, const StationEvent& event);
  Slot* ChildsSlot(const StationEvent& event, bool startsWriting);
  void Finish(Slot& slot, const StationEvent& event);
  void Count(Slot& slot);
  void SetState(Slot& slot, const StationEvent& event);

  std::map<std::string, Slot> slots_;
  std::map<std::string, std::string> names_;
  std::vector<EventRow> rows_;
  std::string recipe_;
  std::optional<int> recipeVersion_;
  bool recipeAway_ = false;
  std::int64_t sessionStartMs_ = 0;
  Tally counted_;
  std::optional<Tally> reported_;
  bool supervised_ = false;
  bool stopping_ = false;
  bool interrupting_ = false;
  bool ended_ = false;
  std::optional<int> exitCode_;
  std::string exitName_;
  std::string exitReason_;
};
