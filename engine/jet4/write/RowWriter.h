#pragma once
// Rows of an existing table inserted, updated and deleted as Access does it, keeping the data
// pages, long values, the table's usage maps, the global free-page map and the stored row count
// in step. Every change goes through PageFile writes inside the caller's transaction level; on
// an exception the caller rolls the level back (the file may be half changed before that).
// Indexes are not touched: the caller knows from these calls which rows changed (inserted at
// the returned location, updated or deleted at the given one) and rebuilds the indexes whose
// keys changed.
//
// Where rows go:
//   - a new row (or a row image that left its page) goes on the table's last page listed with
//     free space when it fits there; otherwise that page leaves the free-space map and a new
//     page, appended at the file's end, joins both maps;
//   - an updated row is rewritten in its slot when its page can hold the new image (the page's
//     other rows move, slots keep their numbers); otherwise the image goes elsewhere flagged
//     0x8000 and the row's own slot, keeping its bytes, is flagged 0x4000 with the image's
//     location in its first 4 bytes. A row that already points elsewhere is rewritten where its
//     image is, or moved again, its old image then deleted: readers that take 0x8000 slots for
//     rows would otherwise show it twice;
//   - a deleted row's slot (and its image's) is flagged 0xC000 and its bytes reclaimed; its page
//     is listed with free space again. Empty pages stay the table's.
// Memo and OLE values too long for the row are written first, one long-value row when they fit
// a page (on the column's last page with free space, or a new one), else a chain of rows of
// 4072-byte parts on new pages, in page order; those pages are in the column's owned-pages map.
// A deleted or replaced value's long-value rows are deleted (0xC000): nothing else refers to
// them, and their pages can then take new values.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/Value.h"

#include <cstddef>
#include <list>
#include <string_view>
#include <utility>
#include <vector>

namespace engine::jet4 {

// The largest row written (Access refuses longer records; a page could hold 4080 bytes).
inline constexpr std::size_t MaxRowSize = 4060;
// The largest long-value row: Access fills a long-value page to 4 bytes short of its end.
inline constexpr std::size_t MaxLongValueRowSize = 4076;

// Adds a row of `values` (one per column, as encodeRow takes them) to `definition`'s table and
// returns where it is; the stored row count (and definition.rowCount) goes up by one.
// std::invalid_argument for values that do not fit their columns and std::length_error for a
// row longer than MaxRowSize, both before anything is written; FormatError for damaged pages.
RowLocation insertRow(PageFile& file, TableDefinition& definition,
                      const std::vector<Value>& values);

// Replaces the values of the row at `location` (where the table scan reports it: its own slot,
// even when its image lives elsewhere), which keeps that location. Errors as insertRow;
// std::invalid_argument when `location` holds no row of the table.
void updateRow(PageFile& file, TableDefinition& definition, RowLocation location,
               const std::vector<Value>& values);

// The same values written into many rows of one table, the rows given in the order a table scan
// meets them: the file ends as updateRow called for each row in turn leaves it, but every column
// not changed keeps its stored bytes (text as it was compressed, long values where they are),
// and the page whose rows are being changed and the page receiving the images that leave their
// pages are held in memory and written once each, rather than read, checked and written again
// for every row. A row whose image already lives elsewhere, and every row when a Memo or OLE
// column changes, goes through updateRow (the pages held are written first). Nothing else may
// read or change the table's pages between the first update and finish(); pages still held when
// the object is destroyed without finish() (after a refusal or failure, when the caller rolls
// its level back) are dropped.
class RowUpdates {
public:
    // `changes`: the position of each changed column in `definition.columns` and its new value.
    RowUpdates(PageFile& file, TableDefinition& definition,
               std::vector<std::pair<std::size_t, Value>> changes);
    ~RowUpdates();
    RowUpdates(const RowUpdates&) = delete;
    RowUpdates& operator=(const RowUpdates&) = delete;

    // Changes the row the scan reports at `location`; errors as updateRow.
    void update(RowLocation location);
    // Writes the pages still held.
    void finish();

private:
    struct Held;

    Held* find(std::uint32_t page);
    Held& hold(const DataPage& page);
    void release(std::uint32_t page);
    void fallBack(RowLocation location);
    RowLocation place(std::string_view bytes);

    PageFile& file_;
    TableDefinition& definition_;
    std::vector<std::pair<std::size_t, Value>> changes_;
    std::vector<const Value*> changed_; // by column position: the new value, or null
    bool longValues_;                   // a Memo or OLE column changes
    std::list<Held> held_;     // at most two: the page changed and the page receiving images
    std::uint32_t source_ = 0; // page numbers; 0 for none (page 0 is never a data page)
    std::uint32_t target_ = 0;
};

// Deletes the row at `location` with its image and long values; the stored row count goes down
// by one. std::invalid_argument when `location` holds no row of the table.
void deleteRow(PageFile& file, TableDefinition& definition, RowLocation location);

} // namespace engine::jet4
