// Statements of the engine's dialect carried out on a real SQLite file, checked through SQLite's
// own view of the file.

#include "automation/Error.h"
#include "engine/sql/JetSql.h"
#include "engine/Store.h"
#include "tests/jet/Printers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <random>

using automation::Variant;
using engine::Store;
namespace jet = engine::jet;

namespace {

const char* const LogTableStatements[] = {
    "CREATE TABLE LogDoc (Vn TEXT(10) NOT NULL,KindDoc TEXT(3) NULL,IsIncome SHORT NULL,Owner "
    "SHORT NULL)",
    "ALTER TABLE LogDoc ADD CONSTRAINT LogDoc_PK_VN PRIMARY KEY (VN)",
    "CREATE TABLE LogDocU (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
    "NULL,TIMEOP TEXT(8) NOT NULL,OP TEXT(1) NOT NULL,VN TEXT(10) NOT NULL,SumTotal MONEY "
    "NULL,Num TEXT(10) NULL,DFrom TEXT(10) NULL,Firm Text(10) NULL)",
    "ALTER TABLE LogDocU ADD CONSTRAINT LogDocU_PK_ID PRIMARY KEY (ID)",
    "CREATE TABLE LogPart (PartID TEXT(10) NOT NULL,Vn TEXT(10) NOT NULL)",
    "ALTER TABLE LogPart ADD CONSTRAINT LogPart_PK_PartID PRIMARY KEY (PartID)",
    "CREATE TABLE LogPartU (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
    "NULL,TIMEOP TEXT(8) NOT NULL,OP TEXT(1) NOT NULL,PartID TEXT(10) NOT NULL,Name TEXT(50) "
    "NULL,HowMany DOUBLE NULL,PriceTotal MONEY NULL)",
    "ALTER TABLE LogPartU ADD CONSTRAINT LogPartU_PK_ID PRIMARY KEY (ID)",
    "CREATE TABLE LogTbl (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
    "NULL,TIMEOP TEXT(8) NOT NULL,RecID TEXT(10) NOT NULL,NTable TEXT(10) NOT NULL,OP TEXT(1) "
    "NOT NULL)",
    "ALTER TABLE LogTbl ADD CONSTRAINT LogTbl_PK_ID PRIMARY KEY (ID)",
};

// Rows of `sql` read through the raw SQLite API, each column as text ("NULL" for null).
std::vector<std::vector<std::string>> rawRows(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db);
    std::vector<std::vector<std::string>> rows;
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        auto& row = rows.emplace_back();
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const auto* text = sqlite3_column_text(stmt, i);
            row.emplace_back(text ? reinterpret_cast<const char*>(text) : "NULL");
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

using Rows = std::vector<std::vector<std::string>>;

class JetOnStore : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("DB.mdb");
        testsupport::makeSqliteFile(
            path_, {"CREATE TABLE param (ID TEXT(10), Item TEXT(10), AValue TEXT(50), PATCH "
                    "TEXT(10))",
                    "INSERT INTO param VALUES ('PATCH', 'PATCH', 'patch15', 'PATCH')",
                    "INSERT INTO param VALUES ('other', 'other', 'x', 'other')",
                    "CREATE TABLE GoodPric (Good TEXT(10), MinValue CURRENCY)",
                    "INSERT INTO GoodPric VALUES ('a', 5), ('b', NULL), ('c', 7.5)"});
        store_ = Store::open(path_);
    }
    // Runs `sql` and returns the error it raised; fails the test when it raised none.
    automation::Error failure(std::string_view sql) {
        try {
            jet::execute(*store_, sql);
        } catch (const automation::Error& e) {
            return e;
        }
        ADD_FAILURE() << "accepted: " << sql;
        return automation::Error(0, "", "");
    }
    void close() { store_.reset(); }

    testsupport::TempDir dir_;
    std::string path_;
    std::shared_ptr<Store> store_;
};

} // namespace

