#pragma once
// The store on Access 2000-2003 (Jet 4) files, read-only for now: tables, columns (with their
// Required and AllowZeroLength properties) and indexes as the file describes them, SELECT and
// whole-table reads streamed page by page, and transaction levels that count but have nothing to
// undo. Every change is refused before a byte is written.
//
// A fault found in the file's structure is raised as 3049 (damaged file) naming the page; the
// file is never written, whatever happens.

#include "engine/Store.h"
#include "engine/jet4/Catalog.h"
#include "engine/jet4/Header.h"
#include "engine/jet4/PageFile.h"
#include "engine/jet4/TableDefinition.h"
#include "engine/sql/Select.h"

namespace engine {

class Jet4Store final : public Store {
public:
    // Opens the Jet 4 file at `path` (its first page already recognised as Jet 4). Raises 3031
    // for a database with a password, 3049 for a damaged file, 3051 when it cannot be read.
    static std::shared_ptr<Jet4Store> open(const std::string& path);

    const std::string& path() const override { return path_; }
    bool readOnly() const override { return true; }

    int depth() const override { return levels_; }
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

    const jet4::DatabaseHeader& header() const { return header_; }

private:
    Jet4Store(std::string path, std::unique_ptr<jet4::PageFile> file);

    // The catalog entry of the table called `name` (any table, system ones included, since a
    // query may read them); nothing when there is none.
    const jet4::CatalogEntry* findTable(std::string_view name) const;
    // The definition of the table called `name`; 3078 when there is none, 3049 when damaged.
    jet4::TableDefinition definitionOf(std::string_view name) const;
    // Every row of `table` whose values satisfy `where`, with the columns `columns` (all the
    // table's columns when empty).
    ResultSet read(std::string_view table, const std::vector<std::string>& columns,
                   const jet::Condition* where) const;
    // Refuses a change: this format is only read so far.
    [[noreturn]] void refuseChange() const;

    std::string path_;
    std::unique_ptr<jet4::PageFile> file_;
    jet4::DatabaseHeader header_{};
    std::vector<jet4::CatalogEntry> catalog_;
    int levels_ = 0;
};

} // namespace engine
