// Statements that fuzzing the SQL front end showed running without end: each is now refused
// with the engine's syntax error, at once, and the store stays usable.

#include "automation/Error.h"
#include "engine/sql/JetErrors.h"
#include "engine/sql/JetSql.h"
#include "engine/sqlite/SqliteStore.h"
#include "tests/jet/Printers.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using automation::Variant;
using Store = engine::SqliteStore;
namespace jet = engine::jet;

namespace {

class FuzzFindings : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.file("DB.mdb");
        testsupport::makeSqliteFile(
            path_, {"CREATE TABLE param (ID TEXT(10), Item TEXT(10), AValue TEXT(50))",
                    "INSERT INTO param VALUES ('patch', 'PATCH', 'patch15')",
                    "CREATE TABLE Marks ([With] TEXT(10), Recursive SHORT)",
                    "INSERT INTO Marks VALUES ('w', 1)"});
        store_ = Store::open(path_);
        // A statement that would run without end is cut short here, so that it fails the test
        // with SQLite's interruption instead of hanging it.
        sqlite3_progress_handler(
            store_->handle(), 10000,
            [](void* steps) { return ++*static_cast<long*>(steps) > 1000 ? 1 : 0; }, &steps_);
    }

    testsupport::TempDir dir_;
    std::string path_;
    std::shared_ptr<Store> store_;
    long steps_ = 0;
};

} // namespace

TEST_F(FuzzFindings, CommonTableExpressionsAreRefusedAsSyntaxErrorsOfTheirStatement) {
    const char* const endless = "(WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM "
                                "c) SELECT x FROM c)";
    const struct {
        bool isQuery;
        std::string sql;
        long number;
    } cases[] = {
        {true, std::string("SELECT * FROM ") + endless, jet::errors::SyntaxQueryExpression},
        {true, std::string("SELECT ID FROM param WHERE Item IN ") + endless,
         jet::errors::SyntaxQueryExpression},
        {true, "SELECT * FROM (with c AS (SELECT 1) SELECT * FROM c)",
         jet::errors::SyntaxQueryExpression},
        {false,
         std::string("INSERT INTO param (ID, Item, AValue) SELECT ID & x, Item, AValue FROM "
                     "param, ") +
             endless,
         jet::errors::SyntaxInsert},
        {false, std::string("UPDATE param SET AValue = 'x' WHERE ID IN ") + endless,
         jet::errors::SyntaxUpdate},
        {false, std::string("DELETE FROM param WHERE ID NOT IN ") + endless,
         jet::errors::SyntaxQueryExpression},
    };
    for (const auto& c : cases) {
        steps_ = 0;
        try {
            if (c.isQuery)
                jet::query(*store_, c.sql);
            else
                jet::execute(*store_, c.sql);
            ADD_FAILURE() << "accepted: " << c.sql;
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.sql << ": " << e.description();
        }
    }
    EXPECT_EQ(store_->depth(), 0);
    const auto param = jet::query(*store_, "param");
    ASSERT_EQ(param.rows.size(), 1u);
    EXPECT_EQ(param.rows[0][2], Variant("patch15"));
}

TEST_F(FuzzFindings, NamesSpelledLikeTheRefusedKeywordsStillWorkInBrackets) {
    EXPECT_EQ(jet::execute(*store_, "UPDATE Marks SET [With] = 'v' WHERE Recursive = 1"), 1);
    const auto rows = jet::query(*store_, "SELECT [With], Recursive FROM Marks");
    ASSERT_EQ(rows.rows.size(), 1u);
    EXPECT_EQ(rows.rows[0][0], Variant("v"));
}
