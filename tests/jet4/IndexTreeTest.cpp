// Index trees of every depth the builder makes, over keys of every width, are read whole by the
// checker and by Jackcess, take new lowest, middle and highest keys from Jackcess's writer, and
// are still sound for both afterwards.

#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/index/IndexKey.h"
#include "engine/jet4/index/IndexPageBuilder.h"
#include "engine/jet4/index/IndexTreeCheck.h"
#include "engine/jet4/write/CatalogWriter.h"
#include "engine/jet4/write/IndexBuilder.h"
#include "engine/jet4/write/NewDatabase.h"
#include "engine/jet4/write/RowWriter.h"
#include "engine/jet4/write/SchemaWriter.h"
#include "support/Jackcess.h"
#include "support/TempDir.h"
#include "tools/check/Checker.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using namespace engine::jet4;

namespace {

// Distinct values in an order far from the key order, so that entries share short prefixes and
// pages fill as they do for real data.
std::int64_t scatter(std::int64_t i) {
    return (i * 123456791) % 1000000000;
}

std::u16string digits(std::int64_t value, std::size_t width) {
    std::u16string out(width, u'0');
    for (std::size_t i = width; i-- > 0; value /= 10)
        out[i] = static_cast<char16_t>(u'0' + value % 10);
    return out;
}

struct KeyKind {
    const char* name;
    std::vector<NewColumn> columns; // the key columns, in key order
    std::function<std::vector<Value>(std::int64_t)> row;
    std::size_t deepest; // the deepest tree made of this kind
    bool rebuilt;        // whether a three-level tree is also rebuilt after changes
};

const std::vector<KeyKind>& keyKinds() {
    static const std::vector<KeyKind> kinds = {
        {"Long",
         {{u"K", ColumnType::Long, 4}},
         [](std::int64_t i) { return std::vector{integerValue(scatter(i))}; },
         3,
         false},
        {"Text10",
         {{u"K", ColumnType::Text, 20}},
         [](std::int64_t i) { return std::vector{textValue(u"K" + digits(scatter(i), 9))}; },
         3,
         true},
        // 100 Cyrillic characters, ё among them: a key of about 200 bytes.
        {"Cyrillic",
         {{u"K", ColumnType::Text, 200}},
         [](std::int64_t i) {
             std::u16string text;
             for (char16_t d : digits(scatter(i), 9))
                 text += static_cast<char16_t>(u'а' + (d - u'0'));
             text += u" ёлка ";
             while (text.size() < 100)
                 text += u"Щука";
             text.resize(100);
             return std::vector{textValue(text)};
         },
         4,
         true},
        {"Text10+Long",
         {{u"G", ColumnType::Text, 20}, {u"N", ColumnType::Long, 4}},
         [](std::int64_t i) {
             return std::vector{textValue(u"G" + digits(scatter(i) % 1000, 5)), integerValue(i)};
         },
         3,
         true},
    };
    return kinds;
}

// The depth of the tree the builder lays out for the first `count` rows of `kind`.
std::size_t layoutDepth(const KeyKind& kind, std::int64_t count) {
    std::vector<IndexEntry> entries;
    for (std::int64_t i = 0; i < count; ++i) {
        const std::vector<Value> values = kind.row(i);
        std::vector<KeyPart> parts;
        for (std::size_t c = 0; c < values.size(); ++c)
            parts.push_back({&values[c], kind.columns[c].type, true});
        entries.push_back(
            {*encodeIndexKey(parts),
             {static_cast<std::uint32_t>(1000 + i / 100), static_cast<std::uint8_t>(i % 100)}});
    }
    std::sort(entries.begin(), entries.end(), [](const IndexEntry& a, const IndexEntry& b) {
        return a.key < b.key; // every kind's keys are distinct
    });
    return layoutIndex(entries).levels.size();
}

// The fewest rows of `kind` whose tree is `depth` levels deep (depth 2 or more).
std::int64_t firstCountOfDepth(const KeyKind& kind, std::size_t depth) {
    std::int64_t shallow = 1, deep = 2; // layoutDepth below `depth` at `shallow`, not at `deep`
    while (layoutDepth(kind, deep) < depth)
        shallow = deep, deep *= 2;
    while (deep - shallow > 1) {
        const std::int64_t middle = (shallow + deep) / 2;
        (layoutDepth(kind, middle) < depth ? shallow : deep) = middle;
    }
    return deep;
}

// A table named `name` of `rows` rows of `kind`, its key columns a primary key built in bulk from
// the rows; or, `rebuilt`, half the rows before the index, the rest and 50 more after it (keys
// spread over the whole range), then those 50 deleted and the index rebuilt.
TableDefinition addTree(PageFile& file, const KeyKind& kind, const std::string& name,
                        std::int64_t rows, bool rebuilt) {
    TableDefinition t = createTable(file, kind.columns);
    addTableToCatalog(file, t.page, std::u16string(name.begin(), name.end()), std::nullopt,
                      currentOleDate());
    const std::int64_t before = rebuilt ? rows / 2 : rows;
    for (std::int64_t i = 0; i < before; ++i)
        insertRow(file, t, kind.row(i));
    NewIndex index{u"Key", {}, true, true, false, true};
    for (const ColumnDefinition& column : t.columns) // the key columns alone
        index.columns.push_back({column.number, true});
    addIndex(file, t, index);
    if (rebuilt) {
        std::vector<RowLocation> extra;
        for (std::int64_t i = before; i < rows + 50; ++i) {
            const RowLocation at = insertRow(file, t, kind.row(i < rows ? i : 1000000 + i));
            if (i >= rows)
                extra.push_back(at);
        }
        for (const RowLocation at : extra)
            deleteRow(file, t, at);
        rebuildIndex(file, t, 0);
    }
    return t;
}

std::size_t depthInFile(const PageFile& file, std::uint32_t root) {
    std::size_t depth = 1;
    for (IndexPage page = readIndexPage(file, root); !page.leaf;
         page = readIndexPage(file, page.entries.front().child))
        ++depth;
    return depth;
}

std::string faults(const check::Report& report) {
    std::string out;
    for (const auto& fault : report.faults)
        out += fault.kind + ": " + fault.detail + "\n";
    return out;
}

} // namespace

