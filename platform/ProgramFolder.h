#pragma once
// Where the running program lives.

#include <string>

namespace platform {

// The folder of the running executable, ending in a path separator.
std::string programFolder();

} // namespace platform
