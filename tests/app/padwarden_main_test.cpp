// main's order of work: the lock first, the delegate only once it is held, the lock kept for
// the whole event loop and given up after it; a second copy never creates a delegate.
#include "app/padwarden_main.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "app/instance_lock.h"

namespace padwarden {
namespace {

namespace fs = std::filesystem;

class StubDelegate final : public ApplicationDelegate {
 public:
  void applicationDidFinishLaunching() override {}
  NSApplicationTerminateReply applicationShouldTerminate() override {
    return NSApplicationTerminateReply::NSTerminateNow;
  }
  void applicationWillTerminate() override {}
};

// An application whose run() is the whole event loop: it calls back while "running".
class BlockingApplication final : public Application {
 public:
  std::function<void()> whileRunning;
  std::weak_ptr<ApplicationDelegate> delegate;
  int runs = 0;

  void setDelegate(std::weak_ptr<ApplicationDelegate> d) override { delegate = std::move(d); }
  void run() override {
    ++runs;
    if (whileRunning) whileRunning();
  }
  void terminate() override {}
  StatusItemRef statusItemWithLength(double) override { return nullptr; }
  ImageRef imageWithDrawing(const StatusIconDrawing&) override { return nullptr; }
  MenuRef menuWithTitle(std::string) override { return nullptr; }
  MenuItemRef menuItemWithTitle(std::string, MenuAction, std::string) override { return nullptr; }
  MenuItemRef separatorItem() override { return nullptr; }
  size_t runModalAlert(const AlertContent&) override { return 0; }
};

class PadwardenMain : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "padwarden-main-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    root = templ;
  }
  void TearDown() override { fs::remove_all(root); }
  // Whether another start could take the lock now (taking and giving it back at once).
  bool lockFree() {
    InstanceLock probe = acquire_instance_lock(root);
    if (probe.held()) ::close(probe.fd);
    return probe.held();
  }
  std::string root;
};

TEST_F(PadwardenMain, HoldsTheLockForTheWholeRunAndOwnsTheDelegate) {
  BlockingApplication app;
  std::weak_ptr<ApplicationDelegate> made;
  bool lockedDuringRun = false;
  app.whileRunning = [&] {
    lockedDuringRun = !lockFree();
    EXPECT_FALSE(made.expired()) << "main keeps the delegate for the run";
    EXPECT_EQ(app.delegate.lock(), made.lock());
  };
  const int status = padwarden_main(root, stderr, app, [&] {
    EXPECT_FALSE(lockFree()) << "the delegate comes only once the lock is held";
    auto delegate = std::make_shared<StubDelegate>();
    made = delegate;
    return delegate;
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(app.runs, 1);
  EXPECT_TRUE(lockedDuringRun);
  EXPECT_TRUE(made.expired()) << "released after the run";
  EXPECT_TRUE(lockFree()) << "closed after the run";
}

TEST_F(PadwardenMain, SecondCopyEndsWithoutADelegate) {
  InstanceLock first = acquire_instance_lock(root);
  ASSERT_TRUE(first.held());
  BlockingApplication app;
  bool created = false;
  char* text = nullptr;
  size_t size = 0;
  std::FILE* err = open_memstream(&text, &size);
  const int status = padwarden_main(root, err, app, [&] {
    created = true;
    return std::make_shared<StubDelegate>();
  });
  std::fclose(err);
  EXPECT_EQ(status, 0);
  EXPECT_STREQ(text, "Padwarden is already running.\n");
  EXPECT_FALSE(created);
  EXPECT_EQ(app.runs, 0);
  std::free(text);
  ::close(first.fd);
}

}  // namespace
}  // namespace padwarden
