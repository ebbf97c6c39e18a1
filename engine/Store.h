#pragma once
// One open database file, whatever its format, as the object model and the SQL front end see it:
// nested transaction levels, tables, columns and indexes described by Schema.h, and data
// statements that are each atomic. The object model never knows which format is underneath;
// open() picks the store from the file's first bytes.
//
// Every failure raises automation::Error with the engine's number and a Russian description
// that names the object concerned (3010 table exists, 3191 field defined twice, 3284 index
// exists, 3283 primary key exists, 3280 field is part of an index, 3022 duplicate values, 3265
// item not found, 3034 no transaction, 3003 too many transactions...). Nothing is left
// half-applied by a failing call.

#include "automation/Variant.h"
#include "engine/Schema.h"
#include "engine/sql/JetLexer.h"
#include "engine/sql/JetStatement.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine {

// Rows of a query, read completely before the call returns, so no query outlives the call that
// made it.
struct ResultSet {
    std::vector<std::string> columns;
    std::vector<FieldType> types; // one per column
    std::vector<std::vector<automation::Variant>> rows;
};

// A data statement (SELECT, INSERT, UPDATE, DELETE) as the SQL front end read it.
struct DataStatement {
    jet::StatementKind kind;
    std::span<const jet::Token> tokens; // ending with End
    std::string_view sql;               // as written, for error descriptions
};

class Store {
public:
    static constexpr int MaxLevels = 5;

    // Opens the existing database at `path`, for writing when the process may write it (and the
    // format can be written), else read-only; read-only whenever `readOnly` is set. Never
    // creates a file and writes nothing. Raises 3024 for a missing path, 3343 for a folder, a
    // damaged file or a format the engine does not read (naming it), 3031 for a database with a
    // password; a refused file is left byte for byte.
    static std::shared_ptr<Store> open(const std::string& path, bool readOnly = false);
    enum class Format {
        Sqlite, // the engine's SQLite store
        Jet4    // an Access 2000-2003 file
    };
    // Creates a new, empty database file of `format` at `path` and opens it. Raises 3204 when
    // anything already exists there, 3051 when the file cannot be made (nothing is left then).
    static std::shared_ptr<Store> create(const std::string& path, Format format = Format::Sqlite);

    // Rolls back every open level, then closes the file.
    virtual ~Store() = default;

    virtual const std::string& path() const = 0;
    virtual bool readOnly() const = 0;

    // Transaction levels: begin() opens one inside those open (3003 past MaxLevels); commit()
    // and rollback() end the innermost (3034 with none open). Rolling back the outermost level
    // writes nothing to the file.
    virtual int depth() const = 0;
    virtual void begin() = 0;
    virtual void commit() = 0;
    virtual void rollback() = 0;

    // Schema. Names match without regard to case; user tables only (no system ones).
    virtual std::vector<std::string> tableNames() const = 0;
    virtual std::optional<TableSchema> table(std::string_view name) const = 0;
    virtual void createTable(const TableSchema& table) = 0; // its indexes are created too
    virtual void dropTable(std::string_view table) = 0;
    virtual void addColumn(std::string_view table, const ColumnDef& column) = 0;
    virtual void dropColumn(std::string_view table, std::string_view column) = 0;
    virtual void createIndex(std::string_view table, const IndexDef& index) = 0;
    virtual void dropIndex(std::string_view table, std::string_view index) = 0;

    // Data. execute() runs INSERT, UPDATE or DELETE and returns the rows changed; select() runs
    // a SELECT; readTable() gives every row of a table; rowCount() counts them (3078 for an
    // unknown table in each).
    virtual int execute(const DataStatement& statement) = 0;
    virtual ResultSet select(const DataStatement& statement) const = 0;
    virtual ResultSet readTable(std::string_view table) const = 0;
    virtual std::int64_t rowCount(std::string_view table) const = 0;

protected:
    Store() = default;
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;
};

} // namespace engine