// For each key kind: 1 row, a full leaf, a full leaf and one more, two levels, the first count of
// three levels (and of four for the widest key), built in bulk, and three levels and one more
// rebuilt after inserts and deletes.
// One file per key kind, so that each stays within a test's time even under the sanitizers.
class IndexTrees : public testing::TestWithParam<std::size_t> {};

TEST_P(IndexTrees, EveryDepthIsReadAndExtendedByEveryWriter) {
    const KeyKind& kind = keyKinds()[GetParam()];
    const testsupport::TempDir folder;
    const std::string path = folder.file("trees.mdb");
    createEmptyDatabase(path);
    const std::int64_t fullLeaf = firstCountOfDepth(kind, 2) - 1;
    std::vector<std::pair<std::int64_t, std::size_t>> counts = {
        {1, 1}, {fullLeaf, 1}, {fullLeaf + 1, 2}, {3 * fullLeaf, 2}};
    for (std::size_t depth = 3; depth <= kind.deepest; ++depth)
        counts.push_back({firstCountOfDepth(kind, depth), depth});
    // One row more than the first three-level tree, rebuilt after changes; for integer
    // keys that tree is the largest of all, and the bulk one stands for both.
    if (kind.rebuilt)
        counts.push_back({counts[4].first + 1, 3});
    {
        PageFile file(path);
        file.beginLevel();
        for (std::size_t c = 0; c < counts.size(); ++c) {
            const auto [rows, depth] = counts[c];
            const bool rebuilt = kind.rebuilt && c + 1 == counts.size();
            const std::string table =
                std::string(kind.name) + "_" + std::to_string(rows) + (rebuilt ? "_rebuilt" : "");
            SCOPED_TRACE(table);
            const TableDefinition t = addTree(file, kind, table, rows, rebuilt);
            EXPECT_EQ(depthInFile(file, t.physicalIndexes[0].rootPage), depth);
        }
        file.commitLevel();
    }

    const check::Report built = check::checkFile(path);
    EXPECT_TRUE(built.sound()) << faults(built);
    // Our own trees and checker above; Jackcess reading and extending them below.
    REQUIRE_JACKCESS();
    const testsupport::JudgeResult read = testsupport::jackcessRead(path);
    EXPECT_TRUE(read.passed()) << read.output;

    const std::string copy = folder.file("extended.mdb");
    std::filesystem::copy_file(path, copy);
    const testsupport::JudgeResult written = testsupport::jackcessWrite(copy);
    EXPECT_TRUE(written.passed()) << written.output;
    const check::Report extended = check::checkFile(copy);
    EXPECT_TRUE(extended.sound()) << faults(extended);
    // The store itself may go on changing every tree Jackcess extended.
    const PageFile file(copy);
    for (const CatalogEntry& entry : readCatalog(file))
        if (isUserTable(entry)) {
            const TableDefinition t =
                readTableDefinition(file, static_cast<std::uint32_t>(entry.id) & 0x00FFFFFF);
            EXPECT_NO_THROW(verifyIndexTree(file, t, t.physicalIndexes.at(0))) << entry.name;
        }
}

