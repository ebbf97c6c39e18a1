#pragma once
// SQLite's file layer takes no path longer than 512 bytes, while the system allows about 4096.
// A database deeper than that is reached as "/proc/self/fd/<open folder>/<name>": the kernel
// follows the open folder, so the file, its journal and its locks are the very ones that the
// long path names for every other program. SQLite would resolve that link back to the long
// path, so such names go through a file layer that differs from the default only in taking
// them as they are.

#include <cstddef>

namespace engine {

// Paths longer than this are opened through an open folder instead.
inline constexpr std::size_t LongestSqlitePath = 500;
// What a path through an open folder starts with; the folder's descriptor follows.
inline constexpr const char* FolderPrefix = "/proc/self/fd/";

// The name of the file layer that takes FolderPrefix paths as they are (registered with SQLite
// on the first call, others passed to the default layer); nullptr when SQLite refused it.
const char* folderVfs();

} // namespace engine
