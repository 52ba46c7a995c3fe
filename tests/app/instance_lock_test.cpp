// The per-user instance lock: one copy per user, clear refusals, and nothing left behind that
// could block a later start.
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
  // The line and status the program would end with.
  std::pair<std::string, int> report(int error) {
    char* text = nullptr;
    size_t size = 0;
    std::FILE* err = ::open_memstream(&text, &size);
    const int status = report_instance_lock_failure(error, err);
    std::fclose(err);
    std::string line(text, size);
    std::free(text);
    return {line, status};
  }
  std::string failureLine(int error) {
    return std::string("Padwarden could not acquire its per-user instance lock: ") +
           std::strerror(error) + ".\n";
  }

  fs::path root;
  std::vector<int> open;
};

TEST_F(InstanceLockTest, SecondCopyIsToldAndEndsWithStatusZero) {
  ASSERT_TRUE(take(root.string()).held());
  const fs::path file = root / "Padwarden" / "instance.lock";
  EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);

  // flock locks belong to the open file, so a second open in this process competes like a
  // second copy of the program would.
  const InstanceLock second = take(root.string());
  EXPECT_FALSE(second.held());
  EXPECT_EQ(report(second.error),
            std::make_pair(std::string("Padwarden is already running.\n"), 0));
}

TEST_F(InstanceLockTest, LeftoverFileAndFolderAreReusedOnceTheHolderIsGone) {
  const InstanceLock first = take(root.string());
  ASSERT_TRUE(first.held());
  ::close(first.fd);  // what the system does when a crashed copy's process ends
  open.clear();
  EXPECT_TRUE(take(root.string()).held());
}

TEST_F(InstanceLockTest, OtherUsersHaveTheirOwnLock) {
  ASSERT_TRUE(take((root / "alice").string()).held());
  EXPECT_TRUE(take((root / "bob").string()).held());
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
  EXPECT_EQ(report(lock.error), std::make_pair(failureLine(GetParam().error), 2));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InstanceLockRefusals,
    ::testing::Values(Refusal{"SymbolicLink",
                              [](const fs::path& s) {
                                fs::create_directories(s / "Padwarden");
                                fs::create_symlink(s / "elsewhere",
                                                   s / "Padwarden" / "instance.lock");
                              },
                              ELOOP},
                      Refusal{"NamedPipe",
                              [](const fs::path& s) {
                                fs::create_directories(s / "Padwarden");
                                ASSERT_EQ(
                                    ::mkfifo((s / "Padwarden" / "instance.lock").c_str(), 0600), 0);
                              },
                              EACCES},
                      Refusal{"PlainFileWhereTheFolderBelongs",
                              [](const fs::path& s) {
                                fs::create_directories(s);
                                std::FILE* f = std::fopen((s / "Padwarden").c_str(), "w");
                                std::fclose(f);
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
  const fs::path folder = root / "Padwarden";
  fs::create_directories(folder);
  const fs::path file = folder / "instance.lock";
  std::fclose(std::fopen(file.c_str(), "w"));
  ASSERT_EQ(::chown(file.c_str(), 65534, 65534), 0);
  EXPECT_EQ(take(root.string()).error, EACCES);
}

}  // namespace
}  // namespace padwarden