TEST_F(JetOnStore, LogTableStatementsGiveExactlyTheSqliteObjects) {
    for (const char* sql : LogTableStatements)
        EXPECT_EQ(jet::execute(*store_, sql), 0) << sql;
    close();
    EXPECT_EQ(rawRows(path_, "SELECT name, type, \"notnull\" FROM pragma_table_info('LogDoc')"),
              (Rows{{"Vn", "TEXT(10)", "1"},
                    {"KindDoc", "TEXT(3)", "0"},
                    {"IsIncome", "SHORT", "0"},
                    {"Owner", "SHORT", "0"}}));
    EXPECT_EQ(rawRows(path_, "SELECT name, type, \"notnull\" FROM pragma_table_info('LogPartU')"),
              (Rows{{"ID", "TEXT(10)", "1"},
                    {"UserID", "TEXT(10)", "1"},
                    {"DateOp", "DATETIME", "1"},
                    {"TIMEOP", "TEXT(8)", "1"},
                    {"OP", "TEXT(1)", "1"},
                    {"PartID", "TEXT(10)", "1"},
                    {"Name", "TEXT(50)", "0"},
                    {"HowMany", "DOUBLE", "0"},
                    {"PriceTotal", "CURRENCY", "0"}}));
    EXPECT_EQ(rawRows(path_, "SELECT type FROM pragma_table_info('LogDocU') WHERE name IN "
                             "('SumTotal', 'Firm')"),
              (Rows{{"CURRENCY"}, {"TEXT(10)"}}));
    const struct {
        const char* table;
        const char* index;
        const char* column;
    } keys[] = {{"LogDoc", "LogDoc_PK_VN", "Vn"},
                {"LogDocU", "LogDocU_PK_ID", "ID"},
                {"LogPart", "LogPart_PK_PartID", "PartID"},
                {"LogPartU", "LogPartU_PK_ID", "ID"},
                {"LogTbl", "LogTbl_PK_ID", "ID"}};
    for (const auto& key : keys) {
        EXPECT_EQ(rawRows(path_, std::string("SELECT name, \"unique\" FROM pragma_index_list('") +
                                     key.table + "') WHERE name NOT LIKE 'sqlite_%'"),
                  (Rows{{key.index, "1"}}))
            << key.table;
        EXPECT_EQ(
            rawRows(path_, std::string("SELECT name FROM pragma_index_info('") + key.index + "')"),
            (Rows{{key.column}}))
            << key.index;
    }
}

TEST_F(JetOnStore, StampQueryReadsByLiteralAndStampStatementRewritesOneRow) {
    const char* stampQuery = R"(select * from param where Item="PATCH")";
    auto before = jet::query(*store_, stampQuery);
    ASSERT_EQ(before.rows.size(), 1u);
    EXPECT_EQ(before.rows[0][2], Variant("patch15"));

    EXPECT_EQ(jet::execute(*store_, R"(UPDATE param SET AValue="patch16" WHERE ID="patch")"), 1);
    close();
    EXPECT_EQ(rawRows(path_, "SELECT ID, AValue FROM param ORDER BY ID"),
              (Rows{{"PATCH", "patch16"}, {"other", "x"}}));
}

TEST_F(JetOnStore, FillStatementSetsEveryRowAndBareTableNameReadsTheWholeTable) {
    EXPECT_EQ(jet::execute(*store_, "UPDATE GoodPric set MinValue=0"), 3);
    const auto table = jet::query(*store_, "[GoodPric]");
    EXPECT_EQ(table.columns, (std::vector<std::string>{"Good", "MinValue"}));
    ASSERT_EQ(table.rows.size(), 3u);
    for (const auto& row : table.rows)
        EXPECT_EQ(row[1].toDouble(), 0.0) << row[0].describe();
}

TEST_F(JetOnStore, DataStatementsCarryQuotesDatesBooleansAndCyrillicNames) {
    jet::execute(*store_, "CREATE TABLE [Склад товаров] (Имя TEXT(20), Дата DATETIME, Есть BIT)");
    EXPECT_EQ(jet::execute(*store_, "INSERT INTO [Склад товаров] (Имя, Дата, Есть) VALUES "
                                    "('O''Brien' & \"-\" & '1', #7/30/2003 10:15 PM#, True)"),
              1);
    EXPECT_EQ(jet::execute(*store_, "DELETE * FROM [Склад товаров] WHERE Есть = False"), 0);
    const auto rows = jet::query(*store_, "SELECT Имя FROM [Склад товаров] WHERE Дата = "
                                          "#2003-07-30 22:15# AND Есть = True");
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.rows[0][0], Variant("O'Brien-1"));
}

