#include "engine/jet4/write/PageAllocator.h"

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/EncoderBytes.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/format/UsageMapEncoder.h"
#include "engine/jet4/write/PagesInReach.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace engine::jet4 {

using namespace usagemap;

namespace {

constexpr std::size_t DataPageFlagOffset = 1;
constexpr std::uint8_t DataPageFlag = 0x01;
constexpr std::size_t MaxRowsOnPage = 255; // a row pointer has one byte for the row

// Access never makes the global map's bitmap smaller than a table map's.
constexpr std::size_t MinGlobalBitmapSize = 64;
constexpr std::size_t GlobalBitmapGranule = 4;

std::uint32_t readU32(std::string_view bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i)
        v |= std::uint32_t{static_cast<std::uint8_t>(bytes[at + i])} << (8 * i);
    return v;
}

void setBit(std::span<std::uint8_t> bitmap, std::size_t bit, bool on) {
    const auto mask = static_cast<std::uint8_t>(1u << (bit % 8));
    if (on)
        bitmap[bit / 8] |= mask;
    else
        bitmap[bit / 8] &= static_cast<std::uint8_t>(~mask);
}

// The map row `location` designates, with the page that holds it.
struct MapRow {
    DataPage holder;
    std::vector<DataPageBuilder::Row> rows;
    std::uint8_t row;

    std::string& bytes() { return rows[row].bytes; }
};

MapRow readMapRow(const PageFile& file, RowLocation location) {
    DataPage holder = readDataPage(file, location.page);
    if (location.row >= holder.rowSlots().size())
        throw FormatError(location.page,
                          "usage map row " + std::to_string(location.row) + " is missing");
    auto rows = pageRows(holder);
    if (rows[location.row].bytes.size() < InlineBitmapOffset)
        throw FormatError(location.page,
                          "usage map row " + std::to_string(location.row) + " is too short");
    return {std::move(holder), std::move(rows), location.row};
}

void writeMapRow(PageFile& file, const MapRow& map) {
    const auto image = packRows(map.holder.owner(), map.holder.unknown(), map.rows);
    if (!image)
        throw std::length_error("page " + std::to_string(map.holder.number()) +
                                " has no room left for its usage map row " +
                                std::to_string(map.row));
    file.write(map.holder.number(), *image);
}

// Sets or clears `page`'s bit on the type-0x05 page that covers it.
void setMapPageBit(PageFile& file, std::uint32_t mapPage, std::uint32_t page, bool on) {
    PageImage bytes = *file.page(mapPage);
    if (bytes[0] != UsageMapPageType)
        throw FormatError(mapPage,
                          "page type is " + std::to_string(bytes[0]) + ", not a usage map page");
    setBit(std::span(bytes).subspan(MapPageBitmapOffset), page % PagesPerMapPage, on);
    file.write(mapPage, bytes);
}

// Map pages a reference free-page map lists: enough for 2 GiB of pages, the largest Jet 4 file.
constexpr std::size_t GlobalMapPageSlots = 17;

// The free pages of map page `index`'s range when the file has `total` pages: those `isFree`
// names, and every page past the end.
template <typename IsFree>
PageImage freePageMap(std::size_t index, std::uint32_t total, IsFree isFree,
                      std::optional<std::uint32_t> used = std::nullopt) {
    std::vector<std::uint32_t> free;
    const std::uint64_t first = std::uint64_t{index} * PagesPerMapPage;
    for (std::uint64_t p = first; p < first + PagesPerMapPage; ++p)
        if ((p >= total || isFree(static_cast<std::uint32_t>(p))) && p != used)
            free.push_back(static_cast<std::uint32_t>(p));
    return buildUsageMapPage(index, free);
}

