#pragma once
// The errors the SQL front end raises itself, with the original engine's numbers and Russian
// descriptions, all from the source "DAO.Database". Numbers shared with the rest of the engine
// are those of EngineErrors.h.

#include <string_view>

namespace engine::jet {

namespace errors {
inline constexpr long SyntaxQueryExpression = 3075; // SELECT, DELETE
inline constexpr long SyntaxInsert = 3134;
inline constexpr long SyntaxUpdate = 3144;
inline constexpr long InvalidStatement = 3129;
inline constexpr long SyntaxCreateTable = 3290;
inline constexpr long SyntaxCreateIndex = 3291;
inline constexpr long SyntaxFieldDefinition = 3292;
inline constexpr long SyntaxAlterTable = 3293;
inline constexpr long SyntaxDropIndex = 3294;
inline constexpr long SyntaxDropTable = 3295;
inline constexpr long CannotExecuteSelect = 3065;
inline constexpr long CriteriaTypeMismatch = 3464;
} // namespace errors

// Raises the syntax error `number` (one of the Syntax* numbers or InvalidStatement);
// `statement` is quoted, shortened, in the description of a query-expression error.
[[noreturn]] void raiseSyntaxError(long number, std::string_view statement = {});

// Raises 3065: a SELECT given where an action statement was expected.
[[noreturn]] void raiseCannotExecuteSelect();

// Raises 3219: an action statement given where rows were asked for.
[[noreturn]] void raiseInvalidOperation();

// Raises 3061: the statement uses a name that is no column (the engine would take it as a
// parameter, which none was given for).
[[noreturn]] void raiseTooFewParameters();

// Raises 3464: a condition compares values of kinds that cannot be compared (text and a number).
[[noreturn]] void raiseCriteriaTypeMismatch();

// Raises 3078 naming the missing table `name`.
[[noreturn]] void raiseTableNotFound(std::string_view name);

// Raises 3027 naming the table `name` that a statement may not change.
[[noreturn]] void raiseReadOnly(std::string_view name);

} // namespace engine::jet
