// Every platform call of every journey, visited: a crash right after it (and, for a sample of
// points, a second crash at every point of the recovery), a failure of it (once, and for ever
// after), and each preferences synchronize failing, lying or reading back something else.
// The points come from the recorded trace, so new calls are covered without editing this file.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "session/key_mapping.h"
#include "session/lease_record.h"
#include "tests/simulation/journeys.h"
#include "tests/simulation/other_programs.h"

namespace padwarden::testing {
namespace {

struct CallRange {
  uint64_t first = 0, last = 0;  // 1-based trace indices of the journey's calls
  std::vector<sim::Call> calls;  // the whole reference trace
};

CallRange record(const Journey& journey) {
  Rig rig;
  journey.setup(rig);
  CallRange range;
  range.first = rig.world.recorder().callCount() + 1;
  journey.journey(rig);
  range.last = rig.world.recorder().callCount();
  range.calls = rig.world.recorder().trace();
  return range;
}

std::string op_of(const CallRange& range, uint64_t index) {
  for (const sim::Call& call : range.calls) {
    if (call.index == index) return call.op + " " + call.detail;
  }
  return "?";
}

std::string joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line;
  return text;
}

// Every text the program can show, from the headers that hold them, as patterns (a "%..."
// conversion matches anything).
const std::vector<std::regex>& known_texts() {
  static const std::vector<std::regex> patterns = [] {
    std::vector<std::regex> found;
    for (const char* file : {"session/session_texts.h", "controller/controller_texts.h"}) {
      std::ifstream in(std::string(PADWARDEN_SOURCE_DIR) + "/" + file);
      std::stringstream buffer;
      buffer << in.rdbuf();
      const std::string source = buffer.str();
      // Each "constexpr const char* kName = "..." "...";", the literals joined.
      const std::string marker = "constexpr const char* k";
      for (size_t at = source.find(marker); at != std::string::npos;
           at = source.find(marker, at + 1)) {
        size_t i = source.find('=', at);
        std::string text;
        while (i != std::string::npos && ++i < source.size() && source[i] != ';') {
          if (source[i] != '"') continue;
          for (++i; i < source.size() && source[i] != '"'; ++i) {
            if (source[i] == '\\') ++i;
            text += source[i];
          }
        }
        std::string pattern;
        for (size_t i = 0; i < text.size(); ++i) {
          if (text[i] == '%') {
            pattern += ".*";
            while (i + 1 < text.size() && std::isalnum(static_cast<unsigned char>(text[i + 1])))
              ++i;
          } else if (std::strchr(".^$|()[]{}*+?\\", text[i])) {
            pattern += std::string("\\") + text[i];
          } else {
            pattern += text[i];
          }
        }
        found.emplace_back(pattern);
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

class EveryPoint : public ::testing::TestWithParam<Journey> {};

TEST_P(EveryPoint, CrashAfterEachCallThenRecover) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  ASSERT_GT(range.last, range.first);
  for (uint64_t k = range.first; k <= range.last; ++k) {
    Rig rig;
    journey.setup(rig);
    rig.world.recorder().crashAfterCall(k);
    journey.journey(rig);
    std::vector<std::string> problems = rig.rules.takeViolations();
    rig.recover();
    for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
    EXPECT_TRUE(problems.empty()) << "crash after call " << k << " (" << op_of(range, k) << ")"
                                  << joined(problems);
  }
  RecordProperty("crash_points", static_cast<int>(range.last - range.first + 1));
}

TEST_P(EveryPoint, SecondCrashDuringRecovery) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  const uint64_t stride = std::max<uint64_t>(1, (range.last - range.first + 1) / 3);
  int points = 0;
  for (uint64_t k = range.first; k <= range.last; k += stride) {
    uint64_t recoveryFirst = 0, recoveryLast = 0;
    {
      Rig rig;
      journey.setup(rig);
      rig.world.recorder().crashAfterCall(k);
      journey.journey(rig);
      recoveryFirst = rig.world.recorder().callCount() + 1;
      rig.recover();
      recoveryLast = rig.world.recorder().callCount();
    }
    for (uint64_t j = recoveryFirst; j <= recoveryLast; ++j, ++points) {
      Rig rig;
      journey.setup(rig);
      rig.world.recorder().crashAfterCall(k);
      journey.journey(rig);
      rig.world.recorder().crashAfterCall(j);
      rig.recover(/*keepCrashPoint=*/true);
      rig.recover();
      const std::vector<std::string> problems = rig.settledProblems();
      EXPECT_TRUE(problems.empty()) << "crash after call " << k << " (" << op_of(range, k)
                                    << "), then after recovery call " << j << joined(problems);
    }
  }
  RecordProperty("second_crash_points", points);
}

TEST_P(EveryPoint, NthCallFailsOnceOrForEver) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  for (const bool forEver : {false, true}) {
    for (uint64_t n = 1; n <= range.last - range.first + 1; ++n) {
      Rig rig;
      journey.setup(rig);
      rig.world.recorder().add(
          sim::FaultRule{"", n - 1, forEver ? std::nullopt : std::optional<uint64_t>(1)});
      journey.journey(rig);
      std::string failed;
      for (const sim::Call& call : rig.world.recorder().trace()) {
        if (call.failed && failed.empty()) failed = " (" + call.op + " " + call.detail + ")";
      }
      std::vector<std::string> problems = rig.rules.takeViolations();
      if (auto controller = rig.controller()) {
        if (!is_known_text(controller->errorSummary())) {
          problems.push_back("unknown error text: " + controller->errorSummary());
        }
      }
      rig.recover();
      for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
      EXPECT_TRUE(problems.empty())
          << "failable call " << n << failed << (forEver ? " and every later one" : "")
          << " failing" << joined(problems);
    }
  }
  RecordProperty("failing_call_points", static_cast<int>(2 * (range.last - range.first + 1)));
}

// One operation failing for ever from one of its calls on, while every other works: a read
// that keeps failing looks like an absent value, which a fault of every call never shows.
TEST_P(EveryPoint, OneOperationFailsForEverFromEachCall) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  std::map<std::string, uint64_t> seen;
  for (const sim::Call& call : range.calls) {
    if (call.index < range.first || call.index > range.last) continue;
    const uint64_t skip = seen[call.op]++;
    Rig rig;
    journey.setup(rig);
    rig.world.recorder().add(sim::FaultRule{call.op, skip, std::nullopt});
    journey.journey(rig);
    std::vector<std::string> problems = rig.rules.takeViolations();
    rig.recover();
    for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
    EXPECT_TRUE(problems.empty()) << call.op << " failing for ever from its call " << skip + 1
                                  << joined(problems);
  }
  RecordProperty("one_operation_points", static_cast<int>(range.last - range.first + 1));
}

// Another program writes or removes kb1's mapping just before each call of the journey (where
// a careful program can still see it before it writes): the program never writes over it,
// and recovered, the keyboard holds it, or the program's mapping under a record naming it.
TEST_P(EveryPoint, AnotherProgramWritesBeforeEachCall) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  struct Value {
    const char* what;
    std::optional<plist::Value> value;
  };
  const Value values[] = {
      {"removes it", std::nullopt},
      {"sets the numeric mapping and a key more", simulation::lookalike_mapping(4, std::nullopt)},
      {"sets a floating-point copy of its own", simulation::lookalike_mapping(12, kb1_own_mapping())}};
  for (const Value& v : values) {
    for (uint64_t k = range.first; k <= range.last; ++k) {
      Rig rig;
      journey.setup(rig);
      rig.world.recorder().atCall(
          k - rig.world.recorder().callCount(),
          [&rig, &v](std::string_view op, const std::string& detail, bool) {
            if (!simulation::careful_program_can_see(rig.world.recorder().trace(),
                                                     "kb1 service 0 ", op, detail)) {
              return sim::ActionResult::NotYet;
            }
            rig.trueOriginal["kb1"] = v.value;
            rig.world.setUserKeyMapping("kb1", 0, v.value);
            return sim::ActionResult::Acted;
          });
      journey.journey(rig);
      std::vector<std::string> problems = rig.rules.takeViolations();
      rig.recover();
      for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
      EXPECT_TRUE(problems.empty()) << "another program " << v.what << " before call " << k
                                    << " (" << op_of(range, k) << ")" << joined(problems);
    }
  }
  RecordProperty("foreign_write_points", static_cast<int>(3 * (range.last - range.first + 1)));
}

