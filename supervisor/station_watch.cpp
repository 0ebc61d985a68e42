#include "supervisor/station_watch.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <limits>
#include <map>
#include <optional>

#include "events/event_reader.h"
#include "events/event_writer.h"
#include "events/exit_codes.h"
#include "ledger/ledger.h"
#include "link/usb_port.h"
#include "run/device_port.h"
#include "run/recipe_run.h"
#include "run/stop_signals.h"
#include "supervisor/child_process.h"
#include "supervisor/ended_child_row.h"
#include "supervisor/slot_alerts.h"
#include "supervisor/slot_book.h"
#include "supervisor/slot_view.h"
#include "supervisor/station_ledger.h"
#include "supervisor/station_pacing.h"

namespace {

using Clock = std::chrono::steady_clock;

// A board on the bus whose port sysfs has not given for this many looks has
// none to give: it is said, once.
constexpr int kUnplacedLooks = 8;
// Boards per hour means something only once the first board is this old.
constexpr auto kRateAfter = std::chrono::seconds(60);

struct Board {
  ChildProcess process;
  std::string uuid;          // its row in the ledger
  std::string reason;        // from its failure box or its outcome event
  std::string lastBox;       // the last box's text
  std::string lastError;     // its last line on standard error (why it could not run)
  bool failureShown = false;  // its failure box came: the board is counted failed already
  bool endAnswered = false;   // its device answered the end exchange: it holds every image
  int failureCode = AsInt(ExitCode::kTransferGaveUp);  // the exit code that box foretold
};

// What a slot's reason is, for a reader that says it in its own words: "box"
// (the message table's words), "interrupted" (a stop signal cut the write),
// "killed" (the station ended a writer that had not stopped), "not-started"
// (its writer could not run), "no-recipe", "exit" (only the exit code's word).
using ReasonKind = const char*;

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
std::map<std::string, std::string> BoardsBySlot(const std::vector<PortedDevice>& bus) {
  std::map<std::string, std::string> boards;
  for (const PortedDevice& device : bus) {
    if (!device.port.empty()) boards[device.port] = device.address.Text();
  }
  return boards;
}

class Station {
 public:
  Station(std::string program, const CliOptions& options, std::function<void()> boardEnded,
          RecipeSource* recipe, StationListeners listeners)
      : program_(std::move(program)),
        boardEnded_(std::move(boardEnded)),
        recipe_(recipe),
        listeners_(std::move(listeners)),
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
  void SayUnplaced(const std::vector<PortedDevice>& bus);
  void ShowFailure(const std::string& slot, Board& board);
  std::size_t Allowance() const;
  void Read(const std::string& slot, Board& board, ChildOutput& output);
  void Ended(const std::string& slot, Board& board);
  void Stop(int signal);
  void Show();
  void UpdateRate();
  // countsForSlot: false for a board that was never started (no writer, no recipe).
  void JudgeSlot(const std::string& slot, SlotState result, const std::string& reason,
                 bool countsForSlot = true);
  RecipeTake TakeRecipe();
  void NotWritten(const std::string& slot, const std::string& reason);

