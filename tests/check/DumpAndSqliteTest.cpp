// The checker's dump forms, and its check of the engine's SQLite databases.

#include "engine/jet4/format/Value.h"
#include "support/SqliteDump.h"
#include "support/TempDir.h"
#include "tools/SampleDatabase.h"
#include "tools/check/Checker.h"
#include "tools/check/JsonLines.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <limits>
#include <regex>

using namespace check;

TEST(Dump, EveryKindOfValueTakesItsFixedTextForm) {
    engine::jet4::Value numeric;
    numeric.kind = engine::jet4::Value::Kind::Numeric;
    numeric.scale = 2;
    numeric.bytes = std::string("\x80\0\0\0\0\0\0\0\0\0\0\0\0\x39\x30\0\0", 17); // -123.45
    const struct {
        std::string got, expected;
    } cases[] = {
        {currencyText(123400), "12.3400"},
        {currencyText(-5000), "-0.5000"},
        {currencyText(std::numeric_limits<std::int64_t>::min()), "-922337203685477.5808"},
        {jsonNumber(123.5), "123.5"},
        {jsonNumber(1e21), "1e+21"},
        {jsonNumber(1e20), "100000000000000000000"},
        {jsonNumber(0.000001), "0.000001"},
        {jsonNumber(1.5e-7), "1.5e-7"},
        {jsonNumber(-0.1), "-0.1"},
        {jsonNumber(static_cast<float>(0.1), true), "0.1"}, // not 0.10000000149011612
        {dateTimeText(37832.5), "2003-07-30T12:00:00"},
        {dateTimeText(0), "1899-12-30T00:00:00"},
        {dateTimeText(-1.25), "1899-12-29T06:00:00"},             // the fraction is a time of day
        {dateTimeText(1.0 - 0.4 / 86400), "1899-12-31T00:00:00"}, // rounded to the second
        {base64("ab"), "YWI="},
        {base64("abc"), "YWJj"},
        {jsonString("a\"b\\\n\x01я"), "\"a\\\"b\\\\\\n\\u0001я\""},
        {engine::jet4::guidText(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0A\x0B\x0C\x0D"
                                            "\x0E\x0F\x10",
                                            16)),
         "{04030201-0605-0807-090A-0B0C0D0E0F10}"},
        {engine::jet4::numericText(numeric), "-123.45"},
        {dumpLine("T", {{"a", "1"}, {"b", "null"}}), R"({"table":"T","row":{"a":1,"b":null}})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(SqliteCheck, SampleIsSoundAndItsDumpHoldsEveryRowInItsForms) {
    testsupport::TempDir dir;
    const std::string path = dir.file("shop.mdb");
    tools::makeSampleDatabase(path, {4, 6, "patch15", tools::SampleFormat::Sqlite});
    const Report report = checkFile(path);
    EXPECT_TRUE(report.sound()) << (report.faults.empty() ? "" : report.faults[0].detail);

    std::vector<std::string> lines;
    dump(path, [&](const std::string& line) { lines.push_back(line); });
    std::size_t rows = 0;
    for (const char* table : {"param", "Goods", "GoodPric", "Suppliers", "Supgood", "Docs"})
        rows += std::stoul(
            testsupport::sqliteRows(path, std::string("SELECT count(*) FROM ") + table)[0]);
    EXPECT_EQ(lines.size(), rows);
    EXPECT_NE(
        std::find(lines.begin(), lines.end(),
                  R"({"table":"param","row":{"ID":"patch","Item":"PATCH","AValue":"patch15"}})"),
        lines.end());
    // Money as four decimals and dates in their form, whatever SQLite stored.
    const auto price = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
        return l.starts_with(R"({"table":"GoodPric")");
    });
    ASSERT_NE(price, lines.end());
    EXPECT_TRUE(
        std::regex_search(*price, std::regex(R"("DateFrom":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d")")))
        << *price;
    EXPECT_TRUE(std::regex_search(*price, std::regex(R"("Price":"-?\d+\.\d{4}")"))) << *price;
}

TEST(SqliteCheck, FaultsOfTheFileAndOfTheEnginesOwnTableAreNamed) {
    testsupport::TempDir dir;
    const std::string orphan = dir.file("orphan.mdb");
    testsupport::makeSqliteFile(
        orphan, {"CREATE TABLE t (a TEXT)",
                 "CREATE TABLE MSysEngineProperties (TableName TEXT NOT NULL, ObjectKind TEXT NOT "
                 "NULL, ObjectName TEXT NOT NULL, Property TEXT NOT NULL, Value INTEGER)",
                 "INSERT INTO MSysEngineProperties VALUES ('t', 'column', 'gone', 'Required', 1)",
                 "INSERT INTO MSysEngineProperties VALUES ('t', 'column', 'a', 'Colour', 1)"});
    Report report = checkFile(orphan);
    ASSERT_EQ(report.faults.size(), 2u);
    EXPECT_EQ(report.faults[0].kind, "properties-orphan");
    EXPECT_EQ(report.faults[1].kind, "properties-unknown");

    // An index whose entries no longer match its table.
    const std::string broken = dir.file("broken.mdb");
    testsupport::makeSqliteFile(broken, {"PRAGMA writable_schema=ON", "CREATE TABLE t (a TEXT)",
                                         "INSERT INTO t VALUES ('x'), ('y'), ('z')",
                                         "CREATE INDEX i ON t (a)",
                                         "UPDATE sqlite_master SET sql = 'CREATE INDEX i ON t (a "
                                         "DESC)' WHERE name = 'i'"});
    report = checkFile(broken);
    ASSERT_FALSE(report.faults.empty());
    EXPECT_EQ(report.faults[0].kind, "sqlite-integrity");
    EXPECT_THROW(checkFile(dir.file("absent.mdb")), Unreadable);
}
