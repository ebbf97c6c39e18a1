#include "engine/jet4/RowWriter.h"

#include "engine/jet4/DataPageBuilder.h"
#include "engine/jet4/EncoderBytes.h"
#include "engine/jet4/FormatError.h"
#include "engine/jet4/LongValue.h"
#include "engine/jet4/PageAllocator.h"
#include "engine/jet4/Row.h"
#include "engine/jet4/RowEncoder.h"
#include "engine/jet4/UsageMap.h"

#include <algorithm>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>

namespace engine::jet4 {

namespace {

using LongValueRefs = std::vector<std::optional<LongValueReference>>;

constexpr std::size_t OverflowPointerSize = 4;
constexpr std::size_t MaxRowsOnPage = 255; // a row pointer has one byte for the row
constexpr std::size_t DataPageFlagOffset = 1;
constexpr std::uint8_t DataPageFlag = 0x01;
constexpr std::size_t ChainPartSize = MaxLongValueRowSize - longvalue::ChainDataOffset;

std::uint32_t readU16(std::string_view bytes, std::size_t at) {
    return std::uint32_t{static_cast<std::uint8_t>(bytes[at])} |
           std::uint32_t{static_cast<std::uint8_t>(bytes[at + 1])} << 8;
}

std::uint32_t readU32(std::string_view bytes, std::size_t at) {
    return readU16(bytes, at) | readU16(bytes, at + 2) << 16;
}

bool isLongValue(const ColumnDefinition& column) {
    return column.type == ColumnType::Memo || column.type == ColumnType::Ole;
}

// Whether the page is byte for byte what packRows makes of its rows: the header's free space
// right and nothing between the slots and the rows (Access may leave old bytes there).
bool isPacked(const DataPage& page) {
    const PageImage& bytes = *page.bytes();
    const std::size_t used = packedSize(page);
    const std::size_t rowsStart =
        page.rowSlots().empty() ? PageFile::PageSize : page.rowSlots().back().start;
    const std::size_t slotsEnd = DataPage::HeaderSize + datapage::SlotSize * page.rowSlots().size();
    return bytes[DataPageFlagOffset] == DataPageFlag &&
           page.freeSpace() == PageFile::PageSize - used &&
           std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(slotsEnd),
                       bytes.begin() + static_cast<std::ptrdiff_t>(rowsStart),
                       [](std::uint8_t b) { return b == 0; });
}

// Where a row of some table, or a long value, is put: the map rows that list the pages of the
// owner and those of its pages with free space.
struct RowHome {
    std::uint32_t owner;
    std::uint32_t ownedPages;
    std::uint32_t freePages;
};

RowHome tableHome(const TableDefinition& definition) {
    return {definition.page, definition.ownedPages, definition.freePages};
}

const LongValueMaps& longValueMaps(const TableDefinition& definition,
                                   const ColumnDefinition& column) {
    for (const LongValueMaps& maps : definition.longValueMaps)
        if (maps.columnNumber == column.number)
            return maps;
    throw FormatError(definition.page, "column " + column.name + " has no long-value usage maps");
}

RowHome longValueHome(const LongValueMaps& maps) {
    return {LongValueOwner, maps.ownedPages, maps.freePages};
}

// Adds `bytes` as a row on the owner's last page with free space, or on a new page, and keeps
// the maps in step. Access only ever fills the last such page; one that cannot take the row is
// taken out of the free-space map, so the next row goes straight to a new page.
RowLocation placeRow(PageFile& file, const RowHome& home, std::string_view bytes, bool notRow) {
    const UsageMap withSpace = readUsageMap(file, home.freePages);
    if (!withSpace.pages.empty()) {
        const std::uint32_t last = withSpace.pages.back();
        const DataPage page = readDataPage(file, last);
        // A page that cannot take the row (and its slot) is not packed to find out.
        const bool room =
            packedSize(page) + datapage::SlotSize + bytes.size() <= PageFile::PageSize &&
            page.rowSlots().size() < MaxRowsOnPage;
        if (room && page.owner() == home.owner && usageMapHas(file, home.ownedPages, last)) {
            const auto slot = static_cast<std::uint8_t>(page.rowSlots().size());
            if (isPacked(page)) {
                // The row goes below the others and its slot after theirs, as packing would
                // put them, with nothing else on the page moved.
                PageImage image = *page.bytes();
                const std::size_t end =
                    slot == 0 ? PageFile::PageSize : page.rowSlots().back().start;
                const std::size_t start = end - bytes.size();
                std::copy(bytes.begin(), bytes.end(),
                          image.begin() + static_cast<std::ptrdiff_t>(start));
                putU16(image, DataPage::HeaderSize + datapage::SlotSize * slot,
                       static_cast<std::uint16_t>(start | (notRow ? datapage::NotRowFlag : 0)));
                putU16(image, datapage::RowCountOffset, static_cast<std::uint16_t>(slot + 1));
                putU16(image, datapage::FreeSpaceOffset,
                       static_cast<std::uint16_t>(PageFile::PageSize - packedSize(page) -
                                                  datapage::SlotSize - bytes.size()));
                file.write(last, image);
                return {last, slot};
            }
            auto rows = pageRowViews(page);
            rows.push_back({bytes, false, notRow});
            if (const auto image = packRows(page.owner(), page.unknown(), rows)) {
                file.write(last, *image);
                return {last, static_cast<std::uint8_t>(rows.size() - 1)};
            }
        }
        removeFromUsageMap(file, home.freePages, last);
    }
    DataPageBuilder builder(home.owner);
    const std::uint8_t slot = builder.addRow(bytes, false, notRow);
    const std::uint32_t page = allocatePage(file, builder.image());
    addToUsageMap(file, home.ownedPages, page, MapOverflow::Reference);
    addToUsageMap(file, home.freePages, page, MapOverflow::DropLowest);
    return {page, slot};
}

// Flags a row 0xC000 and gives its bytes back; its page can take rows again.
void markDeleted(PageFile& file, const RowHome& home, RowLocation location) {
    const DataPage page = readDataPage(file, location.page);
    auto rows = pageRowViews(page);
    if (location.row >= rows.size())
        throw FormatError(location.page, "data page has no row " + std::to_string(location.row));
    rows[location.row] = {{}, true, true};
    file.write(location.page, *packRows(page.owner(), page.unknown(), rows));
    addToUsageMap(file, home.freePages, location.page, MapOverflow::DropLowest);
}

LongValueReference writeLongValue(PageFile& file, const LongValueMaps& maps,
                                  std::string_view stored) {
    const RowHome home = longValueHome(maps);
    if (stored.size() <= MaxLongValueRowSize)
        return {LongValueReference::Kind::SingleRow,
                rowPointer(placeRow(file, home, stored, false))};

    // A chain fills pages of its own, first part first; the pages are taken before they are
    // written so that each part can name the next. Access leaves them out of the free-space map.
    const std::size_t parts = (stored.size() + ChainPartSize - 1) / ChainPartSize;
    std::vector<std::uint32_t> pages;
    for (std::size_t i = 0; i < parts; ++i) {
        pages.push_back(allocatePage(file, DataPageBuilder(LongValueOwner).image()));
        addToUsageMap(file, home.ownedPages, pages.back(), MapOverflow::Reference);
    }
    for (std::size_t i = 0; i < parts; ++i) {
        ByteAppender row;
        row.u32(i + 1 < parts ? rowPointer({pages[i + 1], 0}) : 0);
        row.append(stored.substr(i * ChainPartSize, ChainPartSize));
        DataPageBuilder builder(LongValueOwner);
        builder.addRow(row.bytes());
        file.write(pages[i], builder.image());
    }
    return {LongValueReference::Kind::Chain, rowPointer({pages.front(), 0})};
}

// The stored bytes of each Memo/OLE value that leaves the row, or nothing; throws
// std::invalid_argument for a value of the wrong kind.
std::vector<std::optional<std::string>> outOfRowValues(const TableDefinition& definition,
                                                       const std::vector<Value>& values) {
    if (values.size() != definition.columns.size())
        throw std::invalid_argument("a row needs one value per column");
    std::vector<std::optional<std::string>> out(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const ColumnDefinition& column = definition.columns[i];
        // A Text column's length is in bytes of UTF-16, whatever its compression.
        if (column.type == ColumnType::Text && values[i].text.size() * 2 > column.length)
            throw std::invalid_argument("column " + column.name + ": text longer than the column");
        if (!isLongValue(column) || values[i].isNull())
            continue;
        std::string stored = longValueBytes(column, values[i]);
        if (!longValueInRow(stored.size()))
            out[i] = std::move(stored);
    }
    return out;
}

// A row checked to fit a page: the stored bytes of each Memo/OLE value that leaves it, and the
// row's bytes when none does (they depend on where the long values go otherwise).
struct CheckedRow {
    std::vector<std::optional<std::string>> outOfRow;
    std::optional<std::string> bytes;
};

// Everything that can be refused is checked here, before the first write.
CheckedRow checkRow(const TableDefinition& definition, const std::vector<Value>& values) {
    CheckedRow checked{outOfRowValues(definition, values), std::nullopt};
    LongValueRefs refs(values.size());
    bool longValues = false;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (checked.outOfRow[i]) {
            longValueMaps(definition, definition.columns[i]);
            refs[i] = LongValueReference{}; // the header's length does not depend on where
            longValues = true;
        }
    std::string bytes = encodeRow(definition, values, refs);
    if (bytes.size() > MaxRowSize)
        throw std::length_error("a row of " + std::to_string(bytes.size()) +
                                " bytes is longer than the " + std::to_string(MaxRowSize) +
                                " a page takes");
    if (!longValues)
        checked.bytes = std::move(bytes);
    return checked;
}

// Stores the row's long values that leave it, then encodes the row.
std::string writeRowImage(PageFile& file, const TableDefinition& definition,
                          const std::vector<Value>& values, CheckedRow& checked) {
    if (checked.bytes)
        return std::move(*checked.bytes);
    LongValueRefs refs(values.size());
    for (std::size_t i = 0; i < values.size(); ++i)
        if (checked.outOfRow[i])
            refs[i] = writeLongValue(file, longValueMaps(definition, definition.columns[i]),
                                     *checked.outOfRow[i]);
    return encodeRow(definition, values, refs);
}

// The bytes of variable column `column` in `row`, or nothing when the row holds it as Null or
// was written before it existed (see Row.h for the layout).
std::optional<std::string_view> variableField(std::string_view row, const ColumnDefinition& column,
                                              std::uint32_t page) {
    const auto fail = [&] { return FormatError(page, "row offsets do not fit the row"); };
    if (row.size() < rowlayout::FixedAreaOffset)
        throw fail();
    const std::size_t columns = readU16(row, rowlayout::ColumnCountOffset);
    if (column.number >= columns)
        return std::nullopt;
    const std::size_t maskSize = (columns + 7) / 8;
    if (row.size() < maskSize + 2)
        throw fail();
    const std::size_t mask = row.size() - maskSize;
    if ((static_cast<std::uint8_t>(row[mask + column.number / 8]) >> (column.number % 8) & 1) == 0)
        return std::nullopt;
    const std::size_t slots = readU16(row, mask - 2);
    if (column.variableSlot >= slots)
        return std::nullopt;
    if (mask < 2 + 2 * slots + 2)
        throw fail();
    const auto offsetOf = [&](std::size_t slot) { return readU16(row, mask - 2 - 2 * (slot + 1)); };
    const std::size_t start = offsetOf(column.variableSlot);
    const std::size_t slot = column.variableSlot;
    const std::size_t end =
        slot + 1 < slots ? offsetOf(slot + 1) : readU16(row, mask - 4 - 2 * slots);
    if (start > end || end > row.size())
        throw fail();
    return row.substr(start, end - start);
}

bool hasLongValueColumns(const TableDefinition& definition) {
    return std::any_of(definition.columns.begin(), definition.columns.end(), isLongValue);
}

// Deletes the long-value rows the Memo/OLE values of `row` occupy.
void freeLongValues(PageFile& file, const TableDefinition& definition, std::string_view row,
                    std::uint32_t page) {
    for (const ColumnDefinition& column : definition.columns) {
        if (!isLongValue(column) || column.isFixed())
            continue;
        const auto field = variableField(row, column, page);
        if (!field || field->size() < LongValueHeaderSize)
            continue;
        const std::uint32_t word = readU32(*field, longvalue::LengthOffset);
        if (word & longvalue::InlineFlag)
            continue;
        const RowHome home = longValueHome(longValueMaps(definition, column));
        std::uint32_t next = readU32(*field, longvalue::PointerOffset);
        const bool chain = (word & longvalue::SingleRowFlag) == 0;
        std::set<std::uint32_t> seen;
        while (next != 0 && seen.insert(next).second) {
            const RowLocation at = rowLocationFromPointer(next);
            const DataPage holder = readDataPage(file, at.page);
            if (holder.owner() != LongValueOwner)
                throw FormatError(at.page, "long value points at a page that is not a "
                                           "long-value page");
            const auto bytes = holder.row(at.row);
            next = chain && bytes.size() >= 4
                       ? readU32({reinterpret_cast<const char*>(bytes.data()), 4}, 0)
                       : 0;
            markDeleted(file, home, at);
        }
    }
}

// The row at `location` checked to be one of the table's rows, and the chain of locations
// from it to its image (just `location` for a row in place).
std::vector<RowLocation> rowChain(const PageFile& file, const TableDefinition& definition,
                                  RowLocation location) {
    std::vector<RowLocation> chain{location};
    RowLocation at = location;
    if (location.page >= file.pageCount() || (*file.page(location.page))[0] != DataPageType)
        throw std::invalid_argument("page " + std::to_string(location.page) +
                                    " is no data page of table " + std::to_string(definition.page));
    for (;;) {
        const DataPage page = readDataPage(file, at.page);
        if (page.owner() != definition.page || at.row >= page.rowSlots().size())
            throw std::invalid_argument("page " + std::to_string(at.page) + " holds no row " +
                                        std::to_string(at.row) + " of table " +
                                        std::to_string(definition.page));
        const RowSlot& slot = page.rowSlots()[at.row];
        if (chain.size() == 1 && slot.notRow)
            throw std::invalid_argument("row " + std::to_string(at.row) + " of page " +
                                        std::to_string(at.page) + " is deleted");
        if (!slot.pointer || slot.notRow)
            return chain;
        const auto bytes = page.row(at.row);
        if (bytes.size() < OverflowPointerSize)
            throw FormatError(at.page, "overflow pointer of row " + std::to_string(at.row) +
                                           " is cut short");
        at = rowLocationFromPointer(
            readU32({reinterpret_cast<const char*>(bytes.data()), OverflowPointerSize}, 0));
        for (const RowLocation& seen : chain)
            if (seen == at)
                throw FormatError(at.page, "overflow pointers loop");
        chain.push_back(at);
    }
}

std::string rowBytes(const PageFile& file, RowLocation location) {
    const DataPage page = readDataPage(file, location.page);
    const auto bytes = page.row(location.row);
    return {bytes.begin(), bytes.end()};
}

// Moves the stored row count (definition +16, always on the first definition page) by `delta`.
void addToRowCount(PageFile& file, TableDefinition& definition, int delta) {
    PageImage page = *file.page(definition.page);
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < 4; ++i)
        count |= std::uint32_t{page[tdef::RowCountOffset + i]} << (8 * i);
    // Access's own counts are often off; a count cannot go below zero all the same.
    count = delta < 0 && count == 0 ? 0 : count + static_cast<std::uint32_t>(delta);
    putU32(page, tdef::RowCountOffset, count);
    file.write(definition.page, page);
    definition.rowCount = count;
}

} // namespace

