// Rows re-encoded from what the reader makes of them: byte for byte Access's rows wherever the
// stored row has the table's full width, and the same values again for every other row.

#include "engine/jet4/format/RowEncoder.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/LongValue.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/UsageMap.h"
#include "support/JetSamples.h"

#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <set>

using namespace engine::jet4;

namespace {

struct SampleRow {
    std::uint32_t page;
    std::size_t slot;
    std::vector<std::uint8_t> bytes;
};

// Every row image of the table: live rows and overflow images, not pointers or deleted rows.
std::vector<SampleRow> storedRows(const PageFile& file, const TableDefinition& definition) {
    std::vector<SampleRow> rows;
    for (const std::uint32_t number : readUsageMap(file, definition.ownedPages).pages) {
        if (number >= file.pageCount() || (*file.page(number))[0] != DataPageType)
            continue;
        const DataPage page = readDataPage(file, number);
        if (page.owner() != definition.page)
            continue;
        for (std::size_t slot = 0; slot < page.rowSlots().size(); ++slot) {
            const RowSlot& s = page.rowSlots()[slot];
            if (s.isDeleted() || (s.pointer && !s.notRow))
                continue;
            const auto bytes = page.row(slot);
            rows.push_back({number, slot, {bytes.begin(), bytes.end()}});
        }
    }
    return rows;
}

// Where the stored row keeps each long value that left it (read from its 12-byte header).
std::vector<std::optional<LongValueReference>> storedReferences(const TableDefinition& definition,
                                                                const SampleRow& row) {
    std::vector<std::optional<LongValueReference>> refs(definition.columns.size());
    const auto& b = row.bytes;
    const auto u16 = [&](std::size_t at) { return std::uint16_t(b[at] | b[at + 1] << 8); };
    const std::size_t mask = (definition.maxColumns + 7u) / 8u;
    const std::size_t countAt = b.size() - mask - 2;
    const std::size_t slots = u16(countAt);
    for (std::size_t i = 0; i < definition.columns.size(); ++i) {
        const ColumnDefinition& c = definition.columns[i];
        if ((c.type != ColumnType::Memo && c.type != ColumnType::Ole) || c.variableSlot >= slots)
            continue;
        const std::size_t start = u16(countAt - 2 * (c.variableSlot + 1));
        const std::size_t end = u16(countAt - 2 * (c.variableSlot + 2));
        if (end - start < LongValueHeaderSize)
            continue;
        std::uint32_t word, pointer;
        std::memcpy(&word, &b[start], 4);
        std::memcpy(&pointer, &b[start + 4], 4);
        if (word & longvalue::InlineFlag)
            continue;
        refs[i] = LongValueReference{(word & longvalue::SingleRowFlag)
                                         ? LongValueReference::Kind::SingleRow
                                         : LongValueReference::Kind::Chain,
                                     pointer};
    }
    return refs;
}

bool sameValue(const Value& a, const Value& b) {
    return a.kind == b.kind && a.integer == b.integer &&
           std::memcmp(&a.real, &b.real, sizeof a.real) == 0 && a.text == b.text &&
           a.bytes == b.bytes && a.scale == b.scale;
}

std::set<std::uint32_t> tablePages(const PageFile& file) {
    std::set<std::uint32_t> pages;
    for (const CatalogEntry& entry : readCatalog(file))
        if (entry.type == CatalogEntry::TableType)
            pages.insert(static_cast<std::uint32_t>(entry.id));
    return pages;
}

// Whether columns were dropped from the table: old rows may still hold their values.
bool hasDroppedColumns(const TableDefinition& definition) {
    std::size_t variable = 0;
    for (const ColumnDefinition& column : definition.columns)
        variable += !column.isFixed();
    return definition.columns.size() < definition.maxColumns || variable < definition.variableSlots;
}

// Access's row differs from ours only by bytes it left in the fixed area where we write zeros
// (old values of columns now Null).
bool onlyStaleFixedBytes(const std::vector<std::uint8_t>& access, const std::string& ours) {
    if (access.size() != ours.size())
        return false;
    for (std::size_t i = 0; i < access.size(); ++i)
        if (access[i] != std::uint8_t(ours[i]) && ours[i] != 0)
            return false;
    return true;
}

// Access's row is ours with zero bytes between the variable data and the offset table: a row
// that was updated in place to shorter values keeps its length.
bool onlyZeroPadding(const std::vector<std::uint8_t>& access, const std::string& ours) {
    if (access.size() <= ours.size())
        return false;
    const std::size_t extra = access.size() - ours.size();
    std::size_t same = 0;
    while (same < ours.size() && access[same] == std::uint8_t(ours[same]))
        ++same;
    return std::all_of(access.begin() + same, access.begin() + same + extra,
                       [](std::uint8_t b) { return b == 0; }) &&
           std::equal(ours.begin() + same, ours.end(), access.begin() + same + extra,
                      [](char a, std::uint8_t b) { return std::uint8_t(a) == b; });
}

} // namespace

