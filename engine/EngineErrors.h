#pragma once
// The error numbers the engine raises (the original engine's own, where one fits) and the one
// way the engine's modules raise them.

#include "automation/Error.h"

#include <string>

namespace engine {

namespace errors {
inline constexpr long Unexpected = 3000; // an SQLite failure with no closer match
inline constexpr long TooManyTransactions = 3003;
inline constexpr long TableExists = 3010;
inline constexpr long DatabaseExists = 3204;
inline constexpr long DuplicateValues = 3022;
inline constexpr long FileNotFound = 3024;
inline constexpr long ReadOnly = 3027;
inline constexpr long InvalidPassword = 3031;
inline constexpr long NoTransaction = 3034;
inline constexpr long CannotOpenFile = 3051;
inline constexpr long NullInIndex = 3058;
inline constexpr long TooFewParameters = 3061;
inline constexpr long TableNotFound = 3078;
inline constexpr long FieldDefinedTwice = 3191;
inline constexpr long NoCurrentRecord = 3021;
inline constexpr long InvalidName = 3125;
inline constexpr long InvalidOperation = 3219;
inline constexpr long InvalidFieldType = 3259;
inline constexpr long NotSupported = 3251;
inline constexpr long Locked = 3260;
inline constexpr long NoFields = 3264;
inline constexpr long ItemNotFound = 3265;
inline constexpr long FieldInIndex = 3280;
inline constexpr long PrimaryKeyExists = 3283;
inline constexpr long IndexExists = 3284;
inline constexpr long NullNotAllowed = 3314;
inline constexpr long UnrecognizedFormat = 3343;
inline constexpr long DamagedFile = 3049;
inline constexpr long AlreadyInCollection = 3367;
inline constexpr long ObjectInvalid = 3420;
inline constexpr long TypeMismatch = automation::errors::TypeMismatch;
} // namespace errors

// Raises automation::Error with `number` and `description` from the source "DAO.Database"
// (the object model re-labels it with the object the caller called).
[[noreturn]] void raise(long number, std::string description);

// The transaction-level refusals every store and the workspace give: 3003 past `maxLevels`, 3034
// for a commit or a rollback with no level open.
[[noreturn]] void raiseTooManyLevels(int maxLevels);
[[noreturn]] void raiseNothingToCommit();
[[noreturn]] void raiseNothingToRollBack();

// «name», the way every engine description quotes an object's name.
std::string quoted(const std::string& name);

} // namespace engine
