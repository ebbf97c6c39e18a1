#pragma once
// Tables, columns and indexes created and changed as Access changes them, inside the caller's
// transaction level (on an exception the caller rolls the level back). The catalog rows that
// name a table are CatalogWriter's.
//
// What Access's files show and these functions repeat:
//   - a new table takes a definition page (its object id), then a page of usage-map rows owned by
//     no table: the table's owned pages (row 0), its pages with free space (row 1), then one
//     row per index and two per memo/OLE column, all inline maps of 64 bytes. It has no data or
//     index page until rows and indexes need them;
//   - a new column gets the next column number (never reused), the next variable slot or the end
//     of the fixed area; rows are not rewritten: rows written before read it as Null;
//   - a dropped column leaves the definition only: the other columns keep their numbers, slots
//     and offsets, the highest column count and the slot count stay, rows keep their bytes;
//   - a dropped index leaves the definition, and so does its tree unless another logical index
//     shares it; a dropped table's pages are all marked free;
//   - a new index is a physical index (flags 0x80 with unique 0x01, ignore nulls 0x02 and
//     required 0x08) and a logical one naming it (type 1 for a primary key), built from the rows.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/Value.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace engine::jet4 {

// Writes `definition` over its pages. When it needs more pages than it has, new ones are added at
// the file's end and chained; pages it no longer needs are cleared and marked free.
// `definition.pages` is brought up to date.
void writeTableDefinition(PageFile& file, TableDefinition& definition);

// A new, empty inline usage-map row: on the page that holds the row `near` points at when that
// page has room for it, else on a new page owned by no table. Returns its row pointer.
std::uint32_t addUsageMapRow(PageFile& file, std::optional<std::uint32_t> near = std::nullopt);

struct NewColumn {
    std::u16string name;
    ColumnType type = ColumnType::Text;
    std::uint16_t length = 0; // bytes; Text: 2 per character; Memo and OLE: 0
    std::uint16_t sortOrder = 1033;
    std::uint8_t sortVersion = 0;
    bool compressed = true; // Text and Memo: Unicode compression
};

// The stored length of a fixed-length column of `type` (Boolean: 1, kept in the null mask).
std::uint16_t fixedLength(ColumnType type);

// Creates a user table of `columns` with no rows and no index; returns its definition, whose
// `page` is the table's object id.
TableDefinition createTable(PageFile& file, const std::vector<NewColumn>& columns);

// Adds `column` to the table and rewrites its definition.
void addColumn(PageFile& file, TableDefinition& definition, const NewColumn& column);

// Removes the column at `position` in `definition.columns` and rewrites the definition.
void removeColumn(PageFile& file, TableDefinition& definition, std::size_t position);

struct NewIndex {
    std::u16string name;
    std::vector<IndexColumn> columns; // 1 to 10
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
};

// Adds `index` to the table and builds it from the rows (see IndexBuilder.h for what that
// raises before anything is written to the tree).
void addIndex(PageFile& file, TableDefinition& definition, const NewIndex& index);

// Removes the logical index at `position` in `definition.logicalIndexes`, and its physical index
// when no other logical index shares it: that tree's pages are cleared and marked free, and the
// later physical indexes move up one number. The definition is rewritten.
void removeIndex(PageFile& file, TableDefinition& definition, std::size_t position);

// Clears and marks free every page of the table: its data pages, its long values', its indexes',
// the type-0x05 pages of its reference maps and its definition's. The map rows stay where they
// are, unused.
void freeTablePages(PageFile& file, const TableDefinition& definition);

} // namespace engine::jet4
