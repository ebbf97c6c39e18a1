#include "engine/sql/JetStatement.h"

#include "engine/sql/JetErrors.h"

namespace engine::jet {

StatementKind classify(std::span<const Token> tokens) {
    if (tokens.empty())
        return StatementKind::Other;
    const Token& first = tokens[0];
    const Token& second = tokens.size() > 1 ? tokens[1] : tokens[0];
    if (isKeyword(first, "CREATE"))
        return isKeyword(second, "INDEX") || isKeyword(second, "UNIQUE")
                   ? StatementKind::CreateIndex
                   : StatementKind::CreateTable;
    if (isKeyword(first, "ALTER"))
        return StatementKind::AlterTable;
    if (isKeyword(first, "DROP"))
        return isKeyword(second, "INDEX") ? StatementKind::DropIndex : StatementKind::DropTable;
    if (isKeyword(first, "SELECT"))
        return StatementKind::Select;
    if (isKeyword(first, "INSERT"))
        return StatementKind::Insert;
    if (isKeyword(first, "UPDATE"))
        return StatementKind::Update;
    if (isKeyword(first, "DELETE"))
        return StatementKind::Delete;
    return StatementKind::Other;
}

bool isDefinition(StatementKind kind) {
    switch (kind) {
    case StatementKind::CreateTable:
    case StatementKind::CreateIndex:
    case StatementKind::AlterTable:
    case StatementKind::DropTable:
    case StatementKind::DropIndex:
        return true;
    default:
        return false;
    }
}

long syntaxErrorNumber(StatementKind kind) {
    switch (kind) {
    case StatementKind::CreateTable:
        return errors::SyntaxCreateTable;
    case StatementKind::CreateIndex:
        return errors::SyntaxCreateIndex;
    case StatementKind::AlterTable:
        return errors::SyntaxAlterTable;
    case StatementKind::DropTable:
        return errors::SyntaxDropTable;
    case StatementKind::DropIndex:
        return errors::SyntaxDropIndex;
    case StatementKind::Insert:
        return errors::SyntaxInsert;
    case StatementKind::Update:
        return errors::SyntaxUpdate;
    case StatementKind::Select:
    case StatementKind::Delete:
        return errors::SyntaxQueryExpression;
    case StatementKind::Other:
        break;
    }
    return errors::InvalidStatement;
}

} // namespace engine::jet
