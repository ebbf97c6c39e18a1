#pragma once
// Where the running program lives.

#include <string>

namespace platform {

// The separator the system writes between the folders of a path.
#if defined(_WIN32)
inline constexpr char PathSeparator = '\\';
#else
inline constexpr char PathSeparator = '/';
#endif

// The folder of the running executable as the file system's bytes (whatever their encoding),
// ending in a path separator.
std::string programFolder();

} // namespace platform
