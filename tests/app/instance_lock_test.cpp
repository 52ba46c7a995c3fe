// Main's order of work around the per-user instance lock: the delegate made only once the lock
// is held, the lock kept for the whole event loop and given up after it. Starts refused the
// lock, their texts and the lock file's permissions are checked through the real program by
// tests/desk/lock_test.sh.
#include "app/instance_lock.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <utility>
#include <string>

#include "app/padwarden_main.h"
#include "platform/sim/world.h"

namespace padwarden {
namespace {

namespace fs = std::filesystem;

// A delegate that looks around from inside the application's run.
class StubDelegate final : public ApplicationDelegate {
 public:
  explicit StubDelegate(std::function<void()> launched) : launched_(std::move(launched)) {}
  void applicationDidFinishLaunching() override { launched_(); }
  NSApplicationTerminateReply applicationShouldTerminate() override {
    return NSApplicationTerminateReply::NSTerminateNow;
  }
  void applicationWillTerminate() override {}

 private:
  std::function<void()> launched_;
};

class PadwardenMain : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "padwarden-lock-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    root = templ;
  }
  void TearDown() override { fs::remove_all(root); }
  // Whether another start could take the lock now (taking and giving it back at once).
  bool lockFree() {
    InstanceLock probe = acquire_instance_lock(root.string());
    if (probe.held()) ::close(probe.fd);
    return probe.held();
  }

  // Main's exit status and what it wrote on the error stream.
  static std::pair<int, std::string> run(const std::optional<std::string>& folder,
                                         const DelegateFactory& makeDelegate) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* err = ::open_memstream(&text, &size);
    sim::World world;
    const int status = padwarden_main(folder, err, world.launch().application(), makeDelegate);
    std::fclose(err);
    std::string told(text, size);
    std::free(text);
    return {status, told};
  }

  fs::path root;
};

// No support folder can be named (no home at all): the program cannot reach this through
// the command line, so main is asked directly.
TEST_F(PadwardenMain, AStartWithoutASupportFolderIsToldWhyAndMakesNoDelegate) {
  bool created = false;
  EXPECT_EQ(run(std::nullopt,
                [&] {
                  created = true;
                  return std::make_shared<StubDelegate>([] {});
                }),
            std::make_pair(2, std::string("Padwarden could not acquire its per-user instance "
                                          "lock: No such file or directory.\n")));
  EXPECT_FALSE(created);
}

TEST_F(PadwardenMain, HoldsTheLockForTheWholeRunAndOwnsTheDelegate) {
  std::weak_ptr<ApplicationDelegate> made;
  bool ran = false;
  const auto [status, told] = run(root.string(), [&] {
    EXPECT_FALSE(lockFree()) << "the delegate comes only once the lock is held";
    auto delegate = std::make_shared<StubDelegate>([&] {
      ran = true;
      EXPECT_FALSE(lockFree());
      EXPECT_FALSE(made.expired()) << "main keeps the delegate for the run";
    });
    made = delegate;
    return delegate;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(told, "");
  EXPECT_TRUE(ran);
  EXPECT_TRUE(made.expired()) << "released after the run";
  EXPECT_TRUE(lockFree()) << "closed after the run";
}

}  // namespace
}  // namespace padwarden
