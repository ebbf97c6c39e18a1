#include "engine/jet4/write/RowWriter.h"

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/format/DataPageBuilder.h"
#include "engine/jet4/format/EncoderBytes.h"
#include "engine/jet4/format/LongValue.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/RowEncoder.h"
#include "engine/jet4/format/RowFields.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/write/PageAllocator.h"

#include <algorithm>
#include <cstring>
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
    if (bytes[DataPageFlagOffset] != DataPageFlag || page.freeSpace() != PageFile::PageSize - used)
        return false;
    if (rowsStart <= slotsEnd)
        return true;
    // All zero: the first byte is, and every byte equals the one after it.
    const std::uint8_t* gap = bytes.data() + slotsEnd;
    return gap[0] == 0 && std::memcmp(gap, gap + 1, rowsStart - slotsEnd - 1) == 0;
}

// A data page image in the packed layout (isPacked), read and changed in place.
std::size_t heldRowCount(const PageImage& page) {
    return readU16({reinterpret_cast<const char*>(page.data()), page.size()},
                   datapage::RowCountOffset);
}

std::uint16_t heldSlot(const PageImage& page, std::size_t row) {
    return static_cast<std::uint16_t>(
        readU16({reinterpret_cast<const char*>(page.data()), page.size()},
                DataPage::HeaderSize + datapage::SlotSize * row));
}

std::size_t heldRowStart(const PageImage& page, std::size_t row) {
    return heldSlot(page, row) & datapage::SlotOffsetMask;
}

std::size_t heldRowEnd(const PageImage& page, std::size_t row) {
    return row == 0 ? PageFile::PageSize : heldRowStart(page, row - 1);
}

std::size_t heldUsed(const PageImage& page) {
    const std::size_t rows = heldRowCount(page);
    return DataPage::HeaderSize + datapage::SlotSize * rows +
           (rows == 0 ? 0 : PageFile::PageSize - heldRowStart(page, rows - 1));
}

std::uint32_t heldOwner(const PageImage& page) {
    return readU32({reinterpret_cast<const char*>(page.data()), page.size()},
                   datapage::OwnerOffset);
}

// Whether a page whose rows and slots take `used` bytes, `rows` of them, has room for a row of
// `size` bytes and its slot.
bool roomFor(std::size_t used, std::size_t rows, std::size_t size) {
    return used + datapage::SlotSize + size <= PageFile::PageSize && rows < MaxRowsOnPage;
}

bool heldRoomFor(const PageImage& page, std::size_t size) {
    return roomFor(heldUsed(page), heldRowCount(page), size);
}

// Adds `bytes` as the next row of the packed page `image`, below the others and its slot after
// theirs, as packing would put them, with nothing else on the page moved; returns its slot.
std::uint8_t appendPackedRow(PageImage& image, std::string_view bytes, bool notRow) {
    const std::size_t slot = heldRowCount(image);
    const std::size_t start =
        (slot == 0 ? PageFile::PageSize : heldRowStart(image, slot - 1)) - bytes.size();
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(start));
    putU16(image, DataPage::HeaderSize + datapage::SlotSize * slot,
           static_cast<std::uint16_t>(start | (notRow ? datapage::NotRowFlag : 0)));
    putU16(image, datapage::RowCountOffset, static_cast<std::uint16_t>(slot + 1));
    putU16(image, datapage::FreeSpaceOffset,
           static_cast<std::uint16_t>(PageFile::PageSize - heldUsed(image)));
    return static_cast<std::uint8_t>(slot);
}

