#pragma once
// One open SQLite database file, seen through the engine's rules: nested transaction levels on
// savepoints, tables, columns and indexes described by Schema.h (with the properties SQLite
// cannot hold kept in the engine's own MSys table), and statements that are each atomic.
//
// Every failure raises automation::Error with the engine's number and a Russian description
// that names the object concerned (3010 table exists, 3191 field defined twice, 3284 index
// exists, 3283 primary key exists, 3280 field is part of an index, 3022 duplicate values, 3265
// item not found, 3034 no transaction, 3003 too many transactions...). Nothing is left
// half-applied by a failing call.

#include "automation/Variant.h"
#include "engine/Schema.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace engine {

// Rows of a query, read completely before the query's statement is finalised, so no statement
// outlives the call that made it.
struct ResultSet {
    std::vector<std::string> columns;
    std::vector<FieldType> types; // one per column, derived from its declared type
    std::vector<std::vector<automation::Variant>> rows;
};

class Store {
public:
    static constexpr int MaxLevels = 5;

    // Opens the existing SQLite file at `path`, for writing when the process may write it, else
    // read-only. Never creates a file, changes no setting stored in it and writes nothing.
    // Raises 3024 for a missing path, 3343 for a folder or a file that is not an SQLite
    // database (the file left byte for byte as it was).
    static std::shared_ptr<Store> open(const std::string& path);
    // Creates a new, empty database file at `path` and opens it. Raises 3204 when anything
    // already exists there, 3051 when the file cannot be made.
    static std::shared_ptr<Store> create(const std::string& path);
    // As open(path), but read-only whenever `readOnly` is set, whatever the file permits.
    static std::shared_ptr<Store> open(const std::string& path, bool readOnly);
    // Rolls back every open level, then closes the file.
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    const std::string& path() const { return path_; }
    bool readOnly() const { return readOnly_; }

    // Transaction levels: begin() opens one inside those open (3003 past MaxLevels); commit()
    // and rollback() end the innermost (3034 with none open). Rolling back the outermost level
    // writes nothing to the file.
    int depth() const { return static_cast<int>(levels_); }
    void begin();
    void commit();
    void rollback();

    // Schema. Names match without regard to case; user tables only (no sqlite_ or MSys ones).
    std::vector<std::string> tableNames() const;
    std::optional<TableSchema> table(std::string_view name) const;
    void createTable(const TableSchema& table); // its indexes are created too
    void dropTable(std::string_view table);
    void addColumn(std::string_view table, const ColumnDef& column);
    void dropColumn(std::string_view table, std::string_view column);
    void createIndex(std::string_view table, const IndexDef& index);
    void dropIndex(std::string_view table, std::string_view index);

    // Data, in SQLite's own SQL with `?` parameters. execute() returns the rows changed.
    int execute(const std::string& sql, const std::vector<automation::Variant>& params = {});
    ResultSet query(const std::string& sql,
                    const std::vector<automation::Variant>& params = {}) const;

    // The raw handle, for the engine's own modules only.
    sqlite3* handle() const { return db_; }

private:
    Store(std::string path, sqlite3* db, bool readOnly);

    // Raises an engine error naming `action` while levels are open but SQLite has abandoned
    // their transaction; only rollback() is allowed then.
    void requireLiveTransaction(const std::string& action) const;
    // Raises 3027 naming `action` when the file was opened read-only.
    void requireWritable(const std::string& action) const;
    // Runs `body` as one change: in a savepoint inside an open level, otherwise in a
    // transaction of its own; everything it did is undone when it raises.
    void atomically(const std::string& action, const std::function<void()>& body);
    // Creates `index` on the existing table described by `table` (inside atomically()).
    void addIndexTo(const TableSchema& table, const IndexDef& index);

    std::string path_;
    sqlite3* db_ = nullptr;
    bool readOnly_ = false;
    unsigned levels_ = 0;
    int folder_ = -1; // the open folder a too-long path is reached through, else -1
};

} // namespace engine
