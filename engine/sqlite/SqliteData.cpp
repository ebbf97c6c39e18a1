// The SQLite store's data statements: the front end's tokens, with their names spelled as the
// file spells them, translated into SQLite's SQL, compiled once to report faults with the
// engine's numbers, then run.

#include "engine/sql/JetErrors.h"
#include "engine/sqlite/CaseRules.h"
#include "engine/sqlite/JetTranslate.h"
#include "engine/sqlite/SqliteStatement.h"
#include "engine/sqlite/SqliteStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <optional>

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

bool beyondAscii(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The first row's first column of `sql` run with the text parameters `params`, if any row.
std::optional<std::string> firstText(sqlite3* db, const std::string& sql,
                                     std::initializer_list<std::string_view> params) {
    Statement s(db, sql, "поиск имени");
    int index = 0;
    for (std::string_view param : params)
        s.bind(++index, param);
    if (!s.step())
        return std::nullopt;
    return s.text(0);
}

// The table (or view) `name` as the file spells it, found by the engine's rule for case; the
// exact spelling first when another program left names that differ only in case.
std::optional<std::string> storedTable(sqlite3* db, std::string_view name) {
    return firstText(db,
                     std::string("SELECT name FROM sqlite_master WHERE type IN ('table', 'view') "
                                 "AND name=?1 COLLATE ") +
                         FoldCollation + " ORDER BY name=?1 DESC, rowid LIMIT 1",
                     {name});
}

// The column `name` of `table` as the file spells it, found the same way.
std::optional<std::string> storedColumn(sqlite3* db, std::string_view table,
                                        std::string_view name) {
    return firstText(db,
                     std::string("SELECT name FROM pragma_table_info(?1) WHERE name=?2 COLLATE ") +
                         FoldCollation + " ORDER BY name=?2 DESC, cid LIMIT 1",
                     {table, name});
}

bool isName(const jet::Token& t) {
    return t.kind == jet::Token::Kind::Word || t.kind == jet::Token::Kind::Bracketed;
}

// SQLite matches the names of a statement with the file's without regard to the case of A-Z
// only. A name with other letters is therefore written as the file spells it, found by the
// engine's rule for case, so that "товары" reaches the table "ТОВАРЫ"; the file's own names are
// never rewritten. A name stands for a table after FROM (and each comma of its list), INTO,
// UPDATE and JOIN and before a dot; any other name is looked for among the columns of the
// tables the statement names.
std::vector<jet::Token> spelledAsStored(sqlite3* db, std::span<const jet::Token> tokens) {
    std::vector<jet::Token> out(tokens.begin(), tokens.end());
    if (std::none_of(out.begin(), out.end(),
                     [](const jet::Token& t) { return isName(t) && beyondAscii(t.text); }))
        return out;
    auto respell = [](jet::Token& t, const std::optional<std::string>& stored) {
        if (!stored)
            return false;
        t.text = *stored;
        t.kind = jet::Token::Kind::Bracketed;
        return true;
    };
    std::vector<std::string> tables;
    std::vector<bool> standsForTable(out.size(), false);
    bool fromList = false;
    for (std::size_t i = 0; i < out.size(); ++i) {
        jet::Token& t = out[i];
        if (t.kind == jet::Token::Kind::Word) {
            if (jet::isKeyword(t, "FROM"))
                fromList = true;
            for (std::string_view ends : {"WHERE", "GROUP", "ORDER", "HAVING", "ON", "UNION"})
                if (jet::isKeyword(t, ends))
                    fromList = false;
        }
        if (!isName(t))
            continue;
        const jet::Token* before = i > 0 ? &out[i - 1] : nullptr;
        const bool afterTableWord =
            before && (jet::isKeyword(*before, "FROM") || jet::isKeyword(*before, "INTO") ||
                       jet::isKeyword(*before, "UPDATE") || jet::isKeyword(*before, "JOIN") ||
                       (fromList && jet::isSymbol(*before, ",")));
        const bool beforeDot = i + 1 < out.size() && jet::isSymbol(out[i + 1], ".");
        if (!afterTableWord && !beforeDot)
            continue;
        standsForTable[i] = true;
        if (beyondAscii(t.text))
            respell(t, storedTable(db, t.text));
        tables.push_back(t.text);
    }
    for (std::size_t i = 0; i < out.size(); ++i) {
        if (standsForTable[i] || !isName(out[i]) || !beyondAscii(out[i].text))
            continue;
        for (const std::string& table : tables)
            if (respell(out[i], storedColumn(db, table, out[i].text)))
                break;
    }
    return out;
}

} // namespace

int SqliteStore::execute(const DataStatement& statement) {
    const auto tokens = spelledAsStored(db_, statement.tokens);
    const auto translation = jet::translateData(tokens, statement.sql);
    check(db_, translation, jet::syntaxErrorNumber(statement.kind), statement.sql);
    return execute(translation.sql, translation.params);
}

ResultSet SqliteStore::select(const DataStatement& statement) const {
    const auto tokens = spelledAsStored(db_, statement.tokens);
    const auto translation = jet::translateData(tokens, statement.sql);
    check(db_, translation, jet::errors::SyntaxQueryExpression, statement.sql);
    return query(translation.sql, translation.params);
}

ResultSet SqliteStore::readTable(std::string_view table) const {
    const std::string name = storedTable(db_, table).value_or(std::string(table));
    const auto translation = jet::wholeTable(name);
    check(db_, translation, jet::errors::SyntaxQueryExpression, table);
    return query(translation.sql);
}

std::int64_t SqliteStore::rowCount(std::string_view table) const {
    const std::string name = storedTable(db_, table).value_or(std::string(table));
    const auto translation = jet::wholeTable(name);
    check(db_, translation, jet::errors::SyntaxQueryExpression, table);
    return query("SELECT count(*) FROM " + ident(name)).rows.at(0).at(0).toInt();
}

} // namespace engine
