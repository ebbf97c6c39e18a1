// The run end to end on Access 2000-2003 files: the shop's tables grafted into copies of
// Access-made files in sort order General, so that the catalog and the pages around the shop's are
// Access's, upgraded through the window, then read back by the checker, the engine and the
// independent readers.

#include "RunFixture.h"

#include "automation/Registry.h"
#include "support/JetSamples.h"
#include "support/ReferenceReaders.h"
#include "tools/check/Checker.h"

#include <algorithm>
#include <map>

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

std::vector<std::string> sorted(std::vector<std::string> lines) {
    std::sort(lines.begin(), lines.end());
    return lines;
}

class AccessRunTest : public RunTest {
protected:
    void SetUp() override { REQUIRE_JET_SAMPLES(); }

    // The shop's tables at revision 15 grafted into a copy of the sample `name`.
    void graft(const std::string& name) {
        std::filesystem::remove(path);
        std::filesystem::copy_file(*testsupport::jetSamplesFolder() / name, path);
        tools::addSampleTables(path, {12, 30, "patch15"});
    }
};

} // namespace

TEST_F(AccessRunTest, ShopGraftedIntoAccessFilesBecomesRevision16AsEveryReaderSeesIt) {
    for (const char* sample : {"empty.mdb", "compIndexTestV2000.mdb", "testV2003.mdb"}) {
        SCOPED_TRACE(sample);
        graft(sample);
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
        EXPECT_EQ(sorted(testsupport::mdbReaderDump(path)), sorted(ours));
        const auto schema = testsupport::mdbSchema(path);
        const auto problems = testsupport::mdbtoolsDisagreements(
            sorted(testsupport::mdbtoolsDump(path)), sorted(ours), schema);
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
    }
}
