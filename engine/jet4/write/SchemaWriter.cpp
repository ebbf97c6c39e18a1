#include "engine/jet4/write/SchemaWriter.h"

#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/TableDefinitionEncoder.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/format/UsageMapEncoder.h"
#include "engine/jet4/write/IndexBuilder.h"
#include "engine/jet4/write/PageAllocator.h"

#include <algorithm>
#include <stdexcept>

namespace engine::jet4 {

namespace {

// Bytes Access writes in every logical index it makes, where the layout names the cascade
// options of a relationship.
constexpr std::uint8_t LogicalIndexFiller = 0x04;
// Set on every physical index Access makes.
constexpr std::uint8_t IndexBaseFlag = 0x80;
// Column flag Access sets on every column of a user table.
constexpr std::uint8_t UpdatableFlag = 0x02;

bool isLongValue(ColumnType type) {
    return type == ColumnType::Memo || type == ColumnType::Ole;
}

bool isFixedType(ColumnType type) {
    return type != ColumnType::Text && type != ColumnType::Binary && !isLongValue(type);
}

// The descriptor `column` gets as the next column of `definition`, which is updated to count it.
ColumnDefinition nextColumn(TableDefinition& definition, const NewColumn& column) {
    ColumnDefinition c;
    c.wideName = column.name;
    c.name = utf8FromUtf16(column.name);
    c.type = column.type;
    c.number = definition.maxColumns;
    c.unknown = c.number;
    c.flags = UpdatableFlag;
    if (column.type == ColumnType::Text || column.type == ColumnType::Memo) {
        c.sortOrder = column.sortOrder;
        c.sortVersion = column.sortVersion;
        c.extraFlags = column.compressed ? 0x01 : 0x00;
    } else {
        c.sortOrder = column.sortOrder;
    }
    if (isFixedType(column.type)) {
        c.flags |= ColumnDefinition::FixedLengthFlag;
        c.length = fixedLength(column.type);
        // Booleans live in the null mask and take no fixed bytes.
        if (column.type != ColumnType::Boolean)
            for (const ColumnDefinition& other : definition.columns)
                if (other.isFixed() && other.type != ColumnType::Boolean)
                    c.fixedOffset = std::max<std::uint16_t>(
                        c.fixedOffset,
                        static_cast<std::uint16_t>(other.fixedOffset + other.length));
    } else {
        c.length = column.length;
        c.variableSlot = definition.variableSlots++;
    }
    ++definition.maxColumns;
    return c;
}

// The long-value maps of a new memo/OLE column: two rows beside the table's own maps.
void addLongValueMaps(PageFile& file, TableDefinition& definition, const ColumnDefinition& c) {
    if (!isLongValue(c.type))
        return;
    LongValueMaps maps;
    maps.columnNumber = c.number;
    maps.ownedPages = addUsageMapRow(file, definition.ownedPages);
    maps.freePages = addUsageMapRow(file, maps.ownedPages);
    definition.longValueMaps.push_back(maps);
}

// Clears and marks free the pages of the map at `pointer` and its type-0x05 pages.
void freeMappedPages(PageFile& file, std::uint32_t pointer) {
    const UsageMap map = readUsageMap(file, pointer);
    const PageImage blank{};
    for (const std::uint32_t page : map.pages)
        if (page > 1 && page < file.pageCount()) {
            file.write(page, blank);
            markPageFree(file, page);
        }
    for (const std::uint32_t page : map.mapPages)
        if (page > 1 && page < file.pageCount()) {
            file.write(page, blank);
            markPageFree(file, page);
        }
}

} // namespace

std::uint16_t fixedLength(ColumnType type) {
    if (!isFixedType(type))
        throw std::invalid_argument("not a fixed-length column type");
    ColumnDefinition column;
    column.type = type;
    // A Boolean lives in the null mask, but its descriptor still gives it one byte.
    return type == ColumnType::Boolean ? 1 : static_cast<std::uint16_t>(fixedSize(column));
}

void writeTableDefinition(PageFile& file, TableDefinition& definition) {
    const std::size_t needed =
        tableDefinitionPageCount(encodeTableDefinitionBytes(definition).size());
    const PageImage blank{};
    while (definition.pages.size() < needed)
        definition.pages.push_back(allocatePage(file, blank));
    while (definition.pages.size() > needed) {
        file.write(definition.pages.back(), blank);
        markPageFree(file, definition.pages.back());
        definition.pages.pop_back();
    }
    const std::vector<PageImage> pages = encodeTableDefinition(
        definition, std::span(definition.pages).subspan(definition.pages.empty() ? 0 : 1));
    for (std::size_t i = 0; i < pages.size(); ++i)
        file.write(definition.pages[i], pages[i]);
}

std::uint32_t addUsageMapRow(PageFile& file, std::optional<std::uint32_t> near) {
    const std::string row = encodeInlineUsageMap(0, {});
    if (near) {
        const RowLocation at = rowLocationFromPointer(*near);
        const DataPage holder = readDataPage(file, at.page);
        auto rows = pageRows(holder);
        // A row number is one byte.
        if (rows.size() < 255) {
            rows.push_back({row, false, false});
            if (const auto image = packRows(holder.owner(), holder.unknown(), rows)) {
                file.write(at.page, *image);
                return at.page << 8 | static_cast<std::uint32_t>(rows.size() - 1);
            }
        }
    }
    const auto image = packRows(0, 0, {{row, false, false}});
    return allocatePage(file, *image) << 8;
}

TableDefinition createTable(PageFile& file, const std::vector<NewColumn>& columns) {
    TableDefinition t;
    t.tableType = UserTableType;
    t.page = allocatePage(file, PageImage{});
    t.pages = {t.page};
    for (const NewColumn& column : columns)
        t.columns.push_back(nextColumn(t, column));
    t.columnCount = static_cast<std::uint16_t>(t.columns.size());

    // The table's maps and its long-value columns' maps, on one page of their own.
    const std::string empty = encodeInlineUsageMap(0, {});
    std::vector<DataPageBuilder::Row> rows(2, {empty, false, false});
    for (const ColumnDefinition& c : t.columns)
        if (isLongValue(c.type)) {
            rows.push_back({empty, false, false});
            rows.push_back({empty, false, false});
        }
    const auto image = packRows(0, 0, rows);
    if (!image)
        throw std::length_error("too many long-value columns for one table");
    const std::uint32_t maps = allocatePage(file, *image);
    t.ownedPages = maps << 8;
    t.freePages = maps << 8 | 1;
    std::uint32_t next = 2;
    for (const ColumnDefinition& c : t.columns)
        if (isLongValue(c.type)) {
            t.longValueMaps.push_back({c.number, maps << 8 | next, maps << 8 | (next + 1)});
            next += 2;
        }
    writeTableDefinition(file, t);
    return t;
}

void addColumn(PageFile& file, TableDefinition& definition, const NewColumn& column) {
    ColumnDefinition c = nextColumn(definition, column);
    addLongValueMaps(file, definition, c);
    definition.columns.push_back(std::move(c));
    definition.columnCount = static_cast<std::uint16_t>(definition.columns.size());
    writeTableDefinition(file, definition);
}

void removeColumn(PageFile& file, TableDefinition& definition, std::size_t position) {
    const std::uint16_t number = definition.columns.at(position).number;
    definition.columns.erase(definition.columns.begin() + static_cast<std::ptrdiff_t>(position));
    std::erase_if(definition.longValueMaps,
                  [&](const LongValueMaps& maps) { return maps.columnNumber == number; });
    definition.columnCount = static_cast<std::uint16_t>(definition.columns.size());
    writeTableDefinition(file, definition);
}

void addIndex(PageFile& file, TableDefinition& definition, const NewIndex& index) {
    if (index.columns.empty() || index.columns.size() > tdef::IndexMaxKeyColumns)
        throw std::invalid_argument("an index has 1 to 10 columns");
    PhysicalIndex physical;
    physical.number = static_cast<std::uint32_t>(definition.physicalIndexes.size());
    physical.columns = index.columns;
    physical.usageMap = addUsageMapRow(file, definition.ownedPages);
    physical.flags = IndexBaseFlag;
    if (index.unique || index.primary)
        physical.flags |= PhysicalIndex::UniqueFlag;
    if (index.ignoreNulls)
        physical.flags |= PhysicalIndex::IgnoreNullsFlag;
    if (index.required || index.primary)
        physical.flags |= PhysicalIndex::RequiredFlag;
    definition.physicalIndexes.push_back(physical);

    LogicalIndex logical;
    logical.wideName = index.name;
    logical.name = utf8FromUtf16(index.name);
    logical.number = static_cast<std::uint32_t>(definition.logicalIndexes.size());
    logical.physicalIndex = physical.number;
    logical.type = index.primary ? LogicalIndex::PrimaryKeyType : 0;
    logical.cascadeUpdates = LogicalIndexFiller;
    logical.cascadeDeletes = LogicalIndexFiller;
    definition.logicalIndexes.push_back(std::move(logical));
    definition.physicalIndexCount = static_cast<std::uint32_t>(definition.physicalIndexes.size());
    definition.logicalIndexCount = static_cast<std::uint32_t>(definition.logicalIndexes.size());

    writeTableDefinition(file, definition);
    rebuildIndex(file, definition, physical.number);
}

void removeIndex(PageFile& file, TableDefinition& definition, std::size_t position) {
    const std::uint32_t physical = definition.logicalIndexes.at(position).physicalIndex;
    definition.logicalIndexes.erase(definition.logicalIndexes.begin() +
                                    static_cast<std::ptrdiff_t>(position));
    for (std::size_t i = 0; i < definition.logicalIndexes.size(); ++i)
        definition.logicalIndexes[i].number = static_cast<std::uint32_t>(i);
    const bool shared =
        std::any_of(definition.logicalIndexes.begin(), definition.logicalIndexes.end(),
                    [&](const LogicalIndex& other) { return other.physicalIndex == physical; });
    if (!shared && physical < definition.physicalIndexes.size()) {
        freeMappedPages(file, definition.physicalIndexes[physical].usageMap);
        definition.physicalIndexes.erase(definition.physicalIndexes.begin() + physical);
        for (std::size_t i = 0; i < definition.physicalIndexes.size(); ++i)
            definition.physicalIndexes[i].number = static_cast<std::uint32_t>(i);
        for (LogicalIndex& other : definition.logicalIndexes)
            if (other.physicalIndex > physical)
                --other.physicalIndex;
    }
    definition.physicalIndexCount = static_cast<std::uint32_t>(definition.physicalIndexes.size());
    definition.logicalIndexCount = static_cast<std::uint32_t>(definition.logicalIndexes.size());
    writeTableDefinition(file, definition);
}

void freeTablePages(PageFile& file, const TableDefinition& definition) {
    freeMappedPages(file, definition.ownedPages);
    for (const PhysicalIndex& index : definition.physicalIndexes)
        freeMappedPages(file, index.usageMap);
    for (const LongValueMaps& maps : definition.longValueMaps)
        freeMappedPages(file, maps.ownedPages);
    const PageImage blank{};
    for (const std::uint32_t page : definition.pages) {
        file.write(page, blank);
        markPageFree(file, page);
    }
}

} // namespace engine::jet4
