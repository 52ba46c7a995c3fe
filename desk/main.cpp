// The padwarden program on Linux: the desk, in a terminal, from a script, or writing the
// status icons.
#include <fstream>
#include <iostream>
#include <string>

#include "desk/help.h"
#include "desk/icon_png.h"
#include "desk/script.h"
#include "desk/terminal.h"

int main(int argc, char** argv) {
  using namespace padwarden::desk;
  const std::string mode = argc > 1 ? argv[1] : "";
  if (argc == 1) return run_terminal();
  if ((mode == "--help" || mode == "-h") && argc == 2) {
    std::cout << kHelpText;
    return 0;
  }
  if (mode == "--script" && argc == 3) {
    const std::string source = argv[2];
    if (source == "-") return run_script(std::cin, "<stdin>", std::cout, std::cerr);
    std::ifstream file(source);
    if (!file) {
      std::cerr << "padwarden: cannot read the script " << source << "\n";
      return 2;
    }
    return run_script(file, source, std::cout, std::cerr);
  }
  if (mode == "--icons" && argc == 3) {
    std::string error;
    if (!write_status_icons(argv[2], error)) {
      std::cerr << "padwarden: " << error << "\n";
      return 2;
    }
    return 0;
  }
  std::cerr << "padwarden: unknown arguments; see padwarden --help\n";
  return 2;
}
