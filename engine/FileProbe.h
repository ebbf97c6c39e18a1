#pragma once
// The first step of opening any database: the path must name an existing regular file, whose
// first bytes tell which store reads it. Reads those bytes only; never writes.

#include <span>
#include <string>
#include <vector>

namespace engine {

// Up to `count` bytes from the start of the file at `path` (fewer for a shorter file). Raises
// 3024 for a missing path, 3343 for a folder or anything else that is not a regular file, 3051
// when the file cannot be read.
std::vector<unsigned char> probeDatabaseFile(const std::string& path, std::size_t count);

// Whether `header` (a file's first bytes) starts as an SQLite 3 database does.
bool startsLikeSqlite(std::span<const unsigned char> header);

} // namespace engine
