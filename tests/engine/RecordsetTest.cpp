// Statements and recordsets through the database object: values typed by their columns, the
// cursor's limits, and recordsets that hold no lock on what they read.

#include "EngineFixture.h"

#include <filesystem>

using automation::Variant;

TEST_F(EngineTest, StampQueryReadsTheRowAndRecordsetHoldsNoLock) {
    makeSample();
    Variant db = open();
    Variant rs = db.call("OpenRecordSet", {"select * from param where Item=\"PATCH\""});
    EXPECT_EQ(rs.call("RecordCount").toInt(), 1);
    EXPECT_EQ(rs.get("Fields", {"AVALUE"}).call("Value").toText(), "patch15");
    Variant table = db.get("TableDefs", {"param"});
    // The recordset is dropped without Close, as the run does; the column must still go.
    table.get("Fields").call("Delete", {"Item"});
    db.call("Execute", {"UPDATE param SET AValue=\"patch16\" WHERE ID=\"patch\""});
    EXPECT_EQ(db.get("RecordsAffected").toInt(), 1);
    db.call("Close");
    EXPECT_EQ(rawQuery("SELECT AValue FROM param"), std::vector<std::string>{"patch16"});
}

TEST_F(EngineTest, ATableNamedWithBlanksOpensByItsBareName) {
    testsupport::makeSqliteFile(path, {"CREATE TABLE \"Типы товаров\" (x TEXT(5))",
                                       "INSERT INTO \"Типы товаров\" VALUES ('a')"});
    Variant db = open();
    EXPECT_EQ(db.call("OpenRecordset", {"Типы товаров"}).get("RecordCount").toInt(), 1);
    EXPECT_EQ(errorNumber([&] { db.call("OpenRecordset", {"Типы посуды"}); }), 3129);
}

TEST_F(EngineTest, ValuesComeBackTypedByTheirColumns) {
    testsupport::makeSqliteFile(
        path, {"CREATE TABLE t (b BIT, s SHORT, m CURRENCY, d DATETIME, x TEXT(5), r REAL)",
               "INSERT INTO t VALUES (-1, 7, 12.5, '2003-07-30 12:00:00', 'abc', 1.5)",
               "INSERT INTO t VALUES (0, NULL, 0, 'not a date', '', NULL)"});
    Variant db = open();
    Variant rs = db.call("OpenRecordset", {"t"});
    ASSERT_EQ(rs.get("RecordCount").toInt(), 2);
    EXPECT_TRUE(rs.get("BOF").toBool() == false);
    EXPECT_EQ(rs.get("Fields", {"b"}).get("Value"), Variant(true));
    EXPECT_EQ(rs.get("Fields", {"s"}).get("Value"), Variant(std::int32_t{7}));
    EXPECT_EQ(rs.get("Fields", {"m"}).get("Value"), Variant(12.5));
    EXPECT_EQ(rs.get("Fields", {"d"}).get("Value"), Variant(37832.5));
    EXPECT_EQ(rs.get("Fields", {"x"}).get("Value"), Variant("abc"));
    EXPECT_EQ(rs.get("Fields", {"d"}).get("Type").toInt(), 8);
    rs.call("MoveNext");
    EXPECT_EQ(rs.get("Fields", {"b"}).get("Value"), Variant(false));
    EXPECT_TRUE(rs.get("Fields", {"s"}).get("Value").isNull());
    EXPECT_EQ(rs.get("Fields", {"d"}).get("Value"), Variant("not a date"));
    rs.call("MoveNext");
    EXPECT_TRUE(rs.get("EOF").toBool());
    EXPECT_EQ(errorNumber([&] { rs.get("Fields", {"b"}).get("Value"); }), 3021);
    EXPECT_EQ(errorNumber([&] { rs.call("MoveNext"); }), 3021);
    rs.call("MoveLast");
    EXPECT_EQ(rs.get("Fields", {4}).get("Value"), Variant(""));
    rs.call("MoveFirst");
    EXPECT_EQ(rs.get("Fields").get("Count").toInt(), 6);
    rs.call("Close");
    EXPECT_EQ(errorNumber([&] { rs.get("RecordCount"); }), 3420);
    EXPECT_EQ(dbEngine.get("Errors", {0}).get("Source").toText(), "DAO.Recordset");
}

TEST_F(EngineTest, FailedStatementLeavesNothingBehindAndNamesTheCause) {
    makeSample();
    Variant db = open();
    Variant table = db.get("TableDefs", {"Supgood"});
    Variant index = table.call("CreateIndex", {"SupGood_U"});
    index.put("Unique", true);
    index.get("Fields").call("Append", {index.call("CreateField", {"Vn"})});
    table.get("Indexes").call("Append", {index});
    EXPECT_EQ(errorNumber([&] {
                  db.call("Execute", {"INSERT INTO Supgood (Vn) VALUES ('1')", 128});
              }),
              3022);
    EXPECT_EQ(errorNumber([&] { db.call("Execute", {"INSERT INTO Supgood (Good) VALUES (5)"}); }),
              3314);
    EXPECT_EQ(dbEngine.get("Errors", {0}).get("Source").toText(), "DAO.Database");
    EXPECT_EQ(table.get("RecordCount").toInt(), 1);
    db.call("Close");
    EXPECT_FALSE(std::filesystem::exists(path + "-journal"));
}
