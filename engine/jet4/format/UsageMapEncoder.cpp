#include "engine/jet4/format/UsageMapEncoder.h"

#include "engine/jet4/format/EncoderBytes.h"

#include <stdexcept>

namespace engine::jet4 {

using namespace usagemap;

namespace {

constexpr std::size_t MapPageFlagOffset = 1;
constexpr std::uint8_t MapPageFlag = 0x01;

void setBit(std::span<std::uint8_t> bitmap, std::uint64_t bit) {
    bitmap[bit / 8] |= static_cast<std::uint8_t>(1u << (bit % 8));
}

} // namespace

std::uint32_t inlineUsageMapStart(std::span<const std::uint32_t> pages, std::size_t bitmapSize) {
    if (pages.empty() || pages.back() < bitmapSize * 8)
        return 0;
    return pages.front() & ~std::uint32_t{7};
}

std::string encodeInlineUsageMap(std::uint32_t firstPage, std::span<const std::uint32_t> pages,
                                 std::size_t bitmapSize) {
    std::string row(InlineBitmapOffset + bitmapSize, '\0');
    const auto bytes = writable(row);
    putU8(bytes, KindOffset, static_cast<std::uint8_t>(UsageMapKind::Inline));
    putU32(bytes, InlineFirstPageOffset, firstPage);
    const auto bitmap = bytes.subspan(InlineBitmapOffset);
    for (const std::uint32_t page : pages) {
        if (page < firstPage || std::uint64_t{page} - firstPage >= bitmapSize * 8)
            throw std::invalid_argument("page " + std::to_string(page) +
                                        " is outside the inline map from " +
                                        std::to_string(firstPage));
        setBit(bitmap, page - firstPage);
    }
    return row;
}

std::string encodeReferenceUsageMap(std::span<const std::uint32_t> mapPages) {
    std::string row(ReferenceListOffset + 4 * mapPages.size(), '\0');
    const auto bytes = writable(row);
    putU8(bytes, KindOffset, static_cast<std::uint8_t>(UsageMapKind::Reference));
    for (std::size_t k = 0; k < mapPages.size(); ++k)
        putU32(bytes, ReferenceListOffset + 4 * k, mapPages[k]);
    return row;
}

PageImage buildUsageMapPage(std::size_t index, std::span<const std::uint32_t> pages) {
    PageImage page{};
    putU8(page, 0, UsageMapPageType);
    putU8(page, MapPageFlagOffset, MapPageFlag);
    const std::uint64_t first = std::uint64_t{index} * PagesPerMapPage;
    const auto bitmap = std::span(page).subspan(MapPageBitmapOffset);
    for (const std::uint32_t p : pages)
        if (p >= first && p < first + PagesPerMapPage)
            setBit(bitmap, p - first);
    return page;
}

} // namespace engine::jet4