  std::string program_;
  std::function<void()> boardEnded_;
  RecipeSource* recipe_;
  StationListeners listeners_;
  std::map<std::string, std::string> heard_;  // each slot's text as the listeners last heard it
  CliOptions options_;
  EndedChildRows childRows_{options_.ledger};
  SlotBook book_;
  SlotAlerts alerts_;
  SlotView view_;
  Clock::time_point started_;
  std::map<std::string, Board> boards_;  // running, by slot
  std::map<std::string, std::string> shownBoard_;  // slot -> the address device-found said ("": none)
  std::map<std::string, ReasonKind> reasonKinds_;  // slot -> what its last board's reason is
  std::map<std::string, int> unplacedLooks_;       // address -> looks without a port
  std::vector<std::string> saidUnplaced_;
  Tally tally_;
  long taken_ = 0;
  std::optional<Clock::time_point> firstTaken_;
  bool json_;  // this station's own output is events
  bool linesLost_ = false;  // a board written, but its log file or ledger lost its record
  bool lotReached_ = false;  // --max-boards boards taken: no new one
  int stopSignals_ = 0;      // 1: no new board, the running finish; 2: interrupting
  bool interrupted_ = false;
  bool killed_ = false;  // the station sent SIGKILL to its writers
  std::optional<Clock::time_point> killAt_;
};

// device-found and device-gone as boards come into slots and leave them; a
// board swapped for another between two looks is both.
void Station::Comings() {
  for (const auto& [name, slot] : book_.Slots()) {
    const std::string board = slot.present ? slot.device : std::string();
    std::string& shown = shownBoard_[name];
    if (shown == board) continue;
    if (!shown.empty()) EmitEvent("device-gone", {{"address", shown}, {"slot", name}}, shown, name);
    if (!board.empty()) EmitEvent("device-found", {{"address", board}, {"slot", name}}, board, name);
    shown = board;
  }
}

// A VX742 that stays on the bus without a port is never taken: said once per device.
void Station::SayUnplaced(const std::vector<PortedDevice>& bus) {
  std::map<std::string, int> looks;
  for (const PortedDevice& device : bus) {
    if (!device.port.empty()) continue;
    const std::string address = device.address.Text();
    const int seen = looks[address] = unplacedLooks_[address] + 1;
    if (seen < kUnplacedLooks ||
        std::find(saidUnplaced_.begin(), saidUnplaced_.end(), address) != saidUnplaced_.end()) {
      continue;
    }
    saidUnplaced_.push_back(address);
    view_.Note("tamsolt-cli: the VX742 at " + address +
               " is on the bus but /sys/bus/usb/devices gives it no hub port, so no slot takes "
               "it and it is not written: plug it into another port, or write it with --all");
  }
  unplacedLooks_ = std::move(looks);
}

void Station::Look() {
  const std::vector<PortedDevice> bus = ListMatchingDevicesWithPorts();
  book_.Observe(BoardsBySlot(bus), Clock::now());
  Comings();
  SayUnplaced(bus);
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
  if (listeners_.recipeTaken) listeners_.recipeTaken(take);
  return take;
}

// A board taken that no version of the recipe can be written to: failed, no child started.
void Station::NotWritten(const std::string& slot, const std::string& reason) {
  view_.Note("tamsolt-cli: [" + slot + "] not written: " + reason);
  book_.Finished(slot, SlotState::kFailed, reason, Clock::now());
  reasonKinds_[slot] = "no-recipe";
  JudgeSlot(slot, SlotState::kFailed, reason, false);
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
    Board& board = boards_[slot];
    board = Board{};
    board.uuid = NewUuid();
    board.process = StartChild(program_, ChildArguments(options_, *ParseDeviceAddress(device), board.uuid));
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
      board.lastError = line;
      if (json_) {
        std::fprintf(stderr, "[%s] %s\n", slot.c_str(), line.c_str());
      } else {
        view_.Line(slot, line);
      }
      return;
    }
    const std::optional<StationEvent> event = ParseEventLine(line);
    if (!event) {
      std::fprintf(stderr, "tamsolt-cli: [%s] skipped a line that is not an event: %.200s\n",
                   slot.c_str(), line.c_str());
      return;
    }
    if (json_) PassOnEventLine(line);
    if (event->kind == EventKind::kProgress) {
      book_.Progress(slot, event->item, event->percent);
    } else if (event->kind == EventKind::kLog) {
      view_.Line(slot, event->text);
    } else if (event->kind == EventKind::kMessageBox) {
      view_.Line(slot, "[" + event->title + "] " + event->text);
      board.lastBox = event->text;
      if (event->failure && !board.failureShown) {
        board.reason = event->text;
        if (event->exitCode) board.failureCode = *event->exitCode;
        ShowFailure(slot, board);
      }
    } else if (event->kind == EventKind::kEndAnswered) {
      board.endAnswered = true;
    } else if (event->kind == EventKind::kOutcome && !board.failureShown) {
      board.reason = OutcomeReason(*event);
    }
  });
}

// The failure box came: the board has failed, and the slot and the tally say
// so now, while its writer still closes the link.
void Station::ShowFailure(const std::string& slot, Board& board) {
  board.failureShown = true;
  book_.Failing(slot, board.reason, Clock::now());
  reasonKinds_[slot] = "box";
  JudgeSlot(slot, SlotState::kFailed, board.reason);
  ++tally_.failed;
  UpdateRate();
}