TEST(RowEncoder, FullWidthRowsAreAccessBytesAndOtherRowsRoundTripEncodedOrCarriedOver) {
    REQUIRE_JET_SAMPLES();
    std::size_t fullWidth = 0, matched = 0, dropped = 0, stale = 0, padded = 0, rows = 0;
    std::map<std::string, std::size_t> unexplained; // per file
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (const std::uint32_t first : tablePages(file)) {
            const TableDefinition definition = readTableDefinition(file, first);
            for (const SampleRow& row : storedRows(file, definition)) {
                const auto values = decodeRow(file, definition, row.bytes, row.page);
                const std::string encoded =
                    encodeRow(definition, values, storedReferences(definition, row));
                const std::vector<std::uint8_t> bytes(encoded.begin(), encoded.end());
                if ((row.bytes[0] | row.bytes[1] << 8) == definition.maxColumns) {
                    ++fullWidth;
                    if (bytes == row.bytes)
                        ++matched;
                    else if (hasDroppedColumns(definition))
                        ++dropped;
                    else if (onlyStaleFixedBytes(row.bytes, encoded))
                        ++stale;
                    else if (onlyZeroPadding(row.bytes, encoded))
                        ++padded;
                    else
                        ++unexplained[path.filename().string()];
                }
                ++rows;
                // Every field carried over as stored, none changed: where our encoding gives
                // Access's bytes, so does the carrying; every value reads back either way.
                const std::vector<const Value*> unchanged(definition.columns.size(), nullptr);
                const std::string carried = encodeRowChanging(
                    definition, StoredRow(row.bytes, row.page, definition), unchanged);
                if (bytes == row.bytes) {
                    EXPECT_EQ(carried, encoded) << "page " << row.page << " row " << row.slot;
                }
                for (const std::string& image : {encoded, carried}) {
                    const std::vector<std::uint8_t> imageBytes(image.begin(), image.end());
                    const auto again = decodeRow(file, definition, imageBytes, row.page);
                    ASSERT_EQ(again.size(), values.size());
                    for (std::size_t i = 0; i < values.size(); ++i)
                        EXPECT_TRUE(sameValue(again[i], values[i]))
                            << "page " << row.page << " row " << row.slot << " column "
                            << definition.columns[i].name;
                }
            }
        }
    }
    std::cout << "rows: " << matched << " of " << fullWidth << " full-width rows byte for byte; "
              << dropped << " in tables with dropped columns, " << stale
              << " with old bytes in Null fixed columns, " << padded
              << " kept longer with zeros before the offset table; " << rows
              << " rows round trip\n";
    std::size_t otherwise = 0;
    for (const auto& [name, count] : unexplained) {
        std::cout << "  otherwise different: " << name << ": " << count << "\n";
        otherwise += count;
    }
    // Rows of tables that lost columns, rows updated in place and the rows a format library
    // wrote aside, Access's rows are ours.
    EXPECT_LE(otherwise, 10u);
    EXPECT_GE(matched * 100, fullWidth * 92);
}

TEST(RowEncoder, CompressesTextTheWayAccessDoes) {
    const auto bytes = [](std::u16string_view text, bool compress, CompressionRule rule) {
        const std::string s = encodeStoredText(text, compress, rule);
        return std::vector<std::uint8_t>(s.begin(), s.end());
    };
    using V = std::vector<std::uint8_t>;
    const auto text = CompressionRule::NotLonger;
    EXPECT_EQ(bytes(u"abc", true, text), (V{0xFF, 0xFE, 'a', 'b', 'c'}));
    EXPECT_EQ(bytes(u"abc", false, text), (V{'a', 0, 'b', 0, 'c', 0}));
    EXPECT_EQ(bytes(u"ab", true, text), (V{'a', 0, 'b', 0})); // two characters stay plain
    // Runs switch at every change of width, a single space included; equal length compresses.
    EXPECT_EQ(bytes(u"\u0414\u0416\u041A 6.3", true, text),
              (V{0xFF, 0xFE, 0, 0x14, 0x04, 0x16, 0x04, 0x1A, 0x04, 0, ' ', '6', '.', '3'}));
    EXPECT_EQ(bytes(u"\u0414\u0416 \u0417", true, text),
              (V{0x14, 0x04, 0x16, 0x04, ' ', 0, 0x17, 0x04})); // longer compressed: plain
    EXPECT_EQ(bytes(u"a\u0400bc", true, text), (V{'a', 0, 0, 4, 'b', 0, 'c', 0})); // 0x00 byte
    // Memo text compresses only when that is shorter.
    EXPECT_EQ(bytes(u"ab\u0414", true, CompressionRule::Shorter), (V{'a', 0, 'b', 0, 0x14, 0x04}));
}

TEST(RowEncoder, KeepsShortLongValuesInTheRowAndPointsAtLongerOnes) {
    TableDefinition def;
    def.maxColumns = 1;
    def.variableSlots = 1;
    ColumnDefinition memo;
    memo.type = ColumnType::Memo;
    memo.name = "m";
    def.columns = {memo};
    Value value;
    value.kind = Value::Kind::Text;
    value.text = std::u16string(32, u'x'); // 64 bytes plain: stays, compressed
    const std::string inRow = encodeRow(def, {value});
    EXPECT_EQ(inRow.size(), 2 + 12 + 2 + 32 + 6 + 1u);
    value.text += u'x'; // 66 bytes: leaves the row, plain
    EXPECT_THROW(encodeRow(def, {value}), std::invalid_argument);
    const std::string pointing =
        encodeRow(def, {value}, {LongValueReference{LongValueReference::Kind::SingleRow, 0x1203}});
    ASSERT_EQ(pointing.size(), 2 + 12 + 6 + 1u);
    EXPECT_EQ(pointing.substr(2, 8), std::string("\x42\x00\x00\x40\x03\x12\x00\x00", 8));
}
