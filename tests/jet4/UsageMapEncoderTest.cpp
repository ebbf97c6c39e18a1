// Usage maps re-encoded from what the reader makes of them: every map row of every sample (the
// global map, tables' owned and free-space maps, index maps, long-value maps) byte for byte.

#include "engine/jet4/format/UsageMapEncoder.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/TableDefinition.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>
#include <iostream>
#include <set>

using namespace engine::jet4;

namespace {

// The row pointers of every usage map the file's tables name, and the global map.
std::set<std::uint32_t> mapPointers(const PageFile& file) {
    std::set<std::uint32_t> pointers{GlobalUsageMapPointer};
    for (const CatalogEntry& entry : readCatalog(file)) {
        if (entry.type != CatalogEntry::TableType)
            continue;
        const TableDefinition def = readTableDefinition(file, static_cast<std::uint32_t>(entry.id));
        pointers.insert({def.ownedPages, def.freePages});
        for (const PhysicalIndex& index : def.physicalIndexes)
            pointers.insert(index.usageMap);
        for (const LongValueMaps& maps : def.longValueMaps)
            pointers.insert({maps.ownedPages, maps.freePages});
    }
    return pointers;
}

} // namespace

TEST(UsageMapEncoder, ReencodesEveryMapRowOfEverySampleByteForByte) {
    REQUIRE_JET_SAMPLES();
    std::size_t matched = 0, total = 0, mapPages = 0, mapPagesMatched = 0, starts = 0;
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (const std::uint32_t pointer : mapPointers(file)) {
            if (rowLocationFromPointer(pointer).page == 0)
                continue; // no map
            const UsageMap map = readUsageMap(file, pointer);
            const auto stored = readDataPage(file, map.location.page).row(map.location.row);
            const std::string row =
                map.kind == UsageMapKind::Inline
                    ? encodeInlineUsageMap(map.firstPage, map.pages, stored.size() - 5)
                    : encodeReferenceUsageMap(map.mapPages);
            const bool same =
                std::equal(row.begin(), row.end(), stored.begin(), stored.end(),
                           [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
            EXPECT_TRUE(same) << "map " << pointer;
            if (map.kind == UsageMapKind::Inline && pointer != GlobalUsageMapPointer) {
                EXPECT_EQ(inlineUsageMapStart(map.pages, stored.size() - 5), map.firstPage)
                    << "map " << pointer;
                ++starts;
            }
            matched += same;
            ++total;
            for (std::size_t k = 0; k < map.mapPages.size(); ++k) {
                if (map.mapPages[k] == 0)
                    continue;
                const PageImage built = buildUsageMapPage(k, map.pages);
                const PageData page = file.page(map.mapPages[k]);
                // Bytes 2-3 are not known; the bitmap and the type must agree.
                const bool pageSame = built[0] == (*page)[0] &&
                                      std::equal(built.begin() + 4, built.end(), page->begin() + 4);
                EXPECT_TRUE(pageSame) << "map page " << map.mapPages[k];
                mapPagesMatched += pageSame;
                ++mapPages;
            }
        }
    }
    std::cout << "usage maps: " << matched << " of " << total << " rows byte for byte; map pages "
              << mapPagesMatched << " of " << mapPages << "; start page rule checked on " << starts
              << " inline maps\n";
}

TEST(UsageMapEncoder, RefusesPagesOutsideAnInlineMap) {
    const std::uint32_t pages[] = {100, 612};
    EXPECT_NO_THROW(encodeInlineUsageMap(100, std::span(pages).first(1)));
    EXPECT_THROW(encodeInlineUsageMap(100, pages), std::invalid_argument);
    EXPECT_THROW(encodeInlineUsageMap(101, std::span(pages).first(1)), std::invalid_argument);
}
