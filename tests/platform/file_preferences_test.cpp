// The on-disk preferences store, on a real file system in a fresh folder per test: durability,
// merging with other stores, atomic replacement, corrupt files, symbolic links and modes.
// Failures are provoked for real where the file system allows it even as root, and through the
// store's fault hook for the steps it offers no other way to fail.
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

std::string slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void put(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

std::string encoded(const Value& value) {
  const std::vector<uint8_t> bytes = encode_binary_plist(value).value();
  return {bytes.begin(), bytes.end()};
}

// How many lines the code run wrote on standard error, and the text.
std::pair<size_t, std::string> stderr_of(const std::function<void()>& run) {
  testing::internal::CaptureStderr();
  run();
  const std::string text = testing::internal::GetCapturedStderr();
  return {std::count(text.begin(), text.end(), '\n'), text};
}

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
  void TearDown() override { fs::remove_all(folder); }

  // The names in the folder, for checking that no temporary file is left behind.
  Names names() const {
    Names result;
    for (const auto& entry : fs::directory_iterator(folder)) result.insert(entry.path().filename());
    return result;
  }
  std::vector<std::string> aside(const std::string& fileName = "preferences.plist") const {
    std::vector<std::string> result;
    for (const std::string& name : names()) {
      if (name.starts_with(fileName + ".corrupt-")) result.push_back(name);
    }
    return result;
  }
  std::optional<Value> stored(std::string_view key) const {
    const std::string bytes = slurp(file);
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
  put(file, encoded(Dictionary{{"Old", 1}}));
  ::chmod(file.c_str(), 0644);
  const mode_t umask = ::umask(0277);
  {
    FilePreferences prefs(folder);
    EXPECT_EQ(prefs.objectForKey("Old"), Value(1));
    prefs.CFPreferencesSetAppValue(kLeaseKey, lease(0x700000039));
    EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
    EXPECT_FALSE(prefs.hasPendingChanges());
    prefs.setBool(true, "Enabled");  // left for the destructor to save
    EXPECT_EQ(stored("Enabled"), std::nullopt);
  }
  ::umask(umask);
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
  put(file, encoded(Dictionary{{kLeaseKey, lease(1)}, {"Gone", 1}}));
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

// A synchronize with nothing of ours to save leaves a file that holds it all as it is (the same
// inode, no temporary file), yet still reads what others saved; a change is written as always.
TEST_F(FilePreferencesTest, ASynchronizeWithNothingToSaveWritesNothingButStillReads) {
  auto inode = [this] {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? st.st_ino : 0;
  };
  FilePreferences ours(folder);
  ours.CFPreferencesSetAppValue(kLeaseKey, lease(1));
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  const auto written = inode();
  const uint64_t files = FilePreferences::filesWritten();
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(inode(), written);
  EXPECT_EQ(FilePreferences::filesWritten(), files);

  // Another store's save is read by the next synchronize, which writes nothing either.
  FilePreferences theirs(folder);
  theirs.setBool(true, "Enabled");
  ASSERT_TRUE(theirs.CFPreferencesAppSynchronize());
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(ours.objectForKey("Enabled"), Value(true));
  const auto theirsWritten = inode();
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_EQ(inode(), theirsWritten);

  ours.CFPreferencesSetAppValue(kLeaseKey, std::nullopt);
  ASSERT_TRUE(ours.CFPreferencesAppSynchronize());
  EXPECT_NE(inode(), theirsWritten);
  EXPECT_EQ(stored(kLeaseKey), std::nullopt);
  EXPECT_EQ(stored("Enabled"), Value(true));
  EXPECT_EQ(names(), Names{"preferences.plist"});
}

TEST_F(FilePreferencesTest, EveryFailingStepKeepsThePendingChangesAndTheOldFile) {
  // Once renamed the file is in place, but without the folder's sync it may not survive a power
  // loss: the change stays pending and the next synchronize writes it again.
  for (const Step failing : {Step::ReadFile, Step::CreateTemporary, Step::WriteTemporary,
                             Step::SyncTemporary, Step::Rename, Step::SyncFolder}) {
    SCOPED_TRACE(static_cast<int>(failing));
    put(file, encoded(Dictionary{{"Enabled", true}}));
    const std::string before = slurp(file);
    bool fail = true;
    FilePreferences prefs(folder, "preferences.plist",
                          [&](Step step) { return fail && step == failing; });
    prefs.setBool(false, "Enabled");
    EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
    EXPECT_TRUE(prefs.hasPendingChanges());
    EXPECT_EQ(prefs.objectForKey("Enabled"), Value(false)) << "the cache keeps the change";
    if (failing == Step::SyncFolder) {
      EXPECT_EQ(stored("Enabled"), Value(false));
    } else {
      EXPECT_EQ(slurp(file), before);
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
  nowhere.setBool(true, "Enabled");
  EXPECT_FALSE(nowhere.CFPreferencesAppSynchronize());
  FilePreferences prefs(folder / "inner");
  prefs.setBool(false, "Enabled");
  EXPECT_FALSE(prefs.CFPreferencesAppSynchronize());
  fs::create_directory(folder / "inner");
  EXPECT_TRUE(prefs.CFPreferencesAppSynchronize());
  EXPECT_EQ(FilePreferences(folder / "inner").objectForKey("Enabled"), Value(false));
}

// A link to a file, a dangling link or a folder at the file's path is never read, written
// through, replaced or moved aside; once it is gone, the pending changes are saved.
TEST_F(FilePreferencesTest, ALinkOrFolderInPlaceOfTheFileIsLeftAlone) {
  const fs::path elsewhere = folder / "elsewhere.plist";
  put(elsewhere, encoded(Dictionary{{"Enabled", false}}));
  const std::string elsewhereBytes = slurp(elsewhere);
  for (const fs::path& target : {elsewhere, folder / "nowhere", fs::path()}) {
    SCOPED_TRACE(target);
    if (target.empty()) {
      fs::create_directory(file);
      put(file / "inside", "keep me");
    } else {
      fs::create_symlink(target, file);
    }
    std::optional<FilePreferences> prefs;
    const auto [lines, err] = stderr_of([&] { prefs.emplace(folder); });
    EXPECT_EQ(lines, 1u) << err;
    EXPECT_EQ(err.find("symbolic link") != std::string::npos, !target.empty()) << err;
    EXPECT_EQ(prefs->objectForKey("Enabled"), std::nullopt) << "not read through the link";
    prefs->setBool(true, "Enabled");
    EXPECT_FALSE(prefs->CFPreferencesAppSynchronize());
    EXPECT_EQ(target.empty() ? slurp(file / "inside") : fs::read_symlink(file).string(),
              target.empty() ? "keep me" : target.string());
    EXPECT_EQ(slurp(elsewhere), elsewhereBytes);
    EXPECT_EQ(names(), (Names{"preferences.plist", "elsewhere.plist"}));
    fs::remove_all(file);
    EXPECT_TRUE(prefs->CFPreferencesAppSynchronize());
    EXPECT_EQ(stored("Enabled"), Value(true));
    fs::remove(file);
  }
}

// Found when opening, and again when someone writes it back before a synchronize, which then
// saves in its place; every aside file keeps the corrupt bytes.
TEST_F(FilePreferencesTest, ACorruptFileIsMovedAsideUnchangedWhenOpeningOrSynchronizing) {
  const std::pair<std::string, std::string> cases[] = {
      {"empty", ""},
      {"array", encoded(Array{1, 2})},
      {"xml array", "<plist version=\"1.0\"><array><true/></array></plist>"}};
  for (const auto& [name, content] : cases) {
    SCOPED_TRACE(name);
    put(folder / name, content);
    std::optional<FilePreferences> prefs;
    const std::string fileName = name;  // a lambda cannot capture a structured binding in C++20
    const auto [lines, err] = stderr_of([&] { prefs.emplace(folder, fileName); });
    EXPECT_FALSE(fs::exists(folder / name));
    ASSERT_EQ(aside(name).size(), 1u);
    EXPECT_EQ(lines, 1u) << err;
    EXPECT_NE(err.find((folder / aside(name)[0]).string()), std::string::npos) << err;
    put(folder / name, content);
    prefs->setBool(true, "Enabled");
    EXPECT_EQ(stderr_of([&] { EXPECT_TRUE(prefs->CFPreferencesAppSynchronize()); }).first, 1u);
    EXPECT_TRUE(FilePreferences(folder, name).boolForKey("Enabled"));
    ASSERT_EQ(aside(name).size(), 2u);
    for (const std::string& file : aside(name)) EXPECT_EQ(slurp(folder / file), content);
  }
}

TEST_F(FilePreferencesTest, AnEarlierAsideFileIsNeverReplaced) {
  // Aside files for this second and the next, in case the clock ticks meanwhile.
  const auto now = std::time(nullptr);
  for (auto t : {now, now + 1}) {
    put(folder / ("preferences.plist.corrupt-" + std::to_string(t)), "earlier");
  }
  put(file, "corrupt again");
  EXPECT_EQ(stderr_of([&] { FilePreferences prefs(folder); }).first, 1u);
  std::multiset<std::string> contents;
  for (const std::string& name : aside()) contents.insert(slurp(folder / name));
  EXPECT_EQ(contents, (std::multiset<std::string>{"earlier", "earlier", "corrupt again"}));
}

// As a converter or an editor leaves the file; the XML reader's own table covers the values.
TEST_F(FilePreferencesTest, AFileWrittenAsXmlIsReadAndSavedBackInTheBinaryFormat) {
  put(file, "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">\n<dict>\n\t<key>" + kLeaseKey +
                "</key>\n\t<dict><key>Original</key><array><integer>7</integer></array>"
                "<key>Version</key><integer>1</integer></dict>\n</dict>\n</plist>\n");
  std::optional<FilePreferences> prefs;
  EXPECT_EQ(stderr_of([&] { prefs.emplace(folder); }).second, "") << "not set aside";
  prefs->setBool(true, "Enabled");
  ASSERT_TRUE(prefs->CFPreferencesAppSynchronize());
  EXPECT_TRUE(slurp(file).starts_with("bplist00"));
  EXPECT_EQ(stored(kLeaseKey), lease(7));
  EXPECT_EQ(stored("Enabled"), Value(true));
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

TEST_F(FilePreferencesTest, TheCurrentUsersStoreIsInTheXdgConfigFolderElseInDotConfig) {
  const auto saved = [](const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
  };
  const auto home = saved("HOME"), xdg = saved("XDG_CONFIG_HOME");
  ::setenv("HOME", folder.c_str(), 1);
  const fs::path config = folder / "config" / "deeper";
  ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
  EXPECT_EQ(FilePreferences::forCurrentUser()->path(), config / "Padwarden" / "preferences.plist");
  EXPECT_EQ(mode_of(config / "Padwarden"), 0700u);
  EXPECT_EQ(mode_of(config), 0700u) << "missing parents are private too";
  ::setenv("XDG_CONFIG_HOME", "relative/path", 1);  // ignored, as XDG says
  EXPECT_EQ(FilePreferences::currentUserFolder(), folder / ".config" / "Padwarden");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(FilePreferences::forCurrentUser()->folder(), folder / ".config" / "Padwarden");
  EXPECT_EQ(mode_of(folder / ".config" / "Padwarden"), 0700u);
  for (const auto& [name, value] : {std::pair{"HOME", home}, {"XDG_CONFIG_HOME", xdg}}) {
    value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
  }
}

}  // namespace
}  // namespace padwarden
