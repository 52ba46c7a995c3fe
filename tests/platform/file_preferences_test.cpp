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

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/binary_plist.h"

namespace padwarden {
namespace {

namespace fs = std::filesystem;
using plist::Array;
using plist::Dictionary;
using plist::Value;
using Step = FilePreferences::Step;
using Names = std::set<std::string>;

const std::string kLeaseKey = "MappingLease.0000000100000abc";

Value lease(int64_t original) { return Dictionary{{"Version", 1}, {"Original", Array{original}}}; }

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string encoded(const Value& value) {
  const std::vector<uint8_t> bytes = encode_binary_plist(value).value();
  return {bytes.begin(), bytes.end()};
}

// What the code run said on standard error.
std::string stderr_of(const std::function<void()>& run) {
  testing::internal::CaptureStderr();
  run();
  return testing::internal::GetCapturedStderr();
}

size_t lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

mode_t mode_of(const fs::path& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

class FilePreferencesTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = fs::temp_directory_path() / "padwarden-prefs-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder = pattern;
    file = folder / "preferences.plist";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  // The names in the folder, for checking that no temporary file is left behind.
  Names names() const {
    Names result;
    for (const auto& entry : fs::directory_iterator(folder)) result.insert(entry.path().filename());
    return result;
  }
  std::vector<std::string> aside_files(const std::string& fileName = "preferences.plist") const {
    std::vector<std::string> result;
    for (const std::string& name : names()) {
      if (name.rfind(fileName + ".corrupt-", 0) == 0) result.push_back(name);
    }
    return result;
  }

  std::optional<Value> stored(std::string_view key) const {
    const std::string bytes = read_file(file);
    const auto value =
        decode_binary_plist(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    const Value* found = value ? value->find(key) : nullptr;
    return found ? std::optional<Value>(*found) : std::nullopt;
  }

  fs::path folder;
  fs::path file;
};

// The old file's mode and a umask that would leave 0400 must not decide the new file's mode.
TEST_F(FilePreferencesTest, SavedWritesReachAFreshStoreInAPrivateFile) {
  write_file(file, encoded(Dictionary{{"Old", 1}}));
  ::chmod(file.c_str(), 0644);
  const mode_t umask = ::umask(0277);
  {
    FilePreferences prefs(folder);
    EXPECT_EQ(prefs.path(), file);
    EXPECT_EQ(prefs.objectForKey("Old"), Value(1));
    prefs.CFPreferencesSetAppValue(kLeaseKey, lease(0x700000039));
    EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
    EXPECT_FALSE(prefs.hasPendingChanges());
    prefs.setBool(true, "Enabled");  // left for the destructor to save
    EXPECT_EQ(stored("Enabled"), std::nullopt);
  }
  ::umask(umask);
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(file)));
  EXPECT_EQ(mode_of(file), 0600u);
  FilePreferences fresh(folder);
  EXPECT_EQ(fresh.CFPreferencesCopyAppValue(kLeaseKey), lease(0x700000039));
  EXPECT_TRUE(fresh.boolForKey("Enabled"));
  EXPECT_EQ(names(), Names{"preferences.plist"}) << "no temporary file left";
}

TEST_F(FilePreferencesTest, AnUnsavedWriteIsLostWhenTheProcessDiesAndASavedOneIsNot) {
  // Real processes that end without running destructors, as in a crash.
  for (const bool synchronize : {false, true}) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      FilePreferences prefs(folder);
      prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
      ::_exit(synchronize && !prefs.CFPreferencesAppSynchronize() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(FilePreferences(folder).objectForKey(kLeaseKey).has_value(), synchronize);
  }
}

TEST_F(FilePreferencesTest, ASynchronizeKeepsOurPendingChangesAndBringsInTheirOtherKeys) {
  write_file(file, encoded(Dictionary{{kLeaseKey, lease(1)}, {"Gone", 1}}));
  FilePreferences ours(folder);
  FilePreferences theirs(folder);
  ours.CFPreferencesSetAppValue(kLeaseKey, lease(2));
  ours.CFPreferencesSetAppValue("Gone", std::nullopt);
  theirs.CFPreferencesSetAppValue(kLeaseKey, lease(3));
  theirs.setBool(true, "Enabled");
  ASSERT_TRUE(theirs.CFPreferencesAppSynchronize());
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(ours.objectForKey("Enabled"), Value(true));
  EXPECT_EQ(stored(kLeaseKey), lease(2));
  EXPECT_EQ(stored("Gone"), std::nullopt);
  EXPECT_EQ(stored("Enabled"), Value(true));
}

TEST_F(FilePreferencesTest, EveryFailingStepKeepsThePendingChangesAndTheOldFile) {
  // Once renamed the file is in place, but without the folder's sync it may not survive a power
  // loss: the change stays pending and the next synchronize writes it again.
  const std::pair<Step, bool> steps[] = {
      {Step::ReadFile, false},      {Step::CreateTemporary, false}, {Step::WriteTemporary, false},
      {Step::SyncTemporary, false}, {Step::Rename, false},          {Step::SyncFolder, true}};
  for (const auto& [failing, renamed] : steps) {
    SCOPED_TRACE(static_cast<int>(failing));
    write_file(file, encoded(Dictionary{{"Enabled", true}}));
    const std::string before = read_file(file);
    bool fail = true;
    const Step failingStep = failing;  // a lambda cannot capture a structured binding in C++20
    FilePreferences prefs(folder, "preferences.plist",
                          [&](Step step) { return fail && step == failingStep; });
    prefs.setBool(false, "Enabled");
    EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
    EXPECT_TRUE(prefs.hasPendingChanges());
    EXPECT_EQ(prefs.objectForKey("Enabled"), Value(false)) << "the cache keeps the change";
    if (renamed) {
      EXPECT_EQ(stored("Enabled"), Value(false));
    } else {
      EXPECT_EQ(read_file(file), before);
    }
    EXPECT_EQ(names(), Names{"preferences.plist"}) << "temporary removed";
    fail = false;
    EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
    EXPECT_FALSE(prefs.hasPendingChanges());
    EXPECT_EQ(stored("Enabled"), Value(false));
  }
}

TEST_F(FilePreferencesTest, AMissingFolderFailsUntilItIsBackAndTheEmptyPathNeverSaves) {
  FilePreferences nowhere{fs::path{}};
  EXPECT_TRUE(nowhere.path().empty());
  nowhere.setBool(true, "Enabled");
  EXPECT_FALSE(nowhere.CFPreferencesAppSynchronize());

  const fs::path inner = folder / "Padwarden";
  FilePreferences prefs(inner);
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  EXPECT_TRUE(prefs.hasPendingChanges());
  fs::create_directory(inner);
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(FilePreferences(inner).objectForKey("Enabled"), Value(false));
}

// Something other than a regular file at the file's path is never read, written through, replaced
// or moved aside (as root too, nothing can be renamed over a folder); once it is gone, the
// pending changes are saved.
TEST_F(FilePreferencesTest, ALinkOrFolderInPlaceOfTheFileIsLeftAlone) {
  const fs::path elsewhere = folder / "elsewhere.plist";
  write_file(elsewhere, encoded(Dictionary{{"Enabled", false}}));
  const std::string elsewhereBytes = read_file(elsewhere);
  // What is at the file's path: where the link leads, or what the folder holds.
  const auto what = [&] {
    return fs::is_symlink(file) ? fs::read_symlink(file).string() : read_file(file / "inside");
  };
  // A link to a file, a dangling link, and (no target) a folder.
  for (const fs::path& target : {elsewhere, folder / "nowhere", fs::path()}) {
    SCOPED_TRACE(target);
    if (target.empty()) {
      fs::create_directory(file);
      write_file(file / "inside", "keep me");
    } else {
      fs::create_symlink(target, file);
    }
    const std::string before = what();
    std::optional<FilePreferences> prefs;
    const std::string err = stderr_of([&] { prefs.emplace(folder); });
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_EQ(err.find("symbolic link") != std::string::npos, fs::is_symlink(file)) << err;
    EXPECT_EQ(prefs->objectForKey("Enabled"), std::nullopt) << "not read through the link";
    prefs->setBool(true, "Enabled");
    EXPECT_FALSE(prefs->CFPreferencesAppSynchronize());
    EXPECT_TRUE(prefs->hasPendingChanges());
    EXPECT_EQ(what(), before);
    EXPECT_EQ(read_file(elsewhere), elsewhereBytes);
    EXPECT_EQ(names(), (Names{"preferences.plist", "elsewhere.plist"}));

    fs::remove_all(file);
    EXPECT_TRUE(prefs->CFPreferencesAppSynchronize());
    EXPECT_EQ(stored("Enabled"), Value(true));
    fs::remove(file);
  }
}

TEST_F(FilePreferencesTest, ACorruptFileIsMovedAsideUnchangedWhenOpeningOrSynchronizing) {
  const std::pair<std::string, std::string> cases[] = {
      {"text", "this is not a property list"},
      {"empty", ""},
      {"array", encoded(Array{1, 2})},
      {"xml", "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key></dict></plist>"},
      {"xml array", "<plist version=\"1.0\"><array><true/></array></plist>"}};
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    write_file(folder / name, content);
    std::optional<FilePreferences> prefs;
    const std::string fileName = name;  // a lambda cannot capture a structured binding in C++20
    std::string err = stderr_of([&] { prefs.emplace(folder, fileName); });
    EXPECT_FALSE(fs::exists(folder / name));
    ASSERT_EQ(aside_files(name).size(), 1u);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_NE(err.find((folder / aside_files(name)[0]).string()), std::string::npos) << err;

    // Written again by someone else and found by a synchronize, which then saves in its place.
    write_file(folder / name, content);
    prefs->setBool(true, "Enabled");
    bool saved = false;
    err = stderr_of([&] { saved = prefs->CFPreferencesAppSynchronize(); });
    EXPECT_TRUE(saved);
    EXPECT_EQ(lines(err), 1u) << err;
    EXPECT_TRUE(FilePreferences(folder, name).boolForKey("Enabled"));
    ASSERT_EQ(aside_files(name).size(), 2u);
    for (const std::string& aside : aside_files(name)) {
      EXPECT_EQ(read_file(folder / aside), content) << "not deleted, not changed";
    }
  }
}

