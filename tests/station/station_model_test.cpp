// The event reader and the slot model, without a display.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "events/event_reader.h"
#include "station/slot_model.h"
#include "station/station_settings.h"
#include "station/today_report.h"

namespace {

std::string Line(const std::string& kind, const std::string& slot, const std::string& data,
                 const std::string& time = "2026-12-08T14:00:00.000Z") {
  std::string line = R"({"schema":1,"kind":")" + kind + R"(","time":")" + time + "\"";
  if (!slot.empty()) line += R"(,"slot":")" + slot + "\"";
  return line + R"(,"data":)" + data + "}";
}

StationModel Fed(const std::vector<std::string>& lines) {
  StationModel model;
  for (const std::string& line : lines) {
    if (const auto event = ParseEventLine(line)) model.Apply(*event);
  }
  return model;
}

TEST(StationEventReader, TakesWhatItKnowsAndIgnoresTheRest) {
  struct Case {
    const char* line;
    bool read;
    EventKind kind;
  };
  const Case cases[] = {
      {R"({"schema":1,"kind":"progress","slot":"1-1.2","data":{"item":"HOST","percent":42}})", true, EventKind::kProgress},
      {R"({"schema":2,"kind":"brand-new","data":{}})", true, EventKind::kUnknown},
      {R"({"kind":"outcome","data":"not an object","more":[1]})", true, EventKind::kOutcome},
      {R"({"schema":1,"kind":"outc)", false, EventKind::kUnknown},
      {R"(["kind","outcome"])", false, EventKind::kUnknown},
      {R"({"schema":1,"data":{}})", false, EventKind::kUnknown},
      {"tamsolt-cli: stopping 2 device(s)", false, EventKind::kUnknown},
      {"", false, EventKind::kUnknown},
  };
  for (const Case& c : cases) {
    const auto event = ParseEventLine(c.line);
    ASSERT_EQ(event.has_value(), c.read) << c.line;
    if (event) {
      EXPECT_EQ(event->kind, c.kind) << c.line;
    }
  }
}

TEST(StationEventReader, ReadsEnvelopeAndData) {
  const auto event = ParseEventLine(
      R"({"schema":1,"kind":"outcome","time":"2026-12-08T14:11:37.123Z","device":"001:004","slot":"1-1.3",)"
      R"("data":{"exit_code":8,"exit_name":"transfer gave up","reason":"下载失败","percent":"x"}})");
  ASSERT_TRUE(event);
  EXPECT_EQ(event->slot, "1-1.3");
  EXPECT_EQ(event->device, "001:004");
  EXPECT_EQ(event->exitCode, 8);
  EXPECT_EQ(event->exitName, "transfer gave up");
  EXPECT_EQ(event->text, "下载失败");
  EXPECT_EQ(event->percent, 0);  // a field of the wrong type is absent
  EXPECT_EQ(event->timeMs, 1796739097123LL);
  // Without a port the device names the slot.
  EXPECT_EQ(ParseEventLine(R"({"kind":"item-start","device":"001:009","data":{}})")->slot, "001:009");
  EXPECT_EQ(ParseEventTime("yesterday"), 0);
}

// No line throws: a field of the wrong type or out of its range is absent.
TEST(StationEventReader, AnyLineIsReadOrSkippedNeverThrown) {
  struct Case {
    std::string line;
    bool read;
    std::optional<int> exitCode;
    std::optional<bool> taken;
    const char* notTaken;
  };
  const Case cases[] = {
      {R"({"kind":"outcome","data":{"exit_code":4294967296}})", true, std::nullopt, std::nullopt, ""},
      {R"({"kind":"outcome","data":{"exit_code":18446744073709551615}})", true, std::nullopt, std::nullopt, ""},
      {R"({"kind":"outcome","data":{"exit_code":-9223372036854775808}})", true, std::nullopt, std::nullopt, ""},
      {R"({"kind":"outcome","data":{"exit_code":-1,"per_hour":1e999}})", false, std::nullopt, std::nullopt, ""},
      {R"({"kind":"outcome","data":{"exit_code":10.5}})", true, std::nullopt, std::nullopt, ""},
      {R"({"kind":"slot-state","slot":7,"data":{"taken":"no","not_taken":3,"present":null}})", true, std::nullopt, std::nullopt, ""},
      {R"({"kind":"slot-state","data":{"taken":false,"not_taken":"came-back"}})", true, std::nullopt, false, "came-back"},
      {"{\"kind\":\"message\",\"data\":{\"text\":\"\xff\xfe\"}}", false, std::nullopt, std::nullopt, ""},
      {std::string(100000, '[') + std::string(100000, ']'), false, std::nullopt, std::nullopt, ""},
      {R"({"kind":"tally","data":)" + std::string(50000, '[') + std::string(50000, ']') + "}", true, std::nullopt, std::nullopt, ""},
  };
  for (const Case& c : cases) {
    std::optional<StationEvent> event;
    ASSERT_NO_THROW(event = ParseEventLine(c.line)) << c.line.substr(0, 80);
    ASSERT_EQ(event.has_value(), c.read) << c.line.substr(0, 80);
    if (!event) continue;
    EXPECT_EQ(event->exitCode, c.exitCode) << c.line;
    EXPECT_EQ(event->taken, c.taken) << c.line;
    EXPECT_EQ(event->notTaken, c.notTaken) << c.line;
    EXPECT_FALSE(event->present) << c.line;
    StationModel model;
    EXPECT_NO_THROW(model.Apply(*event));
  }
}

