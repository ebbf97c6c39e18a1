#pragma once
// The engine's SQL front end: reads the SQL dialect of the original engine and carries it out
// on a Store, translating data statements into SQLite's SQL and data-definition statements into
// the Store's schema operations.
//
// Accepted: CREATE TABLE, ALTER TABLE (ADD [COLUMN], DROP [COLUMN], ADD CONSTRAINT, DROP
// CONSTRAINT), CREATE [UNIQUE] INDEX ... [WITH PRIMARY | DISALLOW NULL | IGNORE NULL],
// DROP INDEX ... ON, DROP TABLE, SELECT, INSERT, UPDATE, DELETE; text literals in double or
// single quotes, #date# literals, True and False, names bare or in square brackets. Anything else
// raises automation::Error with a syntax-error number (3290-3295) naming the statement kind.

#include "engine/Store.h"

#include <string_view>

namespace engine::jet {

// Runs one statement atomically; returns the rows it changed (0 for data definition).
int execute(Store& store, std::string_view sql);

// Runs a SELECT, or reads a whole table when `sqlOrTable` is a table's name.
ResultSet query(const Store& store, std::string_view sqlOrTable);

} // namespace engine::jet
