#pragma once
// Index B-trees built in bulk from the rows of their table, as Access lays out an index it builds
// over existing rows, and put in place of the old tree. The store rebuilds every index whose keys
// a change touched, so this is also how indexes stay in step with the rows.
//
// The layout, as Access's own files show it:
//   - pages are filled in key order, leaves first, each with as many entries as fit sharing
//     their longest common prefix (the prefix may shrink as entries are added, so a page can
//     end with room to spare: Access's 510-entry leaf of compIndexTestV2000.mdb stops where the
//     next entry would cut the prefix from 3 bytes to 0);
//   - a page whose entries fit without a shared prefix keeps prefix length 0 even where they
//     share a start: every one-page index of the samples (749, compacted files included) and
//     the part-filled last leaves do; only a page that would overflow shares the longest prefix;
//   - the last leaf is the "tail": it hangs off the leaf before it by the sibling links and has
//     no node entry; the node page above the leaves names it at +20 (tail) instead. Every
//     multi-page index of the samples has this shape;
//   - node levels hold one entry per child (the last entry of the child's whole subtree and
//     the child's page), filled the same way, until one page is left: the root. The right-hand
//     page of each level holds the tail beneath it, so the entry leading to it is the index's
//     last entry, not the last one it lists (IndexTreeCheck.h states the rules a tree keeps).
//     Node pages carry 1 at +26, leaves 0; an index that fits one page is a single leaf, the
//     root;
//   - the leaves are linked from first to last; a node page only to its neighbours under the
//     same parent (so from three levels down, node pages under different parents are not
//     linked);
//   - pages are numbered root first, then each level below from left to right.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/index/IndexPage.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace engine::jet4 {

// A row whose key this system cannot write: the caller's change is refused with a message that
// names the column and, as the reason says, the sort order or the character.
class IndexKeyError : public std::runtime_error {
public:
    enum class Reason {
        SortOrder, // text in a sort order other than General (1033, version 0): sortOrder()
        Character, // text holding a character the key encoder does not know: character()
        LongValue, // Memo, OLE and Binary columns: their keys are not known with certainty
        Value,     // a value that does not fit its column's type
    };

    IndexKeyError(Reason reason, std::string column, RowLocation row, std::uint16_t sortOrder,
                  std::u16string text, char16_t character, const std::string& what)
        : std::runtime_error(what), reason_(reason), column_(std::move(column)), row_(row),
          sortOrder_(sortOrder), text_(std::move(text)), character_(character) {}

    Reason reason() const { return reason_; }
    const std::string& column() const { return column_; } // UTF-8
    RowLocation row() const { return row_; }
    std::uint16_t sortOrder() const { return sortOrder_; }
    const std::u16string& text() const { return text_; } // the text value, for text columns
    char16_t character() const { return character_; }    // Character: the unit not covered

private:
    Reason reason_;
    std::string column_;
    RowLocation row_;
    std::uint16_t sortOrder_;
    std::u16string text_;
    char16_t character_;
};

// Two rows with the same key in a unique index (Access's error 3022). Rows whose key columns are
// all Null never count as duplicates, as in Access.
class DuplicateKeyError : public std::runtime_error {
public:
    DuplicateKeyError(RowLocation first, RowLocation second, std::string key,
                      const std::string& what)
        : std::runtime_error(what), first_(first), second_(second), key_(std::move(key)) {}

    RowLocation first() const { return first_; }
    RowLocation second() const { return second_; }
    const std::string& key() const { return key_; } // the encoded key both rows have

private:
    RowLocation first_, second_;
    std::string key_;
};

// One leaf entry per live row of `definition`'s table for `index`: the row's key and location,
// in Access's order (key bytes, then the row pointer). Rows whose key columns are all Null are
// left out when the index ignores Nulls. IndexKeyError for the first row whose key cannot be
// encoded, DuplicateKeyError when a unique index would hold one key twice; FormatError from
// reading damaged rows.
std::vector<IndexEntry> indexEntriesFromRows(const PageFile& file,
                                             const TableDefinition& definition,
                                             const PhysicalIndex& index);

// The shape of a tree: levels[0] the leaves, each level above the nodes over the one below, the
// last level the root alone. Node entries' `child` is the child's position in the level below;
// `number`, links and the owner are not set yet (see placeIndex).
struct IndexLayout {
    std::vector<std::vector<IndexPage>> levels;

    std::size_t pageCount() const;
};

// The tree Access builds in bulk for `entries` (in order); an empty index is one empty leaf.
// std::length_error for an entry too long for any page.
IndexLayout layoutIndex(std::span<const IndexEntry> entries);

// The pages of `layout` numbered from `numbers` (layout.pageCount() of them, root first, then
// each level below from left to right), owned by table `owner`: children, sibling links, the
// tail and the byte at +26 filled in. Returned in numbering order, ready for buildIndexPage.
std::vector<IndexPage> placeIndex(const IndexLayout& layout, std::uint32_t owner,
                                  std::span<const std::uint32_t> numbers);

// Rebuilds physical index number `physicalIndex` (its position in `definition`) from the rows,
// inside the caller's transaction level. The index's current pages are reused first (the root
// first, then the others in page order), then pages are added at the end of the file (taken in
// the global free-page map and added to the index's usage map); pages no longer needed are
// cleared, removed from the index's map and marked free. The definition's root page and count of
// distinct keys are brought up to date in `definition` and its pages rewritten when they change.
// Memory stays the same whatever the table's size: only the key columns of each row are decoded,
// and past 1 MiB the entries are sorted in runs written to an unnamed file beside the database
// (as SpillFile.h makes them) and merged once; the leaves are laid out as the merged entries go
// by and kept, without their sibling links, in that file until the page numbers are known,
// giving the pages layoutIndex and placeIndex give. Raises what indexEntriesFromRows raises
// before writing anything;
// std::length_error when a usage map cannot record a page (see PageAllocator.h); PageFile's and
// the run file's std::system_error otherwise (the caller rolls the level back).
void rebuildIndex(PageFile& file, TableDefinition& definition, std::size_t physicalIndex);

} // namespace engine::jet4
