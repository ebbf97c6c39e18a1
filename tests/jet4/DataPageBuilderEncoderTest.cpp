// Data pages rebuilt from their rows (in slot order, with their flags) equal Access's pages:
// table rows, long-value rows, usage-map rows, deleted and overflow slots.

#include "engine/jet4/format/DataPageBuilder.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>
#include <iostream>

using namespace engine::jet4;

namespace {

DataPageBuilder rebuild(const DataPage& page) {
    DataPageBuilder builder(page.owner(), page.unknown());
    for (std::size_t slot = 0; slot < page.rowSlots().size(); ++slot) {
        const auto row = page.row(slot);
        const RowSlot& s = page.rowSlots()[slot];
        builder.addRow({reinterpret_cast<const char*>(row.data()), row.size()}, s.pointer,
                       s.notRow);
    }
    return builder;
}

} // namespace

TEST(DataPageBuilder, RebuildsEveryDataPageOfEverySampleByteForByte) {
    REQUIRE_JET_SAMPLES();
    std::size_t matched = 0, total = 0, headerAndRows = 0;
    int shown = 0;
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (std::uint32_t number = 1; number < file.pageCount(); ++number) {
            const PageData stored = file.page(number);
            if ((*stored)[0] != DataPageType)
                continue;
            const DataPage page = readDataPage(file, number);
            const PageImage built = rebuild(page).image();
            ++total;
            const bool same = std::equal(built.begin(), built.end(), stored->begin());
            matched += same;
            // Without the gap between the slots and the rows, where old bytes may remain.
            const std::size_t slotsEnd = DataPage::HeaderSize + 2 * page.rowSlots().size();
            const std::size_t rowsStart =
                page.rowSlots().empty() ? PageFile::PageSize : page.rowSlots().back().start;
            const bool sameParts =
                std::equal(built.begin(), built.begin() + slotsEnd, stored->begin()) &&
                std::equal(built.begin() + rowsStart, built.end(), stored->begin() + rowsStart);
            headerAndRows += sameParts;
            if (!sameParts && shown++ < 10)
                std::cout << path.filename().string() << " page " << number << " free "
                          << page.freeSpace() << " built " << (built[2] | built[3] << 8) << " rows "
                          << page.rowSlots().size() << "\n";
        }
    }
    std::cout << "data pages: " << matched << " of " << total << " byte for byte; " << headerAndRows
              << " with the same header, slots and rows\n";
}

TEST(DataPageBuilder, DeletesAndRedirectsRowsAsAccessMarksThem) {
    DataPageBuilder builder(24);
    builder.addRow("first row");
    builder.addRow("second row");
    builder.addRow("third row");
    builder.deleteRow(1);
    builder.pointTo(2, {31, 0});
    const std::uint8_t image = builder.addRow("third row, grown", false, true);
    const auto bytes = std::make_shared<PageImage>(builder.image());
    const DataPage page(bytes, 7);
    ASSERT_EQ(page.rowSlots().size(), 4u);
    EXPECT_TRUE(page.rowSlots()[1].isDeleted());
    EXPECT_EQ(page.row(1).size(), 0u); // bytes reclaimed
    EXPECT_TRUE(page.rowSlots()[2].pointer && !page.rowSlots()[2].notRow);
    EXPECT_EQ(page.row(2)[0], 0); // row 0 of page 31
    EXPECT_EQ(page.row(2)[1], 31);
    EXPECT_EQ(page.row(2).size(), 9u); // the rest of the old row stays
    EXPECT_TRUE(page.rowSlots()[image].notRow && !page.rowSlots()[image].pointer);
    EXPECT_EQ(page.freeSpace(), 4096 - 14 - 4 * 2 - (9 + 0 + 9 + 16));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(page.row(0).data()), 9), "first row");
}
