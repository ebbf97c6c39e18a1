// Data-definition statements read into the store's schema operations, and the syntax errors of
// every statement kind.

#include "engine/sql/JetParser.h"
#include "automation/Error.h"
#include "engine/sql/JetStatement.h"
#include "engine/sqlite/JetTranslate.h"

#include <gtest/gtest.h>

using namespace engine;
using namespace engine::jet;

namespace {

Definition parse(std::string_view sql) {
    return parseDefinition(tokenize(sql));
}

struct Column {
    const char* name;
    FieldType type;
    int size;
    bool required;
};

void expectColumns(const std::vector<ColumnDef>& actual, const std::vector<Column>& expected,
                   const std::string& table) {
    ASSERT_EQ(actual.size(), expected.size()) << table;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(actual[i].name, expected[i].name) << table;
        EXPECT_EQ(actual[i].type, expected[i].type) << table << "." << expected[i].name;
        EXPECT_EQ(actual[i].size, expected[i].size) << table << "." << expected[i].name;
        EXPECT_EQ(actual[i].required, expected[i].required) << table << "." << expected[i].name;
    }
}

constexpr auto Text = FieldType::Text;
constexpr auto Short = FieldType::Integer;
constexpr auto Date = FieldType::Date;
constexpr auto Money = FieldType::Currency;
constexpr auto Double = FieldType::Double;

} // namespace

TEST(JetParser, LogTableCreationsGiveExactlyTheirColumns) {
    const struct {
        const char* sql;
        const char* table;
        std::vector<Column> columns;
    } cases[] = {
        {"CREATE TABLE LogDoc (Vn TEXT(10) NOT NULL,KindDoc TEXT(3) NULL,IsIncome SHORT NULL,"
         "Owner SHORT NULL)",
         "LogDoc",
         {{"Vn", Text, 10, true},
          {"KindDoc", Text, 3, false},
          {"IsIncome", Short, 2, false},
          {"Owner", Short, 2, false}}},
        {"CREATE TABLE LogDocU (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
         "NULL,TIMEOP TEXT(8) NOT NULL,OP TEXT(1) NOT NULL,VN TEXT(10) NOT NULL,SumTotal MONEY "
         "NULL,Num TEXT(10) NULL,DFrom TEXT(10) NULL,Firm Text(10) NULL)",
         "LogDocU",
         {{"ID", Text, 10, true},
          {"UserID", Text, 10, true},
          {"DateOp", Date, 8, true},
          {"TIMEOP", Text, 8, true},
          {"OP", Text, 1, true},
          {"VN", Text, 10, true},
          {"SumTotal", Money, 8, false},
          {"Num", Text, 10, false},
          {"DFrom", Text, 10, false},
          {"Firm", Text, 10, false}}},
        {"CREATE TABLE LogPart (PartID TEXT(10) NOT NULL,Vn TEXT(10) NOT NULL)",
         "LogPart",
         {{"PartID", Text, 10, true}, {"Vn", Text, 10, true}}},
        {"CREATE TABLE LogPartU (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME "
         "NOT NULL,TIMEOP TEXT(8) NOT NULL,OP TEXT(1) NOT NULL,PartID TEXT(10) NOT NULL,Name "
         "TEXT(50) NULL,HowMany DOUBLE NULL,PriceTotal MONEY NULL)",
         "LogPartU",
         {{"ID", Text, 10, true},
          {"UserID", Text, 10, true},
          {"DateOp", Date, 8, true},
          {"TIMEOP", Text, 8, true},
          {"OP", Text, 1, true},
          {"PartID", Text, 10, true},
          {"Name", Text, 50, false},
          {"HowMany", Double, 8, false},
          {"PriceTotal", Money, 8, false}}},
        {"CREATE TABLE LogTbl (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
         "NULL,TIMEOP TEXT(8) NOT NULL,RecID TEXT(10) NOT NULL,NTable TEXT(10) NOT NULL,OP "
         "TEXT(1) NOT NULL)",
         "LogTbl",
         {{"ID", Text, 10, true},
          {"UserID", Text, 10, true},
          {"DateOp", Date, 8, true},
          {"TIMEOP", Text, 8, true},
          {"RecID", Text, 10, true},
          {"NTable", Text, 10, true},
          {"OP", Text, 1, true}}},
    };
    for (const auto& c : cases) {
        const auto definition = parse(c.sql);
        const auto* create = std::get_if<ddl::CreateTable>(&definition);
        ASSERT_NE(create, nullptr) << c.sql;
        EXPECT_EQ(create->table.name, c.table);
        expectColumns(create->table.columns, c.columns, c.table);
        EXPECT_TRUE(create->table.indexes.empty());
    }
}

