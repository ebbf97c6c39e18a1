// What the reader shows for the samples that each cover one feature of the format: dropped and
// added columns, overflow and deleted rows, long values, compressed text, a definition over two
// pages, column properties, index pages, the header. Expected values come from the format notes
// or from mdbtools at test time, never from this reader.

#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/Properties.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexPage.h"
#include "jet4/Mdbtools.h"
#include "support/JetSamples.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <set>

using namespace engine::jet4;

namespace {

std::string sample(const char* name) {
    return (*testsupport::jetSamplesFolder() / name).string();
}

CatalogEntry tableEntry(const PageFile& file, const std::string& name) {
    for (const CatalogEntry& entry : readCatalog(file))
        if (entry.type == CatalogEntry::TableType && entry.name == name)
            return entry;
    throw std::runtime_error("no table " + name);
}

TableDefinition table(const PageFile& file, const std::string& name) {
    return readTableDefinition(file, static_cast<std::uint32_t>(tableEntry(file, name).id));
}

struct ScannedRow {
    RowLocation location;
    std::map<std::string, Value> values; // by column name
};

std::vector<ScannedRow> scan(const PageFile& file, const TableDefinition& definition) {
    std::vector<ScannedRow> rows;
    scanRows(file, definition, [&](RowLocation at, const std::vector<Value>& values) {
        ScannedRow row{at, {}};
        for (std::size_t i = 0; i < values.size(); ++i)
            row.values[definition.columns[i].name] = values[i];
        rows.push_back(std::move(row));
        return true;
    });
    return rows;
}

std::string text(const Value& value) {
    return value.kind == Value::Kind::Text ? utf8FromUtf16(value.text) : "<not text>";
}

} // namespace

TEST(Jet4Sample, DroppedColumnsAreHiddenAndTheRestReadFromTheirStoredPlaces) {
    REQUIRE_JET_SAMPLES();
    const PageFile file(sample("delColTestV2000.mdb"));
    const TableDefinition definition = table(file, "Table1");
    std::vector<std::string> names;
    for (const ColumnDefinition& column : definition.columns)
        names.push_back(column.name);
    EXPECT_EQ(names, (std::vector<std::string>{"id", "id2", "data", "data2"}));
    EXPECT_EQ(definition.maxColumns, 6); // the two dropped columns still count in rows
    EXPECT_EQ(definition.variableSlots, 3);

    // Row 0 still holds 1 and "foo_deleted" for the dropped columns.
    const auto rows = scan(file, definition);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].values.at("id").integer, 0);
    EXPECT_EQ(rows[0].values.at("id2").integer, 2);
    EXPECT_EQ(text(rows[0].values.at("data")), "foo");
    EXPECT_EQ(text(rows[0].values.at("data2")), "foo2");
}

TEST(Jet4Sample, ShortRowsReadAddedColumnsAsNullAndOverflowRowsKeepTheirOriginalPlace) {
    REQUIRE_JET_SAMPLES();
    const PageFile file(sample("overflowTestV2000.mdb"));
    const TableDefinition definition = table(file, "Table1");
    const auto rows = scan(file, definition);

    // Page 27 rows 2 and 4 point at images on pages 28 and 31: the rows are reported at the
    // pointer slots, in slot order, and the images are not reported again.
    std::vector<std::string> firstColumns;
    for (const ScannedRow& row : rows) {
        EXPECT_NE(row.location.page, 28u);
        EXPECT_NE(row.location.page, 31u);
        if (row.location == RowLocation{27, 2}) {
            EXPECT_EQ(text(row.values.at("data9")), "row3col9");
        }
        if (row.location == RowLocation{27, 4}) {
            EXPECT_EQ(text(row.values.at("data3")), "row5col2");
        }
    }
    ASSERT_EQ(rows.size(), 7u);
    EXPECT_EQ(rows[2].location, (RowLocation{27, 2}));
    EXPECT_EQ(rows[4].location, (RowLocation{27, 4}));

    // Every row stored narrower than the definition reads its later columns as NULL, whatever
    // stray bits its last null-mask byte holds.
    const DataPage page = readDataPage(file, 27);
    bool sawShortRow = false;
    for (const ScannedRow& row : rows) {
        if (row.location.page != 27 || page.rowSlots()[row.location.row].pointer)
            continue;
        const auto bytes = page.row(row.location.row);
        const unsigned width = bytes[0] | bytes[1] << 8;
        sawShortRow |= width < definition.maxColumns;
        for (const ColumnDefinition& column : definition.columns)
            if (column.number >= width) {
                EXPECT_TRUE(row.values.at(column.name).isNull()) << column.name;
            }
    }
    EXPECT_TRUE(sawShortRow);
}

TEST(Jet4Sample, DeletedRowsAreSkipped) {
    REQUIRE_JET_SAMPLES();
    const PageFile file(sample("delTestV2000.mdb"));
    const DataPage page = readDataPage(file, 31);
    ASSERT_GT(page.rowSlots().size(), 1u);
    EXPECT_TRUE(page.rowSlots()[1].isDeleted());
    EXPECT_EQ(page.row(1).size(), 0u); // Access reclaims a deleted row's bytes

    const auto rows = scan(file, table(file, "Table"));
    EXPECT_EQ(rows.size(), 2u);
    for (const ScannedRow& row : rows)
        EXPECT_NE(row.location, (RowLocation{31, 1}));
}

