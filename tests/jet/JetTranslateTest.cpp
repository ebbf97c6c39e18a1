// Data statements of the engine's dialect as SQLite SQL with bound literals.

#include "engine/sqlite/JetTranslate.h"
#include "automation/Error.h"
#include "engine/sql/JetLexer.h"
#include "tests/jet/Printers.h"

#include <gtest/gtest.h>

using automation::Variant;

namespace {

engine::jet::Translation translate(std::string_view sql) {
    return engine::jet::translateData(engine::jet::tokenize(sql), sql);
}

} // namespace

TEST(JetTranslate, StatementsOfTheToolAndEachLiteralFormBecomeSqliteWithBoundValues) {
    const struct {
        const char* jet;
        const char* sqlite;
        std::vector<Variant> params;
    } cases[] = {
        // The stamp query, the stamp statement and the fill statement, verbatim.
        {R"(select * from param where Item="PATCH")",
         "select * from param where Item = ? COLLATE FOLDCASE",
         {"PATCH"}},
        {R"(UPDATE param SET AValue="patch16" WHERE ID="patch")",
         "UPDATE param SET AValue = ? COLLATE FOLDCASE WHERE ID = ? COLLATE FOLDCASE",
         {"patch16", "patch"}},
        {"UPDATE GoodPric set MinValue=0", "UPDATE GoodPric set MinValue = 0", {}},
        {"INSERT INTO t (a, b) VALUES ('it''s', \"x\"\"y\");",
         "INSERT INTO t ( a , b ) VALUES ( ? COLLATE FOLDCASE , ? COLLATE FOLDCASE )",
         {"it's", "x\"y"}},
        {"SELECT [Имя поля], [a\"b] FROM [Мой склад]",
         R"(SELECT "Имя поля" , "a""b" FROM "Мой склад")",
         {}},
        {"SELECT * FROM Товары WHERE Цена>=1.5", "SELECT * FROM Товары WHERE Цена >= 1.5", {}},
        {"DELETE * FROM LogDoc WHERE DateOp < #7/30/2003 10:15 PM#",
         "DELETE FROM LogDoc WHERE DateOp < ?",
         {"2003-07-30 22:15:00"}},
        {"UPDATE t SET Flag=True, Other=false WHERE [True]<>0",
         R"(UPDATE t SET Flag = -1 , Other = 0 WHERE "True" <> 0)",
         {}},
        {"SELECT a & 'x' FROM t", "SELECT a || ? COLLATE FOLDCASE FROM t", {"x"}},
        // A '-' pair stays two operators instead of becoming a comment.
        {"SELECT 1--1", "SELECT 1 - - 1", {}},
    };
    for (const auto& c : cases) {
        const auto translation = translate(c.jet);
        EXPECT_EQ(translation.sql, c.sqlite) << c.jet;
        EXPECT_EQ(translation.params, c.params) << c.jet;
    }
}

TEST(JetTranslate, UnreadableTokenOrSecondStatementRaisesTheKindsSyntaxError) {
    const struct {
        const char* sql;
        long number;
    } cases[] = {
        {"SELECT * FROM t WHERE a = \"open", 3075},
        {"DELETE FROM t; DROP TABLE u", 3075},
        {"INSERT INTO t VALUES (?)", 3134},
        {"UPDATE t SET a = #99/99/2003#", 3144},
        {"UPDATE t SET a = 1;;", 3144},
    };
    for (const auto& c : cases) {
        try {
            translate(c.sql);
            ADD_FAILURE() << "accepted: " << c.sql;
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.sql;
            EXPECT_EQ(e.source(), "DAO.Database");
        }
    }
}
