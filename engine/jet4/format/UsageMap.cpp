#include "engine/jet4/format/UsageMap.h"

#include "engine/jet4/format/Bytes.h"

#include <span>

namespace engine::jet4 {

namespace {

using namespace usagemap;

void collectBits(std::span<const std::uint8_t> bitmap, std::uint64_t firstPage,
                 std::vector<std::uint32_t>& pages) {
    for (std::size_t byte = 0; byte < bitmap.size(); ++byte) {
        if (bitmap[byte] == 0)
            continue;
        for (unsigned bit = 0; bit < 8; ++bit) {
            if ((bitmap[byte] >> bit & 1) == 0)
                continue;
            const std::uint64_t page = firstPage + byte * 8 + bit;
            if (page > 0xFFFFFFFF)
                return; // no page number can be that large; the rest of the bitmap is noise
            pages.push_back(static_cast<std::uint32_t>(page));
        }
    }
}

} // namespace

UsageMap readUsageMap(const PageFile& file, std::uint32_t rowPointer) {
    UsageMap map;
    map.location = rowLocationFromPointer(rowPointer);
    const DataPage holder = readDataPage(file, map.location.page);
    const ByteView row(holder.row(map.location.row), map.location.page, "usage map");

    const std::uint8_t kind = row.u8(KindOffset);
    if (kind == static_cast<std::uint8_t>(UsageMapKind::Inline)) {
        map.kind = UsageMapKind::Inline;
        map.firstPage = row.u32(InlineFirstPageOffset);
        collectBits(row.bytes().subspan(InlineBitmapOffset), map.firstPage, map.pages);
        return map;
    }
    if (kind != static_cast<std::uint8_t>(UsageMapKind::Reference))
        row.fail("row " + std::to_string(map.location.row) + " has unknown kind " +
                 std::to_string(kind));

    map.kind = UsageMapKind::Reference;
    const std::size_t count = (row.size() - ReferenceListOffset) / 4;
    for (std::size_t k = 0; k < count; ++k) {
        const std::uint32_t mapPage = row.u32(ReferenceListOffset + k * 4);
        map.mapPages.push_back(mapPage);
        if (mapPage == 0)
            continue;
        const PageData bytes = file.page(mapPage);
        const ByteView page(*bytes, mapPage, "usage map page");
        if (page.u8(0) != UsageMapPageType)
            page.fail("page type is " + std::to_string(page.u8(0)) + ", not a usage map page");
        collectBits(page.bytes().subspan(MapPageBitmapOffset), std::uint64_t{k} * PagesPerMapPage,
                    map.pages);
    }
    return map;
}

} // namespace engine::jet4
