#pragma once
// Running SQL on an SQLite handle for the store's modules: one prepared statement at a time,
// finalised when it goes out of scope, and every SQLite failure raised as the engine's own
// error (3022 duplicate values, 3314 Null in a required field, 3027 read-only, 3260 locked,
// 3343 damaged file, 3078 no such table, 3061 unknown field or wrong parameter count, else
// 3000), its description naming the action that failed.

#include "automation/Variant.h"

#include <sqlite3.h>

#include <string>
#include <string_view>
#include <vector>

namespace engine {

// One prepared statement, finalised when it goes out of scope, so no statement outlives the
// store call that made it.
class Statement {
public:
    // Prepares `sql` on `db`; `action` names what is being done, for every error raised later.
    // Raises when SQLite refuses it, when it is empty, or when it holds a second statement.
    Statement(sqlite3* db, std::string_view sql, const std::string& action);
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Binds `params` to ?1..?n in order (True as -1); raises 3061 unless there is one per
    // parameter, 13 for an object value.
    Statement& bind(const std::vector<automation::Variant>& params);
    // Binds `text` (copied) to parameter `index`.
    Statement& bind(int index, std::string_view text);

    // True while a row is available; raises the engine's error when SQLite fails.
    bool step();

    // The current row's `column` as text ("" for Null).
    std::string text(int column) const;
    // The current row's `column` as an integer.
    sqlite3_int64 integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    // True when the current row's `column` is Null.
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    // The raw statement, still owned by this object.
    sqlite3_stmt* get() const { return stmt_; }

private:
    void bindOne(int index, const automation::Variant& v);

    sqlite3* db_;
    std::string action_;
    sqlite3_stmt* stmt_ = nullptr;
};

// Runs the one statement `sql` to its end, raising the engine's error naming `action`.
void exec(sqlite3* db, std::string_view sql, const std::string& action);

// Runs SQL whose failure cannot be reported (undoing after another failure, closing).
void execQuietly(sqlite3* db, const char* sql);

// An SQL identifier in double quotes, inner quotes doubled, so any name is taken literally.
std::string ident(std::string_view name);

} // namespace engine
