#include "engine/jet4/format/TableDefinitionEncoder.h"

#include "engine/jet4/format/EncoderBytes.h"

#include <algorithm>
#include <stdexcept>

namespace engine::jet4 {

using namespace tdef;

namespace {

// Continuation pages carry the same 8-byte header as the first page, then the definition.
constexpr std::size_t PageHeaderSize = ContinuationOffset;
constexpr std::size_t FirstPageCapacity = PageFile::PageSize;
constexpr std::size_t ContinuationCapacity = PageFile::PageSize - PageHeaderSize;
// Access counts 8 bytes fewer free than the page leaves.
constexpr std::size_t FreeSpaceReserve = 8;
constexpr std::size_t PageFlagOffset = 1;
constexpr std::uint8_t PageFlag = 0x01;
constexpr std::size_t FreeSpaceOffset = 2;
constexpr std::uint8_t DescendingOrder = 0x00;

void columnDescriptor(std::span<std::uint8_t> d, const ColumnDefinition& c) {
    putU8(d, ColumnTypeOffset, static_cast<std::uint8_t>(c.type));
    putU32(d, ColumnMagicOffset, TableMagic);
    putU16(d, ColumnNumberOffset, c.number);
    putU16(d, ColumnSlotOffset, c.variableSlot);
    putU16(d, ColumnUnknownOffset, c.unknown);
    if (c.type == ColumnType::Numeric) {
        putU8(d, ColumnPrecisionOffset, c.precision);
        putU8(d, ColumnScaleOffset, c.scale);
    } else {
        putU16(d, ColumnSortOrderOffset, c.sortOrder);
    }
    putU8(d, ColumnSortVersionOffset, c.sortVersion);
    putU8(d, ColumnFlagsOffset, c.flags);
    putU8(d, ColumnExtraFlagsOffset, c.extraFlags);
    putU16(d, ColumnFixedOffsetOffset, c.fixedOffset);
    putU16(d, ColumnLengthOffset, c.length);
}

void indexDefinition(std::span<std::uint8_t> d, const PhysicalIndex& index) {
    if (index.columns.size() > IndexMaxKeyColumns)
        throw std::invalid_argument("an index has at most 10 key columns");
    putU32(d, IndexMagicOffset, IndexMagic);
    for (std::size_t k = 0; k < IndexMaxKeyColumns; ++k) {
        const std::size_t at = IndexKeyColumnsOffset + k * IndexKeyColumnSize;
        if (k < index.columns.size()) {
            putU16(d, at, index.columns[k].columnNumber);
            putU8(d, at + 2, index.columns[k].ascending ? AscendingOrder : DescendingOrder);
        } else {
            putU16(d, at, NoColumn);
            putU8(d, at + 2, index.unusedOrder[k]);
        }
    }
    putU32(d, IndexUsageMapOffset, index.usageMap);
    putU32(d, IndexRootPageOffset, index.rootPage);
    putU32(d, IndexUnknownOffset, index.unknown);
    putU8(d, IndexFlagsOffset, index.flags);
}

void logicalIndex(std::span<std::uint8_t> d, const LogicalIndex& index) {
    putU32(d, LogicalMagicOffset, TableMagic);
    putU32(d, LogicalNumberOffset, index.number);
    putU32(d, LogicalPhysicalOffset, index.physicalIndex);
    putU8(d, LogicalRelatedRoleOffset, index.relatedTableRole);
    putU32(d, LogicalRelatedIndexOffset, index.relatedIndex);
    putU32(d, LogicalRelatedPageOffset, index.relatedTablePage);
    putU8(d, LogicalCascadeUpdatesOffset, index.cascadeUpdates);
    putU8(d, LogicalCascadeDeletesOffset, index.cascadeDeletes);
    putU8(d, LogicalTypeOffset, index.type);
}

// Appends a zeroed block of `size` bytes and returns it for filling.
std::span<std::uint8_t> block(std::string& out, std::size_t size) {
    const std::size_t at = out.size();
    out.append(size, '\0');
    return writable(out).subspan(at, size);
}

} // namespace

std::string encodeTableDefinitionBytes(const TableDefinition& def) {
    std::string out(HeaderSize, '\0');
    const auto header = writable(out);
    putU8(header, TypeOffset, TableDefinitionPageType);
    putU8(header, PageFlagOffset, PageFlag);
    putU32(header, MagicOffset, TableMagic);
    putU32(header, RowCountOffset, def.rowCount);
    putU32(header, AutonumberOffset, def.autonumber);
    std::copy(def.unknown.begin(), def.unknown.end(), header.begin() + HeaderUnknownOffset);
    putU8(header, TableTypeOffset, def.tableType);
    putU16(header, MaxColumnsOffset, def.maxColumns);
    putU16(header, VariableSlotsOffset, def.variableSlots);
    putU16(header, ColumnCountOffset, static_cast<std::uint16_t>(def.columns.size()));
    putU32(header, LogicalIndexCountOffset, static_cast<std::uint32_t>(def.logicalIndexes.size()));
    putU32(header, PhysicalIndexCountOffset,
           static_cast<std::uint32_t>(def.physicalIndexes.size()));
    putU32(header, OwnedPagesOffset, def.ownedPages);
    putU32(header, FreePagesOffset, def.freePages);

    for (const PhysicalIndex& index : def.physicalIndexes) {
        const auto d = block(out, PhysicalIndexHeaderSize);
        putU32(d, PhysicalIndexUnknownOffset, index.unknownHeader);
        putU32(d, PhysicalIndexRowCountOffset, index.rowCount);
    }
    for (const ColumnDefinition& column : def.columns)
        columnDescriptor(block(out, ColumnSize), column);
    ByteAppender names;
    for (const ColumnDefinition& column : def.columns)
        names.name(column.wideName);
    out += names.bytes();
    for (const PhysicalIndex& index : def.physicalIndexes)
        indexDefinition(block(out, PhysicalIndexSize), index);
    for (const LogicalIndex& index : def.logicalIndexes)
        logicalIndex(block(out, LogicalIndexSize), index);
    ByteAppender tail;
    for (const LogicalIndex& index : def.logicalIndexes)
        tail.name(index.wideName);
    for (const LongValueMaps& maps : def.longValueMaps) {
        tail.u16(maps.columnNumber);
        tail.u32(maps.ownedPages);
        tail.u32(maps.freePages);
    }
    tail.u16(EndOfLongValueMaps);
    out += tail.bytes();
    putU32(writable(out), LengthOffset, static_cast<std::uint32_t>(out.size()));
    return out;
}

std::size_t tableDefinitionPageCount(std::size_t length) {
    if (length <= FirstPageCapacity)
        return 1;
    return 1 + (length - FirstPageCapacity + ContinuationCapacity - 1) / ContinuationCapacity;
}

std::vector<PageImage> encodeTableDefinition(const TableDefinition& definition,
                                             std::span<const std::uint32_t> continuationPages) {
    const std::string bytes = encodeTableDefinitionBytes(definition);
    const std::size_t count = tableDefinitionPageCount(bytes.size());
    if (continuationPages.size() + 1 < count)
        throw std::invalid_argument("the definition needs " + std::to_string(count) + " pages, " +
                                    std::to_string(continuationPages.size() + 1) + " given");
    std::vector<PageImage> pages(count);
    std::size_t taken = 0;
    for (std::size_t k = 0; k < count; ++k) {
        PageImage& page = pages[k];
        page.fill(0);
        const std::size_t from = k == 0 ? 0 : PageHeaderSize;
        const std::size_t used = std::min(bytes.size() - taken, page.size() - from);
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(taken), used, page.begin() + from);
        taken += used;
        putU8(page, TypeOffset, TableDefinitionPageType);
        putU8(page, PageFlagOffset, PageFlag);
        const std::size_t filled = from + used + FreeSpaceReserve;
        putU16(page, FreeSpaceOffset,
               static_cast<std::uint16_t>(filled >= page.size() ? 0 : page.size() - filled));
        putU32(page, NextPageOffset, k + 1 < count ? continuationPages[k] : 0);
    }
    return pages;
}

} // namespace engine::jet4
