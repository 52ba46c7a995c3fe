// The desk as a long-running program: a day of virtual time leaves its memory where it was (no
// call trace, no record of managers long released), and the command language behaves alike in
// scripts and at the prompt.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "desk/desk.h"
#include "desk/visible_text.h"

namespace padwarden::desk {
namespace {

class DeskBed : public ::testing::Test {
 protected:
  DeskBed() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/desk-test-XXXXXX";
    if (mkdtemp(pattern.data())) folder_ = pattern;
    desk_.emplace(DeskSettings{folder_, false, nullptr}, out_);
  }
  ~DeskBed() override {
    desk_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  Outcome run(const std::string& line) { return desk_->execute(line); }
  Desk& desk() { return *desk_; }

  std::string folder_;
  std::ostringstream out_;
  std::optional<Desk> desk_;
};

TEST_F(DeskBed, ADayOfVirtualTimeKeepsNoTraceAndOnlyLiveManagers) {
  for (const char* line : {"plug kb1", "launch", "tap kb1 a", "wait 86400"}) {
    ASSERT_EQ(run(line).kind, Outcome::Kind::Ok) << line;
  }
  const sim::CallRecorder& recorder = desk().world().recorder();
  EXPECT_GT(recorder.callCount(), 100000u) << "a discovery pass every 1.5 s makes calls";
  EXPECT_TRUE(recorder.trace().empty());
  ASSERT_TRUE(desk().running());
  EXPECT_LE(desk().world().process()->hid().trackedManagers(), 2u)
      << "the session's manager, and at most one discovery pass's";
}

// What a line answers, and a text its message or output must hold.
struct LineCase {
  const char* line;
  Outcome::Kind kind;
  const char* said;
};

TEST_F(DeskBed, CommandsAnswerAsTheLanguageSays) {
  const LineCase cases[] = {
      {"wait -1", Outcome::Kind::Error, "from 0 to 10000000"},
      {"wait 10000001", Outcome::Kind::Error, "from 0 to 10000000"},
      {"expect typed kb1 kp8 bogus", Outcome::Kind::Error, "unknown key \"bogus\""},
      {"expect typed kb1 up 0x7:0x4", Outcome::Kind::Error, "unknown key \"0x7:0x4\""},
      {"expect typed kb1 up", Outcome::Kind::ExpectationFailed, "expected up, found a"},
      {"expect typed kb1 0xc:0xe9", Outcome::Kind::ExpectationFailed, "found a"},
      {"expect typed kb1 a", Outcome::Kind::Ok, ""},
      {"help extra", Outcome::Kind::Error, "usage: help"},
      {"exit now", Outcome::Kind::Error, "usage: exit"},
      {"exit", Outcome::Kind::Exit, ""},
      {"click \x1b[2J", Outcome::Kind::Error, "not UTF-8: click ^[[2J"},
  };
  for (const char* line : {"plug kb1", "launch", "tap kb1 a"}) run(line);
  for (const LineCase& c : cases) {
    const Outcome outcome = run(c.line);
    EXPECT_EQ(outcome.kind, c.kind) << c.line;
    EXPECT_NE(outcome.message.find(c.said), std::string::npos) << c.line << ": " << outcome.message;
  }
  EXPECT_TRUE(desk().running()) << "exit leaves the quitting to the runner";
}

TEST_F(DeskBed, QuitIsHeldBackByAPressedKeyAsFromTheMenu) {
  for (const char* line : {"plug kb1", "launch", "tap kb1 a", "press kb1 kp8"}) run(line);
  EXPECT_FALSE(desk().quit());
  run("release kb1 kp8");
  EXPECT_FALSE(desk().running());
  EXPECT_TRUE(desk().quit()) << "nothing to quit";
}

TEST(VisibleText, ControlCharactersAndStrayBytesAreShownNotSent) {
  const struct {
    std::string typed, shown;
    bool unprintable;
  } cases[] = {
      {"plain text\twith a tab", "plain text\twith a tab", false},
      {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x91", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x94\x91", false},
      {"\x1b[31mred", "^[[31mred", true},
      {"bell\x07 del\x7f nul", "bell^G del^? nul", true},
      {std::string("a\0b", 3), "a^@b", true},
      {"csi \xc2\x9b", "csi \\u009b", true},
      {"latin-1 \xe9t\xe9", "latin-1 \\xe9t\\xe9", true},
      {"overlong \xc0\xaf", "overlong \\xc0\\xaf", true},
      {"surrogate \xed\xa0\x80", "surrogate \\xed\\xa0\\x80", true},
      {"cut \xe2\x82", "cut \\xe2\\x82", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(has_unprintable(c.typed), c.unprintable) << c.shown;
    EXPECT_EQ(visible_text(c.typed), c.shown);
  }
}

}  // namespace
}  // namespace padwarden::desk
