#include "engine/jet4/format/TableDefinition.h"

#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/Text.h"

#include <algorithm>
#include <unordered_set>

namespace engine::jet4 {

namespace {

using namespace tdef;

// Appends the definition's pages into one buffer, following the chain with a guard against
// loops and pages of the wrong type.
std::vector<std::uint8_t> readChain(const PageFile& file, std::uint32_t first,
                                    std::vector<std::uint32_t>& pages) {
    std::vector<std::uint8_t> bytes;
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t current = first;
    std::uint32_t previous = FormatError::NoPage;
    while (current != 0) {
        if (!seen.insert(current).second)
            throw FormatError(previous, "table definition chain of page " + std::to_string(first) +
                                            " loops back to page " + std::to_string(current));
        if (current >= file.pageCount())
            throw FormatError(previous, "table definition continues on page " +
                                            std::to_string(current) + ", past the end of the file");
        const PageData data = file.page(current);
        const ByteView page(*data, current, "table definition");
        if (page.u8(TypeOffset) != TableDefinitionPageType)
            page.fail("page type is " + std::to_string(page.u8(TypeOffset)) +
                      ", not a table definition");
        const std::size_t from = pages.empty() ? 0 : ContinuationOffset;
        bytes.insert(bytes.end(), data->begin() + from, data->end());
        pages.push_back(current);
        previous = current;
        current = page.u32(NextPageOffset);
    }
    return bytes;
}

// Reads a 2-byte-length UTF-16 name at `pos` and moves past it.
std::u16string readName(const ByteView& view, std::size_t& pos) {
    const std::uint16_t length = view.u16(pos);
    const auto bytes = view.span(pos + 2, length);
    pos += 2 + std::size_t{length};
    return utf16FromBytes(bytes, view.page());
}

} // namespace

const ColumnDefinition* TableDefinition::column(std::string_view name) const {
    for (const ColumnDefinition& c : columns)
        if (c.name == name)
            return &c;
    return nullptr;
}

TableDefinition readTableDefinition(const PageFile& file, std::uint32_t page) {
    TableDefinition def;
    def.page = page;
    const std::vector<std::uint8_t> chain = readChain(file, page, def.pages);
    const ByteView whole(chain, page, "table definition");
    const std::uint32_t length = whole.u32(LengthOffset);
    if (length < HeaderSize || length > chain.size())
        whole.fail("its length " + std::to_string(length) + " does not fit its " +
                   std::to_string(def.pages.size()) + " pages");
    const ByteView view = whole.sub(0, length, "table definition");

    def.rowCount = view.u32(RowCountOffset);
    def.autonumber = view.u32(AutonumberOffset);
    def.tableType = view.u8(TableTypeOffset);
    const auto unknown = view.span(HeaderUnknownOffset, HeaderUnknownSize);
    std::copy(unknown.begin(), unknown.end(), def.unknown.begin());
    def.maxColumns = view.u16(MaxColumnsOffset);
    def.variableSlots = view.u16(VariableSlotsOffset);
    def.columnCount = view.u16(ColumnCountOffset);
    def.logicalIndexCount = view.u32(LogicalIndexCountOffset);
    def.physicalIndexCount = view.u32(PhysicalIndexCountOffset);
    def.ownedPages = view.u32(OwnedPagesOffset);
    def.freePages = view.u32(FreePagesOffset);

    // Counts are checked against the bytes they need before anything is reserved for them.
    const auto need = [&](std::uint64_t count, std::size_t size, const char* what) {
        if (count * size > view.size())
            view.fail(std::string(what) + " count " + std::to_string(count) +
                      " does not fit the definition");
    };
    need(def.physicalIndexCount, PhysicalIndexHeaderSize + PhysicalIndexSize, "physical index");
    need(def.logicalIndexCount, LogicalIndexSize, "logical index");
    need(def.columnCount, ColumnSize, "column");
    if (def.columnCount > def.maxColumns)
        view.fail(std::to_string(def.columnCount) + " columns exceed the row width of " +
                  std::to_string(def.maxColumns));

    std::size_t pos = HeaderSize;
    def.physicalIndexes.resize(def.physicalIndexCount);
    for (std::uint32_t i = 0; i < def.physicalIndexCount; ++i) {
        def.physicalIndexes[i].number = i;
        def.physicalIndexes[i].rowCount = view.u32(pos + PhysicalIndexRowCountOffset);
        def.physicalIndexes[i].unknownHeader = view.u32(pos + PhysicalIndexUnknownOffset);
        pos += PhysicalIndexHeaderSize;
    }

    def.columns.resize(def.columnCount);
    for (ColumnDefinition& c : def.columns) {
        const ByteView d = view.sub(pos, ColumnSize, "column descriptor");
        c.type = static_cast<ColumnType>(d.u8(ColumnTypeOffset));
        c.number = d.u16(ColumnNumberOffset);
        c.variableSlot = d.u16(ColumnSlotOffset);
        c.sortOrder = d.u16(ColumnSortOrderOffset);
        c.precision = d.u8(ColumnPrecisionOffset);
        c.scale = d.u8(ColumnScaleOffset);
        c.sortVersion = d.u8(ColumnSortVersionOffset);
        c.flags = d.u8(ColumnFlagsOffset);
        c.extraFlags = d.u8(ColumnExtraFlagsOffset);
        c.fixedOffset = d.u16(ColumnFixedOffsetOffset);
        c.length = d.u16(ColumnLengthOffset);
        c.unknown = d.u16(ColumnUnknownOffset);
        if (c.number >= def.maxColumns)
            view.fail("column number " + std::to_string(c.number) + " is not below the row width " +
                      std::to_string(def.maxColumns));
        if (!c.isFixed() && c.variableSlot >= def.variableSlots)
            view.fail("variable slot " + std::to_string(c.variableSlot) + " is not below " +
                      std::to_string(def.variableSlots));
        pos += ColumnSize;
    }
    for (ColumnDefinition& c : def.columns) {
        c.wideName = readName(view, pos);
        c.name = utf8FromUtf16(c.wideName);
    }

    for (PhysicalIndex& index : def.physicalIndexes) {
        const ByteView d = view.sub(pos, PhysicalIndexSize, "index definition");
        for (std::size_t k = 0; k < IndexMaxKeyColumns; ++k) {
            const std::size_t at = IndexKeyColumnsOffset + k * IndexKeyColumnSize;
            const std::uint16_t number = d.u16(at);
            if (number != NoColumn)
                index.columns.push_back({number, d.u8(at + 2) == AscendingOrder});
            else
                index.unusedOrder[k] = d.u8(at + 2);
        }
        index.unknown = d.u32(IndexUnknownOffset);
        index.usageMap = d.u32(IndexUsageMapOffset);
        index.rootPage = d.u32(IndexRootPageOffset);
        index.flags = d.u8(IndexFlagsOffset);
        pos += PhysicalIndexSize;
    }

    def.logicalIndexes.resize(def.logicalIndexCount);
    for (LogicalIndex& index : def.logicalIndexes) {
        const ByteView d = view.sub(pos, LogicalIndexSize, "logical index");
        index.number = d.u32(LogicalNumberOffset);
        index.physicalIndex = d.u32(LogicalPhysicalOffset);
        index.relatedTableRole = d.u8(LogicalRelatedRoleOffset);
        index.relatedIndex = d.u32(LogicalRelatedIndexOffset);
        index.relatedTablePage = d.u32(LogicalRelatedPageOffset);
        index.cascadeUpdates = d.u8(LogicalCascadeUpdatesOffset);
        index.cascadeDeletes = d.u8(LogicalCascadeDeletesOffset);
        index.type = d.u8(LogicalTypeOffset);
        if (index.physicalIndex >= def.physicalIndexCount)
            view.fail("logical index " + std::to_string(index.number) + " names physical index " +
                      std::to_string(index.physicalIndex) + " of " +
                      std::to_string(def.physicalIndexCount));
        pos += LogicalIndexSize;
    }
    for (LogicalIndex& index : def.logicalIndexes) {
        index.wideName = readName(view, pos);
        index.name = utf8FromUtf16(index.wideName);
    }

    while (pos + 2 <= view.size() && view.u16(pos) != NoColumn) {
        const ByteView d = view.sub(pos, LongValueMapSize, "long-value usage maps");
        def.longValueMaps.push_back(
            {d.u16(0), d.u32(LongValueOwnedOffset), d.u32(LongValueFreeOffset)});
        pos += LongValueMapSize;
    }
    return def;
}

} // namespace engine::jet4
