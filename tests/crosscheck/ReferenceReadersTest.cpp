// The two independent readers that judge the project's own reader must first agree with each
// other: on every Access-made sample file, npm mdb-reader's dump and mdbtools' dump hold the same
// rows in the same form, but for mdbtools' known quirks.

#include "support/ReferenceReaders.h"
#include "support/JetSamples.h"

#include <gtest/gtest.h>

#include <limits>

using namespace testsupport;

namespace {

#define REQUIRE_REFERENCE_TOOLS()                                                                  \
    do {                                                                                           \
        if (const auto missing = referenceToolsMissing())                                          \
            GTEST_SKIP() << *missing;                                                              \
    } while (false)

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines)
        text += "  " + line + "\n";
    return text;
}

// Where both readers misread a row written before columns were added (ReferenceReaders.h): the
// file, the table and column, and how many rows.
struct KnownFault {
    std::string file, where;
    std::size_t rows;
};
const KnownFault knownFaults[] = {
    {"kadetviti272+diplom+0b31d08+db.mdb", "(table user) column dBirsday:", 3},
};

TEST(ReferenceReaders, AgreeOnEverySampleFile) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_REFERENCE_TOOLS();
    std::size_t rows = 0;
    for (const auto& file : jetSampleFiles()) {
        SCOPED_TRACE(file.string());
        const auto exact = mdbReaderDump(file);
        std::vector<std::string> problems;
        std::vector<std::size_t> known(std::size(knownFaults));
        for (const auto& problem :
             mdbtoolsDisagreements(mdbtoolsDump(file), exact, mdbSchema(file))) {
            bool isKnown = false;
            for (std::size_t k = 0; k < known.size(); ++k)
                if (file.filename() == knownFaults[k].file &&
                    problem.find(knownFaults[k].where) != std::string::npos) {
                    ++known[k];
                    isKnown = true;
                }
            if (!isKnown)
                problems.push_back(problem);
        }
        EXPECT_TRUE(problems.empty()) << joined(problems);
        for (std::size_t k = 0; k < known.size(); ++k) {
            if (file.filename() == knownFaults[k].file) {
                EXPECT_EQ(known[k], knownFaults[k].rows) << knownFaults[k].where;
            }
        }
        rows += exact.size();
    }
    EXPECT_GT(rows, 1000u) << "the samples hold thousands of rows; the dumps came back empty";
}

// The comparison must not accept what mdbtools' quirks do not explain.
TEST(ReferenceReaders, ComparisonReportsEachDifferenceOutsideTheQuirks) {
    ReferenceSchema schema;
    schema.tables.push_back({"T",
                             {{"t", "Text (50)", false},
                              {"n", "Memo/Hyperlink (255)", false},
                              {"s", "Single", false},
                              {"d", "Double", false},
                              {"w", "DateTime", false}},
                             {}});
    const std::string mdbtools =
        R"({"table":"T","row":{"t":"ab","n":null,"s":0.10000002,"d":0.1,"w":"1900-01-00T00:00:00"}})";
    struct Case {
        std::string other;
        bool agrees;
    };
    const Case cases[] = {
        {mdbtools, true},
        // Quirks: text cut at U+0000, empty text read as Null; a single needing 9 digits, a double
        // needing 17; a date before 1899-12-31 or after 4637-11-26.
        {R"({"table":"T","row":{"t":"ab\u0000c","n":"","s":0.10000002,"d":0.1,"w":"1899-12-30T12:00:00"}})",
         true},
        {R"({"table":"T","row":{"t":"ab","n":null,"s":0.100000024,"d":0.1,"w":"1700-01-01T00:00:00"}})",
         true},
        {R"({"table":"T","row":{"t":"ab","n":null,"s":0.10000002,"d":0.10000000000000002,"w":"9999-12-31T00:00:00"}})",
         true},
        // Real differences.
        {R"({"table":"T","row":{"t":"abc","n":null,"s":0.10000002,"d":0.1,"w":"1899-12-29T00:00:00"}})",
         false},
        {R"({"table":"T","row":{"t":"ab","n":"x","s":0.10000002,"d":0.1,"w":"1899-12-29T00:00:00"}})",
         false},
        {R"({"table":"T","row":{"t":"ab","n":null,"s":0.1,"d":0.1,"w":"1899-12-29T00:00:00"}})",
         false},
        {R"({"table":"T","row":{"t":"ab","n":null,"s":0.10000002,"d":0.1000000000000001,"w":"1899-12-29T00:00:00"}})",
         false},
        {R"({"table":"T","row":{"t":"ab","n":null,"s":0.10000002,"d":0.1,"w":"2000-01-01T00:00:00"}})",
         false},
        {R"({"table":"T","row":{"t":"ab","n":null,"s":0.10000002,"d":0.1,"w":null}})", false},
        {R"({"table":"T","row":{"n":null,"t":"ab","s":0.10000002,"d":0.1,"w":"1899-12-29T00:00:00"}})",
         false},
        {R"({"table":"U","row":{"t":"ab","n":null,"s":0.10000002,"d":0.1,"w":"1899-12-29T00:00:00"}})",
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.other);
        const auto problems = mdbtoolsDisagreements({mdbtools}, {c.other}, schema);
        EXPECT_EQ(problems.empty(), c.agrees) << joined(problems);
    }
    EXPECT_EQ(mdbtoolsDisagreements({mdbtools}, {mdbtools, mdbtools}, schema).size(), 1u);
}

