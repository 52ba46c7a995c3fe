// The native application's guard against nested termination requests: the quit alert runs
// main-queue work, and a quit re-issued from there is held and made again, never lost.
#include "platform/termination_gate.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace padwarden {
namespace {

using Reply = NSApplicationTerminateReply;

// The platform's side of a termination: a request asks the delegate unless an answer is under
// way; the delegate's answer may make nested requests (from the alert's modal loop); a held
// request is made again later, from the main queue.
struct Platform {
  TerminationGate gate;
  std::vector<std::string> log;
  std::vector<std::function<void()>> later;

  void request(const std::function<Reply()>& answer) {
    if (!gate.enter()) return log.push_back("held");
    const Reply reply = answer();
    log.push_back(reply == Reply::NSTerminateNow ? "now" : "cancel");
    if (gate.leave(reply)) later.push_back([this, answer] { request(answer); });
  }
};

TEST(TerminationGate, ANestedRequestIsHeldAndMadeAgainOnlyAfterACancel) {
  const struct {
    const char* name;
    Reply first;
    int nested;  // requests made while the first is answered; each answers "now" when asked
    std::vector<std::string> log;
  } cases[] = {
      {"cancel, then the re-issued quit",
       Reply::NSTerminateCancel,
       2,
       {"held", "held", "cancel", "now"}},
      {"terminate drops what was held", Reply::NSTerminateNow, 2, {"held", "held", "now"}},
      {"nothing nested: cancel", Reply::NSTerminateCancel, 0, {"cancel"}},
      {"nothing nested: terminate", Reply::NSTerminateNow, 0, {"now"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Platform platform;
    bool asked = false;
    std::function<Reply()> delegate = [&] {
      if (asked) return Reply::NSTerminateNow;
      asked = true;
      for (int i = 0; i < c.nested; ++i) platform.request(delegate);
      return c.first;
    };
    platform.request(delegate);
    EXPECT_EQ(platform.later.size(), c.first == Reply::NSTerminateCancel && c.nested ? 1u : 0u);
    for (size_t i = 0; i < platform.later.size(); ++i) platform.later[i]();
    EXPECT_EQ(platform.log, c.log);
    EXPECT_FALSE(platform.gate.answering());
  }
}

}  // namespace
}  // namespace padwarden