// Makes row `row` of `image` (starting at `start`, at least 4 bytes long) point at `image`'s
// new place: the pointer over its first 4 bytes, the rest kept as Access leaves it, flag 0x4000.
void pointInPlace(PageImage& page, std::size_t row, std::size_t start, RowLocation image) {
    putU32(page, start, rowPointer(image));
    putU16(page, DataPage::HeaderSize + datapage::SlotSize * row,
           static_cast<std::uint16_t>(start | datapage::PointerFlag));
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

// Adds `bytes` as the only row of a new page appended at the end of the file (its image left in
// `image`), which joins both of the owner's maps.
RowLocation placeOnNewPage(PageFile& file, const RowHome& home, std::string_view bytes, bool notRow,
                           PageImage& image) {
    DataPageBuilder builder(home.owner);
    const std::uint8_t slot = builder.addRow(bytes, false, notRow);
    image = builder.image();
    const std::uint32_t page = allocatePage(file, image);
    addToUsageMap(file, home.ownedPages, page, MapOverflow::Reference);
    addToUsageMap(file, home.freePages, page, MapOverflow::DropLowest);
    return {page, slot};
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
        if (roomFor(packedSize(page), page.rowSlots().size(), bytes.size()) &&
            page.owner() == home.owner && usageMapHas(file, home.ownedPages, last)) {
            if (isPacked(page)) {
                PageImage image = *page.bytes();
                const std::uint8_t slot = appendPackedRow(image, bytes, notRow);
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
    PageImage image;
    return placeOnNewPage(file, home, bytes, notRow, image);
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

bool hasLongValueColumns(const TableDefinition& definition) {
    return std::any_of(definition.columns.begin(), definition.columns.end(), isLongValue);
}

// Deletes the long-value rows the Memo/OLE values of `row` occupy.
void freeLongValues(PageFile& file, const TableDefinition& definition, std::string_view row,
                    std::uint32_t page) {
    const StoredRow stored({reinterpret_cast<const std::uint8_t*>(row.data()), row.size()}, page,
                           definition);
    for (const ColumnDefinition& column : definition.columns) {
        if (!isLongValue(column) || column.isFixed())
            continue;
        const StoredField field = stored.field(column);
        if (!field.present || field.bytes.size() < LongValueHeaderSize)
            continue;
        const std::string_view bytes(reinterpret_cast<const char*>(field.bytes.data()),
                                     field.bytes.size());
        const std::uint32_t word = readU32(bytes, longvalue::LengthOffset);
        if (word & longvalue::InlineFlag)
            continue;
        const RowHome home = longValueHome(longValueMaps(definition, column));
        std::uint32_t next = readU32(bytes, longvalue::PointerOffset);
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
        pointInPlace(bytes, location.row, slot.start, moved);
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

// ---- updates of many rows ----

namespace {

// The page packed again with row `row` replaced by `bytes` and its flags by `pointer`; nothing
// when the rows no longer fit.
std::optional<PageImage> heldWithRow(const PageImage& page, std::size_t row, std::string_view bytes,
                                     bool pointer) {
    const auto* data = reinterpret_cast<const char*>(page.data());
    std::vector<PackedRow> rows;
    for (std::size_t i = 0; i < heldRowCount(page); ++i) {
        const std::uint16_t slot = heldSlot(page, i);
        rows.push_back({{data + heldRowStart(page, i), heldRowEnd(page, i) - heldRowStart(page, i)},
                        (slot & datapage::PointerFlag) != 0,
                        (slot & datapage::NotRowFlag) != 0});
    }
    rows[row].bytes = bytes;
    rows[row].pointer = pointer;
    return packRows(heldOwner(page), readU32({data, page.size()}, datapage::UnknownOffset), rows);
}

} // namespace

struct RowUpdates::Held {
    std::uint32_t number = 0;
    PageImage image{};
    bool changed = false;
};

RowUpdates::RowUpdates(PageFile& file, TableDefinition& definition,
                       std::vector<std::pair<std::size_t, Value>> changes)
    : file_(file), definition_(definition), changes_(std::move(changes)),
      changed_(definition.columns.size(), nullptr), longValues_(false) {
    for (const auto& [i, value] : changes_) {
        changed_.at(i) = &value;
        longValues_ = longValues_ || isLongValue(definition.columns[i]);
    }
}

RowUpdates::~RowUpdates() = default;

RowUpdates::Held* RowUpdates::find(std::uint32_t page) {
    for (Held& held : held_)
        if (held.number == page)
            return &held;
    return nullptr;
}

RowUpdates::Held& RowUpdates::hold(const DataPage& page) {
    // Packing a page that is not packed yet is what the first change to it would do.
    const bool packed = isPacked(page);
    held_.push_back(
        {page.number(),
         packed ? *page.bytes() : *packRows(page.owner(), page.unknown(), pageRowViews(page)),
         !packed});
    return held_.back();
}

void RowUpdates::release(std::uint32_t page) {
    for (auto it = held_.begin(); it != held_.end(); ++it)
        if (it->number == page) {
            if (it->changed)
                file_.write(it->number, it->image);
            held_.erase(it);
            return;
        }
}

void RowUpdates::finish() {
    for (const Held& held : held_)
        if (held.changed)
            file_.write(held.number, held.image);
    held_.clear();
    source_ = target_ = 0;
}

// Rows the held pages do not cover go through updateRow with every value decoded, the pages
// held written first.
void RowUpdates::fallBack(RowLocation location) {
    finish();
    const RowLocation image = rowChain(file_, definition_, location).back();
    const DataPage page = readDataPage(file_, image.page);
    std::vector<Value> values = decodeRow(file_, definition_, page.row(image.row), image.page);
    for (const auto& [i, value] : changes_)
        values[i] = value;
    updateRow(file_, definition_, location, values);
}

void RowUpdates::update(RowLocation location) {
    if (longValues_) {
        fallBack(location);
        return;
    }
    if (source_ != location.page && source_ != 0) {
        if (source_ != target_)
            release(source_);
        source_ = 0;
    }
    Held* held = find(location.page);
    if (!held) {
        if (location.page >= file_.pageCount() ||
            (*file_.page(location.page))[datapage::TypeOffset] != DataPageType) {
            fallBack(location); // refused there, as a location of no row
            return;
        }
        const DataPage page = readDataPage(file_, location.page);
        if (page.owner() != definition_.page) {
            fallBack(location);
            return;
        }
        held = &hold(page);
    }
    source_ = location.page;
    if (location.row >= heldRowCount(held->image) ||
        (heldSlot(held->image, location.row) & (datapage::PointerFlag | datapage::NotRowFlag)) !=
            0) {
        fallBack(location); // an image elsewhere, or no row of its own
        return;
    }
    const std::size_t start = heldRowStart(held->image, location.row);
    const std::size_t size = heldRowEnd(held->image, location.row) - start;
    for (const auto& [i, value] : changes_) {
        const ColumnDefinition& column = definition_.columns[i];
        if (column.type == ColumnType::Text && value.text.size() * 2 > column.length)
            throw std::invalid_argument("column " + column.name + ": text longer than the column");
    }
    const std::string row = encodeRowChanging(
        definition_,
        StoredRow(std::span(held->image).subspan(start, size), location.page, definition_),
        changed_);
    if (row.size() > MaxRowSize)
        throw std::length_error("a row of " + std::to_string(row.size()) +
                                " bytes is longer than the " + std::to_string(MaxRowSize) +
                                " a page takes");
    if (heldUsed(held->image) - size + row.size() <= PageFile::PageSize) {
        if (const auto image = heldWithRow(held->image, location.row, row, false)) {
            held->image = *image;
            held->changed = true;
            return;
        }
    }

    const RowLocation moved = place(row);
    // The row's own slot keeps its bytes behind the pointer, as updateRow leaves it.
    held = find(location.page);
    if (size >= OverflowPointerSize) {
        pointInPlace(held->image, location.row, start, moved);
    } else {
        std::string pointed(reinterpret_cast<const char*>(held->image.data()) + start, size);
        pointed.resize(OverflowPointerSize, '\0');
        putU32(writable(pointed), 0, rowPointer(moved));
        const auto image = heldWithRow(held->image, location.row, pointed, true);
        if (!image)
            throw std::length_error("page " + std::to_string(location.page) +
                                    " has no room for the overflow pointer of row " +
                                    std::to_string(location.row));
        held->image = *image;
    }
    held->changed = true;
}

// placeRow's choice of page, the page being filled held until it is full.
RowLocation RowUpdates::place(std::string_view bytes) {
    const RowHome home = tableHome(definition_);
    if (target_ == 0) {
        const UsageMap withSpace = readUsageMap(file_, home.freePages);
        if (!withSpace.pages.empty()) {
            const std::uint32_t last = withSpace.pages.back();
            const Held* held = find(last);
            std::optional<DataPage> page;
            if (!held)
                page = readDataPage(file_, last);
            const bool usable =
                (held ? heldRoomFor(held->image, bytes.size()) &&
                            heldOwner(held->image) == home.owner
                      : roomFor(packedSize(*page), page->rowSlots().size(), bytes.size()) &&
                            page->owner() == home.owner) &&
                usageMapHas(file_, home.ownedPages, last);
            if (usable) {
                if (!held)
                    hold(*page);
                target_ = last;
            } else {
                removeFromUsageMap(file_, home.freePages, last);
            }
        }
    }
    if (target_ != 0) {
        Held& held = *find(target_);
        if (heldRoomFor(held.image, bytes.size())) {
            held.changed = true;
            return {target_, appendPackedRow(held.image, bytes, true)};
        }
        removeFromUsageMap(file_, home.freePages, target_);
        if (target_ != source_)
            release(target_);
        target_ = 0;
    }
    PageImage image;
    const RowLocation placed = placeOnNewPage(file_, home, bytes, true, image);
    held_.push_back({placed.page, image, false});
    target_ = placed.page;
    return placed;
}

} // namespace engine::jet4
