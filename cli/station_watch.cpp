#include "cli/station_watch.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>

#include "cli/child_events.h"
#include "cli/child_process.h"
#include "cli/device_port.h"
#include "cli/exit_codes.h"
#include "cli/json_events.h"
#include "cli/recipe_run.h"
#include "cli/slot_alerts.h"
#include "cli/slot_book.h"
#include "cli/slot_view.h"
#include "cli/stop_signals.h"
#include "link/usb_port.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kScanPeriodMs = 250;
constexpr auto kStopBound = std::chrono::seconds(5);
// Boards per hour means something only once the first board is this old.
constexpr auto kRateAfter = std::chrono::seconds(60);

struct Board {
  ChildProcess process;
  std::string reason;  // from its outcome event
};

const char* StateName(SlotState state) {
  switch (state) {
    case SlotState::kEmpty: return "empty";
    case SlotState::kWriting: return "writing";
    case SlotState::kDone: return "done";
    case SlotState::kFailed: return "failed";
    case SlotState::kInterrupted: return "interrupted";
  }
  return "";
}

// Every board on the bus by its slot, from one look at the bus. A device
// whose port that look could not read (it is arriving or leaving: its node
// and its sysfs entry come and go apart) is no board yet.
std::map<std::string, std::string> BoardsBySlot() {
  std::map<std::string, std::string> boards;
  for (const PortedDevice& device : ListMatchingDevicesWithPorts()) {
    if (!device.port.empty()) boards[device.port] = device.address.Text();
  }
  return boards;
}

class Station {
 public:
  Station(std::string program, const CliOptions& options, std::function<void()> boardEnded,
          RecipeSource* recipe)
      : program_(std::move(program)),
        boardEnded_(std::move(boardEnded)),
        recipe_(recipe),
        options_(options),
        book_(std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(options.rearmAfter))),
        view_(options.json ? SlotView::Mode::kJson
                           : isatty(STDOUT_FILENO) ? SlotView::Mode::kTerminal
                                                   : SlotView::Mode::kPlain),
        started_(Clock::now()),
        json_(options.json) {
    options_.json = true;  // the children's events tell the slot's item and percentage
  }

  int Run();

 private:
  void Scan();
  void Look();
  void Comings();
  std::size_t Allowance() const;
  void Read(const std::string& slot, Board& board, ChildOutput& output);
  void Ended(const std::string& slot, Board& board);
  void Stop(int signal);
  void Show();
  void UpdateRate();
  void JudgeSlot(const std::string& slot, SlotState result, const std::string& reason);
  RecipeTake TakeRecipe();
  void NotWritten(const std::string& slot, const std::string& reason);

  std::string program_;
  std::function<void()> boardEnded_;
  RecipeSource* recipe_;
  CliOptions options_;
  SlotBook book_;
  SlotAlerts alerts_;
  SlotView view_;
  Clock::time_point started_;
  std::map<std::string, Board> boards_;  // running, by slot
  std::map<std::string, bool> present_;  // as the events said last
  Tally tally_;
  long taken_ = 0;
  std::optional<Clock::time_point> firstTaken_;
  bool json_;  // this station's own output is events
  bool linesLost_ = false;  // a board written, but its log file or ledger lost its record
  bool lotReached_ = false;  // --max-boards boards taken: no new one
  int stopSignals_ = 0;      // 1: no new board, the running finish; 2: interrupting
  bool interrupted_ = false;
  std::optional<Clock::time_point> killAt_;
};

// device-found and device-gone as boards come into slots and leave them.
void Station::Comings() {
  for (const auto& [name, slot] : book_.Slots()) {
    if (present_[name] == slot.present) continue;
    present_[name] = slot.present;
    EmitEvent(slot.present ? "device-found" : "device-gone",
              {{"address", slot.device}, {"slot", name}}, slot.device, name);
  }
}

void Station::Look() {
  book_.Observe(BoardsBySlot(), Clock::now());
  Comings();
}

