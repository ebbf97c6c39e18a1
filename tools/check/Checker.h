#pragma once
// The checker's entry points, whatever the file's format: SQLite databases of the engine, and
// Access 2000-2003 (Jet 4) files. Both raise Unreadable for a file they cannot read at all.

#include "tools/check/Report.h"

#include <functional>
#include <string>

namespace check {

Report checkFile(const std::string& path);

// One JSON line per row of every user table (see JsonLines.h for the value forms).
void dump(const std::string& path, const std::function<void(const std::string&)>& line);

} // namespace check
