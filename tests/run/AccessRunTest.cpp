// The run end to end on Access 2000-2003 files: the shop's tables grafted into copies of
// Access-made files in sort order General, so that the catalog and the pages around the shop's are
// Access's, and shops the sample maker writes, upgraded through the window, then read back by the
// checker, the engine and the independent readers, and extended by Jackcess.

#include "RunFixture.h"

#include "automation/Registry.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/DataPage.h"
#include "engine/jet4/format/Header.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexPage.h"
#include "support/Jackcess.h"
#include "support/JetSamples.h"
#include "support/ReferenceReaders.h"
#include "tools/check/Checker.h"

#include <algorithm>
#include <map>
#include <optional>

using automation::Variant;
using runtest::RunTest;

namespace {

using Row = std::map<std::string, std::string>; // column -> value as text ("<null>" for Null)
using Rows = std::vector<Row>;

const char* const ShopTables[] = {"param", "Goods", "GoodPric", "Suppliers", "Supgood", "Docs"};
const char* const LogTables[] = {"LogDoc", "LogDocU", "LogPart", "LogPartU", "LogTbl"};

// Every row of every shop table as the engine reads it, rows in key order.
std::map<std::string, Rows> shopRows(const std::string& path) {
    Variant engine = automation::createOleObject(engine::ProgId);
    Variant database = engine.get("Workspaces", {Variant(0)}).call("OpenDatabase", {Variant(path)});
    std::map<std::string, Rows> out;
    for (const char* table : ShopTables) {
        Variant set = database.call("OpenRecordset", {Variant(table)});
        while (!set.get("EOF").toBool()) {
            Variant fields = set.get("Fields");
            Row row;
            for (std::int32_t i = 0; i < fields.get("Count").toInt(); ++i) {
                Variant field = fields.get("Item", {i});
                const Variant value = field.get("Value");
                row[field.get("Name").toText()] = value.isNull() ? "<null>" : value.toText();
            }
            out[table].push_back(std::move(row));
            set.call("MoveNext");
        }
        std::sort(out[table].begin(), out[table].end());
    }
    database.call("Close");
    return out;
}

// The default text sort order of the Access file `file`.
std::uint16_t sortOrderOf(const std::filesystem::path& file) {
    const engine::jet4::PageFile pages(file.string());
    return engine::jet4::readHeader(pages).sortOrder;
}

// The dump lines of the shop's and the log tables, sorted: the readers list a row that moved to
// an overflow image where the image is, and the sample's own tables are the sample proof's.
std::vector<std::string> shopLines(const std::vector<std::string>& lines) {
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        bool shop = false;
        for (const char* table : ShopTables)
            shop = shop || line.starts_with(std::string("{\"table\":\"") + table + "\"");
        for (const char* table : LogTables)
            shop = shop || line.starts_with(std::string("{\"table\":\"") + table + "\"");
        if (shop)
            out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The first line where `judge` and `ours` differ, or "" when they hold the same lines.
std::string firstDifference(const std::vector<std::string>& judge,
                            const std::vector<std::string>& ours) {
    for (std::size_t i = 0; i < std::max(judge.size(), ours.size()); ++i) {
        const std::string a = i < judge.size() ? judge[i] : "<none>";
        const std::string b = i < ours.size() ? ours[i] : "<none>";
        if (a != b)
            return "judge: " + a + "\nours:  " + b;
    }
    return "";
}

std::string firstFault(const check::Report& report) {
    return report.sound() ? "" : report.faults.front().kind + ": " + report.faults.front().detail;
}

// Jackcess reads the file whole; then, on `copy`, inserts rows at both ends of every index of
// every table of up to 40 columns (the shop's widest included), updates and deletes one, and reads
// the copy again; our checker must find the copy it extended sound as well. `copy` lies outside
// the DB folder, whose database the window proposes. Returns why Jackcess cannot run, for the
// caller to skip with, or nothing.
std::optional<std::string> expectJackcessReadsAndExtends(const std::string& file,
                                                         const std::string& copy) {
    if (auto missing = testsupport::jackcessMissing())
        return missing;
    const auto read = testsupport::jackcessRead(file);
    EXPECT_TRUE(read.passed()) << "Jackcess read exited " << read.exitCode << ":\n" << read.output;
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    const auto written = testsupport::jackcessWrite(copy, {"--max-cols", "40"});
    EXPECT_TRUE(written.passed()) << "Jackcess write exited " << written.exitCode << ":\n"
                                  << written.output;
    const check::Report report = check::checkFile(copy);
    EXPECT_TRUE(report.sound()) << "the copy Jackcess extended: " << firstFault(report);
    return std::nullopt;
}

class AccessRunTest : public RunTest {
protected:
    void SetUp() override { REQUIRE_JET_SAMPLES(); }

    // The shop's tables at revision 15 grafted into a copy of the sample `file`.
    void graft(const std::filesystem::path& file) {
        std::filesystem::remove(path);
        std::filesystem::copy_file(file, path);
        tools::addSampleTables(path, {12, 30, "patch15"});
    }
};

} // namespace

TEST_F(AccessRunTest, ShopGraftedIntoAccessFilesBecomesRevision16AsEveryReaderSeesIt) {
    for (const auto& file : testsupport::jetSampleFiles()) {
        if (sortOrderOf(file) != 1033)
            continue;
        const std::string sample = file.string();
        SCOPED_TRACE(sample);
        graft(file);
        auto expected = shopRows(path);
        for (Row& row : expected["GoodPric"])
            row["MinValue"] = "0";
        for (Row& row : expected["Supgood"]) {
            row.erase("Certificat");
            for (const char* added :
                 {"SertBlank", "SertNum", "SertStart", "SertEnd", "SertIssue", "SertGet"})
                row[added] = "<null>";
        }
        for (Row& row : expected["param"])
            if (row["ID"] == "patch")
                row["AValue"] = "patch16";
        for (auto& [table, rows] : expected)
            std::sort(rows.begin(), rows.end());

        auto form = showForm();
        run(*form);
        ASSERT_TRUE(errors().empty()) << errors().front();
        form.reset();

        const check::Report report = check::checkFile(path);
        EXPECT_TRUE(report.sound()) << report.faults.size() << " faults";
        const auto found = shopRows(path);
        for (const char* table : ShopTables) {
            const Rows& want = expected[table];
            const Rows& got = found.at(table);
            EXPECT_EQ(got.size(), want.size()) << table;
            for (std::size_t i = 0; i < std::min(got.size(), want.size()); ++i)
                if (got[i] != want[i]) {
                    ADD_FAILURE() << table << " row " << i << " differs";
                    break;
                }
        }

        if (const auto missing = testsupport::referenceToolsMissing()) {
            GTEST_SKIP() << "the reference readers cannot run: " << *missing;
        }
        std::vector<std::string> ours;
        check::dump(path, [&](const std::string& line) { ours.push_back(line); });
        EXPECT_EQ(firstDifference(shopLines(testsupport::mdbReaderDump(path)), shopLines(ours)),
                  "");
        const auto schema = testsupport::mdbSchema(path);
        const auto problems = testsupport::mdbtoolsDisagreements(
            shopLines(testsupport::mdbtoolsDump(path)), shopLines(ours), schema);
        EXPECT_TRUE(problems.empty()) << problems.front();
        for (const char* table : LogTables) {
            const auto* log = schema.table(table);
            ASSERT_NE(log, nullptr) << table;
            EXPECT_TRUE(log->columns.front().notNull) << table;
            EXPECT_TRUE(std::any_of(log->indexes.begin(), log->indexes.end(),
                                    [](const auto& index) { return index.primary; }))
                << table;
        }
        EXPECT_EQ(schema.table("LogDocU")->indexes.size(), 3u);
        EXPECT_EQ(schema.table("Supgood")->column("Certificat"), nullptr);
        EXPECT_EQ(schema.table("Supgood")->indexes.size(), 3u);
        EXPECT_NE(schema.table("GoodPric")->column("MinValue"), nullptr);
        EXPECT_NE(schema.table("Supgood")->column("SertGet"), nullptr);

        // Where Jackcess and mdb-reader could disagree on a row, Jackcess decides; here all three
        // must hold the rows of our dump.
        if (auto missing = expectJackcessReadsAndExtends(path, dir.file("extended.mdb")))
            GTEST_SKIP() << *missing;
        EXPECT_EQ(firstDifference(shopLines(testsupport::jackcessRows(path)), shopLines(ours)), "");
    }
}

TEST_F(AccessRunTest, LargeShopEndsAsTheSameRowsTheSqliteStoreGives) {
    namespace j = engine::jet4;
#if defined(__SANITIZE_ADDRESS__)
    constexpr std::int32_t Rows = 5000; // the instrumented build is many times slower
#else
    constexpr std::int32_t Rows = 100000;
#endif
    std::filesystem::remove(path);
    tools::makeSampleDatabase(path, {Rows, Rows, "patch15", tools::SampleFormat::Jet4});
    const std::string sqlite = dir.file("DB/same.mdb");
    tools::makeSampleDatabase(sqlite, {Rows, Rows, "patch15", tools::SampleFormat::Sqlite});
    auto form = showForm();
    for (const std::string& file : {path, sqlite}) {
        form->Edit1->setText(file);
        run(*form);
        ASSERT_TRUE(errors().empty()) << file << ": " << errors().front();
    }
    form.reset();

    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << report.faults.size() << " faults";
    std::vector<std::string> ours, same;
    check::dump(path, [&](const std::string& line) { ours.push_back(line); });
    check::dump(sqlite, [&](const std::string& line) { same.push_back(line); });
    EXPECT_EQ(firstDifference(shopLines(same), shopLines(ours)), "");

    // Large enough for the shapes small files never reach: the table's map of pages in the
    // reference kind, and index trees of three levels.
    const j::PageFile pages(path);
    const auto catalog = j::readCatalog(pages);
    const auto supgood = std::find_if(catalog.begin(), catalog.end(),
                                      [](const auto& entry) { return entry.name == "Supgood"; });
    ASSERT_NE(supgood, catalog.end());
    const j::TableDefinition t =
        j::readTableDefinition(pages, static_cast<std::uint32_t>(supgood->id));
    if (Rows >= 100000) {
        EXPECT_EQ(j::readUsageMap(pages, t.ownedPages).kind, j::UsageMapKind::Reference);
        int levels = 1;
        for (j::IndexPage page = j::readIndexPage(pages, t.physicalIndexes.front().rootPage);
             !page.leaf; page = j::readIndexPage(pages, page.entries.front().child))
            ++levels;
        EXPECT_GE(levels, 3);
    }

    if (const auto missing = testsupport::referenceToolsMissing()) {
        GTEST_SKIP() << "the reference readers cannot run: " << *missing;
    }
    EXPECT_EQ(firstDifference(shopLines(testsupport::mdbReaderDump(path)), shopLines(ours)), "");
}

// A shop whose free-page map still counts pages past the end of the file as used, as a file cut
// back to its last page in use without its map is left: nothing of the database lies there, so
// the run upgrades it, and the map it writes back counts those pages as free again, so that
// nothing is handed out twice when the file grows later.
TEST_F(AccessRunTest, ShopWhoseFreePageMapReachesPastItsEndIsUpgradedForEveryReader) {
    namespace j = engine::jet4;
    // The pages at or past the end of the file that the free-page map's bitmap counts as used.
    const auto usedPastEnd = [](const std::string& file) {
        const j::PageFile pages(file);
        const j::UsageMap map = j::readUsageMap(pages, j::GlobalUsageMapPointer);
        EXPECT_EQ(map.kind, j::UsageMapKind::Inline);
        const j::DataPage holder = j::readDataPage(pages, map.location.page);
        const std::uint32_t bits = static_cast<std::uint32_t>(
            (holder.row(map.location.row).size() - j::usagemap::InlineBitmapOffset) * 8);
        std::uint32_t used = 0;
        for (std::uint32_t p = pages.pageCount(); p < map.firstPage + bits; ++p)
            used += !std::binary_search(map.pages.begin(), map.pages.end(), p);
        return used;
    };
    std::filesystem::remove(path);
    tools::makeSampleDatabase(path, {40, 120, "patch15", tools::SampleFormat::Jet4});
    ASSERT_EQ(usedPastEnd(path), 0u);
    {
        // Every bit of the bitmap from the end of the file on cleared: pages in use.
        const j::PageFile pages(path);
        const j::UsageMap map = j::readUsageMap(pages, j::GlobalUsageMapPointer);
        const j::DataPage holder = j::readDataPage(pages, map.location.page);
        const std::size_t row = std::size_t{map.location.page} * j::PageFile::PageSize +
                                holder.rowSlots().at(map.location.row).start +
                                j::usagemap::InlineBitmapOffset;
        const std::size_t bits =
            (holder.row(map.location.row).size() - j::usagemap::InlineBitmapOffset) * 8;
        std::string bytes = testsupport::fileBytes(path);
        for (std::size_t bit = pages.pageCount() - map.firstPage; bit < bits; ++bit)
            bytes.at(row + bit / 8) &= static_cast<char>(~(1u << (bit % 8)));
        testsupport::writeFileBytes(path, bytes);
    }
    ASSERT_GT(usedPastEnd(path), 100u);

    auto form = showForm();
    run(*form);
    ASSERT_TRUE(errors().empty()) << errors().front();
    form.reset();
    EXPECT_EQ(usedPastEnd(path), 0u);
    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << firstFault(report);
    const Rows params = shopRows(path).at("param");
    EXPECT_TRUE(std::any_of(params.begin(), params.end(), [](const Row& row) {
        return row.at("ID") == "patch" && row.at("AValue") == "patch16";
    }));

    if (const auto missing = testsupport::referenceToolsMissing()) {
        GTEST_SKIP() << "the reference readers cannot run: " << *missing;
    }
    std::vector<std::string> ours;
    check::dump(path, [&](const std::string& line) { ours.push_back(line); });
    EXPECT_EQ(firstDifference(shopLines(testsupport::mdbReaderDump(path)), shopLines(ours)), "");
    const auto problems = testsupport::mdbtoolsDisagreements(
        shopLines(testsupport::mdbtoolsDump(path)), shopLines(ours), testsupport::mdbSchema(path));
    EXPECT_TRUE(problems.empty()) << problems.front();
    if (auto missing = expectJackcessReadsAndExtends(path, dir.file("extended.mdb")))
        GTEST_SKIP() << *missing;
}

// The large one (about a minute and a half): a shop whose indexes reach three levels, made by the
// sample maker and upgraded in one run. Jackcess checks every node entry against the last key of
// its child's whole subtree and adds keys above the highest, so it must read and extend the result.
TEST_F(AccessRunTest, LargeShopWithIndexesOfThreeLevelsIsReadAndExtendedByJackcess) {
    namespace j = engine::jet4;
    if (const auto missing = testsupport::jackcessMissing())
        GTEST_SKIP() << *missing;
    std::filesystem::remove(path);
    tools::makeSampleDatabase(path, {30000, 150000, "patch15", tools::SampleFormat::Jet4});
    auto form = showForm();
    run(*form);
    ASSERT_TRUE(errors().empty()) << errors().front();
    form.reset();

    {
        const j::PageFile pages(path);
        const auto catalog = j::readCatalog(pages);
        const auto supgood = std::find_if(catalog.begin(), catalog.end(), [](const auto& entry) {
            return entry.name == "Supgood";
        });
        ASSERT_NE(supgood, catalog.end());
        const j::TableDefinition t =
            j::readTableDefinition(pages, static_cast<std::uint32_t>(supgood->id));
        int levels = 1;
        for (j::IndexPage page = j::readIndexPage(pages, t.physicalIndexes.front().rootPage);
             !page.leaf; page = j::readIndexPage(pages, page.entries.front().child))
            ++levels;
        ASSERT_GE(levels, 3);
    }
    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << firstFault(report);
    expectJackcessReadsAndExtends(path, dir.file("extended.mdb"));
}