TEST(JetParser, KeyAndIndexStatementsGiveIndexesWithTheirFlags) {
    const struct {
        const char* sql;
        const char* table;
        const char* name;
        std::vector<std::string> columns;
        bool primary, unique, required, ignoreNulls;
    } cases[] = {
        {"ALTER TABLE LogDoc ADD CONSTRAINT LogDoc_PK_VN PRIMARY KEY (VN)",
         "LogDoc",
         "LogDoc_PK_VN",
         {"VN"},
         true,
         true,
         true,
         false},
        {"ALTER TABLE LogTbl ADD CONSTRAINT LogTbl_PK_ID PRIMARY KEY (ID)",
         "LogTbl",
         "LogTbl_PK_ID",
         {"ID"},
         true,
         true,
         true,
         false},
        {"alter table [Мой склад] add constraint Уник unique ([Код товара], Вид);",
         "Мой склад",
         "Уник",
         {"Код товара", "Вид"},
         false,
         true,
         false,
         false},
        {"ALTER TABLE t ADD PRIMARY KEY (a, b)",
         "t",
         "t_PK_a_b",
         {"a", "b"},
         true,
         true,
         true,
         false},
        {"CREATE INDEX i ON t (a DESC, b ASC)", "t", "i", {"a", "b"}, false, false, false, false},
        {"CREATE UNIQUE INDEX i ON t (a)", "t", "i", {"a"}, false, true, false, false},
        {"CREATE INDEX i ON t (a) WITH PRIMARY", "t", "i", {"a"}, true, true, true, false},
        {"CREATE INDEX i ON t (a) WITH DISALLOW NULL", "t", "i", {"a"}, false, false, true, false},
        {"CREATE UNIQUE INDEX i ON t (a) WITH IGNORE NULL",
         "t",
         "i",
         {"a"},
         false,
         true,
         false,
         true},
    };
    for (const auto& c : cases) {
        const auto definition = parse(c.sql);
        const auto* create = std::get_if<ddl::CreateIndex>(&definition);
        ASSERT_NE(create, nullptr) << c.sql;
        EXPECT_EQ(create->table, c.table) << c.sql;
        EXPECT_EQ(create->index.name, c.name) << c.sql;
        EXPECT_EQ(create->index.columns, c.columns) << c.sql;
        EXPECT_EQ(create->index.primary, c.primary) << c.sql;
        EXPECT_EQ(create->index.unique, c.unique) << c.sql;
        EXPECT_EQ(create->index.required, c.required) << c.sql;
        EXPECT_EQ(create->index.ignoreNulls, c.ignoreNulls) << c.sql;
    }
}

TEST(JetParser, ColumnAndTableConstraintsInCreateTableBecomeItsIndexes) {
    const auto definition = parse("CREATE TABLE t (a TEXT(5) PRIMARY KEY, b LONG NOT NULL "
                                  "CONSTRAINT b_u UNIQUE, c MEMO, CONSTRAINT k UNIQUE (b, c))");
    const auto& table = std::get<ddl::CreateTable>(definition).table;
    expectColumns(table.columns,
                  {{"a", Text, 5, false},
                   {"b", FieldType::Long, 4, true},
                   {"c", FieldType::Memo, defaultSize(FieldType::Memo), false}},
                  "t");
    ASSERT_EQ(table.indexes.size(), 3u);
    EXPECT_EQ(table.indexes[0].name, "t_PK_a");
    EXPECT_TRUE(table.indexes[0].primary);
    EXPECT_EQ(table.indexes[1].name, "b_u");
    EXPECT_EQ(table.indexes[1].columns, std::vector<std::string>{"b"});
    EXPECT_FALSE(table.indexes[1].primary);
    EXPECT_TRUE(table.indexes[1].unique);
    EXPECT_EQ(table.indexes[2].columns, (std::vector<std::string>{"b", "c"}));
}