TEST(StationEventReader, RunStartKeepsEnabledRowsWithTheirPins) {
  const auto event = ParseEventLine(Line("run-start", "",
      R"({"rows":[{"item":"BOOT","enabled":true,"file":"/a/boot.bin","sha256":"abcd"},)"
      R"({"item":"FONT","enabled":false,"file":"/a/f.pack"},{"item":"HOST","file":"/a/host.bin"},7]})"));
  ASSERT_TRUE(event);
  ASSERT_EQ(event->rows.size(), 2u);
  EXPECT_EQ(event->rows[0].sha256, "abcd");
  EXPECT_EQ(event->rows[1].item, "HOST");
}

// The recipe the station writes: named by run-start, switched by a recipe
// event of the station (a child's, naming its slot, changes nothing), and
// marked while the line database is away.
TEST(SlotModel, TheRecipeFollowsTheStationsSwitches) {
  StationModel model = Fed({
      Line("run-start", "", R"({"recipe":"line3","recipe_version":6,"rows":[{"item":"RCDB","file":"/c/ab"}]})"),
      Line("run-start", "1-1.2", R"({"recipe":"line3","recipe_version":5})"),
  });
  EXPECT_EQ(model.Recipe() + "@" + std::to_string(model.RecipeVersion().value_or(0)), "line3@6");
  model = Fed({
      Line("run-start", "", R"({"recipe":"line3","recipe_version":6})"),
      Line("recipe", "", R"({"name":"line3","version":7,"away":true,)"
                         R"("rows":[{"item":"HOST","enabled":true,"file":"host.bin","sha256":"ef01"}]})"),
  });
  EXPECT_EQ(model.Recipe() + "@" + std::to_string(model.RecipeVersion().value_or(0)), "line3@7");
  EXPECT_TRUE(model.RecipeAway());
  ASSERT_EQ(model.Rows().size(), 1u);
  EXPECT_EQ(model.Rows()[0].file, "host.bin");
  // The database answers again: the same version, no longer from the cache alone.
  model.Apply(*ParseEventLine(Line("recipe", "", R"({"name":"line3","version":7,"away":false})")));
  EXPECT_FALSE(model.RecipeAway());
  model = Fed({Line("run-start", "", R"({"recipe":"","recipe_version":null})")});
  EXPECT_EQ(model.Recipe(), "");
  EXPECT_FALSE(model.RecipeVersion());
}

TEST(SlotOrder, FollowsTheHub) {
  const std::pair<const char*, const char*> before[] = {
      {"1-1.2", "1-1.10"}, {"1-1.9", "1-1.9.1"}, {"1-2", "2-1"}, {"1-1.3", "001:004"}, {"001:004", "001:005"}};
  for (const auto& [a, b] : before) {
    EXPECT_TRUE(PortBefore(a, b)) << a << " < " << b;
    EXPECT_FALSE(PortBefore(b, a)) << b << " < " << a;
  }
}

TEST(SlotModel, ABoardEndsOnceWhicheverEventComesFirst) {
  const std::string t0 = "2026-12-08T14:00:00.000Z", t1 = "2026-12-08T14:00:30.500Z";
  const StationModel model = Fed({
      Line("run-start", "", "{}", t0),
      Line("item-start", "1-1.2", R"({"item":"BOOT"})", t0),
      Line("message", "1-1.2", R"({"title":"提示","text":"下载失败"})", t1),
      Line("outcome", "1-1.2", R"({"exit_code":8,"exit_name":"transfer gave up"})", t1),
      Line("item-start", "1-1.3", R"({"item":"BOOT"})", t0),
      Line("message", "1-1.3", R"({"title":"提示","text":"下载完成！"})", t1),
      Line("device-result", "1-1.2", R"({"exit_code":8,"exit_name":"transfer gave up"})", t1),
      Line("device-result", "1-1.3", R"({"exit_code":11,"exit_name":"done, log file lost lines"})", t1),
      Line("outcome", "1-1.3", R"({"exit_code":11})", t1),
      Line("item-start", "1-1.4", R"({"item":"HOST"})", t0),
      Line("device-result", "1-1.4", R"({"exit_code":137,"exit_name":"ended by a signal"})", t1),
  });
  const Slot* failed = model.Find("1-1.2");
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->state, SlotState::kFailed);
  EXPECT_EQ(failed->reason, "下载失败");  // the box's words, not the exit code's name
  EXPECT_DOUBLE_EQ(StationModel::ElapsedSeconds(*failed, 0), 30.5);
  EXPECT_EQ(model.Find("1-1.3")->state, SlotState::kDone);
  EXPECT_EQ(model.Find("1-1.3")->reason, "");  // a success's box is no reason
  EXPECT_EQ(model.Find("1-1.4")->reason, "ended by a signal");
  const Tally tally = model.TallyAt(0);
  EXPECT_EQ(tally.written, 1);
  EXPECT_EQ(tally.failed, 2);
}

