// The padwarden program on Linux: the desk, in a terminal, from a script, or writing the
// status icons.
#include <iostream>
#include <string>

#include "desk/help.h"
#include "desk/icon_png.h"
#include "desk/script.h"
#include "desk/terminal.h"
#include "desk/visible_text.h"

int main(int argc, char** argv) {
  using namespace padwarden::desk;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 1) return run_terminal();
  if ((mode == "--help" || mode == "-h") && argc == 2) {
    std::cout << kUsageText << kCommandsText;
    return 0;
  }
  if (mode == "--script" && argc == 3) {
    const std::string source = argv[2];
    if (source == "-") return run_script(std::cin, "<stdin>", std::cout, std::cerr);
    return run_script_file(source, std::cout, std::cerr);
  }
  if (mode == "--script" && argc == 2) {
    std::cerr << "padwarden: --script needs the script's file (or - for standard input): "
                 "padwarden --script FILE\n";
    return 2;
  }
  if (mode == "--icons" && argc == 3) {
    std::string error;
    if (!write_status_icons(argv[2], error)) {
      std::cerr << "padwarden: " << error << "\n";
      return 2;
    }
    return 0;
  }
  if (mode == "--icons" && argc == 2) {
    std::cerr << "padwarden: --icons needs the folder to write the PNG files into: "
                 "padwarden --icons DIR\n";
    return 2;
  }
  // Name what is refused: the mode itself, or the first argument past what the mode takes.
  size_t refused = 1;
  if (mode == "--help" || mode == "-h") refused = 2;
  if (mode == "--script" || mode == "--icons") refused = 3;
  std::cerr << "padwarden: unknown argument \"" << visible_text(argv[refused])
            << "\"; see padwarden --help\n";
  return 2;
}
