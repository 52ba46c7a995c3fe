#include "platform/posix/file_preferences.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/posix/binary_plist.h"
#include "platform/posix/xml_plist.h"

namespace padwarden {

namespace {

// Files written by every store of this process.
std::atomic<uint64_t> files_written{0};

std::string error_text(int error) { return std::strerror(error); }

// The binary format's magic; anything else may be XML.
bool looks_binary(const std::vector<uint8_t>& bytes) {
  static constexpr char kMagic[] = "bplist";
  return bytes.size() >= 6 && std::memcmp(bytes.data(), kMagic, 6) == 0;
}

// Retries a system call interrupted by a signal.
template <typename F>
auto retry_eintr(F f) {
  for (;;) {
    auto result = f();
    if (result != -1 || errno != EINTR) return result;
  }
}

void say(const std::string& line) {
  const std::string text = line + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fflush(stderr);
}

// Renames without ever replacing what is at `to`: false with EEXIST when it is taken.
bool rename_no_replace(int folderFd, const char* from, const char* to) {
#if defined(__linux__) && defined(RENAME_NOREPLACE)
  if (::renameat2(folderFd, from, folderFd, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
  // A hard link fails when the name is taken; then the old name goes.
  if (::linkat(folderFd, from, folderFd, to, 0) != 0) return false;
  ::unlinkat(folderFd, from, 0);
  return true;
}

bool write_all(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = retry_eintr([&] { return ::write(fd, data, size); });
    if (n <= 0) {
      if (n == 0) errno = EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

// The open folder: every file operation is relative to it, and it carries the advisory lock.
class FilePreferences::Folder {
 public:
  explicit Folder(const std::filesystem::path& path) {
    if (!path.empty()) {
      fd_ = retry_eintr([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); });
    }
  }
  ~Folder() {
    if (fd_ >= 0) ::close(fd_);  // also releases the lock
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  int fd() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

  // The exclusive lock that orders synchronizes of every process; retried briefly, so that a
  // stuck process can delay a synchronize but never hang it.
  bool lock() {
    for (int attempt = 0; attempt < 50; ++attempt) {
      if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
      if (errno != EWOULDBLOCK && errno != EINTR) return false;
      struct timespec pause {
        0, 2'000'000
      };
      ::nanosleep(&pause, nullptr);
    }
    return false;
  }

 private:
  int fd_ = -1;
};

FilePreferences::FilePreferences(std::filesystem::path folder, std::string fileName, FaultHook hook)
    : folder_(std::move(folder)), fileName_(std::move(fileName)), hook_(std::move(hook)) {
  if (folder_.empty()) return;
  path_ = folder_ / fileName_;
  Folder dir(folder_);
  if (!dir) return;  // nothing to read yet; synchronize fails until the folder exists
  dir.lock();        // best effort: reading alone is safe, files are replaced atomically
  ReadResult result = readFile(dir.fd(), false);
  switch (result.outcome) {
    case ReadOutcome::Missing: break;
    case ReadOutcome::Loaded: cache_.saved(std::move(result.values)); break;
    case ReadOutcome::Corrupt: moveAside(dir.fd(), result.reason, true); break;
    case ReadOutcome::Refused:
      say("Padwarden: not using the preferences file " + path_.string() + ": " + result.reason +
          "; starting with empty preferences, which will not be saved while it is there.");
      break;
  }
}

FilePreferences::~FilePreferences() {
  if (!cache_.hasPending()) return;
  try {
    CFPreferencesAppSynchronize();
  } catch (...) {
    // Best effort: an exit must not fail because the preferences could not be saved.
  }
}

std::optional<std::filesystem::path> FilePreferences::currentUserFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') return std::filesystem::path(xdg) / "Padwarden";
  std::string home;
  if (const char* env = std::getenv("HOME"); env && env[0] == '/') {
    home = env;
  } else if (const struct passwd* pw = ::getpwuid(::getuid());
             pw && pw->pw_dir && pw->pw_dir[0] == '/') {
    home = pw->pw_dir;
  }
  if (home.empty()) return std::nullopt;
  return std::filesystem::path(home) / ".config" / "Padwarden";
}

std::unique_ptr<FilePreferences> FilePreferences::forCurrentUser() {
  std::optional<std::filesystem::path> folder = currentUserFolder();
  if (!folder) return std::make_unique<FilePreferences>(std::filesystem::path{});
  // Create each missing folder on the way, private to the user. Failures show later, as
  // synchronize answering false.
  std::filesystem::path partial;
  for (const auto& part : folder->lexically_normal()) {
    partial /= part;
    if (partial == partial.root_path()) continue;
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) break;
  }
  return std::make_unique<FilePreferences>(*folder);
}

std::optional<plist::Value> FilePreferences::lookup(std::string_view key) const {
  return cache_.lookup(key);
}

void FilePreferences::change(std::string_view key, std::optional<plist::Value> value) {
  if (value) {
    // Checked with its key, as it will be written: nested one level in the file's dictionary.
    if (!binary_plist_can_encode(plist::Value(plist::Dictionary{{std::string(key), *value}}))) {
      return;
    }
  }
  cache_.change(key, std::move(value));
}

std::optional<plist::Value> FilePreferences::objectForKey(std::string_view key) {
  return lookup(key);
}

bool FilePreferences::boolForKey(std::string_view key) {
  return preference_value_as_bool(lookup(key));
}

void FilePreferences::setBool(bool value, std::string_view forKey) {
  change(forKey, plist::Value(value));
}

std::optional<plist::Value> FilePreferences::CFPreferencesCopyAppValue(std::string_view key) {
  return lookup(key);
}

void FilePreferences::CFPreferencesSetAppValue(std::string_view key,
                                               std::optional<plist::Value> value) {
  change(key, std::move(value));
}

FilePreferences::ReadResult FilePreferences::readFile(int folderFd, bool synchronizing) const {
  ReadResult result;
  if (synchronizing && injected(Step::ReadFile)) {
    result.outcome = ReadOutcome::Refused;
    result.reason = "it could not be read (" + error_text(EIO) + ")";
    return result;
  }
  const int fd = retry_eintr([&] {
    return ::openat(folderFd, fileName_.c_str(),
                    O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  });
  if (fd < 0) {
    const int error = errno;
    if (error == ENOENT) return result;  // Missing
    struct stat st {};
    result.outcome = ReadOutcome::Refused;
    if (::fstatat(folderFd, fileName_.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(st.st_mode)) {
      result.reason = "it is a symbolic link";
    } else {
      result.reason = "it could not be opened (" + error_text(error) + ")";
    }
    return result;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    result.outcome = ReadOutcome::Refused;
    result.reason = "it is not a regular file";
    return result;
  }
  std::vector<uint8_t> bytes;
  bool tooLarge = false;
  bool failed = false;
  int error = 0;
  uint8_t buffer[65536];
  for (;;) {
    const ssize_t n = retry_eintr([&] { return ::read(fd, buffer, sizeof buffer); });
    if (n < 0) {
      failed = true;
      error = errno;
      break;
    }
    if (n == 0) break;
    if (bytes.size() + static_cast<size_t>(n) > kMaxFileBytes) {
      tooLarge = true;
      break;
    }
    bytes.insert(bytes.end(), buffer, buffer + n);
  }
  ::close(fd);
  if (failed) {
    result.outcome = ReadOutcome::Refused;
    result.reason = "it could not be read (" + error_text(error) + ")";
    return result;
  }
  result.outcome = ReadOutcome::Corrupt;
  if (tooLarge) {
    result.reason = "it is larger than " + std::to_string(kMaxFileBytes) + " bytes";
    return result;
  }
  // Written by the store in the binary format; by an editor or a converter perhaps in XML.
  std::optional<plist::Value> value = decode_binary_plist(bytes.data(), bytes.size());
  result.binary = value.has_value();
  if (!value && !looks_binary(bytes)) value = decode_xml_plist(bytes.data(), bytes.size());
  if (!value) {
    result.reason = looks_binary(bytes) ? "it is not a valid binary property list"
                                        : "it is not a valid binary or XML property list";
    return result;
  }
  if (!value->isDictionary()) {
    result.reason = "it does not hold a dictionary";
    return result;
  }
  result.outcome = ReadOutcome::Loaded;
  result.values = *value->asDictionary();
  return result;
}

bool FilePreferences::moveAside(int folderFd, const std::string& reason, bool opening) const {
  const std::string stem = fileName_ + ".corrupt-" + std::to_string(std::time(nullptr));
  int error = 0;
  for (int n = 1; n <= 1000; ++n) {
    const std::string aside = n == 1 ? stem : stem + "-" + std::to_string(n);
    if (rename_no_replace(folderFd, fileName_.c_str(), aside.c_str())) {
      say("Padwarden: the preferences file " + path_.string() + " is corrupt (" + reason +
          "); moved it to " + (folder_ / aside).string() +
          (opening ? " and started with empty preferences."
                   : " and saved this program's preferences in its place."));
      return true;
    }
    error = errno;
    if (error != EEXIST) break;
  }
  say("Padwarden: the preferences file " + path_.string() + " is corrupt (" + reason +
      ") and could not be moved aside (" + error_text(error) + "); " +
      (opening ? "starting with empty preferences, which will not be saved while it is there."
               : "not saving the preferences while it is there."));
  return false;
}

bool FilePreferences::writeTemporary(int folderFd, const std::vector<uint8_t>& bytes,
                                     std::string& name) const {
  static std::atomic<uint64_t> counter{0};
  int fd = -1;
  if (!injected(Step::CreateTemporary)) {
    const auto clock =
        static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
      char suffix[64];
      std::snprintf(suffix, sizeof suffix, ".tmp-%ld-%llx-%llu", static_cast<long>(::getpid()),
                    static_cast<unsigned long long>(clock & 0xFFFFFFFFFFull),
                    static_cast<unsigned long long>(counter++));
      name = "." + fileName_ + suffix;
      fd = retry_eintr([&] {
        return ::openat(folderFd, name.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
      });
      if (fd < 0 && errno != EEXIST) break;
    }
  }
  if (fd < 0) return false;
  // The mode asked for passes through the umask; make it exactly 0600.
  bool ok = ::fchmod(fd, 0600) == 0;
  ok = ok && !injected(Step::WriteTemporary) && write_all(fd, bytes.data(), bytes.size());
  ok = ok && !injected(Step::SyncTemporary) && retry_eintr([&] { return ::fsync(fd); }) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok) ::unlinkat(folderFd, name.c_str(), 0);
  return ok;
}

bool FilePreferences::CFPreferencesAppSynchronize() {
  if (folder_.empty()) return false;
  Folder dir(folder_);
  if (!dir || !dir.lock()) return false;

  ReadResult current = readFile(dir.fd(), true);
  switch (current.outcome) {
    case ReadOutcome::Missing:
    case ReadOutcome::Loaded: break;
    case ReadOutcome::Refused: return false;
    case ReadOutcome::Corrupt:
      if (!moveAside(dir.fd(), current.reason, false)) return false;
      current.values.clear();
      break;
  }

  // What others saved, with our pending changes on top.
  plist::Dictionary merged = cache_.merged(current.values);
  if (!cache_.hasPending() && current.outcome == ReadOutcome::Loaded && current.binary &&
      merged == current.values) {
    // Nothing of ours to save and the file already holds it all: rewriting it would change
    // nothing but wear the disk (the reconcile timer synchronizes every few seconds).
    cache_.saved(std::move(merged));
    return true;
  }

  std::optional<std::vector<uint8_t>> bytes = encode_binary_plist(plist::Value(merged));
  if (!bytes) return false;  // only when the whole exceeds the format's limits
  std::string temporary;
  if (!writeTemporary(dir.fd(), *bytes, temporary)) return false;
  if (injected(Step::Rename) ||
      ::renameat(dir.fd(), temporary.c_str(), dir.fd(), fileName_.c_str()) != 0) {
    ::unlinkat(dir.fd(), temporary.c_str(), 0);
    return false;
  }
  // The file is in place; without the folder's fsync it may not survive a power loss, so the
  // changes stay pending and the next synchronize writes them again.
  if (injected(Step::SyncFolder) || retry_eintr([&] { return ::fsync(dir.fd()); }) != 0) {
    return false;
  }
  ++files_written;
  cache_.saved(std::move(merged));
  return true;
}

uint64_t FilePreferences::filesWritten() { return files_written.load(); }

}  // namespace padwarden