// Page 1 has no room left for the inline free-page map's bitmap: the map becomes a reference map
// whose type-0x05 pages, appended at the end of the file, cover every page the file has. The new
// map pages are themselves in use.
void promoteGlobalMap(PageFile& file, MapRow& map) {
    const std::string& row = map.bytes();
    const std::uint32_t first = readU32(row, InlineFirstPageOffset);
    const std::size_t bits = (row.size() - InlineBitmapOffset) * 8;
    const std::uint32_t before = file.pageCount();
    std::size_t ranges = 0;
    while (ranges * PagesPerMapPage < before + ranges)
        ++ranges;
    if (ranges > GlobalMapPageSlots)
        throw std::length_error("the file is too large for a free-page map");
    const std::uint32_t total = before + static_cast<std::uint32_t>(ranges);
    const auto wasFree = [&](std::uint32_t p) {
        if (p >= before)
            return false; // the map pages themselves
        if (p < first || p - first >= bits)
            return p >= first; // past the bitmap: past the end when the map was written
        const std::size_t bit = p - first;
        return (static_cast<std::uint8_t>(row[InlineBitmapOffset + bit / 8]) >> (bit % 8) & 1) != 0;
    };
    std::string reference(ReferenceListOffset + 4 * GlobalMapPageSlots, '\0');
    reference[KindOffset] = static_cast<char>(UsageMapKind::Reference);
    for (std::size_t k = 0; k < ranges; ++k) {
        const std::uint32_t mapPage = file.append(freePageMap(k, total, wasFree));
        putU32(writable(reference), ReferenceListOffset + 4 * k, mapPage);
    }
    map.bytes() = std::move(reference);
    writeMapRow(file, map);
}

// Adds a map page for range `k` to the reference free-page map, every page of the range free (the
// file does not reach it yet) but the map page itself when it falls in the range; a map page
// that falls in the next range is marked used there.
void markUsed(PageFile& file, std::uint32_t page);
void addGlobalMapPage(PageFile& file, MapRow& map, std::size_t k) {
    const std::size_t offset = ReferenceListOffset + 4 * k;
    if (offset + 4 > map.bytes().size())
        throw std::length_error("the free-page map has no room for pages past " +
                                std::to_string(k * PagesPerMapPage));
    const std::uint32_t number = file.pageCount();
    const bool inRange = number / PagesPerMapPage == k;
    const std::uint32_t mapPage = file.append(freePageMap(
        k, 0, [](std::uint32_t) { return true; }, inRange ? std::optional(number) : std::nullopt));
    putU32(writable(map.bytes()), offset, mapPage);
    writeMapRow(file, map);
    if (!inRange)
        markUsed(file, mapPage);
}

// Marks every page from `end` on free in the global free-page map, as Access marks the pages past
// the end of its files.
void freePastEnd(PageFile& file, std::uint32_t end) {
    MapRow map = readMapRow(file, rowLocationFromPointer(GlobalUsageMapPointer));
    std::string& row = map.bytes();
    if (static_cast<std::uint8_t>(row[KindOffset]) ==
        static_cast<std::uint8_t>(UsageMapKind::Reference)) {
        for (std::size_t k = 0; ReferenceListOffset + 4 * k + 4 <= row.size(); ++k) {
            const std::uint32_t mapPage = readU32(row, ReferenceListOffset + 4 * k);
            const std::uint64_t first = std::uint64_t{k} * PagesPerMapPage;
            if (mapPage == 0 || first + PagesPerMapPage <= end)
                continue;
            PageImage bytes = *file.page(mapPage);
            const auto bitmap = std::span(bytes).subspan(MapPageBitmapOffset);
            for (std::uint64_t p = std::max<std::uint64_t>(first, end); p < first + PagesPerMapPage;
                 ++p)
                setBit(bitmap, static_cast<std::size_t>(p - first), true);
            file.write(mapPage, bytes);
        }
        return;
    }
    const std::uint32_t first = readU32(row, InlineFirstPageOffset);
    const auto bitmap = writable(row).subspan(InlineBitmapOffset);
    for (std::size_t bit = end > first ? end - first : 0; bit < bitmap.size() * 8; ++bit)
        setBit(bitmap, bit, true);
    writeMapRow(file, map);
}

