#include "engine/sql/JetSql.h"

#include "engine/sql/JetErrors.h"
#include "engine/sql/JetParser.h"
#include "engine/sql/JetStatement.h"

#include <type_traits>
#include <variant>

namespace engine::jet {

namespace {

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
        return store.execute(DataStatement{kind, tokens, sql});
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
    // A table's own name, as written, opens the table even when it is no single token
    // ("Типы алкогольных напитков"): that is how the original engine takes a recordset's source.
    if (kind == StatementKind::Other && tokens.size() > 2 && store.table(sqlOrTable))
        return store.readTable(sqlOrTable);
    if (kind == StatementKind::Other && tokens.size() == 2 &&
        (tokens[0].kind == Token::Kind::Word || tokens[0].kind == Token::Kind::Bracketed)) {
        return store.readTable(tokens[0].text);
    }
    if (kind == StatementKind::Select) {
        return store.select(DataStatement{kind, tokens, sqlOrTable});
    }
    if (kind == StatementKind::Other)
        raiseSyntaxError(errors::InvalidStatement);
    raiseInvalidOperation();
}

} // namespace engine::jet
