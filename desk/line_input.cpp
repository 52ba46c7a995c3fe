#include "desk/line_input.h"

#include <histedit.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string_view>

namespace padwarden::desk {

namespace {

volatile std::sig_atomic_t interrupts = 0;
struct sigaction previousAction {};

extern "C" void on_interrupt(int) { interrupts = 1; }

constexpr const char* kPrompt = "> ";
constexpr int kPromptColumns = 2;
constexpr char kEndOfInput = 0x04;  // Ctrl-D

void write_out(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

// Standard input read as it comes: no prompt, no editing.
class PlainInput final : public LineInput {
 public:
  bool interactive() const override { return false; }
  void print(const std::string& text) override { write_out(text); }
  void prompt() override {}

  Event wait(int timeoutMs, std::string& line) override {
    if (endAnswered_) return waitAfterEnd(timeoutMs);
    while (true) {
      if (takeInterrupt()) return Event::Interrupt;
      if (const size_t end = pending_.find('\n'); end != std::string::npos) {
        line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return Event::Line;
      }
      if (ended_) {
        if (pending_.empty()) {
          endAnswered_ = true;
          return Event::End;
        }
        line.swap(pending_);  // the last line had no newline
        pending_.clear();
        return Event::Line;
      }
      pollfd input{STDIN_FILENO, POLLIN, 0};
      const int ready = poll(&input, 1, timeoutMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) return Event::None;
      char buffer[4096];
      const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) ended_ = true;
      if (got > 0) pending_.append(buffer, static_cast<size_t>(got));
    }
  }

 private:
  std::string pending_;
  bool ended_ = false;
  bool endAnswered_ = false;
};

const char* prompt_text(EditLine*) { return kPrompt; }

// A terminal: libedit in its unbuffered mode, fed one character at a time when poll says
// one is there, so that the desk's clock and output go on while a line is typed.
class EditedInput final : public LineInput {
 public:
  EditedInput()
      : editor_(el_init("padwarden", stdin, stdout, stderr)), history_(history_init()) {
    HistEvent event;
    history(history_, &event, H_SETSIZE, 1000);
    history(history_, &event, H_SETUNIQUE, 1);
    el_set(editor_, EL_EDITOR, "emacs");
    el_set(editor_, EL_SIGNAL, 0);  // SIGINT is the desk's own
    el_set(editor_, EL_PROMPT, &prompt_text);
    el_set(editor_, EL_HIST, history, history_);
    el_source(editor_, nullptr);  // the user's ~/.editrc
  }
  ~EditedInput() override {
    stopEditing();
    el_end(editor_);
    history_end(history_);
  }

  bool interactive() const override { return true; }

  void prompt() override {
    if (editing_) return;
    // Entering the unbuffered mode starts an empty line and draws the prompt.
    el_set(editor_, EL_UNBUFFERED, 1);
    editing_ = true;
    std::fflush(stdout);
  }

  void print(const std::string& text) override {
    if (!editing_) return write_out(text);
    hideLine();
    std::string lines;
    for (char c : text) {
      if (c == '\n') lines += '\r';  // the terminal may be in raw mode while a line is edited
      lines += c;
    }
    write_out(lines);
    el_set(editor_, EL_REFRESH);
    std::fflush(stdout);
  }

  Event wait(int timeoutMs, std::string& line) override;

 private:
  void stopEditing() {
    if (!editing_) return;
    el_set(editor_, EL_UNBUFFERED, 0);  // back to the terminal's own mode
    editing_ = false;
  }

  // Takes the prompt and the typed text off the screen, the cursor at their start.
  void hideLine() {
    const LineInfo* info = el_line(editor_);
    int columns = kPromptColumns;
    for (const char* c = info->buffer; c < info->cursor; ++c) {
      const auto byte = static_cast<unsigned char>(*c);
      if ((byte & 0xC0) == 0x80) continue;          // inside a UTF-8 sequence
      columns += byte < 0x20 || byte == 0x7F ? 2 : 1;  // control characters show as ^X
    }
    winsize size{};
    const int width = ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0
                          ? size.ws_col
                          : 80;
    std::string sequence = "\r";
    if (const int rows = columns / width; rows > 0) sequence += "\033[" + std::to_string(rows) + "A";
    write_out(sequence + "\033[J");
  }

  EditLine* editor_;
  History* history_;
  bool editing_ = false;
  bool hungUp_ = false;  // the terminal went away
};

LineInput::Event EditedInput::wait(int timeoutMs, std::string& line) {
  if (hungUp_) return waitAfterEnd(timeoutMs);
  if (takeInterrupt()) {
    stopEditing();
    write_out("^C\n");
    return Event::Interrupt;
  }
  pollfd input{STDIN_FILENO, POLLIN, 0};
  const int ready = poll(&input, 1, timeoutMs);
  if (ready < 0 && errno == EINTR) return wait(0, line);
  if (ready <= 0) return Event::None;
  if (!(input.revents & POLLIN)) {
    stopEditing();
    hungUp_ = true;
    return Event::End;
  }
  if (!editing_) prompt();
  int count = 0;
  const char* text = el_gets(editor_, &count);
  if (!text || count <= 0) return Event::None;  // a character that completes nothing
  const std::string_view got(text, static_cast<size_t>(count));
  if (got.size() == 1 && got[0] == kEndOfInput) {
    stopEditing();
    write_out(std::string("\r\033[K") + kPrompt + "exit\n");  // over the ^D libedit drew
    line = "exit";
    return Event::Line;
  }
  if (got.back() != '\n') return Event::None;
  line.assign(got.substr(0, got.size() - 1));
  stopEditing();
  if (line.find_first_not_of(" \t") != std::string::npos) {
    HistEvent event;
    history(history_, &event, H_ENTER, line.c_str());
  }
  return Event::Line;
}

}  // namespace

LineInput::LineInput() {
  struct sigaction action {};
  action.sa_handler = &on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a wait in poll returns at once
  sigaction(SIGINT, &action, &previousAction);
}

LineInput::~LineInput() { sigaction(SIGINT, &previousAction, nullptr); }

bool LineInput::takeInterrupt() {
  if (!interrupts) return false;
  interrupts = 0;
  return true;
}

LineInput::Event LineInput::waitAfterEnd(int timeoutMs) {
  if (takeInterrupt()) return Event::Interrupt;
  poll(nullptr, 0, timeoutMs);
  return takeInterrupt() ? Event::Interrupt : Event::None;
}

std::unique_ptr<LineInput> LineInput::forStandardInput() {
  if (isatty(STDIN_FILENO)) return std::make_unique<EditedInput>();
  return std::make_unique<PlainInput>();
}

}  // namespace padwarden::desk
