#include "platform/standardize_path.h"

#include <vector>

namespace padwarden {

std::string standardize_path(const std::string& path, const std::string& homeDirectory) {
  std::string expanded = path;
  if (expanded == "~" || expanded.starts_with("~/")) {
    expanded = homeDirectory + expanded.substr(1);
  }
  if (expanded.empty()) return expanded;

  const bool absolute = expanded.front() == '/';
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= expanded.size()) {
    size_t end = expanded.find('/', start);
    if (end == std::string::npos) end = expanded.size();
    std::string part = expanded.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    // Only an absolute path has a known parent to climb to; a relative ".." stays.
    if (part == ".." && absolute) {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(std::move(part));
  }

  std::string result = absolute ? "/" : "";
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) result += '/';
    result += parts[i];
  }
  return result.empty() ? "." : result;
}

}  // namespace padwarden
