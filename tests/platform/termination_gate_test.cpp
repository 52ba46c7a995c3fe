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
// way; the delegate's answer may run nested requests (from the alert's modal loop); a held
// request is made again later. Returns how each request ended.
struct Platform {
  TerminationGate gate;
  std::vector<std::string> log;
  std::vector<std::function<void()>> later;  // the main queue after the answer

  void request(const std::function<Reply()>& answer) {
    if (!gate.enter()) {
      log.push_back("held");
      return;
    }
    const Reply reply = answer();
    log.push_back(reply == Reply::NSTerminateNow ? "now" : "cancel");
    if (gate.leave(reply)) later.push_back([this, answer] { request(answer); });
  }
};

TEST(TerminationGate, AQuitReissuedInsideTheQuitAlertIsHeldAndMadeAgain) {
  Platform platform;
  bool stopped = false;
  std::function<Reply()> delegate = [&] {
    if (stopped) return Reply::NSTerminateNow;
    // The alert is up; the cleanup finishes and its queued work re-issues the quit.
    stopped = true;
    platform.request(delegate);
    return Reply::NSTerminateCancel;
  };
  platform.request(delegate);
  EXPECT_EQ(platform.log, (std::vector<std::string>{"held", "cancel"}));
  ASSERT_EQ(platform.later.size(), 1u);
  platform.later.front()();
  EXPECT_EQ(platform.log, (std::vector<std::string>{"held", "cancel", "now"}));
  EXPECT_FALSE(platform.gate.answering());
}

TEST(TerminationGate, NothingIsHeldOrRepeatedWithoutANestedRequest) {
  const struct {
    Reply reply;
    const char* logged;
  } cases[] = {{Reply::NSTerminateNow, "now"}, {Reply::NSTerminateCancel, "cancel"}};
  for (const auto& c : cases) {
    Platform platform;
    platform.request([&] { return c.reply; });
    EXPECT_EQ(platform.log, (std::vector<std::string>{c.logged}));
    EXPECT_TRUE(platform.later.empty());
  }
}

TEST(TerminationGate, AHeldRequestIsDroppedWhenTheAnswerWasToTerminate) {
  Platform platform;
  std::function<Reply()> delegate = [&] {
    platform.request([] { return Reply::NSTerminateNow; });
    platform.request([] { return Reply::NSTerminateNow; });  // several collapse into one
    return Reply::NSTerminateNow;
  };
  platform.request(delegate);
  EXPECT_EQ(platform.log, (std::vector<std::string>{"held", "held", "now"}));
  EXPECT_TRUE(platform.later.empty());
}

}  // namespace
}  // namespace padwarden
