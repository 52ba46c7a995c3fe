// The desk's --help text: the program's modes and the command language.
#pragma once

namespace padwarden::desk {

extern const char* const kHelpText;

}  // namespace padwarden::desk
