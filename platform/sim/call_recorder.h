// The simulated world's record of every platform call the program makes, its fault plan,
// the crash point, and what other programs do between two of its calls. Every simulated
// service (HID, object allocation, preferences, clock, run loop) opens a CallScope for each
// call the program makes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace padwarden::sim {

struct Call {
  uint64_t index;      // 1-based position in the trace
  std::string op;      // the platform's name of the operation, e.g. "IOHIDManagerOpen"
  std::string detail;  // a short rendering of the arguments that matter
  bool failed;         // an injected fault made it fail
};

// Which calls fail. A rule matches one operation (or every operation that can fail, when
// op is empty), lets `skip` matching calls pass, then fails `times` of them (none: for ever).
struct FaultRule {
  std::string op;
  uint64_t skip = 0;
  std::optional<uint64_t> times = 1;
  // What the failing call answers where it returns a status code.
  int32_t code = static_cast<int32_t>(0xE00002BCu);  // kIOReturnError
  // A call that answers success and does nothing: a synchronize that persists nothing, a
  // property write that is lost.
  bool lie = false;
  // A call that does its work and still answers failure (a property write that landed).
  bool lands = false;
};

// What another program does in the middle of one of the program's operations: offered each
// call from the chosen one on (its name, its detail, whether a fault already fails it), just
// before the call does its work, until it acts. Acting, it may make that call fail too.
enum class ActionResult { NotYet, Acted, ActedAndFailsTheCall };
using CallAction =
    std::function<ActionResult(std::string_view op, const std::string& detail, bool failing)>;

class CallRecorder {
 public:
  // Faults.
  void add(FaultRule rule) { rules_.push_back(std::move(rule)); }
  void failOnce(std::string op) { add({std::move(op), 0, 1}); }
  void failAlways(std::string op) { add({std::move(op), 0, std::nullopt}); }
  // The nth call of the operation from now (1-based) fails, once.
  void failNth(std::string op, uint64_t n) { add({std::move(op), n - 1, 1}); }
  void clearFaults() {
    rules_.clear();
    seen_.clear();  // a rule added next starts counting afresh
  }
  // Drops the rules of one operation, leaving the others counting where they were.
  void removeFaults(std::string_view op);
  // Whether a rule may still fail a later call of the operation.
  bool mayFail(std::string_view op) const;

  // Before the nth call from now (1-based) and each later one until it acts, `action` runs:
  // another program acting between two of the program's calls.
  void atCall(uint64_t n, CallAction action);
  void clearActions() { actions_.clear(); }
  size_t pendingActions() const { return actions_.size(); }

  // The crash point: the process dies right after the call with this trace index.
  void crashAfterCall(std::optional<uint64_t> index) { crashAfter_ = index; }

  const std::vector<Call>& trace() const { return trace_; }
  void clearTrace() { trace_.clear(); }
  uint64_t callCount() const { return count_; }
  // Names of the calls since the given index, for assertions that read like a log.
  std::vector<std::string> opsSince(uint64_t index) const;

  // Used by CallScope.
  struct Outcome {
    bool fail = false;
    bool lie = false;
    bool lands = false;
    int32_t code = 0;
  };
  Outcome begin(std::string_view op, std::string detail, bool canFail);
  // True when the crash point has just been reached.
  bool end();

  bool recording = true;

 private:
  // Whether an action made the call fail.
  bool runActions(std::string_view op, const std::string& detail, bool failing);

  struct PendingAction {
    uint64_t from;  // the call count at which it may act
    CallAction action;
  };
  std::vector<FaultRule> rules_;
  std::vector<PendingAction> actions_;
  std::vector<uint64_t> seen_;  // matching calls seen per rule
  std::vector<Call> trace_;
  uint64_t count_ = 0;
  std::optional<uint64_t> crashAfter_;
};

// One program process's connection to the world. Calls made after the process has died
// (at the crash point, or by the world's crash) reach nothing and are not recorded.
struct ProcessLink {
  explicit ProcessLink(CallRecorder& r) : recorder(r) {}
  CallRecorder& recorder;
  bool alive = true;
  // Called once when a call reaches the crash point, right after the link went dead, so that
  // the process owning the link stops its run loop before control returns to the program.
  std::function<void()> onDeath;
};

// Opened by a simulated service at the start of each call the program makes.
class CallScope {
 public:
  CallScope(ProcessLink& link, std::string_view op, std::string detail = {}, bool canFail = true);
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

  // The process is dead: the call must change nothing and answer failure.
  bool dead() const { return dead_; }
  // An injected fault: the call must fail in its natural way (dead implies fails).
  bool fails() const { return dead_ || outcome_.fail; }
  // A call that answers success but does nothing (a synchronize that persists nothing, a
  // lost property write).
  bool lies() const { return outcome_.lie; }
  // A failure whose work was done all the same (fails() is true too).
  bool lands() const { return !dead_ && outcome_.lands; }
  int32_t code() const { return outcome_.code; }

 private:
  ProcessLink& link_;
  bool dead_;
  CallRecorder::Outcome outcome_;
};

}  // namespace padwarden::sim
