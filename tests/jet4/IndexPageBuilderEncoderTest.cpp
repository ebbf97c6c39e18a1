// Index pages rebuilt from the entries and links the reader returns equal Access's pages, leaf
// and node, single entries and prefix-compressed runs, on every index page of every sample.

#include "engine/jet4/index/IndexPageBuilder.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>
#include <iostream>

using namespace engine::jet4;

namespace {

bool isIndexPage(const PageFile& file, std::uint32_t number) {
    const std::uint8_t type = (*file.page(number))[0];
    return type == IndexLeafPageType || type == IndexNodePageType;
}

// Where the page's entries end: the free space counts from there to the page end.
std::size_t entriesEnd(const PageImage& page) {
    return PageFile::PageSize - (page[2] | page[3] << 8);
}

} // namespace

TEST(IndexPageBuilder, RebuildsEveryIndexPageOfEverySampleByteForByte) {
    REQUIRE_JET_SAMPLES();
    std::size_t matched = 0, total = 0, leftovers = 0;
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (std::uint32_t number = 0; number < file.pageCount(); ++number) {
            if (!isIndexPage(file, number))
                continue;
            const IndexPage page = readIndexPage(file, number);
            const PageImage built = buildIndexPage(page, page.entries);
            const PageData stored = file.page(number);
            const std::size_t end = entriesEnd(built);
            const bool same = std::equal(built.begin(), built.begin() + end, stored->begin());
            EXPECT_TRUE(same) << "page " << number;
            matched += same;
            ++total;
            // Access leaves the bytes of entries that moved away past the last entry.
            leftovers += !std::equal(built.begin() + end, built.end(), stored->begin() + end);
        }
    }
    std::cout << "index pages: " << matched << " of " << total
              << " byte for byte up to the free space; with leftovers after it: " << leftovers
              << "\n";
}

TEST(IndexPageBuilder, CountsTheEntriesThatFitAPage) {
    // Entries sharing a long prefix pack far more densely than unrelated ones.
    std::vector<IndexEntry> alike, unlike;
    for (std::uint32_t i = 0; i < 2000; ++i) {
        alike.push_back({std::string(100, 'k') + char(i >> 8) + char(i), {1, 0}, 0});
        unlike.push_back(
            {std::string(1, char(i >> 8)) + char(i) + std::string(100, 'k'), {1, 0}, 0});
    }
    const std::size_t dense = indexEntriesThatFit(alike, true);
    const std::size_t sparse = indexEntriesThatFit(unlike, true);
    EXPECT_EQ(sparse, 3616u / 106u);
    EXPECT_EQ(dense, 1 + (3616u - 106u) / 6u);
    IndexPage leaf;
    leaf.prefixLength =
        static_cast<std::uint16_t>(sharedPrefixLength(std::span(alike).first(dense), true));
    EXPECT_EQ(leaf.prefixLength, 100u);
    EXPECT_NO_THROW(buildIndexPage(leaf, std::span(alike).first(dense)));
    EXPECT_THROW(buildIndexPage(leaf, std::span(alike).first(dense + 1)), std::invalid_argument);
}
