// Databases the run must not touch: the wrong revision, or a run that cannot complete. Each
// leaves the file exactly as it was and tells the operator why.

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
        {"UPDATE param SET AValue = NULL WHERE ID = 'patch'", PreviousNeeded},
        {"DELETE FROM param WHERE ID = 'patch'", PreviousNeeded},
        {"INSERT INTO param VALUES ('patch2', 'PATCH', 'patch15')", PreviousNeeded},
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
        {"Supgood without Certificat", "ALTER TABLE Supgood DROP COLUMN Certificat", "Certificat"},
        {"no GoodPric", "DROP TABLE GoodPric", "GoodPric"},
        {"LogDocU without LogDoc", "CREATE TABLE LogDocU (ID TEXT(10))", "LogDocU"},
        {"no stamp row by ID", "UPDATE param SET ID = 'версия' WHERE ID = 'patch'",
         "В таблице param нет строки с отметкой версии базы"},
        {"no Supgood", "DROP TABLE Supgood", "Supgood"},
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

TEST_F(RunTest, FileThatCannotBeOpenedIsReportedTwiceAndLeftAlone) {
    using Kind = testsupport::RecordingDialogs::Kind;
    struct Case {
        const char* name;
        std::string content; // empty: no file at all
        const char* number;
    } cases[] = {
        {"missing", "", "3024 : "},
        {"not-a-database", std::string("\0\1\0\0Standard Jet DB\0", 20) + std::string(2000, 'x'),
         "3343 : "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = dir.file(std::string(c.name) + ".mdb");
        if (!c.content.empty())
            testsupport::writeFileBytes(file, c.content);
        dialogs->clear();
        auto form = showForm();
        form->Edit1->setText(QString::fromStdString(file));
        // A missing file leaves the button disabled; the handler itself still refuses it.
        try {
            form->Button1Click();
            ADD_FAILURE() << "no error";
        } catch (const EDatabaseError& e) {
            EXPECT_EQ(e.what(), "Не удалось открыть " + file);
        }
        ASSERT_EQ(dialogs->boxes().size(), 1u);
        EXPECT_EQ(dialogs->boxes()[0].kind, Kind::MessageBox);
        EXPECT_EQ(dialogs->boxes()[0].caption, "ForceError");
        EXPECT_TRUE(dialogs->boxes()[0].text.starts_with(c.number)) << dialogs->boxes()[0].text;
        EXPECT_EQ(form->Meter->DisplayText(), "Открытие базы");
        EXPECT_EQ(Dao, nullptr);
        if (c.content.empty())
            EXPECT_FALSE(std::filesystem::exists(file));
        else
            EXPECT_EQ(fileBytes(file), c.content);
    }
}