TEST(SlotModel, WatchShowingAFinishedBoardWritingOnceMoreKeepsItFinished) {
  const StationModel model = Fed({
      R"({"kind":"item-start","time":"2026-12-08T14:00:00.000Z","device":"001:002","slot":"1-1.1","data":{"item":"RCDB"}})",
      R"({"kind":"outcome","time":"2026-12-08T14:00:05.000Z","device":"001:002","slot":"1-1.1","data":{"exit_code":0}})",
      R"({"kind":"slot-state","time":"2026-12-08T14:00:05.100Z","device":"001:002","slot":"1-1.1","data":{"state":"writing","item":"RCDB","percent":100}})",
      R"({"kind":"slot-state","time":"2026-12-08T14:00:05.200Z","device":"001:002","slot":"1-1.1","data":{"state":"done","present":true}})",
      R"({"kind":"slot-state","time":"2026-12-08T14:00:09.000Z","device":"001:003","slot":"1-1.2","data":{"state":"writing"}})",
  });
  EXPECT_EQ(model.Find("1-1.1")->state, SlotState::kDone);
  EXPECT_DOUBLE_EQ(StationModel::ElapsedSeconds(*model.Find("1-1.1"), 0), 5.0);
  EXPECT_EQ(model.Find("1-1.2")->state, SlotState::kWriting);
  EXPECT_EQ(model.TallyAt(0).written, 1);  // counted once, though told twice
}

// --watch: a written board taken out, and another put in before the slot re-armed.
TEST(SlotModel, ABoardPutInTooSoonIsNotShownWritingNorCounted) {
  const auto at = [](const char* kind, const char* device, const char* data) {
    return std::string(R"({"kind":")") + kind + R"(","device":")" + device +
           R"(","slot":"1-1.1","data":)" + data + "}";
  };
  StationModel model = Fed({
      at("device-found", "001:002", "{}"),
      at("slot-state", "001:002", R"({"state":"writing","present":true})"),
      at("device-opened", "001:002", "{}"),
      at("outcome", "001:002", R"({"exit_code":0})"),
      at("slot-state", "001:002", R"({"state":"done","present":true})"),
      // Out and in again within one scan: the board events alone change no
      // state; the CLI's slot-state says the new board is not taken.
      at("device-gone", "001:002", "{}"),
      at("device-found", "001:003", "{}"),
  });
  EXPECT_EQ(model.Find("1-1.1")->state, SlotState::kDone);
  model.Apply(*ParseEventLine(at("slot-state", "001:003", R"({"state":"done","present":true,"taken":false})")));
  EXPECT_EQ(model.Find("1-1.1")->state, SlotState::kNotTaken);
  EXPECT_EQ(model.TallyAt(0).written, 1);
}

