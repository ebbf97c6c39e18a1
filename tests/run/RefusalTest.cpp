// Databases the run must not touch: the wrong revision, or no stamp row to rewrite. Each leaves
// the file exactly as it was and tells the operator why. Files and contents the run cannot work
// on at all are the bad-input matrix of tests/hostile.

#include "RunFixture.h"

using runtest::RunTest;
using testsupport::fileBytes;
using testsupport::sqliteExec;

namespace {

const std::string PreviousNeeded = "Необходимо предварительно выполнить предыдущие патчи";
const std::string NotNeeded = "Нет необходимости в выполнении данного патча";
const std::string Unchanged = "\nБаза данных не изменена.";

} // namespace

TEST_F(RunTest, DatabasesAtOtherRevisionsAreRefusedUntouched) {
    struct Case {
        const char* change; // SQL run on the sample first
        const std::string& message;
    } cases[] = {
        {"UPDATE param SET AValue = 'patch16' WHERE ID = 'patch'", NotNeeded},
        {"UPDATE param SET AValue = 'patch100' WHERE ID = 'patch'", NotNeeded},
        {"UPDATE param SET AValue = 'patch2' WHERE ID = 'patch'", PreviousNeeded},
        {"UPDATE param SET AValue = 'patch14' WHERE ID = 'patch'", PreviousNeeded},
        {"UPDATE param SET AValue = 'Patch15' WHERE ID = 'patch'", PreviousNeeded},
        {"UPDATE param SET AValue = 'patch15a' WHERE ID = 'patch'", PreviousNeeded},
        {"DELETE FROM param WHERE ID = 'patch'", PreviousNeeded},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        std::filesystem::remove(path);
        tools::makeSampleDatabase(path, {4, 4, "patch15"});
        sqliteExec(path, c.change);
        const std::string before = fileBytes(path);
        dialogs->clear();
        auto form = showForm();
        run(*form);
        EXPECT_EQ(messages(), std::vector<std::string>{c.message});
        EXPECT_TRUE(errors().empty());
        EXPECT_FALSE(form->Button1->isEnabled());
        EXPECT_EQ(fileBytes(path), before);
    }
}

TEST_F(RunTest, FailedRunLeavesTheDatabaseAsItWasAndSaysSo) {
    struct Case {
        const char* name;
        const char* change;  // SQL run on the sample first
        const char* mention; // a word the error must hold
    } cases[] = {
        {"no stamp row by ID", "UPDATE param SET ID = 'версия' WHERE ID = 'patch'",
         "В таблице param нет строки с отметкой версии базы"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(path);
        tools::makeSampleDatabase(path, {4, 4, "patch15"});
        sqliteExec(path, c.change);
        const std::string before = fileBytes(path);
        dialogs->clear();
        auto form = showForm();
        run(*form);
        ASSERT_EQ(errors().size(), 1u);
        EXPECT_NE(errors()[0].find(c.mention), std::string::npos) << errors()[0];
        EXPECT_TRUE(errors()[0].ends_with(Unchanged)) << errors()[0];
        EXPECT_TRUE(messages().empty());
        EXPECT_TRUE(form->Button1->isEnabled());
        EXPECT_EQ(fileBytes(path), before);
        EXPECT_EQ(Dao, nullptr); // the connection was released
    }
}
