#include "desk/script.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "desk/desk.h"

namespace padwarden::desk {

namespace {

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

}  // namespace

int run_script(std::istream& in, const std::string& sourceName, std::ostream& out,
               std::ostream& err) {
  TemporaryFolder lockFolder;
  if (lockFolder.path().empty()) {
    err << "padwarden: cannot create a temporary folder for the instance lock\n";
    return 2;
  }
  Desk desk(DeskSettings{lockFolder.path(), false, nullptr}, out);

  std::string line;
  size_t number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t first = line.find_first_not_of(" \t");
    if (first != std::string::npos && line[first] != '#') out << "> " << line.substr(first) << "\n";
    const Outcome outcome = desk.execute(line);
    if (outcome.kind == Outcome::Kind::Ok) continue;
    err << sourceName << ":" << number << ": " << line << "\n  " << outcome.message << "\n";
    return outcome.kind == Outcome::Kind::ExpectationFailed ? 1 : 2;
  }
  return 0;
}

}  // namespace padwarden::desk