// --watch sequences of one slot, each step with what its tile shows then.
TEST(SlotModel, SwapsAndBoardsThatCameBack) {
  struct Step {
    const char* kind;
    const char* device;
    const char* data;
    SlotState state;
  };
  struct Sequence {
    const char* name;
    std::vector<Step> steps;
    int written;
  };
  const Sequence sequences[] = {
      {"a fast swap: the new board is written and done",
       {{"slot-state", "001:002", R"({"state":"writing","present":true,"taken":true})", SlotState::kWriting},
        // The child's outcome is the supervisor's to show.
        {"outcome", "001:002", R"({"exit_code":0})", SlotState::kWriting},
        {"slot-state", "001:002", R"({"state":"done","present":true,"taken":true,"waiting":true})", SlotState::kDone},
        {"slot-state", "001:002", R"({"state":"done","present":false,"taken":false})", SlotState::kEmpty},
        {"slot-state", "", R"({"state":"empty","present":false})", SlotState::kEmpty},
        {"device-found", "001:003", "{}", SlotState::kEmpty},
        {"slot-state", "001:003", R"({"state":"writing","present":true,"taken":true})", SlotState::kWriting},
        {"progress", "001:003", R"({"item":"HOST","percent":40})", SlotState::kWriting},
        // A late word about the board before changes nothing of the new one.
        {"device-result", "001:002", R"({"exit_code":8,"exit_name":"transfer gave up"})", SlotState::kWriting},
        {"outcome", "001:003", R"({"exit_code":0})", SlotState::kWriting},
        {"slot-state", "001:003", R"({"state":"done","present":true,"taken":true,"waiting":true})", SlotState::kDone}},
       2},
      {"a board that came back is not taken, never done, until plugged in again",
       {{"slot-state", "001:002", R"({"state":"writing","present":true,"taken":true})", SlotState::kWriting},
        {"slot-state", "001:002", R"({"state":"done","present":true,"taken":true})", SlotState::kDone},
        {"device-gone", "001:002", "{}", SlotState::kDone},
        {"slot-state", "001:002", R"({"state":"done","present":false,"taken":false})", SlotState::kEmpty},
        {"slot-state", "001:004", R"({"state":"done","present":true,"taken":false,"not_taken":"came-back"})", SlotState::kNotTaken},
        {"outcome", "001:002", R"({"exit_code":0})", SlotState::kNotTaken},
        // A taken that says otherwise does not make it green.
        {"slot-state", "001:004", R"({"state":"done","present":true,"taken":true,"not_taken":"came-back"})", SlotState::kNotTaken},
        {"slot-state", "001:004", R"({"state":"done","present":false,"taken":false})", SlotState::kEmpty},
        {"slot-state", "", R"({"state":"empty","present":false})", SlotState::kEmpty},
        {"slot-state", "001:005", R"({"state":"writing","present":true,"taken":true})", SlotState::kWriting},
        {"slot-state", "001:005", R"({"state":"done","present":true,"taken":true})", SlotState::kDone}},
       2},
      {"stopping, a complete lot and a state to come take no board",
       {{"slot-state", "001:006", R"({"state":"empty","present":true,"taken":false,"not_taken":"stopping"})", SlotState::kNotTaken},
        {"slot-state", "001:006", R"({"state":"empty","present":true,"taken":false,"not_taken":"lot-reached"})", SlotState::kNotTaken},
        {"slot-state", "001:006", R"({"state":"empty","present":false})", SlotState::kEmpty},
        {"slot-state", "001:007", R"({"state":"writing","present":true,"taken":true})", SlotState::kWriting},
        {"slot-state", "001:007", R"({"state":"done","present":true,"taken":true})", SlotState::kDone},
        {"slot-state", "001:008", R"({"state":"a-state-to-come","present":true,"taken":false})", SlotState::kNotTaken}},
       1},
  };
  for (const Sequence& sequence : sequences) {
    StationModel model;
    for (const Step& step : sequence.steps) {
      const std::string line = std::string(R"({"kind":")") + step.kind + R"(","device":")" + step.device +
                               R"(","slot":"1-1.4","data":)" + step.data + "}";
      model.Apply(*ParseEventLine(line));
      const Slot* slot = model.Find("1-1.4");
      ASSERT_TRUE(slot) << sequence.name;
      EXPECT_EQ(slot->state, step.state) << sequence.name << ": " << line;
      // Its tile says why from the CLI's own word.
      if (std::string(step.kind) == "slot-state" && slot->state == SlotState::kNotTaken) {
        EXPECT_EQ(slot->notTaken, ParseEventLine(line)->notTaken) << line;
      }
    }
    EXPECT_EQ(model.TallyAt(0).written, sequence.written) << sequence.name;
  }
}

TEST(SlotModel, RestartKeepsTheBoardAndRemovalClearsAFinishedOne) {
  StationModel model = Fed({
      Line("item-start", "1-1.2", R"({"item":"HOST"})"),
      Line("device-gone", "1-1.2", "{}"),  // restarts during its write
      Line("progress", "1-1.2", R"({"item":"HOST","percent":60})"),
  });
  EXPECT_EQ(model.Find("1-1.2")->state, SlotState::kWriting);
  EXPECT_EQ(model.Find("1-1.2")->percent, 60);
  for (const std::string& line : {Line("outcome", "1-1.2", R"({"exit_code":8,"reason":"r"})"),
                                  Line("progress", "1-1.2", R"({"percent":70})")}) {
    model.Apply(*ParseEventLine(line));
  }
  EXPECT_EQ(model.Find("1-1.2")->state, SlotState::kFailed);  // stays red until removed
  EXPECT_EQ(model.TakeNewFailures(), 1);
  EXPECT_EQ(model.TakeNewFailures(), 0);
  model.Apply(*ParseEventLine(Line("device-gone", "1-1.2", "{}")));
  EXPECT_EQ(model.Find("1-1.2")->state, SlotState::kEmpty);
  EXPECT_EQ(model.Find("1-1.2")->reason, "");
}

