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

constexpr size_t kMinimumCorpusFiles = 6;

struct CorpusFile {
  bool accept = false;
  std::vector<uint8_t> bytes;
};

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) {
    return "";
  }
  return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

// Bytes a whole item takes, judged from its first bytes; 0 when they do not say yet.
size_t ItemLength(const std::vector<uint8_t>& item) {
  if (item[0] == 0xFE) {  // long item: prefix, data size, tag, data
    return item.size() < 2 ? 0 : 3 + size_t{item[1]};
  }
  const size_t size_code = item[0] & 0x3;
  return 1 + (size_code == 3 ? 4 : size_code);
}

// Returns an empty string when the file is well formed, else what is wrong and where.
std::string Parse(const fs::path& path, CorpusFile* out) {
  std::ifstream in(path);
  if (!in) {
    return "cannot open the file";
  }
  bool verdict_seen = false;
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::string text = Trim(line);
    if (text.empty()) {
      continue;
    }
    if (text[0] == '#') {
      if (!verdict_seen) {
        if (text == "# verdict: accept" || text == "# verdict: reject") {
          out->accept = text == "# verdict: accept";
          verdict_seen = true;
        } else {
          return where + "the first comment must be '# verdict: accept' or '# verdict: reject'";
        }
      }
      continue;
    }
    if (!verdict_seen) {
      return where + "bytes before the '# verdict: ...' line";
    }
    std::istringstream tokens(text.substr(0, text.find('#')));
    std::vector<uint8_t> item;
    std::string token;
    while (tokens >> token) {
      if (token.size() != 2 || !std::all_of(token.begin(), token.end(), [](unsigned char c) {
            return std::isxdigit(c) != 0;
          })) {
        return where + "'" + token + "' is not a two-digit hex byte";
      }
      item.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    }
    if (item.empty()) {
      return where + "no bytes before the comment";
    }
    const size_t want = ItemLength(item);
    if (want != item.size()) {
      return where + "the item takes " + std::to_string(want) + " bytes, the line has " +
             std::to_string(item.size());
    }
    out->bytes.insert(out->bytes.end(), item.begin(), item.end());
  }
  if (!verdict_seen) {
    return "no '# verdict: ...' line";
  }
  if (out->bytes.empty()) {
    return "no descriptor bytes";
  }
  return "";
}

TEST(DescriptorCorpusTest, EveryDescriptorGetsItsVerdict) {
  const fs::path folder = fs::path(PADWARDEN_TEST_DATA_DIR) / "descriptors";
  std::vector<fs::path> files;
  std::error_code error;
  for (const auto& entry : fs::directory_iterator(folder, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".hid") {
      files.push_back(entry.path());
    }
  }
  ASSERT_FALSE(error) << folder << ": " << error.message();
  ASSERT_GE(files.size(), kMinimumCorpusFiles) << "too few .hid files in " << folder;
  std::sort(files.begin(), files.end());

  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    CorpusFile corpus;
    const std::string problem = Parse(file, &corpus);
    if (!problem.empty()) {
      ADD_FAILURE() << "malformed corpus file " << file << ": " << problem;
      continue;
    }
    numlock_keyboard_info info{};
    EXPECT_EQ(numlock_keyboard_parse_descriptor(corpus.bytes.data(), corpus.bytes.size(), &info),
              corpus.accept)
        << "expected " << (corpus.accept ? "accept" : "reject");
  }
}

}  // namespace
