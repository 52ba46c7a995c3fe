// Every platform call of every journey, visited: a crash right after it (and, for a sample of
// points, a second crash at every point of the recovery), a failure of it (once, and for ever
// after), and each preferences synchronize failing, lying or reading back something else.
// The points come from the recorded trace, so new calls are covered without editing this file.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>

#include "session/key_mapping.h"
#include "session/lease_record.h"
#include "tests/simulation/journeys.h"
#include "tests/simulation/other_programs.h"

namespace padwarden::testing {
namespace {

using Arm = std::function<void(Rig&)>;

// Sets the journey up, lets `arm` ready a crash or fault (or note where the journey starts),
// and plays it.
void play(Rig& rig, const Journey& journey, const Arm& arm) {
  journey.setup(rig);
  arm(rig);
  journey.journey(rig);
}

Arm crash_after(uint64_t call) {
  return [call](Rig& rig) { rig.world.recorder().crashAfterCall(call); };
}

Arm with_fault(sim::FaultRule rule) {
  return [rule](Rig& rig) { rig.world.recorder().add(rule); };
}

struct CallRange {
  uint64_t first = 0, last = 0;  // 1-based trace indices of the journey's calls
  std::vector<sim::Call> calls;  // the journey's calls
  uint64_t size() const { return last - first + 1; }
  size_t count(std::string_view op) const { return std::ranges::count(calls, op, &sim::Call::op); }
  std::string describe(uint64_t index) const {
    const sim::Call& call = calls[index - first];
    return call.op + " " + call.detail;
  }
};

CallRange record(const Journey& journey) {
  Rig rig;
  CallRange range;
  play(rig, journey, [&range](Rig& r) { range.first = r.world.recorder().callCount() + 1; });
  range.last = rig.world.recorder().callCount();
  std::ranges::copy_if(rig.world.recorder().trace(), std::back_inserter(range.calls),
                       [&range](const sim::Call& call) { return call.index >= range.first; });
  return range;
}

// Every text the program can show, from the headers that hold them, as patterns (a "%..."
// conversion matches anything).
const std::vector<std::regex>& known_texts() {
  static const std::vector<std::regex> patterns = [] {
    // Each "constexpr const char* kName = "..." "...";", the literals joined.
    const std::regex declaration(R"re(constexpr const char\* k\w+ =((?:\s*"[^"]*")+);)re");
    const std::regex literal(R"re("([^"]*)")re");
    const std::regex special(R"([.^$|()[\]{}*+?\\])");
    const std::regex conversion("%[[:alnum:]]*");
    std::vector<std::regex> found;
    for (const char* file : {"session/session_texts.h", "controller/controller_texts.h"}) {
      std::ifstream in(std::string(PADWARDEN_SOURCE_DIR) + "/" + file);
      const std::string source{std::istreambuf_iterator<char>(in), {}};
      const std::sregex_iterator end;
      for (auto d = std::sregex_iterator(source.begin(), source.end(), declaration); d != end;
           ++d) {
        const std::string literals = (*d)[1];
        std::string text;
        for (auto l = std::sregex_iterator(literals.begin(), literals.end(), literal); l != end;
             ++l) {
          text += (*l)[1];
        }
        found.emplace_back(
            std::regex_replace(std::regex_replace(text, special, R"(\$&)"), conversion, ".*"));
      }
    }
    return found;
  }();
  return patterns;
}

bool is_known_text(const std::string& text) {
  if (text.empty()) return true;
  for (const std::regex& pattern : known_texts()) {
    if (std::regex_match(text, pattern)) return true;
  }
  return false;
}

class EveryPoint : public ::testing::TestWithParam<Journey> {
 protected:
  // Plays the journey on a fresh rig, `arm` readying it, runs `beforeRecovery` (which may add
  // problems), and recovers: passes when no rule broke and the keyboard settled.
  ::testing::AssertionResult recovers(
      const Arm& arm,
      const std::function<void(Rig&, std::vector<std::string>&)>& beforeRecovery = {}) const {
    Rig rig;
    play(rig, journey_, arm);
    std::vector<std::string> problems = rig.rules.takeViolations();
    if (beforeRecovery) beforeRecovery(rig, problems);
    rig.recover();
    for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
    if (problems.empty()) return ::testing::AssertionSuccess();
    ::testing::AssertionResult failure = ::testing::AssertionFailure();
    for (const std::string& problem : problems) failure << "\n  " << problem;
    return failure;
  }

  const Journey& journey_ = GetParam();
  const CallRange range_ = record(journey_);
};

TEST_P(EveryPoint, CrashAfterEachCallThenRecover) {
  ASSERT_GT(range_.last, range_.first);
  for (uint64_t k = range_.first; k <= range_.last; ++k) {
    EXPECT_TRUE(recovers(crash_after(k)))
        << "crash after call " << k << " (" << range_.describe(k) << ")";
  }
  RecordProperty("crash_points", static_cast<int>(range_.size()));
}

TEST_P(EveryPoint, SecondCrashDuringRecovery) {
  const uint64_t stride = std::max<uint64_t>(1, range_.size() / 3);
  int points = 0;
  for (uint64_t k = range_.first; k <= range_.last; k += stride) {
    Rig reference;
    play(reference, journey_, crash_after(k));
    const uint64_t recoveryFirst = reference.world.recorder().callCount() + 1;
    reference.recover();
    for (uint64_t j = recoveryFirst; j <= reference.world.recorder().callCount(); ++j, ++points) {
      auto crashAgain = [j](Rig& rig, std::vector<std::string>&) {
        rig.world.recorder().crashAfterCall(j);
        rig.recover(/*keepCrashPoint=*/true);
      };
      EXPECT_TRUE(recovers(crash_after(k), crashAgain))
          << "crash after call " << k << " (" << range_.describe(k)
          << "), then after recovery call " << j;
    }
  }
  RecordProperty("second_crash_points", points);
}

TEST_P(EveryPoint, NthCallFailsOnceOrForEver) {
  for (const bool forEver : {false, true}) {
    for (uint64_t n = 1; n <= range_.size(); ++n) {
      std::string failed;
      auto inspect = [&failed](Rig& rig, std::vector<std::string>& problems) {
        const std::vector<sim::Call>& trace = rig.world.recorder().trace();
        auto call = std::ranges::find_if(trace, &sim::Call::failed);
        if (call != trace.end()) failed = " (" + call->op + " " + call->detail + ")";
        auto controller = rig.controller();
        if (controller && !is_known_text(controller->errorSummary())) {
          problems.push_back("unknown error text: " + controller->errorSummary());
        }
      };
      const std::optional<uint64_t> times = forEver ? std::nullopt : std::optional<uint64_t>(1);
      EXPECT_TRUE(recovers(with_fault({"", n - 1, times}), inspect))
          << "failable call " << n << failed << (forEver ? " and every later one" : "")
          << " failing";
    }
  }
  RecordProperty("failing_call_points", static_cast<int>(2 * range_.size()));
}

// One operation failing for ever from one of its calls on, while every other works: a read
// that keeps failing looks like an absent value, which a fault of every call never shows.
TEST_P(EveryPoint, OneOperationFailsForEverFromEachCall) {
  std::map<std::string, uint64_t> seen;
  for (const sim::Call& call : range_.calls) {
    const uint64_t skip = seen[call.op]++;
    EXPECT_TRUE(recovers(with_fault({call.op, skip, std::nullopt})))
        << call.op << " failing for ever from its call " << skip + 1;
  }
  RecordProperty("one_operation_points", static_cast<int>(range_.size()));
}

// Another program writes kb1's mapping just before each call of the journey (where a careful
// program can still see it before it writes), or the event system restarts there, taking every
// mapping away: the program never writes over what it finds, and recovered, the keyboard holds
// it, or the program's mapping under a record naming it.
TEST_P(EveryPoint, AnotherProgramWritesBeforeEachCall) {
  struct Value {
    const char* what;
    std::optional<plist::Value> value;  // none: the event system restarts
  };
  const Value values[] = {
      {"clears it", plist::Value(plist::Array{})},
      {"sets the numeric mapping and a key more", simulation::lookalike_mapping(4, std::nullopt)},
      {"sets a floating-point copy of its own",
       simulation::lookalike_mapping(12, kb1_own_mapping())},
      {"(the event system restarts)", std::nullopt}};
  for (const Value& v : values) {
    for (uint64_t k = range_.first; k <= range_.last; ++k) {
      auto writeBefore = [k, &v](Rig& rig) {
        rig.world.recorder().atCall(
            k - rig.world.recorder().callCount(),
            [&rig, &v](std::string_view op, const std::string& detail, bool) {
              if (!simulation::careful_program_can_see(rig.world.recorder().trace(),
                                                       "kb1 service 0 ", op, detail)) {
                return sim::ActionResult::NotYet;
              }
              rig.trueOriginal["kb1"] = v.value;
              if (v.value) {
                rig.world.setUserKeyMapping("kb1", 0, *v.value);
              } else {
                rig.world.restartEventSystem();
              }
              return sim::ActionResult::Acted;
            });
      };
      EXPECT_TRUE(recovers(writeBefore)) << "another program " << v.what << " before call " << k
                                         << " (" << range_.describe(k) << ")";
    }
  }
  RecordProperty("foreign_write_points", static_cast<int>(4 * range_.size()));
}

// Each mapping write of the journey landing and still answering failure, or answering success
// and lost: a failure is no proof that nothing was written, nor success that it was.
TEST_P(EveryPoint, EachWriteLandsAndFailsOrIsLost) {
  const size_t writes = range_.count("IOHIDServiceClientSetProperty");
  for (const bool lands : {true, false}) {
    for (uint64_t m = 1; m <= writes; ++m) {
      sim::FaultRule rule{"IOHIDServiceClientSetProperty", m - 1, 1};
      rule.lands = lands;
      rule.lie = !lands;
      EXPECT_TRUE(recovers(with_fault(rule)))
          << "write " << m << (lands ? " landed and failed" : " was lost");
    }
  }
  RecordProperty("write_fault_points", static_cast<int>(2 * writes));
}

// Each synchronize of the journey, and each read of a stored value, misbehaving in turn.
TEST_P(EveryPoint, PreferencesStoreFaults) {
  struct Case {
    const char* what;
    const char* op;
  };
  size_t points = 0;
  for (const Case& c : {Case{"fails", "CFPreferencesAppSynchronize"},
                        Case{"reads back something else", "CFPreferencesCopyAppValue"}}) {
    for (uint64_t m = 1; m <= range_.count(c.op); ++m, ++points) {
      EXPECT_TRUE(recovers(with_fault({c.op, m - 1, 1}),
                           [](Rig& rig, std::vector<std::string>&) { rig.world.crash(); }))
          << c.op << " number " << m << " " << c.what;
    }
  }
  RecordProperty("store_fault_points", static_cast<int>(points));
}

// A synchronize that answers true but saves nothing cannot be told from a real one, so the
// rules may see a mapping installed without a saved record. What must hold: after a crash that
// loses the record, the next run takes what the keyboard holds for its own, as it must for a
// value another program set; a quit leaves the keyboard with its own mapping or with what the
// crash left on it, and no record.
TEST_P(EveryPoint, LyingSynchronizeThenCrash) {
  const size_t synchronizes = range_.count("CFPreferencesAppSynchronize");
  for (uint64_t m = 1; m <= synchronizes; ++m) {
    Rig rig;
    sim::FaultRule rule{"CFPreferencesAppSynchronize", m - 1, 1};
    rule.lie = true;
    play(rig, journey_, with_fault(rule));
    rig.rules.takeViolations();
    rig.world.crash();
    const std::optional<plist::Value> leftBehind = rig.world.userKeyMapping("kb1");
    rig.recover();
    rig.click("Quit Padwarden");
    rig.world.advance(2);
    const std::optional<plist::Value> mapping = rig.world.userKeyMapping("kb1");
    EXPECT_FALSE(rig.running());
    EXPECT_TRUE(stands_for_original(mapping, rig.trueOriginal["kb1"]) ||
                (!rig.rules.storedLease("kb1") && mapping == leftBehind))
        << "synchronize " << m << " lied: kb1 holds " << plist::describe(*mapping);
    EXPECT_FALSE(rig.rules.storedLease("kb1")) << "synchronize " << m << " lied";
  }
  RecordProperty("lying_synchronize_points", static_cast<int>(synchronizes));
}

// A quit must leave kb1 holding `expected`, with no record and no rule broken.
void expect_quit_hands_back(Rig& rig, const plist::Value& expected) {
  rig.click("Quit Padwarden");
  rig.world.advance(2);
  EXPECT_EQ(rig.rules.takeViolations(), std::vector<std::string>{});
  EXPECT_FALSE(rig.running());
  EXPECT_EQ(rig.world.userKeyMapping("kb1"), expected);
  EXPECT_FALSE(rig.rules.storedLease("kb1"));
}

// The store lost the record of a mapping the program had installed. Nothing tells that from a
// value another program set, so the next run takes it for the keyboard's own: it installs its
// mappings over it under a record naming it and gives it back exactly.
TEST(StoreLostTheRecord, MappingFoundWithoutARecordIsTheKeyboardsOwn) {
  Rig rig;
  journeys()[2].setup(rig);  // kb1 in navigation mode
  rig.world.crash();
  rig.world.disk().values.clear();
  const plist::Value leftBehind = program_mapping(false);
  rig.trueOriginal["kb1"] = leftBehind;
  rig.launch();
  rig.tap(0x04);  // the stored Num Lock went with the record: on, numeric
  EXPECT_EQ(rig.world.userKeyMapping("kb1"), program_mapping(true));
  const std::optional<plist::Value> lease = rig.rules.storedLease("kb1");
  ASSERT_TRUE(lease);
  EXPECT_EQ(*lease->find(kLeaseOriginalMappingKey), leftBehind);
  expect_quit_hands_back(rig, leftBehind);
}

// The same, and another program sets its own value before the keyboard's first report: its
// value is left alone, through the quit.
TEST(StoreLostTheRecord, AnotherProgramsValueBeforeTheFirstReportIsLeftAlone) {
  Rig rig;
  journeys()[2].setup(rig);
  rig.world.crash();
  rig.world.disk().values.clear();
  rig.launch();
  rig.rules.takeViolations();  // the program's mapping stands there with no record, as set up
  const plist::Value foreign = plist::Array{};
  rig.trueOriginal["kb1"] = foreign;
  rig.world.setUserKeyMapping("kb1", 0, foreign);
  rig.tap(0x04);
  rig.world.advance(6);
  expect_quit_hands_back(rig, foreign);
}

// At the start after a crash, a mapping that cannot be read looked like somebody else's value:
// the record went while the program's navigation mapping stayed on the keyboard.
TEST(UnreadableMappingAtStart, KeepsTheRecordUntilTheMappingCanBeRead) {
  // Which service-property read after the relaunch is the first read of the mapping.
  uint64_t skip = 0;
  {
    Rig reference;
    journeys()[6].setup(reference);
    reference.world.recorder().clearTrace();
    reference.launch();
    for (const sim::Call& call : reference.world.recorder().trace()) {
      if (call.op != "IOHIDServiceClientCopyProperty") continue;
      if (call.detail.find("UserKeyMapping") != std::string::npos) break;
      ++skip;
    }
  }
  Rig rig;
  journeys()[6].setup(rig);  // navigation mode, then a crash
  rig.world.recorder().add(sim::FaultRule{"IOHIDServiceClientCopyProperty", skip, 1});
  rig.launch();
  EXPECT_TRUE(rig.rules.takeViolations().empty());
  EXPECT_TRUE(rig.rules.storedLease("kb1")) << "the record stays while nothing can be read";

  rig.world.advance(6);
  rig.tap(0x04);
  EXPECT_TRUE(rig.rules.takeViolations().empty());
  expect_quit_hands_back(rig, kb1_own_mapping());
}

INSTANTIATE_TEST_SUITE_P(Journeys, EveryPoint, ::testing::ValuesIn(journeys()),
                         [](const ::testing::TestParamInfo<Journey>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace padwarden::testing
