#pragma once
// A database's whole content as text, read with SQLite's own C API (not the engine), so two
// databases compare equal exactly when their schemas and rows are the same.

#include <string>
#include <vector>

namespace testsupport {

// Every schema entry (type, name, table, SQL) in name order, then every row of every table in
// rowid order with each value's storage class. Throws std::runtime_error when the file cannot be
// read as a database.
std::string sqliteDump(const std::string& path);

// The rows a query yields, each row's values joined by '|' (NULL as "<null>").
std::vector<std::string> sqliteRows(const std::string& path, const std::string& sql);

// Runs statements on the file with SQLite's C API, as another program would.
void sqliteExec(const std::string& path, const std::string& sql);

} // namespace testsupport
