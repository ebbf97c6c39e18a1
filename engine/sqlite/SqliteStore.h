#pragma once
// The store on SQLite files: nested transaction levels on savepoints, tables, columns and
// indexes as plain SQLite objects (with the properties SQLite cannot hold kept in the engine's
// own MSys table), and data statements translated into SQLite's SQL.

#include "engine/Store.h"

#include <functional>

struct sqlite3;

namespace engine {

class SqliteStore final : public Store {
public:
    // True when `header` (the file's first bytes) starts like an SQLite database.
    static bool recognizes(std::span<const unsigned char> header);

    // Opens the existing SQLite file at `path`, for writing when the process may write it, else
    // read-only; read-only whenever `readOnly` is set. Changes no setting stored in the file and
    // writes nothing. Raises 3024 for a missing path, 3343 for a folder or a file that is not an
    // SQLite database (the file left byte for byte as it was).
    static std::shared_ptr<SqliteStore> open(const std::string& path, bool readOnly = false);
    // Creates a new, empty SQLite database at `path` and opens it (3204, 3051 as Store::create).
    static std::shared_ptr<SqliteStore> create(const std::string& path);
    ~SqliteStore() override;

    const std::string& path() const override { return path_; }
    bool readOnly() const override { return readOnly_; }

    int depth() const override { return static_cast<int>(levels_); }
    void begin() override;
    void commit() override;
    void rollback() override;

    std::vector<std::string> tableNames() const override;
    std::optional<TableSchema> table(std::string_view name) const override;
    void createTable(const TableSchema& table) override;
    void dropTable(std::string_view table) override;
    void addColumn(std::string_view table, const ColumnDef& column) override;
    void dropColumn(std::string_view table, std::string_view column) override;
    void createIndex(std::string_view table, const IndexDef& index) override;
    void dropIndex(std::string_view table, std::string_view index) override;

    int execute(const DataStatement& statement) override;
    ResultSet select(const DataStatement& statement) const override;
    ResultSet readTable(std::string_view table) const override;
    std::int64_t rowCount(std::string_view table) const override;

    // Data in SQLite's own SQL with `?` parameters. execute() returns the rows changed.
    int execute(const std::string& sql, const std::vector<automation::Variant>& params = {});
    ResultSet query(const std::string& sql,
                    const std::vector<automation::Variant>& params = {}) const;

    // The raw handle, for the store's own modules and for tests.
    sqlite3* handle() const { return db_; }

private:
    SqliteStore(std::string path, sqlite3* db, bool readOnly);

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
