// The SQLite store's data statements: the front end's tokens translated into SQLite's SQL,
// compiled once to report faults with the engine's numbers, then run.

#include "engine/sql/JetErrors.h"
#include "engine/sqlite/JetTranslate.h"
#include "engine/sqlite/SqliteStatement.h"
#include "engine/sqlite/SqliteStore.h"

#include <sqlite3.h>

#include <memory>

namespace engine {

namespace {

// Prepare-time guard: the engine's own MSys tables hold what SQLite cannot, and a data statement
// that changed them would corrupt every table's description, so writes to them are refused.
struct Guard {
    std::string deniedTable;
};

bool isSystemTable(const char* name) {
    if (!name)
        return false;
    constexpr std::string_view prefix = "msys";
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = name[i]; // stops at the terminator, which matches no prefix letter
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

int authorize(void* context, int action, const char* first, const char*, const char*, const char*) {
    if ((action == SQLITE_INSERT || action == SQLITE_UPDATE || action == SQLITE_DELETE) &&
        isSystemTable(first)) {
        static_cast<Guard*>(context)->deniedTable = first;
        return SQLITE_DENY;
    }
    return SQLITE_OK;
}

// Compiles the translated statement once, without running it, so that a fault in it is reported
// with the engine's numbers (syntax, missing table, unknown name) before the store runs it, and
// a statement writing the engine's own tables is refused.
void check(sqlite3* db, const jet::Translation& translation, long syntaxNumber,
           std::string_view original) {
    Guard guard;
    sqlite3_set_authorizer(db, authorize, &guard);
    sqlite3_stmt* raw = nullptr;
    const int rc = sqlite3_prepare_v2(db, translation.sql.c_str(),
                                      static_cast<int>(translation.sql.size()), &raw, nullptr);
    sqlite3_set_authorizer(db, nullptr, nullptr);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
    if (rc == SQLITE_OK && raw)
        return;
    if (!guard.deniedTable.empty())
        jet::raiseReadOnly(guard.deniedTable);
    if (rc != SQLITE_ERROR && rc != SQLITE_OK)
        return; // not a fault of the statement; the store reports it when it runs
    const std::string message = sqlite3_errmsg(db);
    constexpr std::string_view noTable = "no such table: ";
    if (message.starts_with(noTable))
        jet::raiseTableNotFound(std::string_view(message).substr(noTable.size()));
    if (message.starts_with("no such column: "))
        jet::raiseTooFewParameters();
    jet::raiseSyntaxError(syntaxNumber, original);
}

} // namespace

int SqliteStore::execute(const DataStatement& statement) {
    const auto translation = jet::translateData(statement.tokens, statement.sql);
    check(db_, translation, jet::syntaxErrorNumber(statement.kind), statement.sql);
    return execute(translation.sql, translation.params);
}

ResultSet SqliteStore::select(const DataStatement& statement) const {
    const auto translation = jet::translateData(statement.tokens, statement.sql);
    check(db_, translation, jet::errors::SyntaxQueryExpression, statement.sql);
    return query(translation.sql, translation.params);
}

ResultSet SqliteStore::readTable(std::string_view table) const {
    const auto translation = jet::wholeTable(table);
    check(db_, translation, jet::errors::SyntaxQueryExpression, table);
    return query(translation.sql);
}

std::int64_t SqliteStore::rowCount(std::string_view table) const {
    const auto translation = jet::wholeTable(table);
    check(db_, translation, jet::errors::SyntaxQueryExpression, table);
    return query("SELECT count(*) FROM " + ident(table)).rows.at(0).at(0).toInt();
}

} // namespace engine
