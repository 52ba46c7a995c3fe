#include "desk/script.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>

#include "desk/desk.h"
#include "desk/visible_text.h"

namespace padwarden::desk {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// A private folder for the run's instance lock, removed afterwards.
class TemporaryFolder {
 public:
  TemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp && tmp[0] == '/' ? tmp : "/tmp") + "/padwarden-desk-XXXXXX";
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TemporaryFolder() {
    if (path_.empty()) return;
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The whole file, or none with the system's reason.
std::optional<std::string> read_file(const std::string& path, std::string& reason) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return std::nullopt;
  }
  std::string text;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    reason = std::strerror(S_ISDIR(info.st_mode) ? EISDIR : errno);
    ::close(fd);
    return std::nullopt;
  }
  char buffer[1 << 16];
  while (true) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got == 0) break;
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      reason = std::strerror(errno);
      ::close(fd);
      return std::nullopt;
    }
    text.append(buffer, static_cast<size_t>(got));
  }
  ::close(fd);
  return text;
}

}  // namespace

int run_script_file(const std::string& path, std::ostream& out, std::ostream& err,
                    const ScriptWatch& watch) {
  std::string reason;
  const std::optional<std::string> text = read_file(path, reason);
  if (!text) {
    err << "padwarden: cannot read the script " << path << ": " << reason << "\n";
    return 2;
  }
  std::istringstream in(*text);
  return run_script(in, path, out, err, watch);
}

int run_script(std::istream& in, const std::string& sourceName, std::ostream& out,
               std::ostream& err, const ScriptWatch& watch) {
  TemporaryFolder lockFolder;
  if (lockFolder.path().empty()) {
    err << "padwarden: cannot create a temporary folder for the instance lock\n";
    return 2;
  }
  Desk desk(DeskSettings{lockFolder.path(), false, nullptr, {}}, out);
  const LineCheck check = watch ? watch(desk) : LineCheck{};

  std::string line;
  size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    // An editor may begin a UTF-8 file with a byte-order mark.
    if (number == 1 && line.starts_with(kByteOrderMark)) line.erase(0, kByteOrderMark.size());
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] != '#') {
      out << "> " << shown_line(line.substr(first)) << "\n";
    }
    Outcome outcome = desk.execute(line);
    const bool exiting = outcome.kind == Outcome::Kind::Exit;
    if (exiting) {
      if (!desk.quit()) out << kQuitHeldBackAtExit;
      outcome = Outcome::ok();
    }
    if (outcome.kind == Outcome::Kind::Ok && check) {
      if (std::string broken = check(); !broken.empty()) outcome = Outcome::failed(broken);
    }
    if (outcome.kind == Outcome::Kind::Ok) {
      if (exiting) return 0;
      continue;
    }
    err << sourceName << ":" << number << ": " << shown_line(line) << "\n  " << outcome.message
        << "\n";
    return outcome.kind == Outcome::Kind::ExpectationFailed ? 1 : 2;
  }
  return 0;
}

}  // namespace padwarden::desk