// As `plutil -convert xml1` or an editor leaves the file.
TEST_F(FilePreferencesTest, AFileWrittenAsXmlIsReadAndSavedBackInTheBinaryFormat) {
  write_file(file,
             "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<plist version=\"1.0\">\n<dict>\n"
             "\t<key>Enabled</key>\n\t<false/>\n"
             "\t<key>" + kLeaseKey + "</key>\n\t<dict>\n"
             "\t\t<key>Original</key>\n\t\t<array><integer>7</integer></array>\n"
             "\t\t<key>Version</key>\n\t\t<integer>1</integer>\n"
             "\t</dict>\n</dict>\n</plist>\n");
  std::optional<FilePreferences> prefs;
  const std::string err = stderr_of([&] { prefs.emplace(folder); });
  EXPECT_EQ(err, "") << "not set aside";
  EXPECT_TRUE(aside_files().empty());
  EXPECT_TRUE(prefs->objectForKey("Enabled"));
  EXPECT_FALSE(prefs->boolForKey("Enabled"));
  EXPECT_EQ(prefs->CFPreferencesCopyAppValue(kLeaseKey), lease(7));

  prefs->setBool(true, "LogicalNumLockOn");
  ASSERT_TRUE(prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(read_file(file).starts_with("bplist00"));
  EXPECT_EQ(stored(kLeaseKey), lease(7));
  EXPECT_EQ(stored("Enabled"), Value(false));
  EXPECT_EQ(stored("LogicalNumLockOn"), Value(true));
  EXPECT_EQ(names(), Names{"preferences.plist"});
}

TEST_F(FilePreferencesTest, AnEarlierAsideFileIsNeverReplaced) {
  // Aside files for this second and the next, in case the clock ticks meanwhile.
  const auto now = std::time(nullptr);
  for (auto t : {now, now + 1}) {
    write_file(folder / ("preferences.plist.corrupt-" + std::to_string(t)), "earlier");
  }
  write_file(file, "corrupt again");
  EXPECT_EQ(lines(stderr_of([&] { FilePreferences prefs(folder); })), 1u);
  std::multiset<std::string> contents;
  for (const std::string& name : aside_files()) contents.insert(read_file(folder / name));
  EXPECT_EQ(contents, (std::multiset<std::string>{"earlier", "earlier", "corrupt again"}));
}

TEST_F(FilePreferencesTest, ValuesThatCannotBeWrittenAreDropped) {
  FilePreferences prefs(folder);
  prefs.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  ASSERT_TRUE(prefs.CFPreferencesAppSynchronize());
  prefs.CFPreferencesSetAppValue("Nul", std::string("a\0b", 3));  // fine in memory, not on disk
  prefs.CFPreferencesSetAppValue(kLeaseKey, Array{"\xff"});
  EXPECT_FALSE(prefs.hasPendingChanges());
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue("Nul"), std::nullopt);
  EXPECT_EQ(prefs.CFPreferencesCopyAppValue(kLeaseKey), lease(1));
}

