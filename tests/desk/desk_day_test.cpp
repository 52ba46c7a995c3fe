// The desk as a long-running program: a day of virtual time leaves its memory where it was (no
// call trace, no record of managers long released). What lines answer, and a quit held back
// at exit, are checked through the program by command_line_test.sh.
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
    desk_.emplace(DeskSettings{folder_, false, nullptr, {}}, out_);
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
  EXPECT_EQ(run("exit").kind, Outcome::Kind::Exit);
  EXPECT_TRUE(desk().running()) << "exit leaves the quitting to the runner";
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
