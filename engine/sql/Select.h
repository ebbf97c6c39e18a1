#pragma once
// SELECT for stores that run queries themselves: the statement read into a column list, a table
// and a condition, and the condition evaluated on one row at a time, so a store can stream its
// rows through it.
//
// Read: SELECT * | column [, column ...] FROM table [WHERE condition] [;] where a condition is
// built from comparisons (=, <>, <, >, <=, >=) of columns and literals (text, numbers, #dates#,
// True, False, Null), IS [NOT] NULL, AND, OR, NOT and parentheses. Names are bare or
// [bracketed], optionally qualified by the table's name. Anything else raises the SELECT's
// syntax error (3075). Comparisons follow the original engine: text without regard to case,
// anything compared with Null is unknown, and only a true condition selects a row.
//
// Also read here, with the same names, literals and conditions, for stores that change rows
// themselves: UPDATE table SET column = literal [, ...] [WHERE condition] (syntax error 3144),
// DELETE [*] FROM table [WHERE condition] (3075) and INSERT INTO table [(column, ...)]
// VALUES (literal, ...) (3134), each optionally ending with ';'.

#include "automation/Variant.h"
#include "engine/sql/JetLexer.h"

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine::jet {

struct Condition; // the parsed WHERE clause

struct SelectQuery {
    std::string table;
    std::vector<std::string> columns;       // as written; empty for *
    std::shared_ptr<const Condition> where; // null: every row
};

// The query `tokens` (ending with End) ask for; `sql` is quoted in a syntax error.
SelectQuery parseSelect(std::span<const Token> tokens, std::string_view sql);

// One `column = literal` of an UPDATE, or a column of an INSERT with its value.
struct Assignment {
    std::string column; // as written
    automation::Variant value;
};

struct UpdateStatement {
    std::string table;
    std::vector<Assignment> assignments;
    std::shared_ptr<const Condition> where; // null: every row
};

struct DeleteStatement {
    std::string table;
    std::shared_ptr<const Condition> where; // null: every row
};

struct InsertStatement {
    std::string table;
    // Without a column list, `column` is empty and the values go to the table's columns in
    // their order.
    std::vector<Assignment> values;
};

// The statements `tokens` (ending with End) hold; each raises its own syntax-error number, with
// `sql` quoted where the engine quotes it. An INSERT whose column list and values differ in
// count is a syntax error too.
UpdateStatement parseUpdate(std::span<const Token> tokens, std::string_view sql);
DeleteStatement parseDelete(std::span<const Token> tokens, std::string_view sql);
InsertStatement parseInsert(std::span<const Token> tokens, std::string_view sql);

// Every column name the condition uses, each spelling once as written (for the store to resolve
// before reading; "Item" and "ITEM" both appear, and both name the same column).
std::vector<std::string> conditionColumns(const Condition& condition);

// Evaluates `condition` on one row; `column(name)` gives the row's value of a column named in
// the condition (names as conditionColumns() gives them). True only when the condition holds;
// raises 3464 when it compares text with a number.
bool matches(const Condition& condition,
             const std::function<automation::Variant(const std::string&)>& column);

} // namespace engine::jet
