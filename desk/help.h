// The desk's texts for --help: the program's modes (kUsageText) and the command language
// (kCommandsText, which the "help" command prints).
#pragma once

namespace padwarden::desk {

extern const char* const kUsageText;
extern const char* const kCommandsText;

}  // namespace padwarden::desk
