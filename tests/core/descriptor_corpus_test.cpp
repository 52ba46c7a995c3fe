// Runs the descriptor walk over hand-written descriptors of real devices in
// tests/data/descriptors/. Each .hid file starts with "# verdict: accept" or
// "# verdict: reject", then holds one HID item per line as hex bytes, with optional trailing
// "# ..." comments. Every line must frame exactly one item, so that a typo in a hand-written
// descriptor fails here instead of quietly turning into a different descriptor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/keyboard_report.h"

namespace {

namespace fs = std::filesystem;

// The descriptor bytes and verdict of a corpus file; an empty string when it is well formed,
// else what is wrong and where.
std::string Parse(const fs::path& path, bool* accept, std::vector<uint8_t>* bytes) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  if (line != "# verdict: accept" && line != "# verdict: reject") return "no verdict first";
  *accept = line == "# verdict: accept";
  for (int number = 2; std::getline(in, line); ++number) {
    std::istringstream tokens(line.substr(0, line.find('#')));
    std::vector<uint8_t> item;
    for (std::string token; tokens >> token;) {
      if (token.size() != 2 || !std::all_of(token.begin(), token.end(),
                                            [](unsigned char c) { return std::isxdigit(c); })) {
        return "line " + std::to_string(number) + ": '" + token + "' is not a hex byte";
      }
      item.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    if (item.empty()) continue;
    // Long item: prefix, data size, tag, data. Short item: prefix and 0, 1, 2 or 4 bytes.
    const size_t want = item[0] == 0xFE ? (item.size() < 2 ? 0 : 3 + size_t{item[1]})
                                        : 1 + ((item[0] & 3) == 3 ? 4 : item[0] & 3);
    if (want != item.size()) return "line " + std::to_string(number) + ": not one item";
    bytes->insert(bytes->end(), item.begin(), item.end());
  }
  return bytes->empty() ? "no descriptor bytes" : "";
}

TEST(DescriptorCorpusTest, EveryDescriptorGetsItsVerdict) {
  const fs::path folder = fs::path(PADWARDEN_TEST_DATA_DIR) / "descriptors";
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().extension() == ".hid") files.push_back(entry.path());
  }
  ASSERT_GE(files.size(), 6u) << "too few .hid files in " << folder;
  std::sort(files.begin(), files.end());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    bool accept = false;
    std::vector<uint8_t> bytes;
    const std::string problem = Parse(file, &accept, &bytes);
    ASSERT_EQ(problem, "") << "malformed corpus file";
    numlock_keyboard_info info{};
    EXPECT_EQ(numlock_keyboard_parse_descriptor(bytes.data(), bytes.size(), &info), accept);
  }
}

}  // namespace