TEST(Jet4Sample, LongValuesReadAcrossPagesAndTheirPropertiesMatchMdbprop) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_MDBTOOLS();
    // The table-level properties of these tables are long values over several pages; Required
    // and AllowZeroLength live only there.
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"test2V2000.mdb", "MSP_PROJECTS"},
        {"fixedTextTestV2000.mdb", "users"},
        {"testV2000.mdb", "Table1"},
    };
    for (const auto& [name, tableName] : cases) {
        SCOPED_TRACE(name);
        const PageFile file(sample(name));
        const CatalogEntry entry = tableEntry(file, tableName);
        ASSERT_TRUE(entry.lvProp);
        const auto& blob = *entry.lvProp;
        const PropertyMaps maps =
            readProperties({reinterpret_cast<const std::uint8_t*>(blob.data()), blob.size()});

        // mdb-prop prints "name: COLUMN" blocks of "\tProperty: value" lines.
        std::map<std::string, std::map<std::string, std::string>> theirs;
        std::string block;
        for (const std::string& line : jet4test::lines(
                 jet4test::runTool("mdb-prop", {QString::fromStdString(sample(name)), tableName})
                     .value_or(QByteArray()))) {
            if (line.rfind("name: ", 0) == 0)
                block = line.substr(6);
            else if (const auto colon = line.find(": "); line[0] == '\t' && colon != line.npos)
                theirs[block][line.substr(1, colon - 1)] = line.substr(colon + 2);
        }
        std::map<std::string, std::map<std::string, std::string>> ours;
        const auto add = [&](const std::string& owner, const std::vector<Property>& properties) {
            for (const Property& p : properties) {
                auto& value = ours[owner][p.name];
                if (const auto flag = boolProperty(properties, p.name))
                    value = *flag ? "yes" : "no";
                else
                    value = theirs[owner][p.name]; // only booleans are compared by value
            }
        };
        add("(none)", maps.table);
        for (const auto& [column, properties] : maps.columns)
            add(column, properties);
        EXPECT_EQ(ours, theirs);
    }

    // A memo longer than a data page's free space in a row, against mdb-json.
    const PageFile file(sample("test2V2000.mdb"));
    const auto rows = scan(file, table(file, "MSP_PROJECTS"));
    ASSERT_EQ(rows.size(), 1u);
    const auto json = QJsonDocument::fromJson(
        jet4test::runTool("mdb-json",
                          {QString::fromStdString(sample("test2V2000.mdb")), "MSP_PROJECTS"})
            .value_or(QByteArray()));
    const std::string expected = json.object().value("PROJ_PROP_AUTHOR").toString().toStdString();
    EXPECT_GT(expected.size(), 255u);
    EXPECT_EQ(text(rows[0].values.at("PROJ_PROP_AUTHOR")), expected);
}

TEST(Jet4Sample, CompressedAndPlainTextDecodeToTheSameCharacters) {
    REQUIRE_JET_SAMPLES();
    const PageFile file(sample("testUnicodeCompV2003.mdb"));
    std::set<std::string> texts;
    for (const ScannedRow& row : scan(file, table(file, "Table")))
        texts.insert(text(row.values.at("Unicode")));
    // Values as the sample's README and mdb-export show them: Latin-1 only (stored one byte per
    // character), Cyrillic, Greek with accents, CJK.
    for (const char* expected : {"only ascii chars", "ääkkösiä", "Мир",
                                 "\u03f0\u03b1\u1f76 \u03c4\u1f79\u03c4' \u1f10\u03b3\u1f7c "
                                 "\u039a\u1f7b\u03f0\u03bb\u03c9\u03c0\u03b1",
                                 "漢字仮名交じり文", "ümlaut"})
        EXPECT_TRUE(texts.count(expected)) << expected;
}

TEST(Jet4Sample, DefinitionOverTwoPagesReadsEveryColumnAndIndex) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_MDBTOOLS();
    const PageFile file(sample("testV2000.mdb"));
    const TableDefinition definition = table(file, "Table2");
    EXPECT_EQ(definition.pages.size(), 2u);
    ASSERT_EQ(definition.columns.size(), 89u);
    std::set<std::string> ours;
    for (const ColumnDefinition& column : definition.columns)
        ours.insert(column.name);
    // mdb-export's header line names the columns.
    const auto output = jet4test::runTool(
        "mdb-export", {QString::fromStdString(sample("testV2000.mdb")), "Table2"});
    const QList<QByteArray> header = output.value_or(QByteArray()).split('\n').value(0).split(',');
    std::set<std::string> theirs;
    for (const QByteArray& name : header)
        theirs.insert(name.toStdString());
    EXPECT_EQ(ours, theirs);
    EXPECT_EQ(definition.logicalIndexes.size(), 5u);
    for (const LogicalIndex& index : definition.logicalIndexes)
        EXPECT_LT(index.physicalIndex, definition.physicalIndexes.size());
}

