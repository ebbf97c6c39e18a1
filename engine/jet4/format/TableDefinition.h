#pragma once
// A table definition ("tdef"): pages of type 0x02 chained by the next-page pointer at +4, the
// definition continuing at +8 of each continuation page. Offsets below are into the definition
// with the continuation pages' first 8 bytes removed.
//
//   offset  size  field
//   0       1     page type 0x02
//   1       1     always 0x01
//   2       2     free space
//   4       4     next definition page (0 = last)
//   8       4     length of the whole definition (continuation headers removed, the end
//                 marker included)
//   12      4     always 0x0659
//   16      4     row count (kept up to date on insert and delete, but rows are found by scan)
//   20      4     next autonumber value
//   24      16    unknown: 0x01, then leftovers that differ from table to table
//   40      1     table type: 0x4E user, 0x53 system
//   41      2     highest column count a row has had (dropped columns included)
//   43      2     variable-column slots a row carries (dropped columns included)
//   45      2     live column count
//   47      4     logical index count
//   51      4     physical index count
//   55      4     owned-pages usage map (row pointer)
//   59      4     pages-with-free-space usage map (row pointer)
//   63            12 bytes per physical index: unknown 4, row count 4, zero 4
//   then          25 bytes per column:
//                   0 type, 1 always 0x0659, 5 column number (never reused), 7 variable
//                   slot, 9 unknown 2, 11 sort order (every type but Numeric)
//                   or precision (Numeric), 12 scale, 14 sort order version, 15 flags
//                   (0x01 fixed length, 0x04 autonumber, 0x40 GUID autonumber, 0x80 hyperlink),
//                   16 extra flags (0x01 compressed text), 21 offset in the fixed area
//                   (leftovers on variable columns), 23 length
//   then          column names: 2-byte byte length + UTF-16LE, in column order
//   then          52 bytes per physical index:
//                   0 always 0x0783; 4 ten key columns of (column number 2, 0xFFFF = none;
//                   order 1, 0x01 = ascending; leftovers on unused ones); 34 usage map row
//                   pointer; 38 first (root) page; 42 unknown 4; 46 flags (0x01 unique, 0x02
//                   ignore nulls, 0x08 required); 47 zero 5
//   then          28 bytes per logical index:
//                   0 always 0x0659, 4 index number, 8 physical index number, 12 related table's
//                   role, 13 related index number, 17 related table page, 21 cascade updates,
//                   22 cascade deletes (0x02: set null), 23 type (1 primary key, 2 foreign key)
//   then          logical index names: 2-byte byte length + UTF-16LE
//   then          per memo/OLE column, until column number 0xFFFF or the end: column number 2,
//                 owned-pages map 4, free-space map 4 (row pointers); then 0xFFFF
//
// The page's free space (+2) is 4096 - 8 - the bytes used on it (header included), 0 when
// full; the first page is filled to its last byte before a continuation page is used.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Value.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace engine::jet4 {