// A page just added at the end of the file that the free-page map already counts as used. When
// something the database needs lies there or past it, the file was cut short, and pages it still
// names would be handed out twice: refused. Otherwise the map merely outlived pages cut off the
// end (Access and Jackcess leave such files): every page from here on becomes free in the map.
void settlePastEnd(PageFile& file, std::uint32_t page) {
    if (pagesInReachEnd(file) > page)
        throw FormatError(page, "the free-page map counts page " + std::to_string(page) +
                                    " as used, but the file ends before it (it was cut short)");
    freePastEnd(file, page);
}

// Clears `page`'s bit (page in use) in the global free-page map.
void markUsed(PageFile& file, std::uint32_t page) {
    MapRow map = readMapRow(file, rowLocationFromPointer(GlobalUsageMapPointer));
    std::string& row = map.bytes();
    const auto kind = static_cast<std::uint8_t>(row[KindOffset]);

    if (kind == static_cast<std::uint8_t>(UsageMapKind::Reference)) {
        const std::size_t k = page / PagesPerMapPage;
        const std::size_t offset = ReferenceListOffset + 4 * k;
        std::uint32_t mapPage = offset + 4 <= row.size() ? readU32(row, offset) : 0;
        if (mapPage == 0) {
            addGlobalMapPage(file, map, k);
            mapPage = readU32(map.bytes(), offset);
        }
        const PageData bytes = file.page(mapPage);
        const std::size_t bit = page % PagesPerMapPage;
        if (((*bytes)[MapPageBitmapOffset + bit / 8] >> (bit % 8) & 1) == 0) {
            settlePastEnd(file, page);
            markUsed(file, page);
            return;
        }
        setMapPageBit(file, mapPage, page, false);
        return;
    }
    if (kind != static_cast<std::uint8_t>(UsageMapKind::Inline))
        throw FormatError(map.holder.number(),
                          "the free-page map has unknown kind " + std::to_string(kind));

    const std::uint32_t first = readU32(row, InlineFirstPageOffset);
    if (page < first)
        throw FormatError(map.holder.number(), "the free-page map starts at page " +
                                                   std::to_string(first) + ", after page " +
                                                   std::to_string(page));
    const std::size_t bit = page - first;
    if (bit >= (row.size() - InlineBitmapOffset) * 8) {
        // The new bytes stand for pages past the end of the file: free, as Access marks them.
        const std::size_t bitmap =
            std::max(globalUsageMapBitmapSize(file.pageCount() - first), (bit + 8) / 8);
        MapRow grown = map;
        grown.bytes().resize(InlineBitmapOffset + bitmap, static_cast<char>(0xFF));
        if (!packRows(grown.holder.owner(), grown.holder.unknown(), grown.rows)) {
            promoteGlobalMap(file, map);
            markUsed(file, page);
            return;
        }
        map = std::move(grown);
    }
    if ((static_cast<std::uint8_t>(map.bytes()[InlineBitmapOffset + bit / 8]) >> (bit % 8) & 1) ==
        0) {
        settlePastEnd(file, page);
        markUsed(file, page);
        return;
    }
    setBit(writable(map.bytes()).subspan(InlineBitmapOffset), bit, false);
    writeMapRow(file, map);
}

UsageMapKind mapKind(const PageFile& file, std::uint32_t mapPointer) {
    const RowLocation at = rowLocationFromPointer(mapPointer);
    const DataPage holder = readDataPage(file, at.page);
    return static_cast<UsageMapKind>(
        ByteView(holder.row(at.row), at.page, "usage map").u8(KindOffset));
}

// A reference map's row and map pages, without the pages they list.
UsageMap referenceMap(const PageFile& file, std::uint32_t mapPointer) {
    UsageMap map;
    map.location = rowLocationFromPointer(mapPointer);
    map.kind = UsageMapKind::Reference;
    const DataPage holder = readDataPage(file, map.location.page);
    const ByteView row(holder.row(map.location.row), map.location.page, "usage map");
    for (std::size_t at = ReferenceListOffset; at + 4 <= row.size(); at += 4)
        map.mapPages.push_back(row.u32(at));
    return map;
}

