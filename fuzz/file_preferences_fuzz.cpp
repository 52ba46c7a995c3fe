// The durable preferences store's loader under any file content: it never crashes, and it
// loses nothing. A file it can read stays where it is, byte for byte; a file it cannot read is
// renamed aside, byte for byte, and the store starts empty. A store that loaded values saves
// them back so that a second load reads the same values. Files in the binary format and in XML
// (the corpus has both) reach their decoders.
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/posix/file_preferences.h"

namespace {

std::vector<std::string> entries();

// A private folder for the run, emptied and removed when the run ends.
const std::string& folder() {
  // Never destroyed: the clean-up at exit still needs it.
  static const std::string& path = *[] {
    char pattern[] = "/tmp/padwarden-fuzz-XXXXXX";
    const char* made = mkdtemp(pattern);
    if (!made) std::abort();
    std::atexit([] {
      for (const std::string& name : entries()) unlink((folder() + "/" + name).c_str());
      rmdir(folder().c_str());
    });
    return new std::string(made);
  }();
  return path;
}

std::vector<std::string> entries() {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder().c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

std::string contents(const std::string& name) {
  std::ifstream in(folder() + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "broken: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (const std::string& name : entries()) unlink((folder() + "/" + name).c_str());
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  {
    std::ofstream out(folder() + "/preferences.plist", std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }

  // The one line the store writes about a file set aside is expected here, not a failure.
  std::FILE* saved = stderr;
  stderr = std::fopen("/dev/null", "w");
  std::optional<padwarden::plist::Value> enabled;
  {
    padwarden::FilePreferences store(folder());
    enabled = store.CFPreferencesCopyAppValue("Enabled");
  }
  std::fclose(stderr);
  stderr = saved;

  const std::vector<std::string> names = entries();
  bool kept = false, setAside = false;
  for (const std::string& name : names) {
    if (name == "preferences.plist") kept = contents(name) == bytes;
    if (name.rfind("preferences.plist.corrupt-", 0) == 0) setAside = contents(name) == bytes;
  }
  require(kept || setAside, "the file's bytes are neither kept nor set aside");

  if (kept) {
    // What loaded once loads again the same.
    padwarden::FilePreferences again(folder());
    require(again.CFPreferencesCopyAppValue("Enabled") == enabled, "a second load differs");
  }
  return 0;
}
