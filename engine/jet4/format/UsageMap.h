#pragma once
// Usage maps: which pages belong to something (a table's rows, its pages with free space, an
// index, a long-value column) or, for the global map at page 1 row 0, which pages are free.
// A map is one row on a data page, reached through a row pointer, in one of two kinds:
//
//   inline (first byte 0x00)          reference (first byte 0x01)
//   offset size  field                offset size  field
//   0      1     0x00                 0      1     0x01
//   1      4     first page covered   1      4*n   map pages (0 = none), each of type 0x05:
//   5      ...   bitmap: bit i (LSB        offset 0 type 0x05, 1 always 0x01, 2 unknown (2),
//                first) = page first + i   4 bitmap of 4092*8 pages; map page k covers the
//                                          pages from k * 32736
//
// A set bit means the page is in the set (owned; for the global map: free). The global map also
// sets the bits of pages past the end of the file.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/DataPage.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace engine::jet4 {

enum class UsageMapKind : std::uint8_t { Inline = 0x00, Reference = 0x01 };

// Offsets of the layout above, shared by the reader and the encoder.
namespace usagemap {
inline constexpr std::size_t KindOffset = 0;
inline constexpr std::size_t InlineFirstPageOffset = 1;
inline constexpr std::size_t InlineBitmapOffset = 5;
inline constexpr std::size_t ReferenceListOffset = 1;
inline constexpr std::size_t MapPageBitmapOffset = 4;
} // namespace usagemap

inline constexpr std::uint8_t UsageMapPageType = 0x05;
inline constexpr std::uint32_t PagesPerMapPage = 4092 * 8;
// Where the global free-page map lives.
inline constexpr std::uint32_t GlobalUsageMapPointer = 1 << 8; // page 1, row 0

struct UsageMap {
    RowLocation location; // the map's own row
    UsageMapKind kind = UsageMapKind::Inline;
    std::uint32_t firstPage = 0;         // inline: the page bit 0 stands for
    std::vector<std::uint32_t> mapPages; // reference: the type-0x05 pages, 0 where none
    std::vector<std::uint32_t> pages;    // every page whose bit is set, ascending
};

// Decodes the map that `rowPointer` (row in the low byte, page above) designates; FormatError for
// a pointer to a missing row, an unknown kind, or a map page that is not of type 0x05.
UsageMap readUsageMap(const PageFile& file, std::uint32_t rowPointer);

} // namespace engine::jet4