bool fitsInline(const std::vector<std::uint32_t>& pages, std::size_t bitmapSize) {
    if (pages.empty())
        return true;
    const std::uint32_t start = inlineUsageMapStart(pages, bitmapSize);
    return std::uint64_t{pages.back()} - start < bitmapSize * 8;
}

void writeInline(PageFile& file, MapRow& map, const std::vector<std::uint32_t>& pages) {
    const std::size_t bitmapSize = map.bytes().size() - InlineBitmapOffset;
    map.bytes() = encodeInlineUsageMap(inlineUsageMapStart(pages, bitmapSize), pages, bitmapSize);
    writeMapRow(file, map);
}

// Turns an inline map into a reference map of the same row length listing `pages`.
void promote(PageFile& file, MapRow& map, const std::vector<std::uint32_t>& pages) {
    const std::size_t rowSize = map.bytes().size();
    std::vector<std::uint32_t> mapPages((rowSize - ReferenceListOffset) / 4, 0);
    for (const std::uint32_t page : pages)
        if (page / PagesPerMapPage >= mapPages.size())
            throw std::length_error("usage map row on page " + std::to_string(map.holder.number()) +
                                    " has no room to refer to page " + std::to_string(page));
    for (std::size_t k = 0; k < mapPages.size(); ++k) {
        const std::uint64_t first = std::uint64_t{k} * PagesPerMapPage;
        const bool used = std::any_of(pages.begin(), pages.end(), [&](std::uint32_t p) {
            return p >= first && p < first + PagesPerMapPage;
        });
        if (used)
            mapPages[k] = allocatePage(file, buildUsageMapPage(k, pages));
    }
    // Allocating may have rewritten the holder (never for a table's maps, which do not share
    // page 1, but read again rather than assume).
    MapRow fresh = readMapRow(file, {map.holder.number(), map.row});
    std::string row = encodeReferenceUsageMap(mapPages);
    row.resize(rowSize, '\0');
    fresh.bytes() = row;
    writeMapRow(file, fresh);
}

void setReferenceBit(PageFile& file, const UsageMap& map, std::uint32_t page, bool on) {
    const std::size_t k = page / PagesPerMapPage;
    if (k >= map.mapPages.size())
        throw std::length_error("usage map on page " + std::to_string(map.location.page) +
                                " has no room to refer to page " + std::to_string(page));
    if (map.mapPages[k] != 0) {
        setMapPageBit(file, map.mapPages[k], page, on);
        return;
    }
    if (!on)
        return;
    std::vector<std::uint32_t> mapPages = map.mapPages;
    const std::uint32_t only[] = {page};
    mapPages[k] = allocatePage(file, buildUsageMapPage(k, only));
    MapRow row = readMapRow(file, map.location);
    const std::size_t rowSize = row.bytes().size();
    row.bytes() = encodeReferenceUsageMap(mapPages);
    row.bytes().resize(rowSize, '\0');
    writeMapRow(file, row);
}

} // namespace

std::size_t globalUsageMapBitmapSize(std::uint32_t pages) {
    const std::size_t bytes = (std::size_t{pages} + 7) / 8;
    const std::size_t rounded =
        (bytes + GlobalBitmapGranule - 1) / GlobalBitmapGranule * GlobalBitmapGranule;
    return std::max(MinGlobalBitmapSize, rounded);
}

void markPageFree(PageFile& file, std::uint32_t page) {
    const UsageMap map = readUsageMap(file, GlobalUsageMapPointer);
    std::uint32_t holder = map.location.page;
    std::size_t byte = 0;
    if (map.kind == UsageMapKind::Inline) {
        const DataPage data = readDataPage(file, holder);
        const RowSlot& slot = data.rowSlots().at(map.location.row);
        if (page < map.firstPage)
            return;
        byte = slot.start + usagemap::InlineBitmapOffset + (page - map.firstPage) / 8;
        if (byte >= slot.end)
            return;
    } else {
        const std::size_t k = page / PagesPerMapPage;
        if (k >= map.mapPages.size() || map.mapPages[k] == 0)
            return;
        holder = map.mapPages[k];
        byte = usagemap::MapPageBitmapOffset + (page % PagesPerMapPage) / 8;
    }
    PageImage bytes = *file.page(holder);
    bytes[byte] |= static_cast<std::uint8_t>(1u << (page % 8));
    file.write(holder, bytes);
}

