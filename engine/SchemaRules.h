#pragma once
// The checks every store makes before a schema change, so that both formats refuse the same
// definitions with the same errors: empty names (3125), names kept for system tables (3125),
// field types and text sizes (3259), tables without fields (3264), a field defined twice
// (3191), an index over a field the table lacks (3265) or over one field twice (3191), and a
// second primary key (3283).

#include "engine/Schema.h"

#include <string>
#include <string_view>
#include <vector>

namespace engine {

// The engine's own tables (MSys...) and SQLite's (sqlite_...), by the engine's rule for case.
bool isSystemName(std::string_view name);

// 3125 for an empty or blank name of a `what` ("таблицы", "поля", "индекса").
void validateName(const std::string& name, const std::string& what);

// 3125 for the name, 3259 for a type a new field cannot take or a text size outside 1-255.
void validateColumn(const ColumnDef& column);

// Everything createTable refuses before looking at the database: the name, the fields, fields
// defined twice.
void validateNewTable(const TableSchema& table);

const ColumnDef* findColumn(const TableSchema& table, std::string_view name);
const IndexDef* findIndex(const TableSchema& table, std::string_view name);

// The key fields of `index` on `table`, spelled as the table spells them; raises for a blank
// name, no fields, a field the table lacks or names twice, and a second primary key.
std::vector<std::string> validateIndex(const TableSchema& table, const IndexDef& index);

} // namespace engine
