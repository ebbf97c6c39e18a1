// The connection against the real engine, on SQLite files made beforehand with the raw SQLite
// API (as another program would have made them) and read back the same way after closing.

#include "dao/ClassDAO.h"

#include "engine/Registration.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

using testsupport::RecordingDialogs;
using testsupport::ScopedRecordingDialogs;
using testsupport::TempDir;
using Rows = std::vector<std::vector<std::string>>;
using Lines = std::vector<std::string>;

namespace {

// Every row of `sql` on the file at `path`, each value as text ("NULL" for null), read with
// the raw SQLite API.
Rows rawQuery(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        throw std::runtime_error("cannot open " + path);
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        std::string message = sqlite3_errmsg(db);
        sqlite3_close(db);
        throw std::runtime_error(message);
    }
    Rows rows;
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const unsigned char* text = sqlite3_column_text(stmt, i);
            row.push_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
        rows.push_back(std::move(row));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

// Column `column` of every row.
Lines column(const Rows& rows, std::size_t column) {
    Lines values;
    for (const auto& row : rows)
        values.push_back(row.at(column));
    return values;
}

class RealEngine : public ::testing::Test {
protected:
    void SetUp() override {
        engine::registerEngine();
        path = dir.file("DB1.mdb");
        testsupport::makeSqliteFile(
            path, {"CREATE TABLE GoodPric (ID TEXT(10) NOT NULL, Price CURRENCY)",
                   "INSERT INTO GoodPric VALUES ('1', 10.5), ('2', NULL), ('3', 7)",
                   "CREATE TABLE Supgood (ID TEXT(10), Owner TEXT(10), Good TEXT(10), "
                   "DCome DATETIME, PriceSupp CURRENCY, Vn TEXT(10), Certificat TEXT(50))",
                   "INSERT INTO Supgood VALUES ('1', 'A', 'G1', '2003-07-30 00:00:00', 1.5, "
                   "'V1', 'c1'), ('2', 'B', 'G2', NULL, NULL, 'V2', NULL)"});
        dao = std::make_unique<TzelDAO>();
        ASSERT_TRUE(dao->ready());
        ASSERT_TRUE(dao->OpenBase(path));
    }

    // Closes the connection so the file can be read back with the raw API.
    void close() {
        dao->CloseBase();
        dao.reset();
    }

    // The declared type of each column of `table`, as "name type notnull".
    Lines columns(const std::string& table) {
        Lines result;
        for (const auto& row : rawQuery(path, "PRAGMA table_info(" + table + ")"))
            result.push_back(row[1] + " " + row[2] + " " + row[3]);
        return result;
    }

    TempDir dir;
    std::string path;
    ScopedRecordingDialogs dialogs;
    std::unique_ptr<TzelDAO> dao;
};

} // namespace

TEST_F(RealEngine, AddFieldCreatesColumnsWithTheirTypesSizesAndFlags) {
    EXPECT_TRUE(dao->AddField("Supgood", "SertBlank", 10, 10, "", false, true));
    EXPECT_TRUE(dao->AddField("Supgood", "SertIssue", 10, 120, "", true, true));
    EXPECT_TRUE(dao->AddField("Supgood", "SertStart", 8, 0, "", true, true));
    // Read back through the engine: "Type Size AllowZeroLength Required".
    automation::Variant supgood = dao->Database.get("TableDefs", {std::string("Supgood")});
    Lines properties;
    for (const char* name : {"SertBlank", "SertIssue", "SertStart"}) {
        automation::Variant field = supgood.get("Fields", {std::string(name)});
        properties.push_back(field.get("Type").toText() + " " + field.get("Size").toText() + " " +
                             field.get("AllowZeroLength").toText() + " " +
                             field.get("Required").toText());
    }
    supgood.clear();
    // A date column takes no AllowZeroLength, whatever the argument says.
    EXPECT_EQ(properties, (Lines{"10 10 False False", "10 120 True False", "8 8 False False"}));
    close();
    Lines all = columns("Supgood");
    EXPECT_EQ(Lines(all.end() - 3, all.end()),
              (Lines{"SertBlank TEXT(10) 0", "SertIssue TEXT(120) 0", "SertStart DATETIME 0"}));
    EXPECT_EQ(rawQuery(path, "SELECT count(*) FROM Supgood WHERE SertBlank IS NULL")[0][0], "2");
    EXPECT_TRUE(dialogs->boxes().empty());
}

