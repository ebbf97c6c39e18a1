#include "engine/JetSql.h"

#include "engine/JetErrors.h"
#include "engine/JetParser.h"
#include "engine/JetStatement.h"
#include "engine/JetTranslate.h"

#include <sqlite3.h>

#include <memory>
#include <type_traits>
#include <variant>

namespace engine::jet {

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
void check(const Store& store, const Translation& translation, long syntaxNumber,
           std::string_view original) {
    sqlite3* db = store.handle();
    if (!db)
        return;
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
        raiseReadOnly(guard.deniedTable);
    if (rc != SQLITE_ERROR && rc != SQLITE_OK)
        return; // not a fault of the statement; the store reports it when it runs
    const std::string message = sqlite3_errmsg(db);
    constexpr std::string_view noTable = "no such table: ";
    if (message.starts_with(noTable))
        raiseTableNotFound(std::string_view(message).substr(noTable.size()));
    if (message.starts_with("no such column: "))
        raiseTooFewParameters();
    raiseSyntaxError(syntaxNumber, original);
}

void carryOut(Store& store, const Definition& definition) {
    std::visit(
        [&store](const auto& op) {
            using Op = std::decay_t<decltype(op)>;
            if constexpr (std::is_same_v<Op, ddl::CreateTable>)
                store.createTable(op.table);
            else if constexpr (std::is_same_v<Op, ddl::AddColumn>)
                store.addColumn(op.table, op.column);
            else if constexpr (std::is_same_v<Op, ddl::DropColumn>)
                store.dropColumn(op.table, op.column);
            else if constexpr (std::is_same_v<Op, ddl::CreateIndex>)
                store.createIndex(op.table, op.index);
            else if constexpr (std::is_same_v<Op, ddl::DropIndex>)
                store.dropIndex(op.table, op.index);
            else
                store.dropTable(op.table);
        },
        definition);
}

} // namespace

int execute(Store& store, std::string_view sql) {
    const auto tokens = tokenize(sql);
    const StatementKind kind = classify(tokens);
    if (isDefinition(kind)) {
        // The whole statement is read before the store is touched, and each kind is one store
        // call, which is atomic: a failing statement leaves nothing behind.
        carryOut(store, parseDefinition(tokens));
        return 0;
    }
    switch (kind) {
    case StatementKind::Insert:
    case StatementKind::Update:
    case StatementKind::Delete: {
        const auto translation = translateData(tokens, sql);
        check(store, translation, syntaxErrorNumber(kind), sql);
        return store.execute(translation.sql, translation.params);
    }
    case StatementKind::Select:
        raiseCannotExecuteSelect();
    default:
        raiseSyntaxError(errors::InvalidStatement);
    }
}

ResultSet query(const Store& store, std::string_view sqlOrTable) {
    const auto tokens = tokenize(sqlOrTable);
    const StatementKind kind = classify(tokens);
    if (kind == StatementKind::Other && tokens.size() == 2 &&
        (tokens[0].kind == Token::Kind::Word || tokens[0].kind == Token::Kind::Bracketed)) {
        const auto translation = wholeTable(tokens[0].text);
        check(store, translation, errors::SyntaxQueryExpression, sqlOrTable);
        return store.query(translation.sql);
    }
    if (kind == StatementKind::Select) {
        const auto translation = translateData(tokens, sqlOrTable);
        check(store, translation, errors::SyntaxQueryExpression, sqlOrTable);
        return store.query(translation.sql, translation.params);
    }
    if (kind == StatementKind::Other)
        raiseSyntaxError(errors::InvalidStatement);
    raiseInvalidOperation();
}

} // namespace engine::jet
