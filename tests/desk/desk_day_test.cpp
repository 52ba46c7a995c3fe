// The desk as a long-running program: a day of virtual time leaves its memory where it was (no
// call trace, no record of managers long released), and the command language behaves alike in
// scripts and at the prompt.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "desk/desk.h"

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

}  // namespace
}  // namespace padwarden::desk
