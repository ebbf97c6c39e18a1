// Table definitions re-encoded from what the reader makes of them equal Access's own pages, for
// every table of every sample (user and system tables, one- and two-page definitions).

#include "engine/jet4/format/TableDefinitionEncoder.h"
#include "engine/jet4/format/Catalog.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>
#include <iostream>
#include <set>

using namespace engine::jet4;

namespace {

// The definition pages of every table the catalog names.
std::set<std::uint32_t> definitionPages(const PageFile& file) {
    std::set<std::uint32_t> pages{CatalogDefinitionPage};
    for (const CatalogEntry& entry : readCatalog(file))
        if (entry.type == CatalogEntry::TableType)
            pages.insert(static_cast<std::uint32_t>(entry.id));
    return pages;
}

// The first bytes of page `page` of the file that the definition covers (`used` of them).
std::vector<std::uint8_t> stored(const PageFile& file, std::uint32_t page, std::size_t used) {
    const PageData data = file.page(page);
    return {data->begin(), data->begin() + static_cast<std::ptrdiff_t>(used)};
}

} // namespace

TEST(TableDefinitionEncoder, ReencodesEveryDefinitionOfEverySampleByteForByte) {
    REQUIRE_JET_SAMPLES();
    std::size_t matched = 0, total = 0, leftoverPages = 0;
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (const std::uint32_t first : definitionPages(file)) {
            SCOPED_TRACE("definition page " + std::to_string(first));
            const TableDefinition definition = readTableDefinition(file, first);
            const std::vector<std::uint32_t> continuation(definition.pages.begin() + 1,
                                                          definition.pages.end());
            const auto pages = encodeTableDefinition(definition, continuation);
            ASSERT_EQ(pages.size(), definition.pages.size());
            std::size_t remaining = encodeTableDefinitionBytes(definition).size();
            bool same = true;
            for (std::size_t k = 0; k < pages.size(); ++k) {
                const std::size_t header = k == 0 ? 0 : 8;
                const std::size_t used = std::min(remaining, PageFile::PageSize - header);
                remaining -= used;
                const auto expected = stored(file, definition.pages[k], header + used);
                const std::vector<std::uint8_t> actual(pages[k].begin(),
                                                       pages[k].begin() + header + used);
                EXPECT_EQ(actual, expected) << "page " << definition.pages[k];
                same = same && actual == expected;
                // Access leaves old bytes past the definition; the encoder writes zeros there.
                const PageData data = file.page(definition.pages[k]);
                if (!std::equal(data->begin() + header + used, data->end(),
                                pages[k].begin() + header + used))
                    ++leftoverPages;
            }
            matched += same;
            ++total;
        }
    }
    std::cout << "table definitions: " << matched << " of " << total
              << " byte for byte; pages with leftovers past the definition: " << leftoverPages
              << "\n";
    EXPECT_EQ(matched, total);
}

TEST(TableDefinitionEncoder, DefinitionsReadBackAsTheyWereGiven) {
    REQUIRE_JET_SAMPLES();
    const PageFile file((*testsupport::jetSamplesFolder() / "testV2000.mdb").string());
    // The widest definition, over two pages, re-encoded with its continuation page moved: the
    // chain follows the new page.
    for (const std::uint32_t first : definitionPages(file)) {
        const TableDefinition definition = readTableDefinition(file, first);
        if (definition.pages.size() < 2)
            continue;
        const std::vector<std::uint32_t> moved{4242};
        const auto pages = encodeTableDefinition(definition, moved);
        ASSERT_EQ(pages.size(), 2u);
        EXPECT_EQ(pages[0][4] | pages[0][5] << 8, 4242);
        EXPECT_EQ(pages[1][4] | pages[1][5] << 8 | pages[1][6] << 16 | pages[1][7] << 24, 0);
        EXPECT_THROW(encodeTableDefinition(definition, {}), std::invalid_argument);
        return;
    }
    FAIL() << "testV2000.mdb has no two-page definition";
}