TEST(JetParser, DropsAndColumnChangesNameTheirObjects) {
    auto drop = parse("ALTER TABLE Supgood DROP COLUMN Certificat");
    EXPECT_EQ(std::get<ddl::DropColumn>(drop).table, "Supgood");
    EXPECT_EQ(std::get<ddl::DropColumn>(drop).column, "Certificat");
    drop = parse("ALTER TABLE t DROP CONSTRAINT [k 1]");
    EXPECT_EQ(std::get<ddl::DropIndex>(drop).index, "k 1");
    drop = parse("DROP INDEX i ON t;");
    EXPECT_EQ(std::get<ddl::DropIndex>(drop).table, "t");
    EXPECT_EQ(std::get<ddl::DropIndex>(drop).index, "i");
    drop = parse("drop table [Мой склад]");
    EXPECT_EQ(std::get<ddl::DropTable>(drop).table, "Мой склад");
    const auto add = parse("ALTER TABLE GoodPric ADD COLUMN MinValue CURRENCY NOT NULL");
    EXPECT_EQ(std::get<ddl::AddColumn>(add).table, "GoodPric");
    expectColumns({std::get<ddl::AddColumn>(add).column}, {{"MinValue", Money, 8, true}}, "");
}

TEST(JetParser, EveryMalformedDefinitionRaisesItsKindsNumberAndNamesTheKind) {
    const struct {
        const char* sql;
        long number;
        const char* named; // words the description must contain
    } cases[] = {
        {"CREATE TABLE t", 3290, "CREATE TABLE"},
        {"CREATE TABLE t ()", 3290, "CREATE TABLE"},
        {"CREATE TABLE t (a TEXT(10)", 3290, "CREATE TABLE"},
        {"CREATE TABLE t (a TEXT(10)) garbage", 3290, "CREATE TABLE"},
        {"CREATE VIEW v AS SELECT 1", 3290, "CREATE TABLE"},
        {"CREATE TABLE t (a WIDGET)", 3292, "определении поля"},
        {"CREATE TABLE t (a TEXT(0))", 3292, "определении поля"},
        {"CREATE TABLE t (a TEXT(256))", 3292, "определении поля"},
        {"CREATE TABLE t (a TEXT(99999999999999999999))", 3292, "определении поля"},
        {"CREATE TABLE t (a SHORT(4))", 3292, "определении поля"},
        {"CREATE TABLE t (a TEXT NOT)", 3292, "определении поля"},
        {"CREATE TABLE t (a TEXT NULL NOT NULL)", 3292, "определении поля"},
        {"CREATE TABLE t (a TEXT DEFAULT 'x')", 3292, "определении поля"},
        {"CREATE INDEX i ON t", 3291, "CREATE INDEX"},
        {"CREATE INDEX i ON t ()", 3291, "CREATE INDEX"},
        {"CREATE UNIQUE INDEX i ON t (a) WITH NOTHING", 3291, "CREATE INDEX"},
        {"ALTER TABLE t ADD", 3293, "ALTER TABLE"},
        {"ALTER TABLE t RENAME TO u", 3293, "ALTER TABLE"},
        {"ALTER TABLE t ADD CONSTRAINT k PRIMARY KEY", 3293, "ALTER TABLE"},
        {"ALTER TABLE t ADD COLUMN c BLOB", 3292, "определении поля"},
        {"ALTER TABLE t ADD COLUMN c TEXT PRIMARY KEY", 3293, "ALTER TABLE"},
        {"DROP INDEX i", 3294, "DROP INDEX"},
        {"DROP TABLE", 3295, "DROP TABLE"},
        {"DROP TABLE a, b", 3295, "DROP TABLE"},
        {"DROP VIEW v", 3295, "DROP TABLE"},
        {"CREATE TABLE [t (a TEXT)", 3290, "CREATE TABLE"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.sql);
            ADD_FAILURE() << "accepted: " << c.sql;
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.sql;
            EXPECT_NE(e.description().find(c.named), std::string::npos) << e.description();
            EXPECT_EQ(e.source(), "DAO.Database");
        }
    }
}

TEST(JetStatement, LeadingKeywordsDecideTheKindAndItsErrorNumber) {
    const struct {
        const char* sql;
        long number;
    } cases[] = {
        {"create table", 3290},
        {"Create Unique Index", 3291},
        {"CREATE INDEX", 3291},
        {"ALTER", 3293},
        {"drop index", 3294},
        {"DROP", 3295},
        {"select", 3075},
        {"DELETE", 3075},
        {"insert", 3134},
        {"UPDATE", 3144},
        {"PRAGMA x", 3129},
        {"", 3129},
        {"[select]", 3129},
        {"ATTACH 'x' AS y", 3129},
        {"WITH a AS (SELECT 1)", 3129},
    };
    for (const auto& c : cases)
        EXPECT_EQ(syntaxErrorNumber(classify(tokenize(c.sql))), c.number) << c.sql;
}
