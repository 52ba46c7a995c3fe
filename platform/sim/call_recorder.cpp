#include "platform/sim/call_recorder.h"

namespace padwarden::sim {

void CallRecorder::removeFaults(std::string_view op) {
  seen_.resize(rules_.size(), 0);
  for (size_t i = rules_.size(); i-- > 0;) {
    if (rules_[i].op != op) continue;
    rules_.erase(rules_.begin() + static_cast<std::ptrdiff_t>(i));
    seen_.erase(seen_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

bool CallRecorder::mayFail(std::string_view op) const {
  for (size_t i = 0; i < rules_.size(); ++i) {
    const FaultRule& rule = rules_[i];
    if (!rule.op.empty() && rule.op != op) continue;
    const uint64_t seen = i < seen_.size() ? seen_[i] : 0;
    if (!rule.times || seen < rule.skip + *rule.times) return true;
  }
  return false;
}

void CallRecorder::atCall(uint64_t n, CallAction action) {
  actions_.push_back({count_ + n, std::move(action)});
}

bool CallRecorder::runActions(std::string_view op, const std::string& detail, bool failing) {
  // Taken out first: an action may schedule another.
  std::vector<PendingAction> due;
  for (size_t i = actions_.size(); i-- > 0;) {
    if (actions_[i].from > count_ + 1) continue;
    due.insert(due.begin(), std::move(actions_[i]));
    actions_.erase(actions_.begin() + static_cast<std::ptrdiff_t>(i));
  }
  bool fails = false;
  for (PendingAction& pending : due) {
    const ActionResult result = pending.action(op, detail, failing || fails);
    if (result == ActionResult::NotYet) actions_.push_back(std::move(pending));
    fails |= result == ActionResult::ActedAndFailsTheCall;
  }
  return fails;
}

CallRecorder::Outcome CallRecorder::begin(std::string_view op, std::string detail, bool canFail) {
  Outcome outcome;
  if (canFail) {
    seen_.resize(rules_.size(), 0);
    for (size_t i = 0; i < rules_.size(); ++i) {
      const FaultRule& rule = rules_[i];
      if (!rule.op.empty() && rule.op != op) continue;
      const uint64_t position = seen_[i]++;
      if (position < rule.skip) continue;
      if (rule.times && position - rule.skip >= *rule.times) continue;
      if (!outcome.fail && !outcome.lie) {
        outcome.fail = !rule.lie;
        outcome.lie = rule.lie;
        outcome.lands = rule.lands && !rule.lie;
        outcome.code = rule.code;
      }
    }
  }
  if (!actions_.empty() && runActions(op, detail, outcome.fail) && canFail && !outcome.fail) {
    outcome = Outcome{true, false, false, static_cast<int32_t>(0xE00002BCu)};
  }
  ++count_;
  if (recording) {
    trace_.push_back(Call{count_, std::string(op), std::move(detail), outcome.fail});
  }
  return outcome;
}

bool CallRecorder::end() {
  if (crashAfter_ && count_ == *crashAfter_) {
    crashAfter_.reset();
    return true;
  }
  return false;
}

std::vector<std::string> CallRecorder::opsSince(uint64_t index) const {
  std::vector<std::string> ops;
  for (const Call& call : trace_) {
    if (call.index > index) ops.push_back(call.op);
  }
  return ops;
}

CallScope::CallScope(ProcessLink& link, std::string_view op, std::string detail, bool canFail)
    : link_(link), dead_(!link.alive) {
  if (!dead_) outcome_ = link.recorder.begin(op, std::move(detail), canFail);
}

CallScope::~CallScope() {
  if (!dead_ && link_.recorder.end()) {
    link_.alive = false;
    if (link_.onDeath) link_.onDeath();
  }
}

}  // namespace padwarden::sim
