#pragma once
// What kind of statement a token stream is, read from its leading keywords, and the syntax-error
// number the original engine gives for that kind.

#include "engine/sql/JetLexer.h"

#include <span>

namespace engine::jet {

enum class StatementKind {
    CreateTable, // CREATE TABLE, and CREATE followed by anything but [UNIQUE] INDEX
    CreateIndex,
    AlterTable,
    DropTable, // DROP TABLE, and DROP followed by anything but INDEX
    DropIndex,
    Select,
    Insert,
    Update,
    Delete,
    Other,
};

// The kind named by the first one or two keywords of `tokens` (which end with End).
StatementKind classify(std::span<const Token> tokens);

// True for the data-definition kinds.
bool isDefinition(StatementKind kind);

// The engine's syntax-error number for a statement of `kind` (3290 CREATE TABLE ... 3129 other).
long syntaxErrorNumber(StatementKind kind);

} // namespace engine::jet