// Sets (or, given none, unsets) an environment variable until the end of the scope.
struct ScopedEnv {
  ScopedEnv(const char* name, const char* value) : name(name) {
    if (const char* old = std::getenv(name)) saved = old;
    set(value);
  }
  ~ScopedEnv() { set(saved ? saved->c_str() : nullptr); }
  void set(const char* value) const { value ? ::setenv(name, value, 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> saved;
};

TEST_F(FilePreferencesTest, TheCurrentUsersStoreIsInTheXdgConfigFolderElseInDotConfig) {
  ScopedEnv home("HOME", folder.c_str());
  const fs::path config = folder / "config" / "deeper";
  ScopedEnv xdg("XDG_CONFIG_HOME", config.c_str());
  EXPECT_EQ(FilePreferences::forCurrentUser()->path(), config / "Padwarden" / "preferences.plist");
  EXPECT_EQ(mode_of(config / "Padwarden"), 0700u);
  EXPECT_EQ(mode_of(config), 0700u) << "missing parents are private too";
  for (const char* other : {"relative/path", static_cast<const char*>(nullptr)}) {
    xdg.set(other);  // a relative path is ignored, as XDG says
    EXPECT_EQ(FilePreferences::currentUserFolder(), folder / ".config" / "Padwarden");
  }
  EXPECT_EQ(FilePreferences::forCurrentUser()->folder(), folder / ".config" / "Padwarden");
  EXPECT_EQ(mode_of(folder / ".config" / "Padwarden"), 0700u);
}

}  // namespace
}  // namespace padwarden