// Every index of every user table in every sample: the leaves, walked left to right from the
// root, hold entries in ascending byte order, one per live row (fewer when nulls are ignored),
// each pointing at a row the scan returns.
TEST(Jet4Sample, IndexLeavesListEveryRowInKeyOrder) {
    REQUIRE_JET_SAMPLES();
    bool sawTwoLevels = false;
    bool sawEmptyLeaf = false;
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        for (const CatalogEntry& entry : readCatalog(file)) {
            if (!isUserTable(entry))
                continue;
            SCOPED_TRACE(entry.name);
            const auto definition = readTableDefinition(file, static_cast<std::uint32_t>(entry.id));
            std::set<std::pair<std::uint32_t, int>> live;
            scanRows(
                file, definition,
                [&](RowLocation at, const std::vector<Value>&) {
                    live.insert({at.page, at.row});
                    return true;
                },
                std::vector<bool>(definition.columns.size(), false));

            for (const PhysicalIndex& index : definition.physicalIndexes) {
                SCOPED_TRACE(index.number);
                IndexPage page = readIndexPage(file, index.rootPage);
                EXPECT_EQ(page.owner, definition.page);
                for (int depth = 0; !page.leaf; ++depth) {
                    ASSERT_LT(depth, 8);
                    ASSERT_FALSE(page.entries.empty());
                    sawTwoLevels = true;
                    page = readIndexPage(file, page.entries.front().child);
                }
                std::vector<std::string> entries;
                std::set<std::pair<std::uint32_t, int>> pointed;
                for (int leaves = 0;; ++leaves) {
                    ASSERT_LT(leaves, 1000);
                    ASSERT_TRUE(page.leaf);
                    sawEmptyLeaf |= page.entries.empty();
                    for (const IndexEntry& e : page.entries) {
                        EXPECT_TRUE(live.count({e.row.page, e.row.row}))
                            << "entry points at page " << e.row.page << " row " << int(e.row.row);
                        pointed.insert({e.row.page, e.row.row});
                        entries.push_back(e.key + char(e.row.page >> 16) + char(e.row.page >> 8) +
                                          char(e.row.page) + char(e.row.row));
                    }
                    if (page.next == 0)
                        break;
                    page = readIndexPage(file, page.next);
                }
                EXPECT_TRUE(std::is_sorted(entries.begin(), entries.end()));
                EXPECT_EQ(pointed.size(), entries.size());
                if (index.flags & PhysicalIndex::IgnoreNullsFlag) {
                    EXPECT_LE(entries.size(), live.size());
                } else {
                    EXPECT_EQ(entries.size(), live.size());
                }
            }
        }
    }
    EXPECT_TRUE(sawTwoLevels);
    EXPECT_TRUE(sawEmptyLeaf);
}

TEST(Jet4Sample, HeaderGivesVersionSortOrderAndNoPassword) {
    REQUIRE_JET_SAMPLES();
    for (const auto& path : testsupport::jetSampleFiles()) {
        SCOPED_TRACE(path.string());
        const PageFile file(path.string());
        const DatabaseHeader header = readHeader(file);
        EXPECT_EQ(header.version, 1);
        EXPECT_FALSE(header.passwordSet);
        // The samples' README: every file is General (1033) except one Ukrainian file (1058,
        // code page 1251).
        const bool ukrainian = path.filename().string().rfind("StelmakhAleksandr", 0) == 0;
        EXPECT_EQ(header.sortOrder, ukrainian ? 1058 : 1033);
        if (ukrainian) {
            EXPECT_EQ(header.codePage, 1251);
        }
    }
}

TEST(Jet4Sample, UsageMapsOfBothKinds) {
    REQUIRE_JET_SAMPLES();
    // The global map marks free pages: in delColTestV2000.mdb (31 pages) 22, 27 and every page
    // from 31 on.
    const PageFile small(sample("delColTestV2000.mdb"));
    const UsageMap free = readUsageMap(small, GlobalUsageMapPointer);
    EXPECT_EQ(free.kind, UsageMapKind::Inline);
    EXPECT_EQ(free.location, (RowLocation{1, 0}));
    ASSERT_GE(free.pages.size(), 4u);
    EXPECT_EQ(std::vector<std::uint32_t>(free.pages.begin(), free.pages.begin() + 4),
              (std::vector<std::uint32_t>{22, 27, 31, 32}));

    // functionsV2000.mdb has one table whose owned pages are a reference map; the agreement
    // with mdbtools shows its rows are all found.
    const PageFile file(sample("functionsV2000.mdb"));
    int referenceMaps = 0;
    for (const CatalogEntry& entry : readCatalog(file)) {
        if (!isUserTable(entry))
            continue;
        const auto definition = readTableDefinition(file, static_cast<std::uint32_t>(entry.id));
        const UsageMap owned = readUsageMap(file, definition.ownedPages);
        referenceMaps += owned.kind == UsageMapKind::Reference;
        for (const std::uint32_t page : owned.pages)
            EXPECT_EQ(readDataPage(file, page).owner(), definition.page);
    }
    EXPECT_EQ(referenceMaps, 1);
}