// --watch's stream for one slot: three boards fail, the slot asks to be
// checked with the evidence; the alert outlives the board's removal and the
// next board's write, and only a board written there clears it.
TEST(SlotModel, ASlotAskedToBeCheckedUntilABoardThereIsWritten) {
  const std::string writing = R"({"state":"writing","present":true,"taken":true,"item":"HOST"})";
  const std::string failed = R"({"state":"failed","present":true,"taken":true,"reason":"no reply","reason_kind":"box"})";
  const std::string alert =
      R"({"slot":"1-1.2","check":true,"rule":"last-three-failed","boards":3,"failed":3,"rate":1,)"
      R"("station_boards":9,"station_failed":3,"station_rate":0.33,"last_reasons":["a",7,"no reply"]})";
  const struct {
    std::string line;
    bool check;
  } steps[] = {
      {Line("slot-state", "1-1.2", writing), false},
      {Line("slot-state", "1-1.2", failed), false},
      {Line("slot-alert", "1-1.2", alert), true},
      {Line("slot-alert", "1-1.2", R"({"check":"yes"})"), true},  // unreadable: changes nothing
      {Line("device-gone", "1-1.2", "{}"), true},
      {Line("slot-state", "1-1.2", R"({"state":"empty","present":false})"), true},
      {Line("slot-state", "1-1.2", writing), true},
      {Line("slot-state", "1-1.2", failed), true},  // another failure: still asks
      {Line("slot-state", "1-1.2", R"({"state":"empty","present":false})"), true},
      {Line("slot-state", "1-1.2", writing), true},
      {Line("slot-state", "1-1.2", R"({"state":"done","present":true,"taken":true})"), false},
      // The slot's state of the board before says check again, as a window
      // started mid-session reads it.
      {Line("slot-state", "1-1.2", R"({"state":"failed","present":true,"check":true})"), true},
      {Line("slot-alert", "1-1.2", R"({"check":false,"boards":5,"failed":4})"), false},
  };
  StationModel model;
  for (const auto& step : steps) {
    model.Apply(*ParseEventLine(step.line));
    const Slot* slot = model.Find("1-1.2");
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(slot->check, step.check) << step.line;
    if (step.line.find("last-three-failed") != std::string::npos) {
      EXPECT_EQ(slot->checkEvidence.rule, "last-three-failed");
      EXPECT_EQ(slot->checkEvidence.failed, 3);
      EXPECT_EQ(slot->checkEvidence.boards, 3);
      EXPECT_EQ(slot->checkEvidence.lastReasons, (std::vector<std::string>{"a", "no reply"}));
      EXPECT_DOUBLE_EQ(slot->checkEvidence.stationRate.value_or(-1), 0.33);
    }
  }
  // Another slot's alert is its own.
  EXPECT_EQ(model.Find("1-1.3"), nullptr);
}

TEST(SlotModel, SlotStatesOfWatchAndARunThatEnds) {
  StationModel model;
  model.NameSlots({{"1-1.8", "A8"}});
  struct Step {
    const char* data;
    SlotState state;
    const char* reason;
  };
  // One slot through a session: written, taken out, a board put in before the
  // slot re-armed (not written), re-armed, written again and failed, interrupted.
  const Step steps[] = {
      {R"({"state":"writing","present":true,"item":"HOST","percent":20})", SlotState::kWriting, ""},
      {R"({"state":"done","present":true,"text":"done, waiting for removal"})", SlotState::kDone, ""},
      {R"({"state":"done","present":false})", SlotState::kEmpty, ""},
      {R"({"state":"done","present":true,"taken":false,"rearm_in":3})", SlotState::kNotTaken, ""},
      {R"({"state":"done","present":false})", SlotState::kEmpty, ""},
      {R"({"state":"empty","present":false})", SlotState::kEmpty, ""},
      {R"({"state":"no-such-state"})", SlotState::kEmpty, ""},
      {R"({"state":"writing","present":true})", SlotState::kWriting, ""},
      {R"({"state":"failed","present":true,"reason":"下载失败","text":"failed: 下载失败"})", SlotState::kFailed, "下载失败"},
      {R"({"state":"empty","present":false})", SlotState::kEmpty, ""},
      {R"({"state":"empty","present":true,"taken":false})", SlotState::kNotTaken, ""},  // stopping: not taken
      {R"({"state":"writing","present":true})", SlotState::kWriting, ""},
      {R"({"state":"interrupted","present":true,"taken":true,"waiting":true,"reason":"Interrupted by SIGINT"})",
       SlotState::kInterrupted, "Interrupted by SIGINT"},
      {R"({"state":"interrupted","present":false,"taken":false})", SlotState::kEmpty, ""},
      {R"({"state":"writing","present":true})", SlotState::kWriting, ""},
  };
  for (const Step& step : steps) {
    model.Apply(*ParseEventLine(Line("slot-state", "1-1.8", step.data)));
    EXPECT_EQ(model.Find("1-1.8")->state, step.state) << step.data;
    EXPECT_EQ(model.Find("1-1.8")->reason, step.reason) << step.data;
  }
  EXPECT_EQ(model.Find("1-1.8")->name, "A8");
  EXPECT_EQ(model.Find("1-1.8")->percent, 0);  // a new board starts at nothing
  // The child's outcome waits for the supervisor's word, which gives the reason.
  model.Apply(*ParseEventLine(Line("outcome", "1-1.8", R"({"exit_code":10,"reason":"interrupted at BOOT block 2"})")));
  EXPECT_EQ(model.Find("1-1.8")->state, SlotState::kWriting);
  model.Apply(*ParseEventLine(Line("slot-state", "1-1.8", R"({"state":"interrupted","present":true,"reason":"x"})")));
  EXPECT_EQ(model.Find("1-1.8")->state, SlotState::kInterrupted);
  EXPECT_EQ(model.Find("1-1.8")->reason, "x");
  model.Apply(*ParseEventLine(Line("slot-state", "1-1.9", R"({"state":"writing","present":true})")));
  model.RunEnded(0, "ended");
  EXPECT_EQ(model.Find("1-1.9")->state, SlotState::kInterrupted);
  EXPECT_EQ(model.Find("1-1.9")->reason, "ended");
  EXPECT_FALSE(model.AnyWriting());
}

