// The call recorder: which calls its fault rules fail, what the trace keeps, and the crash
// point that ends a process right after a call.
#include "platform/sim/call_recorder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace padwarden::sim {
namespace {

// Runs the ops in order through one link; "1" for each call that failed, "0" otherwise.
std::string outcomes(CallRecorder& recorder, const std::vector<std::string>& ops,
                     bool canFail = true) {
  ProcessLink link(recorder);
  std::string out;
  for (const std::string& op : ops) out += CallScope(link, op, {}, canFail).fails() ? '1' : '0';
  return out;
}

TEST(CallRecorderTest, RulesFailTheCallsTheyName) {
  struct Case {
    const char* name;
    FaultRule rule;
    std::vector<std::string> ops;
    std::string failures;
  };
  const std::vector<std::string> a5(5, "A");
  const Case cases[] = {
      {"once", {"A", 0, 1}, a5, "10000"},
      {"always", {"A", 0, std::nullopt}, a5, "11111"},
      {"skip two, fail two", {"A", 2, 2}, a5, "00110"},
      {"other ops pass and do not count", {"A", 1, 1}, {"B", "A", "B", "A", "A"}, "00010"},
      {"empty op: every op", {"", 1, 2}, {"B", "A", "C", "A"}, "0110"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CallRecorder recorder;
    recorder.add(c.rule);
    EXPECT_EQ(outcomes(recorder, c.ops), c.failures);
  }
  // Calls that cannot fail are not counted by the rules either.
  CallRecorder recorder;
  recorder.failNth("A", 2);
  EXPECT_EQ(outcomes(recorder, {"A", "A"}, false), "00");
  EXPECT_EQ(outcomes(recorder, {"A", "A", "A"}), "010");
}

TEST(CallRecorderTest, FirstMatchingRuleDecidesButAllCount) {
  CallRecorder recorder;
  recorder.add({"A", 0, 1, 0x11});
  recorder.add({"A", 0, 2, 0x22});
  recorder.add({"S", 0, 1, 0, true});
  ProcessLink link(recorder);
  std::vector<int32_t> codes;
  for (int i = 0; i < 3; ++i) {
    CallScope scope(link, "A");
    codes.push_back(scope.fails() ? scope.code() : 0);
  }
  EXPECT_EQ(codes, (std::vector<int32_t>{0x11, 0x22, 0}));
  CallScope sync(link, "S");
  EXPECT_FALSE(sync.fails());
  EXPECT_TRUE(sync.lies());
}

TEST(CallRecorderTest, TraceKeepsEveryRecordedCall) {
  CallRecorder recorder;
  ProcessLink link(recorder);
  recorder.failOnce("B");
  CallScope(link, "A", "a detail");
  CallScope(link, "B");
  recorder.recording = false;
  CallScope(link, "Hidden");
  recorder.recording = true;
  CallScope(link, "C");
  ASSERT_EQ(recorder.trace().size(), 3u);
  EXPECT_EQ(recorder.trace()[0].detail, "a detail");
  EXPECT_TRUE(recorder.trace()[1].failed);
  EXPECT_EQ(recorder.trace()[2].index, 4u);  // the unrecorded call still took a number
  EXPECT_EQ(recorder.opsSince(1), (std::vector<std::string>{"B", "C"}));
  recorder.clearTrace();
  EXPECT_TRUE(recorder.opsSince(0).empty());
  EXPECT_EQ(recorder.callCount(), 4u);
}

TEST(CallRecorderTest, CrashPointKillsTheLinkAfterThatCall) {
  CallRecorder recorder;
  ProcessLink link(recorder);
  int deaths = 0;
  link.onDeath = [&] { ++deaths; };
  recorder.crashAfterCall(2);
  CallScope(link, "A");
  {
    CallScope second(link, "B");
    EXPECT_FALSE(second.fails());  // the call itself goes through
    EXPECT_TRUE(link.alive);
  }
  EXPECT_FALSE(link.alive);
  EXPECT_EQ(deaths, 1);
  CallScope third(link, "C");
  EXPECT_TRUE(third.dead());
  EXPECT_TRUE(third.fails());
  EXPECT_EQ(recorder.callCount(), 2u);
  // Reached once: a new process runs past that index.
  ProcessLink next(recorder);
  for (int i = 0; i < 3; ++i) CallScope(next, "D");
  EXPECT_TRUE(next.alive);
}

}  // namespace
}  // namespace padwarden::sim
