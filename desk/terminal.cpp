#include "desk/terminal.h"

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include "app/instance_lock.h"
#include "desk/desk.h"
#include "desk/line_input.h"

namespace padwarden::desk {

namespace {

using Clock = std::chrono::steady_clock;

// How long a quit at the end of input may wait for keyboard cleanup before the desk gives up.
constexpr auto kQuitGrace = std::chrono::seconds(5);

class Terminal {
 public:
  Terminal()
      : input_(LineInput::forStandardInput()),
        desk_(DeskSettings{user_support_folder(), true, &std::cerr,
                           [] { return LineInput::takeInterrupt(); }},
              out_) {}

  int run() {
    timeval now{};
    gettimeofday(&now, nullptr);
    desk_.world().machine().setBootTime(
        BootTimeValue{now.tv_sec, static_cast<int32_t>(now.tv_usec), 0});
    desk_.world().plug(sim::usb_keyboard("kb1"));
    if (std::optional<int> status = desk_.launch({})) return *status;
    out_ << "Padwarden is running at the desk, with the USB keyboard kb1 plugged in.\n"
            "Try: tap kb1 numlock, tap kb1 kp8, click Disable, crash, launch, help, exit.\n";
    desk_.world().runDue();
    desk_.showMenu();
    flush();
    input_->prompt();

    last_ = Clock::now();
    while (true) {
      std::string line;
      const LineInput::Event event = input_->wait(timeoutToNextDue(), line);
      catchUp();
      if (event == LineInput::Event::Line) command(line);
      if (event == LineInput::Event::End) end(true);
      if (event == LineInput::Event::Interrupt) interrupt();
      if (std::optional<int> status = finished()) return *status;
      if (event == LineInput::Event::Line || event == LineInput::Event::Interrupt) {
        input_->prompt();
      }
    }
  }

 private:
  // What the desk printed goes out through the line input, above a prompt that is showing.
  void flush() {
    const std::string text = out_.str();
    if (text.empty()) return;
    out_.str("");
    input_->print(text);
  }

  // The program's next due callback bounds the wait for input.
  int timeoutToNextDue() {
    if (inputEnded_) return 10;
    std::optional<uint64_t> due = desk_.nextDue();
    if (!due) return 1000;
    const uint64_t now = desk_.world().now();
    const uint64_t wait = *due > now ? *due - now : 0;
    return static_cast<int>(std::min<uint64_t>(wait / 1'000'000 + 1, 1000));
  }

  // The simulated clock follows the real one.
  void catchUp() {
    const Clock::time_point now = Clock::now();
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_);
    last_ = now;
    desk_.advance(static_cast<uint64_t>(std::max<int64_t>(elapsed.count(), 0)));
    flush();
  }

  void command(const std::string& line) {
    ++lineNumber_;
    const Outcome outcome = desk_.execute(line);
    const size_t first = line.find_first_not_of(" \t");
    const bool expectation = first != std::string::npos && line.compare(first, 7, "expect ") == 0;
    // From piped input, a failure names its line (at a terminal it is the line just typed).
    const std::string where =
        input_->interactive() ? "" : "line " + std::to_string(lineNumber_) + ": ";
    if (outcome.kind == Outcome::Kind::Error) out_ << where << "error: " << outcome.message << "\n";
    if (outcome.kind == Outcome::Kind::ExpectationFailed) {
      out_ << where << "expectation failed: " << outcome.message << "\n";
    }
    if (outcome.kind == Outcome::Kind::Ok && expectation) out_ << "ok\n";
    if (outcome.kind == Outcome::Kind::Error || outcome.kind == Outcome::Kind::ExpectationFailed) {
      anyFailed_ = true;
    }
    flush();
    if (outcome.kind == Outcome::Kind::Exit) end(false);
  }

  // Padwarden has been asked to quit (by exit, Ctrl-C or the end of input); the desk ends once
  // it has gone.
  void end(bool inputEnded) {
    inputEnded_ = inputEnded_ || inputEnded;
    if (!endingSince_) endingSince_ = Clock::now();
    desk_.quit();
    if (desk_.running()) {
      out_ << "The desk ends once Padwarden has restored the keyboards (release held keys";
      out_ << (inputEnded_ ? ")." : "; Ctrl-C ends the desk at once).") << "\n";
    }
    flush();
  }

  // Ctrl-C quits Padwarden as its menu does; a second one, or one while Padwarden is not
  // running, ends the desk at once.
  void interrupt() {
    if (desk_.running() && !endingSince_) return end(false);
    stopNow_ = true;
  }

  std::optional<int> finished() {
    const int status = !input_->interactive() && anyFailed_ ? 1 : 0;
    const bool graceOver = inputEnded_ && endingSince_ && Clock::now() - *endingSince_ > kQuitGrace;
    if (desk_.running() && (stopNow_ || graceOver)) {
      out_ << kQuitHeldBackAtExit;
      desk_.world().crash();
      flush();
      return status;
    }
    if (stopNow_ || (endingSince_ && !desk_.running())) return status;
    return std::nullopt;
  }

  std::unique_ptr<LineInput> input_;
  std::ostringstream out_;
  Desk desk_;
  Clock::time_point last_;
  std::optional<Clock::time_point> endingSince_;
  bool inputEnded_ = false;
  bool stopNow_ = false;
  bool anyFailed_ = false;
  size_t lineNumber_ = 0;
};

}  // namespace

int run_terminal() {
  // Typed text is UTF-8 as the user's locale says; numbers keep the C locale's format.
  std::setlocale(LC_CTYPE, "");
  Terminal terminal;
  return terminal.run();
}

}  // namespace padwarden::desk
