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

TEST_F(RunTest, RunThatCannotStampFailsAndLeavesTheDatabaseAsItWas) {
    // The stamp row is found by its Item but cannot be rewritten by its ID.
    sqliteExec(path, "UPDATE param SET ID = 'версия' WHERE ID = 'patch'");
    const std::string before = fileBytes(path);
    auto form = showForm();
    run(*form);
    EXPECT_EQ(errors(), std::vector<std::string>{
                            "В таблице param нет строки с отметкой версии базы" + Unchanged});
    EXPECT_TRUE(messages().empty());
    EXPECT_TRUE(form->Button1->isEnabled());
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(Dao, nullptr); // the connection was released
}