// Each mapping write of the journey landing and still answering failure, or answering success
// and lost: a failure is no proof that nothing was written, nor success that it was.
TEST_P(EveryPoint, EachWriteLandsAndFailsOrIsLost) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  size_t writes = 0;
  for (const sim::Call& call : range.calls) {
    writes += call.index >= range.first && call.index <= range.last &&
              call.op == "IOHIDServiceClientSetProperty";
  }
  for (const bool lands : {true, false}) {
    for (uint64_t m = 1; m <= writes; ++m) {
      Rig rig;
      journey.setup(rig);
      sim::FaultRule rule{"IOHIDServiceClientSetProperty", m - 1, 1};
      rule.lands = lands;
      rule.lie = !lands;
      rig.world.recorder().add(rule);
      journey.journey(rig);
      std::vector<std::string> problems = rig.rules.takeViolations();
      rig.recover();
      for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
      EXPECT_TRUE(problems.empty()) << "write " << m << (lands ? " landed and failed" : " was lost")
                                    << joined(problems);
    }
  }
  RecordProperty("write_fault_points", static_cast<int>(2 * writes));
}

// Each synchronize of the journey, and each read of a stored value, misbehaving in turn.
TEST_P(EveryPoint, PreferencesStoreFaults) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  size_t synchronizes = 0, reads = 0;
  for (const sim::Call& call : range.calls) {
    if (call.index < range.first || call.index > range.last) continue;
    synchronizes += call.op == "CFPreferencesAppSynchronize";
    reads += call.op == "CFPreferencesCopyAppValue";
  }
  struct Case {
    const char* what;
    const char* op;
    size_t count;
  };
  for (const Case& c : {Case{"fails", "CFPreferencesAppSynchronize", synchronizes},
                        Case{"reads back something else", "CFPreferencesCopyAppValue", reads}}) {
    for (uint64_t m = 1; m <= c.count; ++m) {
      Rig rig;
      journey.setup(rig);
      rig.world.recorder().add(sim::FaultRule{c.op, m - 1, 1});
      journey.journey(rig);
      std::vector<std::string> problems = rig.rules.takeViolations();
      rig.world.crash();
      rig.recover();
      for (const std::string& problem : rig.settledProblems()) problems.push_back(problem);
      EXPECT_TRUE(problems.empty()) << c.op << " number " << m << " " << c.what << joined(problems);
    }
  }
  RecordProperty("store_fault_points", static_cast<int>(synchronizes + reads));
}

