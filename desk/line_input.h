// The lines typed at the desk's prompt: edited with libedit (emacs keys, history) when standard
// input is a terminal, read as they come otherwise. Output that arrives while a line is being
// typed is printed above it, and the prompt and the text typed so far are drawn again below.
// Ctrl-C is taken as an event of its own. Used by the terminal desk.
#pragma once

#include <memory>
#include <string>

namespace padwarden::desk {

class LineInput {
 public:
  enum class Event {
    None,       // the time ran out, or input is still being typed
    Line,       // a whole line came (Ctrl-D on an empty line at a terminal reads "exit")
    End,        // no more input will come (answered once; then only None or Interrupt)
    Interrupt,  // Ctrl-C (SIGINT)
  };

  // For standard input; catches SIGINT until destroyed.
  static std::unique_ptr<LineInput> forStandardInput();
  virtual ~LineInput();

  // True at a terminal: prompts are shown.
  virtual bool interactive() const = 0;
  // Waits at most `timeoutMs` for input; a Line fills `line`.
  virtual Event wait(int timeoutMs, std::string& line) = 0;
  // Prints output, keeping a prompt that is showing below it.
  virtual void print(const std::string& text) = 0;
  // Shows the prompt for the next line (nothing when not interactive).
  virtual void prompt() = 0;
  // True once for each SIGINT received (so that a long command can stop where it is).
  static bool takeInterrupt();

 protected:
  LineInput();
  // Once End has been answered: waits for the time or a SIGINT only.
  static Event waitAfterEnd(int timeoutMs);
};

}  // namespace padwarden::desk
