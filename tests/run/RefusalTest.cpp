// Databases the run must not touch: the wrong revision, or no stamp row to rewrite. Each leaves
// the file exactly as it was and tells the operator why. Files and contents the run cannot work
// on at all are the bad-input matrix of tests/hostile.

#include "RunFixture.h"

#include "support/RecordingEngine.h"

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
        tools::makeSampleDatabase(path, {4, 4, "patch15", tools::SampleFormat::Sqlite});
        sqliteExec(path, c.change);
        const std::string before = fileBytes(path);
        dialogs->clear();
        auto form = showForm();
        run(*form);
        EXPECT_EQ(messages(), std::vector<std::string>{c.message});
        EXPECT_TRUE(errors().empty());
        EXPECT_FALSE(form->Button1->Enabled());
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
    EXPECT_TRUE(form->Button1->Enabled());
    EXPECT_EQ(fileBytes(path), before);
    EXPECT_EQ(Dao, nullptr); // the connection was released
}

// Each kind of refusal and failure, on the recording engine: the run ends every transaction
// level itself, before it closes the database, and none is left for the close.
TEST(RunLevels, EveryRefusalAndFailureEndsTheLevelsItOpenedBeforeTheClose) {
    using automation::Variant;
    const Variant stamp15("patch15");
    const struct {
        const char* name;
        std::int32_t stampRows;
        Variant stamp;
        const char* failOn; // the first call starting so fails ("" for none)
        bool withSupgood;   // "Supgood" is there with its "Certificat"
    } cases[] = {
        {"later revision", 1, Variant("patch16"), "", true},
        {"earlier revision", 1, Variant("patch14"), "", true},
        {"Null stamp", 1, Variant::null(), "", true},
        {"no stamp row", 0, stamp15, "", true},
        {"two stamp rows", 2, stamp15, "", true},
        {"refusal whose Rollback is refused once", 1, Variant("patch16"), "Workspace.Rollback",
         true},
        {"stamp query fails", 1, stamp15, "Database.OpenRecordset", true},
        {"no stamp column", 1, Variant(), "", true},
        {"stamp read fails, then a Rollback is refused once", 1, Variant(), "Workspace.Rollback",
         true},
        {"log table refused", 1, stamp15, "Database.Execute(CREATE TABLE LogDocU", true},
        {"commit refused", 1, stamp15, "Workspace.CommitTrans", true},
        {"price column fill fails", 1, stamp15, "Database.Execute(UPDATE GoodPric", true},
        {"no Supgood", 1, stamp15, "", false},
        {"stamp statement fails", 1, stamp15, "Database.Execute(UPDATE param", true},
        {"stamp statement unchecked", 1, stamp15, "", true}, // no RecordsAffected here
    };
    testsupport::TempDir dir;
    const std::string path = dir.file("shop.mdb");
    testsupport::writeFileBytes(path, "x");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::ScopedRecordingDialogs dialogs;
        testsupport::RecordingEngine engine;
        engine.addTable("GoodPric", {"ID", "Price"});
        // The log tables the run's indexes go on, but no "LogDoc": the run makes them all.
        for (const char* log : {"LogDocU", "LogPart", "LogPartU", "LogTbl"})
            engine.addTable(log, {"ID", "Vn", "Op", "DateOp", "TimeOp", "PartID", "RecID"});
        if (c.withSupgood)
            engine.addTable("Supgood", {"ID", "Owner", "Good", "Certificat"});
        if (c.stamp.isEmpty())
            engine.setRecordset(c.stampRows, {});
        else
            engine.setRecordset(c.stampRows, {{"AVALUE", c.stamp}});
        if (*c.failOn)
            engine.failOn(c.failOn);
        testsupport::FormWindow form(dir.path() + "/");
        form.Edit1->setText(path);
        try {
            form.Button1Click();
        } catch (const std::exception&) {
        }

        EXPECT_TRUE(engine.openLevels().empty());
        const std::vector<std::string>& lines = engine.lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "Database.Close"); // the levels ended before it
        EXPECT_EQ(Dao, nullptr);
    }
}