std::uint32_t allocatePage(PageFile& file, const PageImage& bytes) {
    const std::uint32_t page = file.append(bytes);
    markUsed(file, page);
    return page;
}

void addToUsageMap(PageFile& file, std::uint32_t mapPointer, std::uint32_t page,
                   MapOverflow overflow) {
    if (usageMapHas(file, mapPointer, page))
        return;
    if (mapKind(file, mapPointer) == UsageMapKind::Reference) {
        setReferenceBit(file, referenceMap(file, mapPointer), page, true);
        return;
    }
    const UsageMap map = readUsageMap(file, mapPointer);
    std::vector<std::uint32_t> pages = map.pages;
    pages.insert(std::upper_bound(pages.begin(), pages.end(), page), page);
    MapRow row = readMapRow(file, map.location);
    const std::size_t bitmapSize = row.bytes().size() - InlineBitmapOffset;
    if (overflow == MapOverflow::DropLowest)
        while (!fitsInline(pages, bitmapSize))
            pages.erase(pages.begin());
    if (fitsInline(pages, bitmapSize))
        writeInline(file, row, pages);
    else
        promote(file, row, pages);
}

void removeFromUsageMap(PageFile& file, std::uint32_t mapPointer, std::uint32_t page) {
    if (!usageMapHas(file, mapPointer, page))
        return;
    if (mapKind(file, mapPointer) == UsageMapKind::Reference) {
        setReferenceBit(file, referenceMap(file, mapPointer), page, false);
        return;
    }
    const UsageMap map = readUsageMap(file, mapPointer);
    std::vector<std::uint32_t> pages = map.pages;
    pages.erase(std::lower_bound(pages.begin(), pages.end(), page));
    MapRow row = readMapRow(file, map.location);
    writeInline(file, row, pages);
}

bool usageMapHas(const PageFile& file, std::uint32_t mapPointer, std::uint32_t page) {
    // One bit is read, on the map row or the one map page that covers `page`: a table's map
    // may list tens of thousands of pages, and rows are placed one at a time.
    const RowLocation at = rowLocationFromPointer(mapPointer);
    const DataPage holder = readDataPage(file, at.page);
    const ByteView row(holder.row(at.row), at.page, "usage map");
    const std::uint8_t kind = row.u8(KindOffset);
    if (kind == static_cast<std::uint8_t>(UsageMapKind::Inline)) {
        const std::uint32_t first = row.u32(InlineFirstPageOffset);
        if (page < first || std::uint64_t{page} - first >= (row.size() - InlineBitmapOffset) * 8)
            return false;
        const std::size_t bit = page - first;
        return (row.u8(InlineBitmapOffset + bit / 8) >> (bit % 8) & 1) != 0;
    }
    if (kind != static_cast<std::uint8_t>(UsageMapKind::Reference))
        row.fail("row " + std::to_string(at.row) + " has unknown kind " + std::to_string(kind));
    const std::size_t offset = ReferenceListOffset + 4 * std::size_t{page / PagesPerMapPage};
    if (offset + 4 > row.size())
        return false;
    const std::uint32_t mapPage = row.u32(offset);
    if (mapPage == 0)
        return false;
    const PageData bytes = file.page(mapPage);
    const ByteView map(*bytes, mapPage, "usage map page");
    if (map.u8(0) != UsageMapPageType)
        map.fail("page type is " + std::to_string(map.u8(0)) + ", not a usage map page");
    const std::size_t bit = page % PagesPerMapPage;
    return (map.u8(MapPageBitmapOffset + bit / 8) >> (bit % 8) & 1) != 0;
}

