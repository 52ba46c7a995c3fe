// The platform's path standardization, portably: a leading "~" becomes the home folder, empty
// and "." components go, ".." removes the component before it in an absolute path, and no
// trailing slash remains. Used by the simulated process environment (the native backend asks
// the system); the application compares install locations with it.
#pragma once

#include <string>

namespace padwarden {

std::string standardize_path(const std::string& path, const std::string& homeDirectory);

}  // namespace padwarden
