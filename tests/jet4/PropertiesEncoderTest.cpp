// Property blobs re-encoded from what the reader makes of them equal the LvProp cells Access
// wrote, for every catalog row of every sample that has one.

#include "engine/jet4/format/PropertiesEncoder.h"
#include "engine/jet4/format/Catalog.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>
#include <iostream>

using namespace engine::jet4;

TEST(PropertiesEncoder, ReencodesEveryBlobOfEverySampleByteForByte) {
    REQUIRE_JET_SAMPLES();
    std::size_t matched = 0, total = 0;
    int shown = 0;
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (const CatalogEntry& entry : readCatalog(file)) {
            if (!entry.lvProp || entry.lvProp->size() < 4 ||
                entry.lvProp->compare(0, 3, "MR2") != 0)
                continue;
            const auto& blob = *entry.lvProp;
            const std::string encoded = encodeProperties(
                readProperties({reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()}));
            ++total;
            matched += encoded == blob;
            EXPECT_EQ(encoded.size(), blob.size()) << entry.name;
            if (encoded != blob && shown++ < 5)
                std::cout << path.filename().string() << " " << entry.name << " " << blob.size()
                          << " vs " << encoded.size() << " first difference at "
                          << std::mismatch(blob.begin(), blob.end(), encoded.begin(), encoded.end())
                                     .first -
                                 blob.begin()
                          << "\n";
        }
    }
    std::cout << "property blobs: " << matched << " of " << total << " byte for byte\n";
    EXPECT_EQ(matched, total);
}
