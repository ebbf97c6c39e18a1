#pragma once
// One page of an index B-tree: 0x04 leaf pages hold one entry per row, 0x03 node pages one entry
// per child page (the child's last entry).
//
//   offset  size  field
//   0       1     page type 0x03 node / 0x04 leaf
//   1       1     always 0x01
//   2       2     free space
//   4       4     owner: the table definition page
//   8       4     unknown
//   12      4     previous page at this level (0 = none)
//   16      4     next page at this level (0 = none)
//   20      4     tail leaf page
//   24      2     shared prefix length
//   26      1     unknown (0, sometimes 1)
//   27      453   entry bitmap: bit i (LSB first) set = an entry ends, and the next begins, at
//                 480 + i; the first entry begins at 480
//   480     ...   entries
//
// Entries after the first omit the first `prefix` bytes of the first entry. An entry is the
// key (per column: a flag byte and the encoded value), then the row pointer (page 3 bytes
// big-endian, row 1 byte), then on node pages the child page (4 bytes big-endian).

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/DataPage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace engine::jet4 {

// Offsets of the layout above, shared by the reader and the builder.
namespace indexpage {
inline constexpr std::size_t TypeOffset = 0;
inline constexpr std::size_t FreeSpaceOffset = 2;
inline constexpr std::size_t OwnerOffset = 4;
inline constexpr std::size_t PrevOffset = 12;
inline constexpr std::size_t NextOffset = 16;
inline constexpr std::size_t TailOffset = 20;
inline constexpr std::size_t PrefixOffset = 24;
inline constexpr std::size_t UnknownOffset = 26;
inline constexpr std::size_t BitmapOffset = 27;
inline constexpr std::size_t BitmapSize = 453;
inline constexpr std::size_t FirstEntryOffset = 480;
inline constexpr std::size_t RowPointerSize = 4;
inline constexpr std::size_t ChildPointerSize = 4;
} // namespace indexpage

inline constexpr std::uint8_t IndexNodePageType = 0x03;
inline constexpr std::uint8_t IndexLeafPageType = 0x04;

struct IndexEntry {
    std::string key; // the full key bytes, prefix restored, without row pointer and child
    RowLocation row;
    std::uint32_t child = 0; // node entries: the page below
};

struct IndexPage {
    std::uint32_t number = 0;
    bool leaf = true;
    std::uint32_t owner = 0, prev = 0, next = 0, tail = 0;
    std::uint8_t unknown = 0; // +26, written back as read
    std::uint16_t prefixLength = 0;
    std::vector<IndexEntry> entries;
    std::uint16_t freeSpace = 0;
};

// Reads index page `page`; FormatError for another page type, an entry past the page end, a
// prefix longer than the first entry or an entry too short for its pointers.
IndexPage readIndexPage(const PageFile& file, std::uint32_t page);

// The fields of index page `page` (its bytes `data`) but its entries, which stay empty;
// FormatError for another page type.
IndexPage readIndexPageHeader(const PageData& data, std::uint32_t page);

// Calls `visit` with each entry of index page `page` (its bytes `data`) in order, as stored with
// the shared prefix restored: the key, the row pointer, and on node pages the child page. The
// bytes are valid during the call only (one buffer serves every entry). FormatError as
// readIndexPage raises it.
void forEachIndexEntry(const PageData& data, std::uint32_t page,
                       const std::function<void(std::span<const std::uint8_t>)>& visit);

} // namespace engine::jet4