std::size_t Station::Allowance() const {
  if (stopSignals_ > 0 || lotReached_) return 0;
  if (options_.maxBoards <= 0) return std::numeric_limits<std::size_t>::max();
  return static_cast<std::size_t>(options_.maxBoards - taken_);
}

// The recipe's active version, taken between boards: the options' rows and
// pins become its own; a switch, and the database going away, are told once.
RecipeTake Station::TakeRecipe() {
  std::optional<int> previous;
  if (options_.recipe.taken) previous = options_.recipe.taken->second;
  RecipeTake take = recipe_->Take();
  if (!take.recipe) return take;
  TellRecipeTake(take, previous, [this](const std::string& text) { view_.Note("tamsolt-cli: " + text); });
  UseRecipeVersion(options_, *take.recipe, options_.recipe.cacheFolder);
  return take;
}

// A board taken that no version of the recipe can be written to: failed, no child started.
void Station::NotWritten(const std::string& slot, const std::string& reason) {
  view_.Note("tamsolt-cli: [" + slot + "] not written: " + reason);
  book_.Finished(slot, SlotState::kFailed, reason, Clock::now());
  JudgeSlot(slot, SlotState::kFailed, reason);
  ++tally_.failed;
  UpdateRate();
}

void Station::Scan() {
  Look();
  const NotTaken whyNot = stopSignals_ > 0 ? NotTaken::kStopping : NotTaken::kLotReached;
  const std::vector<std::string> slots = book_.Take(Allowance(), whyNot, Clock::now());
  std::optional<RecipeTake> take;
  if (recipe_ != nullptr && !slots.empty()) take = TakeRecipe();
  for (const std::string& slot : slots) {
    if (take && take->end == RecipeTake::End::kStopped) {  // the signal is read by the loop
      book_.NoBoard(slot, Clock::now());
      continue;
    }
    if (!firstTaken_) firstTaken_ = Clock::now();
    if (take && take->end == RecipeTake::End::kRefused) {
      ++taken_;
      NotWritten(slot, "No recipe to write: " + take->reason);
      continue;
    }
    const std::string device = book_.Slots().at(slot).device;
    boards_[slot].process = StartChild(program_, ChildArguments(options_, *ParseDeviceAddress(device)));
    ++taken_;
  }
  if (options_.maxBoards > 0 && taken_ >= options_.maxBoards && !lotReached_) {
    lotReached_ = true;
    view_.Note("tamsolt-cli: " + std::to_string(taken_) +
               " boards taken (--max-boards): no new board; the running ones finish");
  }
}

void Station::Read(const std::string& slot, Board& board, ChildOutput& output) {
  const bool events = &output == &board.process.out;
  ReadLines(output, !events, [&](const std::string& line) {
    if (!events) {  // a child's own error, as text: on standard error beside events
      if (json_) {
        std::fprintf(stderr, "[%s] %s\n", slot.c_str(), line.c_str());
      } else {
        view_.Line(slot, line);
      }
      return;
    }
    const std::optional<ChildEvent> event = ReadChildEvent(line);
    if (!event) {
      std::fprintf(stderr, "tamsolt-cli: [%s] skipped a line that is not an event: %.200s\n",
                   slot.c_str(), line.c_str());
      return;
    }
    if (json_) PassOnEventLine(line);
    if (event->kind == "progress") {
      book_.Progress(slot, event->item, event->percent);
    } else if (event->kind == "log") {
      view_.Line(slot, event->text);
    } else if (event->kind == "message") {
      view_.Line(slot, "[" + event->title + "] " + event->text);
    } else if (event->kind == "outcome") {
      board.reason = event->reason;
    }
  });
}

