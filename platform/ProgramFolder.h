#pragma once
// Where the running program lives.

#include <string>

namespace platform {

// The folder of the running executable as the file system's bytes (whatever their encoding),
// ending in a path separator.
std::string programFolder();

} // namespace platform