INSTANTIATE_TEST_SUITE_P(KeyKinds, IndexTrees, testing::Range<std::size_t>(0, 4),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                             std::string name = keyKinds()[info.param].name;
                             std::replace(name.begin(), name.end(), '+', '_');
                             return name;
                         });

// The layout this builder wrote before, where the root's entry for its right-hand node page held
// the last key that page lists rather than that of the tail beneath it, is a fault the checker
// names; a node entry left above what deletions left in its child is a note on a sound file.
TEST(IndexTreeChecker, TellsANodeEntryBelowItsSubtreeFromOneAboveIt) {
    const testsupport::TempDir folder;
    const KeyKind& cyrillic = keyKinds()[2];
    const std::int64_t rows = firstCountOfDepth(cyrillic, 3);
    const struct {
        const char* what;
        const char* fault; // empty: sound, with a note of the kind
        std::function<void(IndexEntry& rootEntry, const IndexPage& child)> change;
    } cases[] = {
        {"the root's last entry is its child's last listed one", "index-node-key",
         [](IndexEntry& entry, const IndexPage& child) {
             entry.key = child.entries.back().key;
             entry.row = child.entries.back().row;
         }},
        {"the root's first entry lies above what is left in its child", "",
         [](IndexEntry& entry, const IndexPage&) { ++entry.row.row; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = folder.file(std::string(c.what) + ".mdb");
        createEmptyDatabase(path);
        {
            PageFile file(path);
            file.beginLevel();
            const TableDefinition t = addTree(file, cyrillic, "Tree", rows, false);
            IndexPage root = readIndexPage(file, t.physicalIndexes[0].rootPage);
            IndexEntry& entry = *c.fault ? root.entries.back() : root.entries.front();
            c.change(entry, readIndexPage(file, entry.child));
            file.write(root.number, buildIndexPage(root, root.entries));
            file.commitLevel();
        }
        const check::Report report = check::checkFile(path);
        if (*c.fault) {
            ASSERT_FALSE(report.sound());
            EXPECT_EQ(report.faults.front().kind, c.fault) << faults(report);
        } else {
            EXPECT_TRUE(report.sound()) << faults(report);
            EXPECT_TRUE(std::any_of(report.notes.begin(), report.notes.end(),
                                    [](const auto& n) { return n.starts_with("index-node-key"); }));
        }
    }
}

// Keys a primary key must never hold: the same key twice, and a Null.
TEST(IndexTreeChecker, NamesADuplicateKeyAndANullKeyInAPrimaryKey) {
    const testsupport::TempDir folder;
    const KeyKind& text = keyKinds()[1];
    const struct {
        const char* fault;
        Value key; // of the row added behind the index's back
    } cases[] = {{"index-duplicate-key", text.row(0).front()}, {"index-null-key", Value{}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fault);
        const std::string path = folder.file(std::string(c.fault) + ".mdb");
        createEmptyDatabase(path);
        {
            PageFile file(path);
            file.beginLevel();
            TableDefinition t = addTree(file, text, "Tree", 10, false);
            const RowLocation added = insertRow(file, t, {c.key});
            // The leaf takes an entry for the added row beside the one of the same key.
            IndexPage leaf = readIndexPage(file, t.physicalIndexes[0].rootPage);
            const KeyPart part{&c.key, ColumnType::Text, true};
            const std::string key = *encodeIndexKey(std::span(&part, 1));
            for (std::size_t i = 0; i < leaf.entries.size(); ++i)
                if (leaf.entries[i].key == key) {
                    leaf.entries.insert(leaf.entries.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                                        {key, added, 0});
                    break;
                }
            file.write(leaf.number, buildIndexPage(leaf, leaf.entries));
            file.commitLevel();
        }
        const check::Report report = check::checkFile(path);
        EXPECT_TRUE(std::any_of(report.faults.begin(), report.faults.end(),
                                [&](const check::Fault& f) { return f.kind == c.fault; }))
            << faults(report);
    }
}
