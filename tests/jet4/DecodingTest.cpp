// Decoding on hand-made bytes, built from the format rules: stored text, UTF-8, the format
// signature, and a row narrower than its definition, whole or a few columns at a time.

#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/Text.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <optional>
#include <vector>

using namespace engine::jet4;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct TextCase {
    const char* what;
    Bytes stored;
    std::optional<std::u16string> expected; // nothing: FormatError
};

} // namespace

TEST(Jet4Decoding, StoredTextPlainAndCompressed) {
    const std::vector<TextCase> cases = {
        {"plain UTF-16", {0x41, 0x00, 0x10, 0x04}, u"A\u0410"},
        {"empty", {}, u""},
        {"compressed, one byte per character", {0xFF, 0xFE, 0x41, 0x42}, u"AB"},
        {"compressed, switching to two-byte characters and back",
         {0xFF, 0xFE, 0x41, 0x00, 0x10, 0x04, 0x11, 0x04, 0x00, 0x42},
         u"A\u0410\u0411B"},
        {"compressed, ending in a two-byte run", {0xFF, 0xFE, 0x00, 0x10, 0x04}, u"\u0410"},
        {"plain with an odd byte count", {0x41, 0x00, 0x42}, std::nullopt},
        {"compressed with an odd two-byte run", {0xFF, 0xFE, 0x00, 0x10}, std::nullopt},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(c.what);
        // The form that decodes into a string it is given replaces what the string held.
        std::u16string reused = u"longer text left from an earlier value";
        if (c.expected) {
            EXPECT_EQ(decodeStoredText(c.stored, 9), *c.expected);
            decodeStoredText(c.stored, 9, reused);
            EXPECT_EQ(reused, *c.expected);
        } else {
            EXPECT_THROW(decodeStoredText(c.stored, 9), FormatError);
            EXPECT_THROW(decodeStoredText(c.stored, 9, reused), FormatError);
        }
    }
}

TEST(Jet4Decoding, Utf8ReplacesLoneSurrogates) {
    EXPECT_EQ(utf8FromUtf16(u"A\u0416\u20AC"), "A\xD0\x96\xE2\x82\xAC");
    EXPECT_EQ(utf8FromUtf16(u"\U0001F600"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(utf8FromUtf16(std::u16string{0xD800, u'x', 0xDC00}), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(Jet4Decoding, SniffFormatFromTheFirstBytes) {
    const auto header = [](const char* signature, std::uint8_t version) {
        std::string bytes("\x00\x01\x00\x00", 4);
        bytes.append(signature, 16); // with its terminating zero
        bytes.push_back(static_cast<char>(version));
        return Bytes(bytes.begin(), bytes.end());
    };
    Bytes cut = header("Standard Jet DB", 1);
    cut.pop_back();
    const std::vector<std::pair<Bytes, FileFormat>> cases = {
        {header("Standard Jet DB", 0), FileFormat::Jet3},
        {header("Standard Jet DB", 1), FileFormat::Jet4},
        {header("Standard ACE DB", 2), FileFormat::Ace},
        {header("Standard ACE DB", 5), FileFormat::Ace},
        {header("SQLite format 3", 1), FileFormat::NotJet},
        {cut, FileFormat::NotJet},
        {Bytes(64, 0), FileFormat::NotJet},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(sniffFormat(cases[i].first), cases[i].second) << "case " << i;
}

// A table of four columns where the last was added after the row was written: the row holds
// three columns, its null mask has a stray bit for the fourth, which must still read NULL.
TEST(Jet4Decoding, RowNarrowerThanItsDefinition) {
    TableDefinition definition;
    definition.maxColumns = 4;
    definition.variableSlots = 1;
    const auto column = [](const char* name, ColumnType type, std::uint16_t number,
                           std::uint8_t flags, std::uint16_t fixedOffset) {
        ColumnDefinition c;
        c.name = name;
        c.type = type;
        c.number = number;
        c.flags = flags;
        c.fixedOffset = fixedOffset;
        return c;
    };
    definition.columns = {
        column("id", ColumnType::Long, 0, ColumnDefinition::FixedLengthFlag, 0),
        column("flag", ColumnType::Boolean, 1, ColumnDefinition::FixedLengthFlag, 0),
        column("name", ColumnType::Text, 2, 0, 0),
        column("added", ColumnType::Long, 3, ColumnDefinition::FixedLengthFlag, 4),
    };
    const Bytes row = {
        0x03, 0x00,             // three columns
        0x2A, 0x00, 0x00, 0x00, // id = 42
        0x68, 0x00, 0x69, 0x00, // "hi" in slot 0, at 6
        0x0A, 0x00,             // end of variable data
        0x06, 0x00,             // slot 0 starts at 6
        0x01, 0x00,             // one slot
        0x0F,                   // id, flag, name present; bit 3 is beyond the row
    };
    // The row has no long values, so the page file is never read: one blank page will do.
    const testsupport::TempDir folder;
    testsupport::writeFileBytes(folder.file("blank.mdb"), std::string(PageFile::PageSize, '\0'));
    const PageFile file(folder.file("blank.mdb"));
    const std::vector<Value> values = decodeRow(file, definition, row, 5);
    ASSERT_EQ(values.size(), 4u);
    EXPECT_EQ(values[0].integer, 42);
    EXPECT_EQ(values[1].kind, Value::Kind::Boolean);
    EXPECT_EQ(values[1].integer, 1);
    EXPECT_EQ(values[2].text, u"hi");
    EXPECT_TRUE(values[3].isNull());

    // Only some columns, into values left from another row: each is replaced whole.
    const std::size_t positions[] = {2, 3};
    std::vector<Value> reused(2);
    reused[0].kind = Value::Kind::Binary;
    reused[0].bytes = "stale";
    reused[1].kind = Value::Kind::Text;
    reused[1].text = u"stale";
    decodeColumns(file, definition, row, 5, positions, reused);
    EXPECT_EQ(reused[0].kind, Value::Kind::Text);
    EXPECT_EQ(reused[0].text, u"hi");
    EXPECT_TRUE(reused[0].bytes.empty());
    EXPECT_TRUE(reused[1].isNull());
    EXPECT_TRUE(reused[1].text.empty());

    Bytes truncated(row.begin(), row.begin() + 3);
    EXPECT_THROW(decodeRow(file, definition, truncated, 5), FormatError);
    EXPECT_THROW(decodeColumns(file, definition, truncated, 5, positions, reused), FormatError);
}
