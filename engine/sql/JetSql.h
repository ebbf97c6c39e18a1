#pragma once
// The engine's SQL front end: reads the SQL dialect of the original engine and carries it out
// on a Store: data-definition statements become the Store's schema operations, data statements
// go to the Store as read, for it to carry out in its own way.
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