void Station::Ended(const std::string& slot, Board& board) {
  int code = ReapChild(board.process);
  const double seconds = std::chrono::duration<double>(Clock::now() - board.process.started).count();
  // Where the board is at its outcome decides how its slot re-arms: look now.
  Look();
  if (code == AsInt(ExitCode::kDeviceNotFound) && !book_.Slots().at(slot).present &&
      !board.failureShown) {
    // Gone before its device was opened: no board, no count, its place in the lot back.
    book_.NoBoard(slot, Clock::now());
    --taken_;
    lotReached_ = options_.maxBoards > 0 && taken_ >= options_.maxBoards;
    return;
  }
  ReasonKind kind = board.reason.empty() ? "exit"
                    : board.reason == board.lastBox ? "box"
                    : code == AsInt(ExitCode::kInterrupted) ? "interrupted"
                                                            : "exit";
  if (code > 128) {
    // A signal ended the writer before it could close its board's row. A
    // board whose failure was shown stays failed; the station's own kill
    // after a stop interrupted the board; anything else failed it.
    const bool cut = killed_ && code == 128 + SIGKILL;
    if (board.failureShown) {
      code = board.failureCode;
    } else if (board.endAnswered) {
      // Its device had taken every image: whatever ended the writer then, the board is written.
      code = AsInt(ExitCode::kDone);
      board.reason.clear();
    } else {
      if (cut) code = AsInt(ExitCode::kInterrupted);
      board.reason = cut ? kKilledAfterStopText : "ended by a signal";
      kind = cut ? "killed" : "exit";
    }
  }
  // A row its writer could not close (a signal, a full disk) is closed as the station saw the end.
  childRows_.Close(board.uuid, code, board.reason, seconds);
  if (!board.process.startError.empty() ||
      (code == kChildNotStarted && !board.lastError.empty() && !board.failureShown)) {
    board.reason = "cannot start its writer: " +
                   (board.process.startError.empty() ? board.lastError : board.process.startError);
    kind = "not-started";
  }
  if (board.reason.empty()) board.reason = ExitCodeMeaning(code);
  // Done, or done with lines lost from the log file: the board is written.
  const bool done = code == AsInt(ExitCode::kDone) || code == AsInt(ExitCode::kRecordLost);
  linesLost_ = linesLost_ || code == AsInt(ExitCode::kRecordLost);
  const SlotState result = done ? SlotState::kDone
                           : code == AsInt(ExitCode::kInterrupted) ? SlotState::kInterrupted
                                                                   : SlotState::kFailed;
  book_.Finished(slot, result, board.reason, Clock::now());
  if (boardEnded_) boardEnded_();
  if (board.failureShown) return;  // judged and counted when its box came
  reasonKinds_[slot] = kind;
  JudgeSlot(slot, result, board.reason, std::string(kind) != "not-started");
  ++(done ? tally_.written : result == SlotState::kInterrupted ? tally_.interrupted : tally_.failed);
  UpdateRate();
}

// A board's verdict against its slot: slot-alert when the slot asks to be
// checked, or no longer does.
void Station::JudgeSlot(const std::string& slot, SlotState result, const std::string& reason,
                        bool countsForSlot) {
  const BoardVerdict verdict = !countsForSlot                 ? BoardVerdict::kCut
                               : result == SlotState::kDone   ? BoardVerdict::kWritten
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
  if (interrupted_) killed_ = true;
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
      const auto kind = reasonKinds_.find(name);
      data["reason_kind"] = kind != reasonKinds_.end() ? kind->second : "exit";
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
  if (listeners_.slotChanged) {
    for (const auto& [slot, line] : lines) {
      auto& heard = heard_[slot];
      if (heard == line.text) continue;
      heard = line.text;
      listeners_.slotChanged(slot, line);
    }
  }
  view_.Show(lines, tally_);
}

int Station::Run() {
  LookOverLedgerBeforeChildren(options_.ledger);
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
      killed_ = true;
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
  // A stop that came when the boards under way were written already cut none.
  if (tally_.interrupted > 0) return AsInt(ExitCode::kInterrupted);
  if (tally_.failed > 0) return AsInt(ExitCode::kSomeDeviceFailed);
  return AsInt(linesLost_ ? ExitCode::kRecordLost : ExitCode::kDone);
}

}  // namespace

int WatchStation(const std::string& program, const CliOptions& options,
                 const std::function<void()>& boardEnded, RecipeSource* recipe,
                 StationListeners listeners) {
  return Station(program, options, boardEnded, recipe, std::move(listeners)).Run();
}
