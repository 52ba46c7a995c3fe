#include "desk/terminal.h"

#include <poll.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <string>

#include "app/instance_lock.h"
#include "desk/desk.h"
#include "desk/help.h"

namespace padwarden::desk {

namespace {

using Clock = std::chrono::steady_clock;

// How long a quit at the end of input may wait for keyboard cleanup before the desk gives up.
constexpr auto kQuitGrace = std::chrono::seconds(5);

class Terminal {
 public:
  Terminal() : desk_(DeskSettings{user_support_folder(), true, &std::cerr}, std::cout) {}

  int run() {
    timeval now{};
    gettimeofday(&now, nullptr);
    desk_.world().machine().setBootTime(
        BootTimeValue{now.tv_sec, static_cast<int32_t>(now.tv_usec), 0});
    desk_.world().plug(sim::usb_keyboard("kb1"));
    if (std::optional<int> status = desk_.launch({})) return *status;
    std::cout << "Padwarden is running at the desk, with the USB keyboard kb1 plugged in.\n"
                 "Try: tap kb1 numlock, tap kb1 kp8, click Disable, crash, launch, help, exit.\n";
    desk_.world().runDue();
    desk_.showMenu();
    prompt();

    last_ = Clock::now();
    while (true) {
      const bool lineReady = waitForInput();
      catchUp();
      if (endingSince_ && !desk_.running()) return 0;
      if (endingSince_ && Clock::now() - *endingSince_ > kQuitGrace && inputClosed_) {
        std::cout << "Padwarden is still waiting for keyboard cleanup; the desk stops it.\n";
        desk_.world().crash();
        return 0;
      }
      if (!lineReady) continue;
      std::string line;
      if (!std::getline(std::cin, line)) {
        inputClosed_ = true;
        end();
        if (!desk_.running()) return 0;
        continue;
      }
      command(line);
      if (endingSince_ && !desk_.running()) return 0;
      prompt();
    }
  }

 private:
  void prompt() {
    if (!inputClosed_) std::cout << "> " << std::flush;
  }

  // Waits for a line or for the program's next callback, whichever comes first.
  bool waitForInput() {
    if (inputClosed_) {
      poll(nullptr, 0, 10);
      return false;
    }
    if (std::cin.rdbuf()->in_avail() > 0) return true;
    int timeout = 1000;
    if (std::optional<uint64_t> due = desk_.nextDue()) {
      const uint64_t now = desk_.world().now();
      const uint64_t wait = *due > now ? *due - now : 0;
      timeout = static_cast<int>(std::min<uint64_t>(wait / 1'000'000 + 1, 1000));
    }
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, timeout) > 0;
  }

  // The simulated clock follows the real one.
  void catchUp() {
    const Clock::time_point now = Clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_);
    last_ = now;
    desk_.advance(static_cast<uint64_t>(std::max<int64_t>(elapsed.count(), 0)));
  }

  void command(const std::string& line) {
    const size_t first = line.find_first_not_of(" \t");
    const std::string word = first == std::string::npos
                                 ? ""
                                 : line.substr(first, line.find_first_of(" \t", first) - first);
    if (word == "help") {
      std::cout << kHelpText;
      return;
    }
    if (word == "exit") {
      end();
      return;
    }
    const Outcome outcome = desk_.execute(line);
    if (outcome.kind == Outcome::Kind::Error) std::cout << "error: " << outcome.message << "\n";
    if (outcome.kind == Outcome::Kind::ExpectationFailed) {
      std::cout << "expectation failed: " << outcome.message << "\n";
    }
    if (outcome.kind == Outcome::Kind::Ok && word == "expect") std::cout << "ok\n";
  }

  // Quits Padwarden as its menu would, and ends the desk once it has gone.
  void end() {
    if (!endingSince_) endingSince_ = Clock::now();
    if (!desk_.running()) return;
    desk_.world().process()->application().terminate();
    desk_.world().runDue();
    desk_.reportChanges();
    if (desk_.running()) {
      std::cout << "The desk ends once Padwarden has restored the keyboards (release held keys).\n";
    }
  }

  Desk desk_;
  Clock::time_point last_;
  std::optional<Clock::time_point> endingSince_;
  bool inputClosed_ = false;
};

}  // namespace

int run_terminal() {
  Terminal terminal;
  return terminal.run();
}

}  // namespace padwarden::desk