// Offsets of the layout above, shared by the reader and the encoder.
namespace tdef {

inline constexpr std::size_t TypeOffset = 0;
inline constexpr std::size_t NextPageOffset = 4;
inline constexpr std::size_t ContinuationOffset = 8;
inline constexpr std::size_t LengthOffset = 8;
inline constexpr std::size_t MagicOffset = 12;
inline constexpr std::size_t RowCountOffset = 16;
inline constexpr std::size_t AutonumberOffset = 20;
inline constexpr std::size_t HeaderUnknownOffset = 24;
inline constexpr std::size_t HeaderUnknownSize = 16;
inline constexpr std::size_t TableTypeOffset = 40;
inline constexpr std::size_t MaxColumnsOffset = 41;
inline constexpr std::size_t VariableSlotsOffset = 43;
inline constexpr std::size_t ColumnCountOffset = 45;
inline constexpr std::size_t LogicalIndexCountOffset = 47;
inline constexpr std::size_t PhysicalIndexCountOffset = 51;
inline constexpr std::size_t OwnedPagesOffset = 55;
inline constexpr std::size_t FreePagesOffset = 59;
inline constexpr std::size_t HeaderSize = 63;

inline constexpr std::size_t PhysicalIndexHeaderSize = 12;
inline constexpr std::size_t PhysicalIndexUnknownOffset = 0;
inline constexpr std::size_t PhysicalIndexRowCountOffset = 4;

inline constexpr std::size_t ColumnSize = 25;
inline constexpr std::size_t ColumnTypeOffset = 0;
inline constexpr std::size_t ColumnMagicOffset = 1;
inline constexpr std::size_t ColumnNumberOffset = 5;
inline constexpr std::size_t ColumnSlotOffset = 7;
inline constexpr std::size_t ColumnUnknownOffset = 9;
inline constexpr std::size_t ColumnSortOrderOffset = 11;
inline constexpr std::size_t ColumnPrecisionOffset = 11;
inline constexpr std::size_t ColumnScaleOffset = 12;
inline constexpr std::size_t ColumnSortVersionOffset = 14;
inline constexpr std::size_t ColumnFlagsOffset = 15;
inline constexpr std::size_t ColumnExtraFlagsOffset = 16;
inline constexpr std::size_t ColumnFixedOffsetOffset = 21;
inline constexpr std::size_t ColumnLengthOffset = 23;

inline constexpr std::size_t PhysicalIndexSize = 52;
inline constexpr std::size_t IndexMagicOffset = 0;
inline constexpr std::size_t IndexKeyColumnsOffset = 4;
inline constexpr std::size_t IndexKeyColumnSize = 3;
inline constexpr std::size_t IndexMaxKeyColumns = 10;
inline constexpr std::size_t IndexUsageMapOffset = 34;
inline constexpr std::size_t IndexRootPageOffset = 38;
inline constexpr std::size_t IndexUnknownOffset = 42;
inline constexpr std::size_t IndexFlagsOffset = 46;
inline constexpr std::uint16_t NoColumn = 0xFFFF;
inline constexpr std::uint8_t AscendingOrder = 0x01;

inline constexpr std::size_t LogicalIndexSize = 28;
inline constexpr std::size_t LogicalMagicOffset = 0;
inline constexpr std::size_t LogicalNumberOffset = 4;
inline constexpr std::size_t LogicalPhysicalOffset = 8;
inline constexpr std::size_t LogicalRelatedRoleOffset = 12;
inline constexpr std::size_t LogicalRelatedIndexOffset = 13;
inline constexpr std::size_t LogicalRelatedPageOffset = 17;
inline constexpr std::size_t LogicalCascadeUpdatesOffset = 21;
inline constexpr std::size_t LogicalCascadeDeletesOffset = 22;
inline constexpr std::size_t LogicalTypeOffset = 23;

inline constexpr std::size_t LongValueMapSize = 10;
inline constexpr std::size_t LongValueOwnedOffset = 2;
inline constexpr std::size_t LongValueFreeOffset = 6;
inline constexpr std::uint16_t EndOfLongValueMaps = 0xFFFF;
// Constants Access writes where the layout above says "unknown".
inline constexpr std::uint32_t TableMagic = 0x0659;
inline constexpr std::uint32_t IndexMagic = 0x0783;

} // namespace tdef

inline constexpr std::uint8_t TableDefinitionPageType = 0x02;
inline constexpr std::uint8_t UserTableType = 0x4E;
inline constexpr std::uint8_t SystemTableType = 0x53;

struct ColumnDefinition {
    static constexpr std::uint8_t FixedLengthFlag = 0x01;
    static constexpr std::uint8_t AutonumberFlag = 0x04;
    static constexpr std::uint8_t GuidAutonumberFlag = 0x40;
    static constexpr std::uint8_t HyperlinkFlag = 0x80;