TEST_F(JetOnStore, FailingStatementsLeaveTheFileByteForByte) {
    close();
    const std::string original = testsupport::fileBytes(path_);
    store_ = Store::open(path_);
    const struct {
        const char* sql;
        long number;
    } cases[] = {
        {"CREATE TABLE t (a TEXT(10), a SHORT)", 3191},
        {"CREATE TABLE t (a TEXT(10) CONSTRAINT k PRIMARY KEY, b WIDGET)", 3292},
        {"CREATE TABLE param (a TEXT(10))", 3010},
        {"ALTER TABLE GoodPric ADD CONSTRAINT k UNIQUE (Nope)", 3265},
        {"INSERT INTO param (ID) VALUES ('a'), ('b'), ('c'", 3134},
        {"UPDATE param SET ID = 'x' WHERE", 3144},
        {"SELECT * FROM param", 3065},
        {"SELECT * FROM param; DROP TABLE param", 3065},
        {"DELETE FROM Missing", 3078},
        {"UPDATE param SET Nope = 1", 3061},
        {"PRAGMA journal_mode = WAL", 3129},
        {"ATTACH 'other.db' AS x", 3129},
    };
    for (const auto& c : cases) {
        const auto error = failure(c.sql);
        EXPECT_EQ(error.number(), c.number) << c.sql << ": " << error.description();
        EXPECT_EQ(error.source(), "DAO.Database") << c.sql;
    }
    EXPECT_EQ(store_->tableNames().size(), 2u);
    close();
    EXPECT_EQ(testsupport::fileBytes(path_), original);
}

TEST_F(JetOnStore, MultiRowInsertHittingAKeyInsertsNothing) {
    jet::execute(*store_, "CREATE TABLE k (a TEXT(5) CONSTRAINT k_pk PRIMARY KEY)");
    EXPECT_EQ(failure("INSERT INTO k (a) VALUES ('x'), ('y'), ('x')").number(), 3022);
    EXPECT_TRUE(jet::query(*store_, "k").rows.empty());
}

TEST_F(JetOnStore, QueriesRefuseActionsMissingTablesAndWritesToSystemTables) {
    close();
    testsupport::makeSqliteFile(
        path_, {"CREATE TABLE MSysNotes (x TEXT(5))", "INSERT INTO MSysNotes VALUES ('kept')"});
    store_ = Store::open(path_);
    const struct {
        const char* sql;
        long number;
    } cases[] = {
        {"UPDATE param SET ID = 'x'", 3219},
        {"CREATE TABLE t (a TEXT)", 3219},
        {"Missing", 3078},
        {"[No such table]", 3078},
        {"param extra", 3129},
        {"SELECT * FROM param WHERE", 3075},
    };
    for (const auto& c : cases) {
        try {
            jet::query(*store_, c.sql);
            ADD_FAILURE() << "accepted: " << c.sql;
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.sql << ": " << e.description();
        }
    }
    EXPECT_EQ(failure("DELETE FROM msysnotes").number(), 3027);
    EXPECT_EQ(failure("UPDATE [MSysNotes] SET x = 'gone'").number(), 3027);
    EXPECT_EQ(jet::query(*store_, "SELECT x FROM MSysNotes").rows.size(), 1u);
}

// Statements glued from random pieces of the dialect: each either runs or raises the engine's
// error, and the store stays usable.
TEST_F(JetOnStore, ArbitraryStatementsOnlyEverRunOrRaiseEngineErrors) {
    const std::vector<std::string> pieces = {
        "SELECT",      "INSERT",     "INTO",  "UPDATE",
        "DELETE",      "CREATE",     "TABLE", "ALTER",
        "DROP",        "INDEX",      "ON",    "param",
        "[GoodPric]",  "t",          "a",     "TEXT(10)",
        "SHORT",       "NOT",        "NULL",  "PRIMARY",
        "KEY",         "CONSTRAINT", "(",     ")",
        ",",           ";",          "*",     "=",
        "<>",          "&",          "'x'",   "\"y\"",
        "#7/30/2003#", "True",       "1",     "WHERE",
        "SET",         "VALUES",     "FROM",  "[",
        "#",           "'",          "\xFF",  std::string(1, '\0'),
        "--",          "/*",         "?",     "(((((((((("};
    std::mt19937 random(16);
    for (int round = 0; round < 1500; ++round) {
        std::string sql;
        const int count = static_cast<int>(random() % 12);
        for (int i = 0; i < count; ++i)
            sql += pieces[random() % pieces.size()] + (random() % 3 ? " " : "");
        try {
            if (random() % 2)
                jet::execute(*store_, sql);
            else
                jet::query(*store_, sql);
        } catch (const automation::Error& e) {
            EXPECT_FALSE(e.description().empty()) << sql;
        }
    }
    EXPECT_EQ(store_->depth(), 0);
    EXPECT_FALSE(jet::query(*store_, "param").columns.empty());
}
