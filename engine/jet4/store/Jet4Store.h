#pragma once
// The store on Access 2000-2003 (Jet 4) files: tables, columns (with their Required and
// AllowZeroLength properties) and indexes as the file describes them, SELECT and whole-table
// reads streamed page by page; UPDATE, DELETE and INSERT on the rows of existing user tables;
// tables created (with their catalog rows) and dropped, columns added and dropped, and indexes
// built from the rows and dropped, all laid out as Access lays them out (SchemaWriter.h,
// CatalogWriter.h).
//
// Transaction levels are the page file's levels (PageFile.h), opened once the first change needs
// them: until then a level only counts, so reading never locks or copies the file. Each change
// runs in a level of its own inside the open ones, committed when it succeeds and rolled back
// when it fails, so a failing change leaves nothing behind; outside any level that commit puts
// the change in the file. The indexes whose keys a statement touched are rebuilt from the rows
// before its level commits.
//
// Refused before a byte is written: changes to system and linked tables (3027), to a read-only
// file (3027), any change that would write a text index key in a sort order other than General
// (3251, naming the sort order; a new table always does: the catalog's index over names), and
// dropping a table or an index in a relationship (3303). A fault found in the file's structure is
// raised as 3049 naming the page; a lock held by another program as 3260; a failing disk operation
// as 3051.

#include "engine/Store.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/sql/Select.h"

#include <functional>
#include <set>

namespace engine {

class Jet4Store final : public Store {
public:
    // Opens the Jet 4 file at `path` (its first page already recognised as Jet 4), read-only when
    // `readOnly` is set or the process may not write the file or its folder. Raises 3031 for a
    // database with a password, 3049 for a damaged file, 3051 when it cannot be read.
    static std::shared_ptr<Jet4Store> open(const std::string& path, bool readOnly = false);

    const std::string& path() const override { return path_; }
    bool readOnly() const override { return readOnly_; }

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
    // The definition at `page`; 3049 when damaged.
    jet4::TableDefinition definitionAt(std::uint32_t page) const;
    // Checks the B-trees of `t`'s indexes (IndexTreeCheck.h) the first time a transaction changes
    // the table; 3049 naming the page when one is broken.
    void verifyIndexes(const jet4::TableDefinition& t);
    // Reads the catalog again after a schema change, kept or undone.
    void reloadCatalog();
    // Runs `change` of `table`'s schema atomically as a data statement runs, mapping its faults
    // to the engine's errors, then reads the catalog again.
    int changeSchema(const std::string& table, const std::function<void()>& change);
    // Opens the page file's levels up to the store's own, the first time a change needs them.
    void openLevels();
    // Runs `change` in a page-file level of its own inside the open ones, committing it (and, at
    // depth 0, the file) when it returns and rolling it back when it raises; returns its result.
    int atomically(const std::function<int()>& change);

    std::string path_;
    std::unique_ptr<jet4::PageFile> file_;
    jet4::DatabaseHeader header_{};
    std::vector<jet4::CatalogEntry> catalog_;
    int levels_ = 0;
    bool readOnly_ = true;
    std::set<std::uint32_t> verified_; // tables whose indexes this transaction has checked
};

} // namespace engine