std::vector<DataPageBuilder::Row> pageRows(const DataPage& page) {
    std::vector<DataPageBuilder::Row> rows;
    rows.reserve(page.rowSlots().size());
    for (std::size_t slot = 0; slot < page.rowSlots().size(); ++slot) {
        const auto bytes = page.row(slot);
        const RowSlot& s = page.rowSlots()[slot];
        rows.push_back({std::string(bytes.begin(), bytes.end()), s.pointer, s.notRow});
    }
    return rows;
}

std::optional<PageImage> packRows(std::uint32_t owner, std::uint32_t unknown,
                                  const std::vector<DataPageBuilder::Row>& rows) {
    std::vector<PackedRow> views;
    views.reserve(rows.size());
    for (const auto& row : rows)
        views.push_back({row.bytes, row.pointer, row.notRow});
    return packRows(owner, unknown, views);
}

std::optional<PageImage> packRows(std::uint32_t owner, std::uint32_t unknown,
                                  std::span<const PackedRow> rows) {
    // The layout DataPageBuilder makes, without a copy of each row.
    std::size_t used = DataPage::HeaderSize + datapage::SlotSize * rows.size();
    for (const PackedRow& row : rows)
        used += row.bytes.size();
    if (rows.size() > MaxRowsOnPage || used > PageFile::PageSize)
        return std::nullopt;
    PageImage page{};
    putU8(page, datapage::TypeOffset, DataPageType);
    putU8(page, DataPageFlagOffset, DataPageFlag);
    putU16(page, datapage::FreeSpaceOffset, static_cast<std::uint16_t>(PageFile::PageSize - used));
    putU32(page, datapage::OwnerOffset, owner);
    putU32(page, datapage::UnknownOffset, unknown);
    putU16(page, datapage::RowCountOffset, static_cast<std::uint16_t>(rows.size()));
    std::size_t end = PageFile::PageSize;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const PackedRow& row = rows[i];
        const std::size_t start = end - row.bytes.size();
        std::copy(row.bytes.begin(), row.bytes.end(),
                  page.begin() + static_cast<std::ptrdiff_t>(start));
        putU16(page, DataPage::HeaderSize + datapage::SlotSize * i,
               static_cast<std::uint16_t>(start | (row.pointer ? datapage::PointerFlag : 0) |
                                          (row.notRow ? datapage::NotRowFlag : 0)));
        end = start;
    }
    return page;
}

std::vector<PackedRow> pageRowViews(const DataPage& page) {
    std::vector<PackedRow> rows;
    rows.reserve(page.rowSlots().size() + 1);
    const auto* bytes = reinterpret_cast<const char*>(page.bytes()->data());
    for (const RowSlot& slot : page.rowSlots())
        rows.push_back(
            {{bytes + slot.start, std::size_t{slot.end} - slot.start}, slot.pointer, slot.notRow});
    return rows;
}

std::size_t packedSize(const DataPage& page) {
    const auto& slots = page.rowSlots();
    // The slots' rows lie end to end from the page's end down (DataPage.h).
    return DataPage::HeaderSize + datapage::SlotSize * slots.size() +
           (slots.empty() ? 0 : PageFile::PageSize - slots.back().start);
}

bool replaceRow(PageFile& file, RowLocation location, std::string_view bytes) {
    const DataPage page = readDataPage(file, location.page);
    if (location.row >= page.rowSlots().size())
        throw FormatError(location.page, "data page has no row " + std::to_string(location.row));
    const RowSlot& slot = page.rowSlots()[location.row];
    if (packedSize(page) - (slot.end - slot.start) + bytes.size() > PageFile::PageSize)
        return false;
    auto rows = pageRowViews(page);
    rows[location.row].bytes = bytes;
    const auto image = packRows(page.owner(), page.unknown(), rows);
    if (!image)
        return false;
    file.write(location.page, *image);
    return true;
}

} // namespace engine::jet4
