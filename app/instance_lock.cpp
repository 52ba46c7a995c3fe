#include "app/instance_lock.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace padwarden {

namespace {

// mkdir -p: every missing component with mode 0700; an existing folder counts as success.
bool create_folders(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

InstanceLock failed(int fd, int error) {
  if (fd >= 0) ::close(fd);
  errno = error;  // the close must not change what is reported
  return InstanceLock{-1, error};
}

}  // namespace

InstanceLock acquire_instance_lock(const std::optional<std::string>& supportFolder) {
  const std::optional<std::string> path = instance_lock_path(supportFolder);
  if (!path) return failed(-1, ENOENT);
  const std::string folder = *supportFolder + "/Padwarden";
  // Whatever went wrong, the user is told that access was refused (as the platform does).
  if (!create_folders(folder)) return failed(-1, EACCES);

  const int fd = ::open(path->c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return failed(-1, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0) return failed(fd, errno);
  if (!S_ISREG(info.st_mode) || info.st_uid != ::getuid()) return failed(fd, EACCES);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return failed(fd, errno);
  return InstanceLock{fd, 0};
}

std::optional<std::string> instance_lock_path(const std::optional<std::string>& supportFolder) {
  if (!supportFolder || supportFolder->empty()) return std::nullopt;
  return *supportFolder + "/Padwarden/instance.lock";
}

std::optional<std::string> user_support_folder() {
  if (const char* data = std::getenv("XDG_DATA_HOME"); data && data[0] == '/') return data;
  const char* home = std::getenv("HOME");
  if (!home || home[0] != '/') {
    const passwd* entry = ::getpwuid(::getuid());
    home = entry ? entry->pw_dir : nullptr;
  }
  if (!home || home[0] != '/') return std::nullopt;
  return std::string(home) + "/.local/share";
}

int report_instance_lock_failure(int error, std::FILE* err) {
  if (error == EWOULDBLOCK) {
    std::fputs(kAlreadyRunningMessage, err);
    return 0;
  }
  std::fprintf(err, kLockFailureFormat, std::strerror(error));
  return 2;
}

}  // namespace padwarden
