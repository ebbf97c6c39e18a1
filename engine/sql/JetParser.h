#pragma once
// Reads the original engine's data-definition statements into the schema operations of a Store,
// without touching one: each statement becomes exactly one operation, so carrying it out is as
// atomic as that one Store call.

#include "engine/Schema.h"
#include "engine/sql/JetLexer.h"

#include <span>
#include <string>
#include <variant>

namespace engine::jet {

namespace ddl {
struct CreateTable {
    TableSchema table; // indexes from its PRIMARY KEY / UNIQUE constraints included
};
struct AddColumn {
    std::string table;
    ColumnDef column;
};
struct DropColumn {
    std::string table, column;
};
struct CreateIndex { // CREATE INDEX and ALTER TABLE ... ADD CONSTRAINT
    std::string table;
    IndexDef index;
};
struct DropIndex { // DROP INDEX and ALTER TABLE ... DROP CONSTRAINT
    std::string table, index;
};
struct DropTable {
    std::string table;
};
} // namespace ddl

using Definition = std::variant<ddl::CreateTable, ddl::AddColumn, ddl::DropColumn, ddl::CreateIndex,
                                ddl::DropIndex, ddl::DropTable>;

// The operation that the data-definition statement `tokens` (ending with End, an optional ';'
// before it) asks for. Raises automation::Error with the statement kind's syntax-error number
// (3292 for a column's type or attributes) for anything else, an unknown type name or a text size
// outside 1..255 included. Unnamed keys get the name <table>_PK_<columns> or <table>_UQ_<columns>.
Definition parseDefinition(std::span<const Token> tokens);

} // namespace engine::jet