void Station::Ended(const std::string& slot, Board& board) {
  const int code = ReapChild(board.process);
  // Where the board is at its outcome decides how its slot re-arms: look now.
  Look();
  if (code == AsInt(ExitCode::kDeviceNotFound) && !book_.Slots().at(slot).present) {
    // Gone before its device was opened: no board, no count, its place in the lot back.
    book_.NoBoard(slot, Clock::now());
    --taken_;
    lotReached_ = options_.maxBoards > 0 && taken_ >= options_.maxBoards;
    return;
  }
  // Done, or done with lines lost from the log file: the board is written.
  const bool done = code == AsInt(ExitCode::kDone) || code == AsInt(ExitCode::kRecordLost);
  if (!board.process.startError.empty()) board.reason = "cannot start its writer: " + board.process.startError;
  if (board.reason.empty()) board.reason = ExitCodeMeaning(code);
  linesLost_ = linesLost_ || code == AsInt(ExitCode::kRecordLost);
  const SlotState result = done ? SlotState::kDone
                           : code == AsInt(ExitCode::kInterrupted) ? SlotState::kInterrupted
                                                                   : SlotState::kFailed;
  book_.Finished(slot, result, board.reason, Clock::now());
  JudgeSlot(slot, result, board.reason);
  ++(done ? tally_.written : tally_.failed);
  if (boardEnded_) boardEnded_();
  UpdateRate();
}

// A board's verdict against its slot: slot-alert when the slot asks to be
// checked, or no longer does.
void Station::JudgeSlot(const std::string& slot, SlotState result, const std::string& reason) {
  const BoardVerdict verdict = result == SlotState::kDone     ? BoardVerdict::kWritten
                               : result == SlotState::kFailed ? BoardVerdict::kFailed
                                                              : BoardVerdict::kCut;
  if (!alerts_.Record(slot, verdict, reason)) return;
  const SlotAlert* alert = alerts_.AlertOf(slot);
  const SlotAlert evidence = alert != nullptr ? *alert : alerts_.Evidence(slot);
  const auto rate = [](long failed, long boards) {
    return boards > 0 ? static_cast<double>(failed) / static_cast<double>(boards) : 0.0;
  };
  Event data = {{"slot", slot}, {"check", alert != nullptr}};
  if (alert != nullptr) data["rule"] = SlotAlertRuleName(alert->rule);
  data["boards"] = evidence.boards;
  data["failed"] = evidence.failed;
  data["rate"] = rate(evidence.failed, evidence.boards);
  data["station_boards"] = evidence.stationBoards;
  data["station_failed"] = evidence.stationFailed;
  data["station_rate"] = rate(evidence.stationFailed, evidence.stationBoards);
  data["last_reasons"] = evidence.lastReasons;
  EmitEvent("slot-alert", std::move(data), book_.Slots().at(slot).device, slot);
}

// No rate until the first board is a minute old: one board after two seconds
// is not 1,800 boards an hour.
void Station::UpdateRate() {
  const Clock::time_point now = Clock::now();
  if (!firstTaken_ || now - *firstTaken_ < kRateAfter) {
    tally_.perHour.reset();
    return;
  }
  const double hours = std::chrono::duration<double>(now - started_).count() / 3600;
  tally_.perHour = static_cast<double>(tally_.written + tally_.failed) / hours;
}

void Station::Stop(int signal) {
  ++stopSignals_;
  if (stopSignals_ == 1) {
    EmitEvent("stopping", {{"signal", StopSignalName(signal)}, {"running", boards_.size()}});
    view_.Note(std::string("tamsolt-cli: ") + StopSignalName(signal) + ": no new board; " +
               std::to_string(boards_.size()) +
               " running finish (a second signal interrupts them)");
    return;
  }
  // The second passes it on, as --all does; a third kills.
  for (const auto& [slot, board] : boards_) SignalChild(board.process, interrupted_ ? SIGKILL : signal);
  if (!interrupted_) {
    killAt_ = Clock::now() + kStopBound;
    EmitEvent("interrupting", {{"signal", StopSignalName(signal)}, {"running", boards_.size()}});
  }
  interrupted_ = true;
  view_.Note(std::string("tamsolt-cli: ") + StopSignalName(signal) + ": interrupting " +
             std::to_string(boards_.size()) + " board(s)");
}

