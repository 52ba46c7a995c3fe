// The on-disk preferences store, on a real file system in a fresh folder per test: durability,
// merging with other stores, atomic replacement, corrupt files, symbolic links and modes.
// Failures are provoked for real where the file system allows it even as root (a folder or a
// symbolic link at the file's path, the folder removed), and through the store's fault hook for
// the steps it offers no other way to fail.
#include "platform/posix/file_preferences.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/posix/binary_plist.h"

namespace padwarden {
namespace {

namespace fs = std::filesystem;
using plist::Array;
using plist::Dictionary;
using plist::Value;
using Step = FilePreferences::Step;

const std::string kLeaseKey = "MappingLease.0000000100000abc";

Value lease(int64_t original) {
  return Dictionary{{"Version", 1},
                    {"Original", Array{Dictionary{{"HIDKeyboardModifierMappingSrc", original},
                                                  {"HIDKeyboardModifierMappingDst", 0}}}}};
}

std::vector<uint8_t> read_bytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void write_bytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void write_text(const fs::path& path, const std::string& text) {
  write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> encoded(const Dictionary& dict) {
  auto bytes = encode_binary_plist(dict);
  EXPECT_TRUE(bytes);
  return bytes.value_or(std::vector<uint8_t>{});
}

size_t lines(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

class FilePreferencesTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/padwarden-prefs-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    file = folder / "preferences.plist";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(folder, ignored);
  }

  // The names in the folder, for checking that no temporary file is left behind.
  std::set<std::string> names() const {
    std::set<std::string> result;
    for (const auto& entry : fs::directory_iterator(folder)) {
      result.insert(entry.path().filename().string());
    }
    return result;
  }

  std::optional<Value> stored(std::string_view key) const {
    const auto bytes = read_bytes(file);
    const auto value = decode_binary_plist(bytes.data(), bytes.size());
    if (!value) return std::nullopt;
    const Value* found = value->find(key);
    return found ? std::optional<Value>(*found) : std::nullopt;
  }

  fs::path folder;
  fs::path file;
};

TEST_F(FilePreferencesTest, ASynchronizedWriteSurvivesAFreshStore) {
  {
    FilePreferences prefs(folder);
    EXPECT_EQ(prefs.path(), file);
    prefs.setBool(false, "Enabled");
    prefs.CFPreferencesSetAppValue(kLeaseKey, lease(0x700000039));
    EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
    EXPECT_FALSE(prefs.hasPendingChanges());
  }
  FilePreferences fresh(folder);
  EXPECT_EQ(fresh.objectForKey("Enabled"), Value(false));
  EXPECT_EQ(fresh.CFPreferencesCopyAppValue(kLeaseKey), lease(0x700000039));
  EXPECT_EQ(stored("Enabled"), Value(false)) << "a binary property list holding a dictionary";
  EXPECT_EQ(names(), (std::set<std::string>{"preferences.plist"})) << "no temporary file left";
}

TEST_F(FilePreferencesTest, AnUnsavedWriteIsLostWhenTheProcessDiesAndASavedOneIsNot) {
  // Real processes that end without running destructors, as in a crash.
  const auto child = [&](bool synchronize) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      FilePreferences prefs(folder);
      prefs.CFPreferencesSetAppValue(kLeaseKey, lease(synchronize ? 2 : 1));
      if (synchronize && !prefs.CFPreferencesAppSynchronize()) ::_exit(1);
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  };
  child(false);
  EXPECT_EQ(FilePreferences(folder).CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  child(true);
  EXPECT_EQ(FilePreferences(folder).CFPreferencesCopyAppValue(kLeaseKey), lease(2));
}

TEST_F(FilePreferencesTest, TheDestructorSavesPendingChanges) {
  {
    FilePreferences prefs(folder);
    prefs.setBool(true, "LogicalNumLockOn.dWlkOjE=");
    EXPECT_TRUE(prefs.hasPendingChanges());
    EXPECT_FALSE(fs::exists(file));
  }
  EXPECT_EQ(stored("LogicalNumLockOn.dWlkOjE="), Value(true));
  EXPECT_TRUE(FilePreferences(folder).boolForKey("LogicalNumLockOn.dWlkOjE="));
}

TEST_F(FilePreferencesTest, AChangeSavedByAnotherStoreIsSeenAfterTheNextSynchronize) {
  FilePreferences ours(folder);
  FilePreferences theirs(folder);
  theirs.setBool(false, "Enabled");
  ASSERT_TRUE(theirs.CFPreferencesAppSynchronize());
  EXPECT_EQ(ours.objectForKey("Enabled"), std::nullopt) << "not before a synchronize";
  EXPECT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(ours.objectForKey("Enabled"), Value(false));
}

TEST_F(FilePreferencesTest, ALocalPendingChangeWinsAndOtherKeysAreKept) {
  FilePreferences ours(folder);
  FilePreferences theirs(folder);
  ours.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  theirs.CFPreferencesSetAppValue(kLeaseKey, lease(2));
  theirs.setBool(true, "Enabled");
  ASSERT_TRUE(theirs.CFPreferencesAppSynchronize());
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(ours.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_EQ(ours.objectForKey("Enabled"), Value(true));
  EXPECT_EQ(stored(kLeaseKey), lease(1));
  EXPECT_EQ(stored("Enabled"), Value(true)) << "their key survived our write";
}

TEST_F(FilePreferencesTest, ADeletionIsSavedAndSeenByOthers) {
  write_bytes(file, encoded({{kLeaseKey, lease(1)}, {"Enabled", true}}));
  FilePreferences ours(folder);
  FilePreferences theirs(folder);
  ASSERT_EQ(ours.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  ours.CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  EXPECT_EQ(ours.CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(stored(kLeaseKey), std::nullopt);
  EXPECT_EQ(theirs.CFPreferencesCopyAppValue(kLeaseKey), lease(1)) << "until it synchronizes";
  ASSERT_TRUE(theirs.CFPreferencesAppSynchronize());
  EXPECT_EQ(theirs.CFPreferencesCopyAppValue(kLeaseKey), std::nullopt);
  EXPECT_TRUE(theirs.boolForKey("Enabled"));
}

TEST_F(FilePreferencesTest, BothInterfacesReachTheSameStore) {
  FilePreferences prefs(folder);
  UserDefaults& defaults = prefs;
  AppPreferences& app = prefs;
  defaults.setBool(true, "Enabled");
  EXPECT_EQ(app.CFPreferencesCopyAppValue("Enabled"), Value(true));
  app.CFPreferencesSetAppValue("LastCommandedState", "YES");
  EXPECT_TRUE(defaults.boolForKey("LastCommandedState"));
  app.CFPreferencesSetAppValue("LastCommandedState", 0.0);
  EXPECT_FALSE(defaults.boolForKey("LastCommandedState"));
  EXPECT_EQ(defaults.objectForKey("LastCommandedState"), Value(0.0));
  EXPECT_FALSE(defaults.boolForKey("Missing"));
}

TEST_F(FilePreferencesTest, TheFileIsCreatedPrivateWhateverTheUmask) {
  const mode_t old = ::umask(0277);  // would leave 0400 without the explicit chmod
  {
    FilePreferences prefs(folder);
    prefs.setBool(true, "Enabled");
    EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  }
  ::umask(old);
  struct stat st {};
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

TEST_F(FilePreferencesTest, AnExistingLooserFileIsReplacedByAPrivateOne) {
  write_bytes(file, encoded({{"Enabled", true}}));
  ::chmod(file.c_str(), 0644);
  FilePreferences prefs(folder);
  prefs.setBool(false, "Enabled");
  ASSERT_TRUE(prefs.CFPreferencesAppSynchronize());
  struct stat st {};
  ASSERT_EQ(::lstat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
}

// --- Failures ----------------------------------------------------------------------------------

TEST_F(FilePreferencesTest, AFailedRenameLeavesTheOldContentAndAnswersFalse) {
  write_bytes(file, encoded({{"Enabled", true}}));
  const auto before = read_bytes(file);
  bool failRename = true;
  FilePreferences prefs(folder, "preferences.plist",
                        [&](Step step) { return step == Step::Rename && failRename; });
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(read_bytes(file), before);
  EXPECT_TRUE(prefs.hasPendingChanges());
  EXPECT_EQ(prefs.objectForKey("Enabled"), Value(false)) << "the cache keeps the change";
  EXPECT_EQ(names(), (std::set<std::string>{"preferences.plist"})) << "temporary removed";

  failRename = false;
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(stored("Enabled"), Value(false));
}

TEST_F(FilePreferencesTest, AFolderInPlaceOfTheFileMakesSynchronizeFailWithoutHarm) {
  FilePreferences prefs(folder);
  prefs.setBool(true, "Enabled");
  ASSERT_TRUE(prefs.CFPreferencesAppSynchronize());
  // Something else takes the file's place; as root too, nothing can be renamed over it.
  fs::remove(file);
  fs::create_directory(file);
  write_text(file / "inside", "keep me");
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_TRUE(fs::is_directory(file));
  EXPECT_EQ(read_bytes(file / "inside").size(), 7u);
  EXPECT_TRUE(prefs.hasPendingChanges());
  EXPECT_EQ(names(), (std::set<std::string>{"preferences.plist"}));

  fs::remove_all(file);
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(stored("Enabled"), Value(false));
}

TEST_F(FilePreferencesTest, EveryFailingStepKeepsThePendingChangesAndTheOldFile) {
  write_bytes(file, encoded({{"Enabled", true}}));
  const auto before = read_bytes(file);
  for (Step failing : {Step::ReadFile, Step::CreateTemporary, Step::WriteTemporary,
                       Step::SyncTemporary, Step::Rename}) {
    SCOPED_TRACE(static_cast<int>(failing));
    FilePreferences prefs(folder, "preferences.plist", [&](Step step) { return step == failing; });
    prefs.setBool(false, "Enabled");
    EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
    EXPECT_TRUE(prefs.hasPendingChanges());
    EXPECT_EQ(read_bytes(file), before);
    EXPECT_EQ(names(), (std::set<std::string>{"preferences.plist"}));
    prefs.CFPreferencesSetAppValue("Enabled", Value(true));  // nothing left to save at the end
    EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  }
}

TEST_F(FilePreferencesTest, AFailedFolderSyncAnswersFalseAndWritesAgainNextTime) {
  bool fail = true;
  FilePreferences prefs(folder, "preferences.plist",
                        [&](Step step) { return step == Step::SyncFolder && fail; });
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  // The file is in place but may not survive a power loss: the change stays pending.
  EXPECT_TRUE(prefs.hasPendingChanges());
  EXPECT_EQ(stored("Enabled"), Value(false));
  fail = false;
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_FALSE(prefs.hasPendingChanges());
}

TEST_F(FilePreferencesTest, AMissingFolderFailsUntilItIsBack) {
  const fs::path inner = folder / "Padwarden";
  FilePreferences prefs(inner);
  EXPECT_EQ(prefs.objectForKey("Enabled"), std::nullopt);
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_TRUE(prefs.hasPendingChanges());
  fs::create_directory(inner);
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(FilePreferences(inner).objectForKey("Enabled"), Value(false));
}

TEST_F(FilePreferencesTest, TheEmptyPathsStoreKeepsValuesButNeverSaves) {
  FilePreferences prefs{fs::path{}};
  EXPECT_TRUE(prefs.path().empty());
  prefs.setBool(true, "Enabled");
  EXPECT_TRUE(prefs.boolForKey("Enabled"));
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
}

// --- Corrupt files -----------------------------------------------------------------------------

std::vector<std::string> aside_files(const std::set<std::string>& names) {
  std::vector<std::string> result;
  for (const std::string& name : names) {
    if (name.rfind("preferences.plist.corrupt-", 0) == 0) result.push_back(name);
  }
  return result;
}

TEST_F(FilePreferencesTest, ACorruptFileIsMovedAsideAndTheStoreStartsEmpty) {
  write_text(file, "this is not a property list");
  testing::internal::CaptureStderr();
  FilePreferences prefs(folder);
  const std::string err = testing::internal::GetCapturedStderr();

  EXPECT_EQ(prefs.objectForKey("Enabled"), std::nullopt);
  EXPECT_FALSE(fs::exists(file));
  const auto aside = aside_files(names());
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(read_bytes(folder / aside[0]).size(), 27u) << "not deleted, not changed";
  EXPECT_EQ(lines(err), 1u) << err;
  EXPECT_NE(err.find((folder / aside[0]).string()), std::string::npos) << err;

  prefs.setBool(true, "Enabled");
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(stored("Enabled"), Value(true));
}

TEST_F(FilePreferencesTest, AFileWithoutADictionaryIsCorruptToo) {
  write_bytes(file, *encode_binary_plist(Array{1, 2}));
  testing::internal::CaptureStderr();
  FilePreferences prefs(folder);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(err), 1u) << err;
  EXPECT_EQ(aside_files(names()).size(), 1u);
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(FilePreferencesTest, AnEarlierAsideFileIsNeverReplaced) {
  // Aside files for this second and the next, in case the clock ticks meanwhile.
  const auto now = std::time(nullptr);
  for (auto t : {now, now + 1}) {
    write_text(folder / ("preferences.plist.corrupt-" + std::to_string(t)), "earlier");
  }
  write_text(file, "corrupt again");
  testing::internal::CaptureStderr();
  FilePreferences prefs(folder);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(err), 1u) << err;

  const auto aside = aside_files(names());
  ASSERT_EQ(aside.size(), 3u);
  int earlier = 0;
  int again = 0;
  for (const std::string& name : aside) {
    const auto bytes = read_bytes(folder / name);
    const std::string text(bytes.begin(), bytes.end());
    earlier += text == "earlier";
    if (text == "corrupt again") {
      ++again;
      EXPECT_NE(err.find(name), std::string::npos) << err;
    }
  }
  EXPECT_EQ(earlier, 2);
  EXPECT_EQ(again, 1);
}

TEST_F(FilePreferencesTest, ACorruptFileFoundWhenSynchronizingIsMovedAsideToo) {
  FilePreferences prefs(folder);
  prefs.setBool(true, "Enabled");
  ASSERT_TRUE(prefs.CFPreferencesAppSynchronize());
  write_text(file, "garbage written by someone else");
  prefs.setBool(false, "Enabled");
  testing::internal::CaptureStderr();
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(err), 1u) << err;
  EXPECT_EQ(aside_files(names()).size(), 1u);
  EXPECT_EQ(stored("Enabled"), Value(false));
}

TEST_F(FilePreferencesTest, AnEmptyFileIsCorrupt) {
  write_text(file, "");
  testing::internal::CaptureStderr();
  FilePreferences prefs(folder);
  EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1u);
  EXPECT_EQ(aside_files(names()).size(), 1u);
}

// --- Symbolic links and other things at the file's path ----------------------------------------

TEST_F(FilePreferencesTest, ASymbolicLinkInPlaceOfTheFileIsRefused) {
  const fs::path target = folder / "elsewhere.plist";
  write_bytes(target, encoded({{"Enabled", false}}));
  const auto targetBytes = read_bytes(target);
  fs::create_symlink(target, file);

  testing::internal::CaptureStderr();
  {
    FilePreferences prefs(folder);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find("symbolic link"), std::string::npos) << err;
    EXPECT_EQ(prefs.objectForKey("Enabled"), std::nullopt) << "not read through the link";

    prefs.setBool(true, "Enabled");
    EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
    EXPECT_TRUE(prefs.hasPendingChanges());
  }  // the destructor's save is refused as well
  EXPECT_TRUE(fs::is_symlink(file));
  EXPECT_EQ(fs::read_symlink(file), target);
  EXPECT_EQ(read_bytes(target), targetBytes);
  EXPECT_EQ(names(), (std::set<std::string>{"preferences.plist", "elsewhere.plist"}));
}

TEST_F(FilePreferencesTest, ASymbolicLinkAppearingLaterIsRefusedAndNotReplaced) {
  FilePreferences prefs(folder);
  prefs.setBool(true, "Enabled");
  ASSERT_TRUE(prefs.CFPreferencesAppSynchronize());
  fs::remove(file);
  fs::create_symlink("/etc/passwd", file);
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_TRUE(fs::is_symlink(file));
  fs::remove(file);
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(stored("Enabled"), Value(false));
}

TEST_F(FilePreferencesTest, ADanglingSymbolicLinkIsRefusedToo) {
  fs::create_symlink(folder / "nowhere", file);
  testing::internal::CaptureStderr();
  FilePreferences prefs(folder);
  EXPECT_EQ(lines(testing::internal::GetCapturedStderr()), 1u);
  prefs.setBool(true, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_FALSE(fs::exists(folder / "nowhere")) << "not created through the link";
  EXPECT_TRUE(fs::is_symlink(file));
}

TEST_F(FilePreferencesTest, AFolderInPlaceOfTheFileWhenOpeningIsRefused) {
  fs::create_directory(file);
  testing::internal::CaptureStderr();
  FilePreferences prefs(folder);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(lines(err), 1u) << err;
  EXPECT_TRUE(fs::is_directory(file)) << "not moved aside: it is not a corrupt file";
  EXPECT_TRUE(aside_files(names()).empty());
  prefs.setBool(true, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
}

// --- Values and the current user's folder --------------------------------------------------------

TEST_F(FilePreferencesTest, ValuesThatCannotBeWrittenAreDropped) {
  FilePreferences prefs(folder);
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  prefs.CFPreferencesSetAppValue(kLeaseKey, Array{Value::opaque("IOHIDDeviceRef")});
  prefs.CFPreferencesSetAppValue("Nul", std::string("a\0b", 3));
  prefs.CFPreferencesSetAppValue("Bad", "\xff");
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue("Nul"), std::nullopt);
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue("Bad"), std::nullopt);
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(FilePreferences(folder).CFPreferencesCopyAppValue(kLeaseKey), lease(1));
}

// Sets an environment variable for the test's duration.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST_F(FilePreferencesTest, TheCurrentUsersStoreLivesInTheXdgConfigFolder) {
  const fs::path config = folder / "config" / "deeper";
  ScopedEnv xdg("XDG_CONFIG_HOME", config.c_str());
  EXPECT_EQ(FilePreferences::currentUserFolder(), config / "Padwarden");
  auto prefs = FilePreferences::forCurrentUser();
  ASSERT_NE(prefs, nullptr);
  EXPECT_EQ(prefs->path(), config / "Padwarden" / "preferences.plist");
  EXPECT_EQ(mode_of(config / "Padwarden"), 0700u);
  EXPECT_EQ(mode_of(config), 0700u) << "missing parents are private too";
  prefs->setBool(true, "Enabled");
  EXPECT_TRUE(prefs->CFPreferencesAppSynchronize());
  EXPECT_EQ(mode_of(prefs->path()), 0600u);
}

TEST_F(FilePreferencesTest, WithoutXdgConfigHomeTheStoreIsInDotConfig) {
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", folder.c_str());
  EXPECT_EQ(FilePreferences::currentUserFolder(), folder / ".config" / "Padwarden");
  {
    ScopedEnv relative("XDG_CONFIG_HOME", "relative/path");  // ignored, as XDG says
    EXPECT_EQ(FilePreferences::currentUserFolder(), folder / ".config" / "Padwarden");
  }
  auto prefs = FilePreferences::forCurrentUser();
  EXPECT_EQ(prefs->folder(), folder / ".config" / "Padwarden");
  EXPECT_TRUE(fs::is_directory(prefs->folder()));
  EXPECT_EQ(mode_of(prefs->folder()), 0700u);
}

}  // namespace
}  // namespace padwarden
