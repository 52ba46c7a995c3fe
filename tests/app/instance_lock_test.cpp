// The per-user instance lock and main's order of work around it: one copy per user, clear
// refusals, nothing left behind that could block a later start; the delegate made only once
// the lock is held, the lock kept for the whole event loop and given up after it.
#include "app/instance_lock.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>

#include "app/padwarden_main.h"
#include "platform/sim/world.h"

namespace padwarden {
namespace {

namespace fs = std::filesystem;

class InstanceLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string templ = (fs::temp_directory_path() / "padwarden-lock-XXXXXX").string();
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    root = templ;
  }
  void TearDown() override {
    for (int fd : open) ::close(fd);
    fs::remove_all(root);
  }
  InstanceLock take(const std::optional<std::string>& folder) {
    InstanceLock lock = acquire_instance_lock(folder);
    if (lock.held()) open.push_back(lock.fd);
    return lock;
  }
  // Whether another start could take the lock now (taking and giving it back at once).
  bool lockFree() {
    InstanceLock probe = acquire_instance_lock(root.string());
    if (probe.held()) ::close(probe.fd);
    return probe.held();
  }
  // What `write` puts on the error stream, and what it answers.
  static std::pair<std::string, int> captured(const std::function<int(std::FILE*)>& write) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* err = ::open_memstream(&text, &size);
    const int status = write(err);
    std::fclose(err);
    std::string line(text, size);
    std::free(text);
    return {line, status};
  }
  static std::pair<std::string, int> report(int error) {
    return captured([error](std::FILE* err) { return report_instance_lock_failure(error, err); });
  }

  fs::path root;
  std::vector<int> open;
};

TEST_F(InstanceLockTest, LeftoverFileAndFolderAreReusedOnceTheHolderIsGone) {
  const InstanceLock first = take(root.string());
  ASSERT_TRUE(first.held());
  ::close(first.fd);  // what the system does when a crashed copy's process ends
  open.clear();
  EXPECT_TRUE(take(root.string()).held());
}

struct Refusal {
  const char* name;
  std::function<void(const fs::path& folder)> arrange;  // folder: <root>/support
  int error;
};

class InstanceLockRefusals : public InstanceLockTest,
                             public ::testing::WithParamInterface<Refusal> {};

TEST_P(InstanceLockRefusals, NameTheSystemsReasonAndEndWithStatusTwo) {
  const fs::path support = root / "support";
  GetParam().arrange(support);
  const InstanceLock lock = take(support.string());
  ASSERT_FALSE(lock.held());
  EXPECT_EQ(lock.error, GetParam().error);
  EXPECT_EQ(report(lock.error),
            std::make_pair(std::string("Padwarden could not acquire its per-user instance lock: ") +
                               std::strerror(GetParam().error) + ".\n",
                           2));
}

void lock_folder(const fs::path& s) { fs::create_directories(s / "Padwarden"); }

INSTANTIATE_TEST_SUITE_P(
    Cases, InstanceLockRefusals,
    ::testing::Values(Refusal{"SymbolicLink",
                              [](const fs::path& s) {
                                lock_folder(s);
                                fs::create_symlink(s / "elsewhere",
                                                   s / "Padwarden" / "instance.lock");
                              },
                              ELOOP},
                      Refusal{"NamedPipe",
                              [](const fs::path& s) {
                                lock_folder(s);
                                ASSERT_EQ(
                                    ::mkfifo((s / "Padwarden" / "instance.lock").c_str(), 0600), 0);
                              },
                              EACCES},
                      Refusal{"PlainFileWhereTheFolderBelongs",
                              [](const fs::path& s) {
                                fs::create_directories(s);
                                std::fclose(std::fopen((s / "Padwarden").c_str(), "w"));
                              },
                              EACCES}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(InstanceLockTest, MissingSupportFolderIsENOENT) {
  const InstanceLock lock = take(std::nullopt);
  EXPECT_EQ(lock.error, ENOENT);
  EXPECT_EQ(report(lock.error).second, 2);
}

TEST_F(InstanceLockTest, LockFileOfAnotherUserIsRefused) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to give the file to another user";
  const fs::path file = root / "Padwarden" / "instance.lock";
  lock_folder(root);
  std::fclose(std::fopen(file.c_str(), "w"));
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  EXPECT_EQ(take(root.string()).error, EACCES);
}

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

using PadwardenMain = InstanceLockTest;

TEST_F(PadwardenMain, SecondCopyIsToldAndEndsWithStatusZeroWithoutADelegate) {
  ASSERT_TRUE(take(root.string()).held());
  EXPECT_EQ(fs::status(root / "Padwarden" / "instance.lock").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  // flock locks belong to the open file, so a second open in this process competes like a
  // second copy of the program would.
  sim::World world;
  bool created = false;
  const auto [text, status] = captured([&](std::FILE* err) {
    return padwarden_main(root.string(), err, world.launch().application(), [&] {
      created = true;
      return std::make_shared<StubDelegate>([] {});
    });
  });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(text, "Padwarden is already running.\n");
  EXPECT_FALSE(created);
  // Another user has a lock of their own.
  EXPECT_TRUE(take((root / "bob").string()).held());
}

TEST_F(PadwardenMain, HoldsTheLockForTheWholeRunAndOwnsTheDelegate) {
  sim::World world;
  std::weak_ptr<ApplicationDelegate> made;
  bool ran = false;
  const int status = padwarden_main(root.string(), stderr, world.launch().application(), [&] {
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
  EXPECT_TRUE(ran);
  EXPECT_TRUE(made.expired()) << "released after the run";
  EXPECT_TRUE(lockFree()) << "closed after the run";
}

}  // namespace
}  // namespace padwarden