void Station::Show() {
  const Clock::time_point now = Clock::now();
  std::map<std::string, SlotLine> lines;
  const bool countdown = !json_ && isatty(STDOUT_FILENO);
  for (const auto& [name, slot] : book_.Slots()) {
    // A written board still in its slot waits for removal; a board put in
    // after it was out, before the slot re-armed, is not taken.
    Event data = {{"state", StateName(slot.state)}, {"present", slot.present},
                  {"device", slot.device}, {"taken", slot.HoldsItsBoard()}};
    if (slot.present && !slot.HoldsItsBoard() && slot.notTaken != NotTaken::kNone) {
      data["not_taken"] = NotTakenName(slot.notTaken);
    }
    if (slot.state == SlotState::kWriting) {
      data["item"] = slot.item;
      data["percent"] = slot.percent;
    }
    if (slot.Written()) {
      data["waiting"] = slot.HoldsItsBoard();
      data["rearm_in"] = book_.RearmIn(name, now);
    }
    if (slot.state == SlotState::kFailed || slot.state == SlotState::kInterrupted) {
      data["reason"] = slot.reason;
    }
    std::string text = book_.Text(name, now, countdown);
    if (alerts_.AlertOf(name) != nullptr) {
      data["check"] = true;
      text += " [check this slot]";
    }
    lines[name] = {std::move(text),
                   std::chrono::duration_cast<std::chrono::seconds>(now - slot.since).count(),
                   std::move(data)};
  }
  view_.Show(lines, tally_);
}

int Station::Run() {
  view_.Note("tamsolt-cli: watching for boards (Ctrl-C: no new board, twice: interrupt)");
  Clock::time_point nextScan = Clock::now();
  while (!((stopSignals_ > 0 || lotReached_) && boards_.empty())) {
    // One look at the bus per scan period, taking boards or not.
    if (Clock::now() >= nextScan) {
      nextScan = Clock::now() + std::chrono::milliseconds(kScanPeriodMs);
      Scan();
    }
    Show();
    std::vector<pollfd> fds{{StopSignalFd(), POLLIN, 0}};
    std::vector<std::pair<std::string, ChildOutput*>> owners;
    for (auto& [slot, board] : boards_) {
      for (ChildOutput* output : {&board.process.out, &board.process.err}) {
        if (output->fd < 0) continue;
        fds.push_back({output->fd, POLLIN, 0});
        owners.emplace_back(slot, output);
      }
    }
    const auto untilScan = std::chrono::ceil<std::chrono::milliseconds>(nextScan - Clock::now());
    const int ready = poll(fds.data(), fds.size(),
                           static_cast<int>(std::clamp<long>(untilScan.count(), 0, kScanPeriodMs)));
    if (const int signal = TakeStopSignal()) Stop(signal);
    if (killAt_ && Clock::now() >= *killAt_) {
      for (const auto& [slot, board] : boards_) SignalChild(board.process, SIGKILL);
      killAt_.reset();
    }
    for (std::size_t i = 0; ready > 0 && i < owners.size(); ++i) {
      if (fds[i + 1].revents != 0) Read(owners[i].first, boards_[owners[i].first], *owners[i].second);
    }
    for (auto it = boards_.begin(); it != boards_.end();) {
      if (it->second.process.OutputOpen()) {
        ++it;
        continue;
      }
      Ended(it->first, it->second);
      it = boards_.erase(it);
    }
  }
  UpdateRate();
  Show();
  view_.Keep();
  view_.Note("tamsolt-cli: stopped; " + TallyText(tally_));
  if (interrupted_) return AsInt(ExitCode::kInterrupted);
  if (tally_.failed > 0) return AsInt(ExitCode::kSomeDeviceFailed);
  return AsInt(linesLost_ ? ExitCode::kRecordLost : ExitCode::kDone);
}

}  // namespace

int WatchStation(const std::string& program, const CliOptions& options,
                 const std::function<void()>& boardEnded, RecipeSource* recipe) {
  return Station(program, options, boardEnded, recipe).Run();
}
