#pragma once
// Checking and dumping the engine's SQLite databases with SQLite's own C API, independently of
// the engine's store: SQLite's integrity check, then the engine's properties table held against
// the schema it describes. The file is opened read-only and never written.

#include "tools/check/Report.h"

#include <functional>
#include <string>

namespace check {

Report checkSqlite(const std::string& path);

// Calls `line` with one dump line per row of every user table (not the engine's MSys tables nor
// SQLite's own), tables in the order they were made, columns in table order.
void dumpSqlite(const std::string& path, const std::function<void(const std::string&)>& line);

} // namespace check
