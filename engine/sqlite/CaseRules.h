#pragma once
// The engine's rule for case (Unicode simple case folding, automation/CaseFold.h) inside SQLite,
// whose own NOCASE and LIKE fold only A-Z: a collation, so that the SQLite store's comparisons
// (object names in sqlite_master, the engine's properties table, text compared with a literal)
// give the same answers as the object model and as the stores that evaluate queries themselves;
// and LIKE, which ignores case by the same rule.
//
// Both live on the connection only. The collation is named in queries, never in anything written
// to a file: schemas keep SQLite's own collations, so other programs still open, read and check
// every file.

struct sqlite3;

namespace engine {

// The collation's name, as written after COLLATE.
inline constexpr const char* FoldCollation = "FOLDCASE";

// Makes FoldCollation known on `db` and puts the folding LIKE (with and without ESCAPE, SQLite's
// % and _ otherwise unchanged) in place of SQLite's; returns SQLite's result code.
int registerCaseRules(sqlite3* db);

} // namespace engine
