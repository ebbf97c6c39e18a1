#pragma once
// What SQLite cannot hold about a table's columns and indexes (Required on an added column,
// AllowZeroLength, an index's Primary, Required, IgnoreNulls and Clustered), kept in the
// engine's own table MSysEngineProperties. The "MSys" prefix keeps it out of every table list,
// as the original engine's system tables were. Names match without regard to case.

#include <set>
#include <string>
#include <string_view>

struct sqlite3;

namespace engine {

// The object kinds a property belongs to.
inline constexpr std::string_view ColumnKind = "column";
inline constexpr std::string_view IndexKind = "index";

// What the engine keeps in its own table, for one user table: "kind/name/property" keys whose
// value is true.
class Properties {
public:
    // True when the engine's table exists in `db`.
    static bool tableExists(sqlite3* db);
    // Everything kept for `table`; nothing when the engine's table does not exist.
    static Properties read(sqlite3* db, const std::string& table);
    // True when `property` of the object `kind`/`name` is kept as true.
    bool has(std::string_view kind, std::string_view name, std::string_view property) const;
    // Records `property` of an object; only true values are kept, so a database whose objects
    // need nothing beyond SQLite never gets the engine's table.
    static void set(sqlite3* db, const std::string& table, std::string_view kind,
                    const std::string& name, std::string_view property, bool value);
    // Forgets everything about one object (`kind` and `name` given) or a whole table.
    static void forget(sqlite3* db, const std::string& table, std::string_view kind = {},
                       const std::string& name = {});

private:
    static std::string key(std::string_view kind, std::string_view name, std::string_view property);
    std::set<std::string> keys_;
};

} // namespace engine