    std::u16string wideName;
    std::string name;                     // UTF-8
    ColumnType type = ColumnType::Binary; // the stored type byte, possibly not a known type
    std::uint16_t number = 0;             // null-mask bit; stays after other columns are dropped
    std::uint16_t variableSlot = 0;       // variable columns: slot in the row's offset table
    std::uint16_t fixedOffset = 0;        // fixed columns: offset in the row's fixed area
    std::uint16_t length = 0;
    std::uint8_t flags = 0;
    std::uint8_t extraFlags = 0;
    std::uint16_t sortOrder = 0; // Text/Memo: 1033 = General
    std::uint8_t sortVersion = 0;
    std::uint8_t precision = 0; // Numeric
    std::uint8_t scale = 0;     // Numeric
    std::uint16_t unknown = 0;  // descriptor +9, written back as read

    bool isFixed() const { return (flags & FixedLengthFlag) != 0; }
};

struct IndexColumn {
    std::uint16_t columnNumber = 0;
    bool ascending = true;
};

struct PhysicalIndex {
    static constexpr std::uint8_t UniqueFlag = 0x01;
    static constexpr std::uint8_t IgnoreNullsFlag = 0x02;
    static constexpr std::uint8_t RequiredFlag = 0x08;

    std::uint32_t number = 0; // position among the physical indexes
    std::uint32_t rowCount = 0;
    std::vector<IndexColumn> columns; // 1 to 10 key columns
    std::uint32_t usageMap = 0;       // row pointer
    std::uint32_t rootPage = 0;
    std::uint8_t flags = 0;
    // Bytes the layout does not explain, written back as read: the header's first 4 bytes,
    // the definition's 4 bytes at +42, and the order bytes of the unused key columns.
    std::uint32_t unknownHeader = 0;
    std::uint32_t unknown = 0;
    std::array<std::uint8_t, tdef::IndexMaxKeyColumns> unusedOrder{};
};

struct LogicalIndex {
    static constexpr std::uint8_t PrimaryKeyType = 1;
    static constexpr std::uint8_t ForeignKeyType = 2;

    std::u16string wideName;
    std::string name;
    std::uint32_t number = 0;
    std::uint32_t physicalIndex = 0;
    std::uint8_t type = 0;
    // Foreign keys: the other side of the relationship.
    std::uint8_t relatedTableRole = 0;
    std::uint32_t relatedIndex = 0xFFFFFFFF;
    std::uint32_t relatedTablePage = 0;
    std::uint8_t cascadeUpdates = 0;
    std::uint8_t cascadeDeletes = 0;
};

// The usage maps of one memo/OLE column.
struct LongValueMaps {
    std::uint16_t columnNumber = 0;
    std::uint32_t ownedPages = 0; // row pointers
    std::uint32_t freePages = 0;
};

struct TableDefinition {
    std::uint32_t page = 0;           // first definition page: the table's object id
    std::vector<std::uint32_t> pages; // the whole chain, first page first
    std::uint32_t rowCount = 0;
    std::uint32_t autonumber = 0;
    std::uint8_t tableType = 0;
    // Header bytes 24-39, written back as read.
    std::array<std::uint8_t, tdef::HeaderUnknownSize> unknown{1};
    std::uint16_t maxColumns = 0;
    std::uint16_t variableSlots = 0;
    std::uint16_t columnCount = 0;
    std::uint32_t logicalIndexCount = 0;
    std::uint32_t physicalIndexCount = 0;
    std::uint32_t ownedPages = 0; // row pointers to usage maps
    std::uint32_t freePages = 0;
    std::vector<ColumnDefinition> columns; // stored order
    std::vector<PhysicalIndex> physicalIndexes;
    std::vector<LogicalIndex> logicalIndexes;
    std::vector<LongValueMaps> longValueMaps;

    // The column named `name` (UTF-8, exact), or nullptr.
    const ColumnDefinition* column(std::string_view name) const;
};

// Reads the definition starting at `page`; FormatError for a page of another type, a chain that
// loops or leaves the file, and any count or length that does not fit the definition.
TableDefinition readTableDefinition(const PageFile& file, std::uint32_t page);

} // namespace engine::jet4