RowLocation insertRow(PageFile& file, TableDefinition& definition,
                      const std::vector<Value>& values) {
    auto checked = checkRow(definition, values);
    const std::string row = writeRowImage(file, definition, values, checked);
    const RowLocation at = placeRow(file, tableHome(definition), row, false);
    addToRowCount(file, definition, 1);
    return at;
}

void updateRow(PageFile& file, TableDefinition& definition, RowLocation location,
               const std::vector<Value>& values) {
    const std::vector<RowLocation> chain = rowChain(file, definition, location);
    auto checked = checkRow(definition, values);
    const RowLocation image = chain.back();
    if (hasLongValueColumns(definition))
        freeLongValues(file, definition, rowBytes(file, image), image.page);
    const std::string row = writeRowImage(file, definition, values, checked);
    if (replaceRow(file, image, row))
        return;

    const RowHome home = tableHome(definition);
    const RowLocation moved = placeRow(file, home, row, true);
    for (std::size_t i = 1; i < chain.size(); ++i)
        markDeleted(file, home, chain[i]);

    // The row's own slot keeps its bytes (as Access leaves them) behind the pointer.
    const DataPage page = readDataPage(file, location.page);
    if (const RowSlot& slot = page.rowSlots().at(location.row);
        std::size_t{slot.end} - slot.start >= OverflowPointerSize && isPacked(page)) {
        // Nothing moves: the page is what packing its rows gives, but for these 6 bytes.
        PageImage bytes = *page.bytes();
        putU32(bytes, slot.start, rowPointer(moved));
        putU16(bytes, DataPage::HeaderSize + datapage::SlotSize * location.row,
               static_cast<std::uint16_t>(slot.start | datapage::PointerFlag));
        file.write(location.page, bytes);
        return;
    }
    auto rows = pageRowViews(page);
    auto& own = rows[location.row];
    std::string pointed(own.bytes);
    if (pointed.size() < OverflowPointerSize)
        pointed.resize(OverflowPointerSize, '\0');
    putU32(writable(pointed), 0, rowPointer(moved));
    own = {pointed, true, false};
    const auto packed = packRows(page.owner(), page.unknown(), rows);
    if (!packed)
        throw std::length_error("page " + std::to_string(location.page) +
                                " has no room for the overflow pointer of row " +
                                std::to_string(location.row));
    file.write(location.page, *packed);
}

void deleteRow(PageFile& file, TableDefinition& definition, RowLocation location) {
    const std::vector<RowLocation> chain = rowChain(file, definition, location);
    if (hasLongValueColumns(definition))
        freeLongValues(file, definition, rowBytes(file, chain.back()), chain.back().page);
    const RowHome home = tableHome(definition);
    for (auto it = chain.rbegin(); it != chain.rend(); ++it)
        markDeleted(file, home, *it);
    addToRowCount(file, definition, -1);
}

} // namespace engine::jet4