TEST_F(RealEngine, AddFieldFillsANewCurrencyColumnWithZeroInEveryRow) {
    EXPECT_TRUE(dao->AddField("GoodPric", "MinValue", 5, 0, "0", false, true));
    close();
    EXPECT_EQ(columns("GoodPric").back(), "MinValue CURRENCY 0");
    EXPECT_EQ(column(rawQuery(path, "SELECT MinValue FROM GoodPric ORDER BY ID"), 0),
              (Lines{"0", "0", "0"}));
}

TEST_F(RealEngine, AddFieldLeavesAnExistingColumnAndItsValuesUntouched) {
    Rows before = rawQuery(path, "SELECT ID, Price FROM GoodPric ORDER BY ID");
    EXPECT_TRUE(dao->AddField("GoodPric", "PRICE", 5, 0, "0", false, false));
    close();
    EXPECT_EQ(rawQuery(path, "SELECT ID, Price FROM GoodPric ORDER BY ID"), before);
    EXPECT_EQ(columns("GoodPric"), (Lines{"ID TEXT(10) 1", "Price CURRENCY 0"}));
}

TEST_F(RealEngine, AFailingFillTakesTheNewColumnBackWithIt) {
    EXPECT_FALSE(dao->AddField("GoodPric", "MinValue", 5, 0, "NoSuchColumn", false, true));
    EXPECT_TRUE(dialogs->boxes().empty());
    close();
    EXPECT_EQ(columns("GoodPric").size(), 2u);
}

TEST_F(RealEngine, DeleteFieldRemovesTheColumnAndRefusesAMissingOneSilently) {
    EXPECT_TRUE(dao->DeleteField("Supgood", "Certificat"));
    EXPECT_FALSE(dao->DeleteField("Supgood", "Certificat"));
    EXPECT_TRUE(dialogs->boxes().empty());
    close();
    for (const std::string& c : columns("Supgood"))
        EXPECT_FALSE(c.starts_with("Certificat")) << c;
    EXPECT_EQ(rawQuery(path, "SELECT count(*) FROM Supgood")[0][0], "2");
}

TEST_F(RealEngine, CreateIndexBuildsAnIndexOverSeveralColumnsInKeyOrderWithItsFlags) {
    EXPECT_TRUE(dao->CreateIndex("SupGood", "SupGood_I_Good",
                                 {"Owner", "Good", "DCome", "PriceSupp"}, false, false, false,
                                 false, false));
    EXPECT_TRUE(
        dao->CreateIndex("SupGood", "SupGood_U_Vn", {"Vn"}, false, true, true, false, true));
    EXPECT_TRUE(dialogs->boxes().empty());
    // Read back through the engine: "Primary Unique Required IgnoreNulls Clustered".
    automation::Variant indexes =
        dao->Database.get("TableDefs", {std::string("Supgood")}).call("Indexes");
    Lines flags;
    for (const char* name : {"SupGood_I_Good", "SupGood_U_Vn"}) {
        automation::Variant index = indexes.call("Item", {std::string(name)});
        std::string line;
        for (const char* flag : {"Primary", "Unique", "Required", "IgnoreNulls", "Clustered"})
            line += index.get(flag).toText() + " ";
        flags.push_back(line);
    }
    indexes.clear();
    EXPECT_EQ(flags, (Lines{"False False False False False ", "False True True False True "}));
    close();
    EXPECT_EQ(column(rawQuery(path, "PRAGMA index_info(SupGood_I_Good)"), 2),
              (Lines{"Owner", "Good", "DCome", "PriceSupp"}));
    Lines uniqueness;
    for (const auto& row : rawQuery(path, "PRAGMA index_list(Supgood)"))
        uniqueness.push_back(row[1] + " " + row[2]);
    std::sort(uniqueness.begin(), uniqueness.end());
    EXPECT_EQ(uniqueness, (Lines{"SupGood_I_Good 0", "SupGood_U_Vn 1"}));
}