// Numbers as JavaScript writes them, which both dumps (and the project's) must match.
TEST(ReferenceReaders, NumbersAreWrittenAsJavaScriptWritesThem) {
    const std::pair<double, const char*> doubles[] = {
        {0.0, "0"},
        {-0.0, "0"},
        {444.555, "444.555"},
        {0.1 + 0.2, "0.30000000000000004"},
        {-8540982423.453, "-8540982423.453"},
        {1e21, "1e+21"},
        {123456789012345678901.0, "123456789012345680000"},
        {1e-6, "0.000001"},
        {1.5e-7, "1.5e-7"},
        {-2.5e-300, "-2.5e-300"},
        {std::numeric_limits<double>::quiet_NaN(), "null"},
    };
    for (const auto& [value, text] : doubles)
        EXPECT_EQ(jsNumberText(value), text);
    const std::pair<float, const char*> singles[] = {
        {0.1f, "0.1"},
        {-94.43003f, "-94.43003"},
        {3.0984099e+08f, "309841000"},
        {-0.00035134f, "-0.00035134"},
        {16777216.0f, "16777216"},
        {1e-7f, "1e-7"},
        {3.4028235e38f, "3.4028235e+38"},
    };
    for (const auto& [value, text] : singles)
        EXPECT_EQ(jsSingleText(value), text);
}

TEST(ReferenceReaders, SchemaListsColumnsAndIndexes) {
    REQUIRE_JET_SAMPLES();
    REQUIRE_REFERENCE_TOOLS();
    const auto folder = *jetSamplesFolder();
    const auto fixedText = mdbSchema(folder / "fixedTextTestV2000.mdb");
    ASSERT_EQ(fixedText.tables.size(), 1u);
    const auto& users = fixedText.tables.front();
    ASSERT_EQ(users.columns.size(), 10u);
    EXPECT_EQ(users.columns[0].name, "i_user_id");
    EXPECT_EQ(users.columns[0].type, "Long Integer");
    EXPECT_TRUE(users.columns[0].notNull);
    EXPECT_EQ(users.columns[8].type, "Text (1)");
    EXPECT_EQ(users.columns[9].type, "DateTime");
    EXPECT_FALSE(mdbSchema(folder / "testV2000.mdb").table("Table1")->column("A")->notNull);

    struct Case {
        std::string file, table;
        ReferenceIndex index;
    };
    const Case cases[] = {
        {"fixedTextTestV2000.mdb", "users", {"Users2_1_idx", {"c_user_login"}, false, false}},
        {"fixedTextTestV2000.mdb", "users", {"", {"i_user_id"}, true, true}},
        {"test2V2000.mdb", "MSP_PROJECTS", {"I_PROJ_NAME", {"PROJ_NAME"}, true, false}},
        {"ru/Ilyuac+DataBase+0b8ad92+Database.mdb",
         "Tables",
         {"", {"IDStudent", "IDSubject"}, true, true}},
        {"ru/Ejik+ordersvi+38e2a35+db.mdb", "Norms", {"", {"Код"}, true, true}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + c.table + " " + c.index.name);
        const auto schema = mdbSchema(folder / c.file);
        const auto* table = schema.table(c.table);
        ASSERT_NE(table, nullptr);
        bool found = false;
        for (const auto& index : table->indexes)
            found = found || (index.name == c.index.name && index.columns == c.index.columns &&
                              index.unique == c.index.unique && index.primary == c.index.primary);
        EXPECT_TRUE(found);
    }
}

} // namespace