TEST(SlotModel, TallyRateAndTheCliOwnFigures) {
  StationModel model = Fed({
      Line("run-start", "", "{}", "2026-12-08T14:00:00.000Z"),
      Line("outcome", "1-1.1", R"({"exit_code":0})", "2026-12-08T14:05:00.000Z"),
  });
  const std::int64_t start = ParseEventTime("2026-12-08T14:00:00.000Z");
  EXPECT_FALSE(model.TallyAt(start + 30 * 1000).perHour);  // too soon to say
  EXPECT_DOUBLE_EQ(*model.TallyAt(start + 30 * 60 * 1000).perHour, 2.0);
  model.Apply(*ParseEventLine(Line("tally", "", R"({"written":7,"failed":1,"per_hour":55.5})")));
  const Tally tally = model.TallyAt(start);
  EXPECT_EQ(tally.written, 7);
  EXPECT_DOUBLE_EQ(*tally.perHour, 55.5);
  // The CLI gives no rate in its first minute: none is shown, none made up.
  model.Apply(*ParseEventLine(Line("tally", "", R"({"written":8,"failed":1,"per_hour":null})")));
  EXPECT_FALSE(model.TallyAt(start + 30 * 60 * 1000).perHour);
}

// A line in the shape tamsolt-cli --watch --json writes it: the envelope names
// the board and its slot; the supervisor's own lines about the run have neither.
std::string Event(const std::string& kind, const std::string& device, const std::string& slot,
                  const std::string& data, const std::string& time) {
  std::string line = R"({"schema":1,"kind":")" + kind + R"(","time":"2026-12-08T)" + time + "Z\"";
  if (!device.empty()) line += R"(,"device":")" + device + "\"";
  if (!slot.empty()) line += R"(,"slot":")" + slot + "\"";
  return line + R"(,"data":)" + data + "}";
}

const std::string kWatchStart = Event("run-start", "", "", R"({"program":"tamsolt-cli","mode":"watch","rows":[]})", "14:00:00.000");

// A board plugged and pulled at once: its child could not read its port and
// names its slot by BUS:ADDR; the supervisor counts no board. Only without a
// supervisor (a replayed --all) is the child's account the board's.
TEST(SlotModel, AChildOfABoardThatWasNeverOneMakesNoTileAndNoFailure) {
  const std::vector<std::string> phantom = {
      Event("run-start", "001:002", "001:002", R"({"program":"tamsolt-cli","mode":"single","rows":[]})", "14:00:01.010"),
      Event("message", "001:002", "001:002", R"({"title":"提示","text":"Device NOT found!"})", "14:00:01.020"),
      Event("outcome", "001:002", "001:002", R"({"exit_code":4,"exit_name":"device not found","seconds":0.01,"reason":"Device NOT found!"})", "14:00:01.021"),
      Event("device-result", "001:002", "001:002", R"({"exit_code":4,"exit_name":"device not found","seconds":0.02})", "14:00:01.022"),
  };
  const std::string found = Event("device-found", "001:002", "1-1.3", R"({"address":"001:002","slot":"1-1.3"})", "14:00:01.000");
  const std::string writing = Event("slot-state", "001:002", "1-1.3", R"({"state":"writing","present":true,"device":"001:002","taken":true,"item":"","percent":0,"text":"writing"})", "14:00:01.000");
  const std::string empty = Event("slot-state", "", "1-1.3", R"({"state":"empty","present":false,"device":"","taken":false,"text":"empty"})", "14:00:01.250");
  // The same child's outcome naming the port after the slot went empty.
  const std::string lateOnPort = Event("outcome", "001:002", "1-1.3", R"({"exit_code":4,"exit_name":"device not found","reason":"Device NOT found!"})", "14:00:01.300");
  const std::string tally = Event("tally", "", "", R"({"written":0,"failed":0,"interrupted":0,"per_hour":null})", "14:00:00.500");
  const struct {
    const char* name;
    std::vector<std::string> lines;
    std::vector<std::string> ports;
    int newFailures;
    int failed;
  } cases[] = {
      {"watch", {kWatchStart, found, writing, phantom[0], phantom[1], phantom[2], empty, lateOnPort}, {"1-1.3"}, 0, 0},
      {"watch, its slot still writing", {kWatchStart, found, writing, phantom[1], phantom[2], phantom[3]}, {"1-1.3"}, 0, 0},
      {"a stream known by its tally", {tally, phantom[0], phantom[1], phantom[2]}, {}, 0, 0},
      {"a replayed --all", {phantom[0], phantom[1], phantom[2]}, {"001:002"}, 1, 1},
  };
  for (const auto& c : cases) {
    StationModel model = Fed(c.lines);
    std::vector<std::string> ports;
    for (const Slot* slot : model.Slots()) ports.push_back(slot->port);
    EXPECT_EQ(ports, c.ports) << c.name;
    EXPECT_EQ(model.TakeNewFailures(), c.newFailures) << c.name;  // the beep
    EXPECT_EQ(model.TallyAt(0).failed, c.failed) << c.name;
    if (const Slot* slot = model.Find("1-1.3")) {
      EXPECT_NE(slot->state, SlotState::kFailed) << c.name;
      EXPECT_EQ(slot->lastBox, "") << c.name;
    }
  }
}