// A synchronize that answers true but saves nothing cannot be told from a real one, so the
// rules may see a mapping installed without a saved record. What must hold: after a crash that
// loses the record, the next run takes what the keyboard holds for its own, as it must for a
// value another program set; a quit leaves the keyboard with its own mapping or with what the
// crash left on it, and no record.
TEST_P(EveryPoint, LyingSynchronizeThenCrash) {
  const Journey& journey = GetParam();
  const CallRange range = record(journey);
  size_t synchronizes = 0;
  for (const sim::Call& call : range.calls) {
    synchronizes += call.index >= range.first && call.index <= range.last &&
                    call.op == "CFPreferencesAppSynchronize";
  }
  for (uint64_t m = 1; m <= synchronizes; ++m) {
    Rig rig;
    journey.setup(rig);
    sim::FaultRule rule{"CFPreferencesAppSynchronize", m - 1, 1};
    rule.lie = true;
    rig.world.recorder().add(rule);
    journey.journey(rig);
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
  rig.click("Quit Padwarden");
  rig.world.advance(2);
  EXPECT_EQ(rig.rules.takeViolations(), std::vector<std::string>{});
  EXPECT_FALSE(rig.running());
  EXPECT_EQ(rig.world.userKeyMapping("kb1"), leftBehind);
  EXPECT_FALSE(rig.rules.storedLease("kb1"));
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
  rig.click("Quit Padwarden");
  rig.world.advance(2);
  EXPECT_TRUE(rig.rules.takeViolations().empty());
  EXPECT_FALSE(rig.running());
  EXPECT_EQ(rig.world.userKeyMapping("kb1"), foreign);
  EXPECT_FALSE(rig.rules.storedLease("kb1"));
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
  rig.click("Quit Padwarden");
  rig.world.advance(2);
  EXPECT_FALSE(rig.running());
  EXPECT_EQ(rig.world.userKeyMapping("kb1"), kb1_own_mapping());
  EXPECT_FALSE(rig.rules.storedLease("kb1"));
}

INSTANTIATE_TEST_SUITE_P(Journeys, EveryPoint, ::testing::ValuesIn(journeys()),
                         [](const ::testing::TestParamInfo<Journey>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace padwarden::testing
