// The desk: the simulated machine the program runs on under Linux, and the user who works at
// it. It launches the program (main's lock, the application delegate) into a simulated
// process, plays keyboards, permissions, other programs and the machine's power, prints the
// status item and menu whenever they change, and checks expectations. Driven line by line by
// the script runner and by the terminal prompt.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/plist.h"
#include "platform/sim/world.h"

namespace padwarden::desk {

// Said when the desk ends while Padwarden's quit is still held back.
inline constexpr const char* kQuitHeldBackAtExit =
    "Padwarden is still waiting for keyboard cleanup; the desk stops it.\n";

struct DeskSettings {
  // The folder standing in for Application Support, where each launch takes its instance lock.
  std::optional<std::string> lockFolder;
  // True: the program's preferences live in the user's file on disk; false: in the world's
  // in-memory store.
  bool durableStore = false;
  // Where main's own line goes when a launch cannot take the lock (null: the desk's output).
  std::ostream* mainErrors = nullptr;
  // Asked as a long wait goes on: true stops it there (Ctrl-C at the terminal). Null: waits
  // run to their end.
  std::function<bool()> interrupted;
};

struct Outcome {
  // Exit: the "exit" command; the runner quits Padwarden and ends the desk.
  enum class Kind { Ok, ExpectationFailed, Error, Exit };
  Kind kind = Kind::Ok;
  std::string message;  // what was expected and found, or what is wrong with the command

  static Outcome ok() { return {}; }
  static Outcome error(std::string text) { return {Kind::Error, std::move(text)}; }
  static Outcome failed(std::string text) { return {Kind::ExpectationFailed, std::move(text)}; }
  static Outcome exit() { return {Kind::Exit, {}}; }
};

class Desk {
 public:
  Desk(DeskSettings settings, std::ostream& out);
  ~Desk();
  Desk(const Desk&) = delete;
  Desk& operator=(const Desk&) = delete;

  // One command line (comments and blank lines do nothing); then runs what is due and prints
  // what changed.
  Outcome execute(const std::string& line);

  // Launches the program; answers main's exit status when it ended at once (the lock was not
  // taken), after printing main's line.
  std::optional<int> launch(const std::vector<std::string>& arguments);
  bool running() { return world_.process() != nullptr; }
  // Moves time on (running what falls due) and prints what changed.
  void advance(uint64_t nanoseconds);
  // When the next callback of the program is due, or none.
  std::optional<uint64_t> nextDue();
  // Prints the status item and menu now.
  void showMenu();
  // Quits Padwarden as its menu's Quit does and runs what is due; false when it still runs
  // (its quit is held back until the keyboards are restored).
  bool quit();
  void reportChanges();

  sim::World& world() { return world_; }
  // What anyone but the program last set on each keyboard's first service: its true original.
  const std::map<std::string, std::optional<plist::Value>>& originals() const {
    return originals_;
  }

 private:
  struct MenuLine {
    std::string title;
    bool enabled = true;
    bool command = false;
    bool separator = false;
    std::optional<std::string> toolTip;
    friend bool operator==(const MenuLine&, const MenuLine&) = default;
  };
  struct Snapshot {
    bool running = false;
    bool iconOn = false;
    std::vector<MenuLine> lines;
    friend bool operator==(const Snapshot&, const Snapshot&) = default;
  };

  Outcome run(const std::vector<std::string>& words, const std::string& line);
  Outcome plug(const std::vector<std::string>& words);
  Outcome keys(const std::vector<std::string>& words);
  Outcome click(const std::string& text);
  Outcome wait(uint64_t nanoseconds);
  Outcome permission(const std::vector<std::string>& words);
  Outcome map(const std::vector<std::string>& words, const std::string& line);
  Outcome login(const std::vector<std::string>& words);
  Outcome fault(const std::vector<std::string>& words);
  Outcome store(const std::vector<std::string>& words);
  Outcome expect(const std::vector<std::string>& words, const std::string& rest);
  Outcome expectMapping(const std::string& name, const std::string& which);
  Outcome expectLease(const std::string& name, const std::string& which);

  Snapshot snapshot();
  void printSnapshot(const Snapshot& snapshot);
  std::optional<plist::Value> storedValue(const std::string& key);

  DeskSettings settings_;
  std::ostream& out_;
  sim::World world_;
  // What anyone but the program last set on each keyboard's service.
  std::map<std::string, std::optional<plist::Value>> originals_;
  // The registry ID each unplugged keyboard last had, where its lease stays.
  std::map<std::string, uint64_t> unpluggedIDs_;
  // The program's mapping writes on each keyboard since the last "expect writes" on it.
  std::map<std::string, uint64_t> programWrites_;
  // The key-down events of the last press or tap on each keyboard.
  std::map<std::string, std::vector<std::string>> lastTyped_;
  size_t alertsChecked_ = 0;
  size_t logShown_ = 0;
  size_t urlsShown_ = 0;
  bool wasRunning_ = false;
  Snapshot shown_;
};

}  // namespace padwarden::desk