// A board that left before its outcome (it restarts as its write ends): the
// slot waits, counting down from the event's time, until the CLI says empty.
TEST(SlotModel, ASlotWaitingToReArmIsNeverShownFree) {
  const std::string writing = Event("slot-state", "001:005", "1-1.2", R"({"state":"writing","present":true,"device":"001:005","taken":true,"item":"HOST","percent":90,"text":"writing HOST 90%"})", "14:00:01.000");
  const auto left = [](const std::string& rearm) {
    return Event("slot-state", "001:005", "1-1.2", R"({"state":"done","present":false,"device":"001:005","taken":false,"waiting":false)" + rearm + R"(,"text":"done, empty"})", "14:00:30.000");
  };
  StationModel model = Fed({kWatchStart, writing,
                            Event("device-gone", "001:005", "1-1.2", R"({"address":"001:005","slot":"1-1.2"})", "14:00:30.000"),
                            left(R"(,"rearm_in":2.6)")});
  const Slot* slot = model.Find("1-1.2");
  ASSERT_NE(slot, nullptr);
  EXPECT_EQ(slot->state, SlotState::kRearming);
  const std::int64_t leftAt = ParseEventTime("2026-12-08T14:00:30.000Z");
  EXPECT_EQ(StationModel::RearmSeconds(*slot, leftAt), 3);
  EXPECT_EQ(StationModel::RearmSeconds(*slot, leftAt + 1700), 1);
  EXPECT_EQ(StationModel::RearmSeconds(*slot, leftAt + 9000), 0);  // late: still waiting, never below 0
  EXPECT_EQ(model.TallyAt(0).written, 1);
  model.Apply(*ParseEventLine(Event("outcome", "001:005", "1-1.2", R"({"exit_code":0,"exit_name":"done"})", "14:00:32.000")));
  EXPECT_EQ(slot->state, SlotState::kRearming);
  model.Apply(*ParseEventLine(Event("slot-state", "", "1-1.2", R"({"state":"empty","present":false,"device":"","taken":false,"text":"empty"})", "14:00:32.600")));
  EXPECT_EQ(slot->state, SlotState::kEmpty);
  // Without a wait the slot is free at once; a board back during the wait is not taken.
  const struct {
    std::string last;
    SlotState state;
  } ends[] = {
      {left(R"(,"rearm_in":0)"), SlotState::kEmpty},
      {left(""), SlotState::kEmpty},
      {Event("slot-state", "001:006", "1-1.2", R"({"state":"done","present":true,"device":"001:006","taken":false,"not_taken":"came-back","waiting":false,"rearm_in":1.2})", "14:00:31.000"), SlotState::kNotTaken},
      // A board put in while the writer before it still ends is taken then: a wait, not one to take out.
      {Event("slot-state", "001:006", "1-1.2", R"({"state":"failed","present":true,"device":"001:006","taken":false,"not_taken":"previous-ending","waiting":false,"rearm_in":0,"reason":"why","reason_kind":"box"})", "14:00:31.000"), SlotState::kRearming},
  };
  for (const auto& end : ends) {
    EXPECT_EQ(Fed({kWatchStart, writing, left(R"(,"rearm_in":2.6)"), end.last}).Find("1-1.2")->state, end.state) << end.last;
  }
}

