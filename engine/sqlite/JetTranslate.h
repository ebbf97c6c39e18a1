#pragma once
// Turns the original engine's data statements (SELECT, INSERT, UPDATE, DELETE) into SQLite's SQL.
// Text and date literals leave the text as bound `?` values, so no literal is ever spliced into
// SQL; names in [brackets] become "quoted" identifiers; True and False become -1 and 0; & becomes
// ||; "DELETE * FROM" loses its star; everything else passes through as written.

#include "automation/Variant.h"
#include "engine/sql/JetLexer.h"

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine::jet {

struct Translation {
    std::string sql;                         // SQLite SQL with one `?` per literal
    std::vector<automation::Variant> params; // the literals' values, in order
};

// The SQLite form of `tokens` (ending with End; one trailing ';' allowed). Text comparisons with a
// literal ignore case, as the original engine's do. Raises automation::Error with the kind's
// syntax-error number for an unreadable token or a ';' before the end; `sql` is the statement
// as written, quoted in that error's description.
Translation translateData(std::span<const Token> tokens, std::string_view sql);

// The SELECT reading the whole table `table`.
Translation wholeTable(std::string_view table);

} // namespace engine::jet