TEST_F(RealEngine, ADuplicateIndexNameIsShownThroughShowErrorsAndRefused) {
    ASSERT_TRUE(
        dao->CreateIndex("SupGood", "SupGood_I_Vn", {"Vn"}, false, false, false, false, false));
    EXPECT_FALSE(
        dao->CreateIndex("SupGood", "SupGood_I_Vn", {"Owner"}, false, false, false, false, false));
    ASSERT_EQ(dialogs->boxes().size(), 1u);
    const RecordingDialogs::Box& box = dialogs->boxes()[0];
    EXPECT_EQ(box.kind, RecordingDialogs::Kind::Message);
    EXPECT_NE(box.text.find("SupGood_I_Vn"), std::string::npos) << box.text;
    EXPECT_TRUE(box.text.ends_with("\r\n"));
    // The connection's level was rolled back: a statement outside any level still works.
    EXPECT_NO_THROW(dao->Database.call("Execute", {std::string("UPDATE Supgood SET Vn = 'V9'")}));
    close();
    EXPECT_EQ(column(rawQuery(path, "PRAGMA index_info(SupGood_I_Vn)"), 2), (Lines{"Vn"}));
}

TEST_F(RealEngine, ARefusedChangeLeavesTheCallersLevelAndItsEarlierChangesInPlace) {
    // The certificate stage's shape: an enclosing level, a column added, then changes the
    // engine refuses; the enclosing CommitTrans still finds its level and keeps the column.
    dao->Workspace.call("BeginTrans");
    EXPECT_TRUE(dao->AddField("Supgood", "SertBlank", 10, 10, "", false, true));
    EXPECT_FALSE(dao->DeleteField("Supgood", "NoSuchColumn"));
    EXPECT_FALSE(dao->AddField("NoSuchTable", "SertNum", 10, 30, "", false, true));
    EXPECT_NO_THROW(dao->Workspace.call("CommitTrans"));
    // With no level of the caller open, a refused change ends nothing it did not open.
    EXPECT_FALSE(dao->AddField("NoSuchTable", "SertNum", 10, 30, "", false, true));
    EXPECT_FALSE(dao->DeleteField("Supgood", "NoSuchColumn"));
    EXPECT_TRUE(dialogs->boxes().empty());
    close();
    EXPECT_EQ(columns("Supgood").back(), "SertBlank TEXT(10) 0");
}

TEST_F(RealEngine, TableExistsSeesTablesWhateverTheirCase) {
    EXPECT_TRUE(dao->TableExists("GoodPric"));
    EXPECT_TRUE(dao->TableExists("SUPGOOD"));
    EXPECT_FALSE(dao->TableExists("LogDoc"));
}

TEST_F(RealEngine, OpenFailuresShowTheEngineErrorAndLeaveTheFileAsItWas) {
    struct Case {
        const char* name;
        std::string bytes; // empty: no file at all
        const char* textStart;
    } cases[] = {
        {"missing file", "", "3024 : "},
        {"not a database", "Ворлан+ 4.0: это не база данных\n", "3343 : "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string target = dir.file(std::string(c.name) + ".mdb");
        if (!c.bytes.empty())
            testsupport::writeFileBytes(target, c.bytes);
        dialogs->clear();
        EXPECT_FALSE(dao->OpenBase(target));
        EXPECT_FALSE(dao->Opened);
        EXPECT_TRUE(dao->Database.isEmpty());
        ASSERT_EQ(dialogs->boxes().size(), 1u);
        EXPECT_EQ(dialogs->boxes()[0].caption, "ForceError");
        EXPECT_TRUE(dialogs->boxes()[0].text.starts_with(c.textStart)) << dialogs->boxes()[0].text;
        if (c.bytes.empty())
            EXPECT_THROW(testsupport::fileBytes(target), std::runtime_error);
        else
            EXPECT_EQ(testsupport::fileBytes(target), c.bytes);
    }
}