// The CLI shows failed as the box comes, while the writer still runs; what
// follows of the same board neither brings it back to writing nor counts it again.
TEST(SlotModel, FailedAtTheBoxStaysFailedAndIsCountedOnce) {
  const std::string box = R"("reason":"下载失败，请重新上电后再试","reason_kind":"box")";
  const struct {
    std::string line;
    SlotState state;
    int percent;
    int newFailures;
    int failed;
  } steps[] = {
      {Event("slot-state", "001:007", "1-1.4", R"({"state":"writing","present":true,"device":"001:007","taken":true,"item":"HOST","percent":0,"text":"writing HOST 0%"})", "14:00:01.000"), SlotState::kWriting, 0, 0, 0},
      {Event("progress", "001:007", "1-1.4", R"({"item":"HOST","percent":40,"bytes_done":26214,"bytes_total":65536})", "14:00:05.000"), SlotState::kWriting, 40, 0, 0},
      {Event("message", "001:007", "1-1.4", R"({"title":"提示","text":"下载失败，请重新上电后再试"})", "14:00:06.000"), SlotState::kWriting, 40, 0, 0},
      {Event("slot-state", "001:007", "1-1.4", R"({"state":"failed","present":true,"device":"001:007","taken":true,"waiting":true,"rearm_in":0,)" + box + R"(,"text":"failed: 下载失败，请重新上电后再试, waiting for removal"})", "14:00:06.001"), SlotState::kFailed, 40, 1, 1},
      {Event("progress", "001:007", "1-1.4", R"({"item":"HOST","percent":50,"bytes_done":32768,"bytes_total":65536})", "14:00:06.500"), SlotState::kFailed, 40, 0, 1},
      {Event("outcome", "001:007", "1-1.4", R"({"exit_code":8,"exit_name":"transfer gave up","seconds":7.9,"reason":"下载失败，请重新上电后再试"})", "14:00:08.000"), SlotState::kFailed, 40, 0, 1},
      // A later word of the same board's failure does not replace the box's.
      {Event("slot-state", "001:007", "1-1.4", R"({"state":"failed","present":true,"device":"001:007","taken":true,"waiting":true,"rearm_in":0,"reason":"transfer gave up","reason_kind":"exit","text":"failed: transfer gave up, waiting for removal [check this slot]"})", "14:00:08.001"), SlotState::kFailed, 40, 0, 1},
      {Event("tally", "", "", R"({"written":0,"failed":1,"interrupted":0,"per_hour":null})", "14:00:08.001"), SlotState::kFailed, 40, 0, 1},
  };
  StationModel model = Fed({kWatchStart});
  for (const auto& step : steps) {
    model.Apply(*ParseEventLine(step.line));
    const Slot* slot = model.Find("1-1.4");
    ASSERT_NE(slot, nullptr) << step.line;
    EXPECT_EQ(slot->state, step.state) << step.line;
    EXPECT_EQ(slot->percent, step.percent) << step.line;
    EXPECT_EQ(model.TakeNewFailures(), step.newFailures) << step.line;
    EXPECT_EQ(model.TallyAt(0).failed, step.failed) << step.line;
  }
  EXPECT_EQ(model.Find("1-1.4")->reason, "下载失败，请重新上电后再试");
  EXPECT_EQ(model.Find("1-1.4")->reasonKind, "box");
}

// Boards cut by a stop are the tally's interrupted, never its failures.
TEST(SlotModel, InterruptedBoardsAreNeverFailures) {
  StationModel model = Fed({
      kWatchStart,
      Event("slot-state", "001:008", "1-1.5", R"({"state":"writing","present":true,"device":"001:008","taken":true,"item":"HOST","percent":37})", "14:00:01.000"),
      Event("slot-state", "001:008", "1-1.5", R"({"state":"interrupted","present":true,"device":"001:008","taken":true,"waiting":true,"rearm_in":0,"reason":"Interrupted by SIGTERM at HOST block 24 of 40","reason_kind":"interrupted"})", "14:00:20.000"),
  });
  EXPECT_EQ(model.TakeNewFailures(), 0);
  EXPECT_EQ(model.TallyAt(0).failed, 0);
  EXPECT_EQ(model.Find("1-1.5")->item, "HOST");  // the tile names where it was cut
  model.Apply(*ParseEventLine(Event("tally", "", "", R"({"written":3,"failed":1,"interrupted":1,"per_hour":null})", "14:00:20.000")));
  const Tally tally = model.TallyAt(0);
  EXPECT_EQ(tally.failed, 1);
  EXPECT_EQ(tally.interrupted, 1);
}

TEST(StationSettings, ReadsSlotNamesAndBeep) {
  char path[] = "/tmp/station-settings-XXXXXX";
  const int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "[Strings]\r\nS0000=x\r\n[SLOTS]\r\n1-1.2 = A1\r\n;1-1.3=B\r\n1-1.4=\"A 3\"\r\n"
                         "[station]\r\nbeep=1\r\n[other]\r\n1-1.5=no\r\n";
  const StationSettings settings = ReadStationSettings(path);
  std::remove(path);
  EXPECT_EQ(settings.slotNames, (std::map<std::string, std::string>{{"1-1.2", "A1"}, {"1-1.4", "A 3"}}));
  EXPECT_TRUE(settings.beep);
  EXPECT_FALSE(ReadStationSettings("/nonexistent/setting.ini").beep);
}

TEST(TodayReport, ReadsTheLedgerReport) {
  const auto report = ParseTodayReport(
      R"({"since":"2026-12-08","boards":5,"done":4,"per_outcome":[{"code":0,"outcome":"done","boards":4},)"
      R"({"code":8,"outcome":"transfer gave up","boards":1}],"per_slot":[{"slot":"1-1.2","boards":3,"done":2}]})");
  ASSERT_TRUE(report);
  EXPECT_EQ(report->boards, 5);
  ASSERT_EQ(report->perOutcome.size(), 2u);
  EXPECT_EQ(report->perOutcome[1].key, "transfer gave up");
  EXPECT_EQ(report->perSlot[0].done, 2);
  EXPECT_FALSE(ParseTodayReport("tamsolt-cli: unknown option --report"));
}

}  // namespace
