// The connection's life on the recording engine: starting the engine, opening and closing,
// the engine error reports, and the destructor.

#include "dao/ClassDAO.h"

#include "automation/Error.h"
#include "automation/Object.h"
#include "automation/Registry.h"
#include "support/RecordingDialogs.h"
#include "support/RecordingEngine.h"

#include <gtest/gtest.h>

#include <memory>

using testsupport::RecordingDialogs;
using testsupport::RecordingEngine;
using testsupport::ScopedRecordingDialogs;
using Lines = std::vector<std::string>;

namespace {

constexpr const char* ProgId = "DAO.PrivateDBEngine.36";

} // namespace

TEST(Connection, StartsTheEngineWithJetWorkspacesAndTakesWorkspaceZero) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    TzelDAO dao;
    EXPECT_TRUE(dao.ready());
    EXPECT_FALSE(dao.Opened);
    EXPECT_TRUE(dao.Database.isEmpty());
    EXPECT_TRUE(dao.Workspace.isObject());
    EXPECT_EQ(engine.lines(), (Lines{"DBEngine.DefaultType=2", "DBEngine.Workspaces(0)"}));
    EXPECT_TRUE(dialogs->boxes().empty());
}

TEST(Connection, WithoutAnEngineIsNotReadySilentAndNeverOpens) {
    ScopedRecordingDialogs dialogs;
    automation::ScopedRegistration noEngine(ProgId, {});
    TzelDAO dao;
    EXPECT_FALSE(dao.ready());
    EXPECT_FALSE(dao.OpenBase("/no/engine/base.mdb"));
    EXPECT_FALSE(dao.Opened);
    EXPECT_TRUE(dao.Database.isEmpty());
    EXPECT_TRUE(dialogs->boxes().empty());
}

TEST(Connection, AnEngineFailingToStartLeavesItNotReadyAndOpenBaseCallsNothing) {
    for (const char* refused : {"DBEngine.DefaultType", "DBEngine.Workspaces"}) {
        SCOPED_TRACE(refused);
        ScopedRecordingDialogs dialogs;
        RecordingEngine engine;
        engine.failOn(refused);
        TzelDAO dao;
        EXPECT_FALSE(dao.ready());
        std::size_t callsBefore = engine.lines().size();
        EXPECT_FALSE(dao.OpenBase("base.mdb"));
        EXPECT_EQ(engine.lines().size(), callsBefore);
        EXPECT_FALSE(dao.Opened);
        EXPECT_TRUE(dialogs->boxes().empty());
    }
}

TEST(Connection, OpenBasePassesThePathAloneAndReportsOpened) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    TzelDAO dao;
    engine.clearLines();
    EXPECT_TRUE(dao.OpenBase("C:\\Ворлан\\DB1.mdb"));
    EXPECT_TRUE(dao.Opened);
    EXPECT_TRUE(dao.Database.isObject());
    EXPECT_EQ(engine.lines(), (Lines{"Workspace.OpenDatabase(C:\\Ворлан\\DB1.mdb)"}));
    EXPECT_TRUE(dialogs->boxes().empty());
}

TEST(Connection, RefusedOpenShowsTheLastEngineErrorInTheForceErrorBox) {
    struct Case {
        const char* name;
        std::vector<RecordingEngine::ErrorEntry> errors;
        std::string text;
    } cases[] = {
        {"one entry",
         {{3024, "Не удается найти файл 'x.mdb'.", "DAO.Workspace"}},
         "3024 : Не удается найти файл 'x.mdb'. : DAO.Workspace"},
        {"the last of two entries",
         {{3343, "Нераспознанный формат базы данных", "DAO.Database"},
          {3051, "Не удается открыть файл", "DAO.Workspace"}},
         "3051 : Не удается открыть файл : DAO.Workspace"},
        {"an empty list", {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScopedRecordingDialogs dialogs;
        RecordingEngine engine;
        engine.refusePath("x.mdb", c.errors);
        TzelDAO dao;
        EXPECT_FALSE(dao.OpenBase("x.mdb"));
        EXPECT_FALSE(dao.Opened);
        EXPECT_TRUE(dao.Database.isEmpty());
        ASSERT_EQ(dialogs->boxes().size(), 1u);
        const RecordingDialogs::Box& box = dialogs->boxes()[0];
        EXPECT_EQ(box.kind, RecordingDialogs::Kind::MessageBox);
        EXPECT_EQ(box.caption, "ForceError");
        EXPECT_EQ(box.text, c.text);
    }
}

TEST(Connection, OpenBaseOnAnOpenObjectClosesFirstAndAFailedReopenLeavesItClosed) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    engine.refusePath("bad.mdb", {{3024, "нет файла", "DAO.Workspace"}});
    TzelDAO dao;
    ASSERT_TRUE(dao.OpenBase("first.mdb"));
    engine.clearLines();
    EXPECT_TRUE(dao.OpenBase("second.mdb"));
    EXPECT_EQ(engine.lines(), (Lines{"Database.Close", "Workspace.OpenDatabase(second.mdb)"}));

    engine.clearLines();
    EXPECT_FALSE(dao.OpenBase("bad.mdb"));
    EXPECT_EQ(engine.lines().front(), "Database.Close");
    EXPECT_FALSE(dao.Opened);
    EXPECT_TRUE(dao.Database.isEmpty());
}

TEST(Connection, AFailingCloseLeavesOpenBaseAndKeepsTheDatabase) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    TzelDAO dao;
    ASSERT_TRUE(dao.OpenBase("first.mdb"));
    engine.failOn("Database.Close");
    EXPECT_THROW(dao.OpenBase("second.mdb"), automation::Error);
    EXPECT_TRUE(dao.Opened);
    EXPECT_TRUE(dao.Database.isObject());
    EXPECT_EQ(engine.lines().back(), "Database.Close");
}

TEST(Connection, CloseBaseClosesOnceAndIsHarmlessWhenNothingIsOpen) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    TzelDAO dao;
    engine.clearLines();
    dao.CloseBase();
    EXPECT_TRUE(engine.lines().empty());

    ASSERT_TRUE(dao.OpenBase("base.mdb"));
    engine.clearLines();
    dao.CloseBase();
    dao.CloseBase();
    EXPECT_EQ(engine.lines(), (Lines{"Database.Close"}));
    EXPECT_FALSE(dao.Opened);
    EXPECT_TRUE(dao.Database.isEmpty());
}

TEST(Connection, ShowErrorsListsEveryDescriptionEachEndedByCrLf) {
    struct Case {
        std::vector<RecordingEngine::ErrorEntry> errors;
        std::string text;
    } cases[] = {
        {{{3284, "Индекс уже существует.", "DAO.Indexes"}, {3000, "Ошибка 2", "DAO.Table"}},
         "Индекс уже существует.\r\nОшибка 2\r\n"},
        {{}, ""},
    };
    for (const Case& c : cases) {
        ScopedRecordingDialogs dialogs;
        RecordingEngine engine;
        TzelDAO dao;
        engine.setErrors(c.errors);
        engine.clearLines();
        dao.ShowErrors();
        ASSERT_EQ(dialogs->boxes().size(), 1u);
        EXPECT_EQ(dialogs->boxes()[0].kind, RecordingDialogs::Kind::Message);
        EXPECT_EQ(dialogs->boxes()[0].text, c.text);
        // The list is refreshed before it is read.
        EXPECT_EQ(engine.lines().at(1), "Errors.Refresh");
    }
}

TEST(Connection, DestructorSwallowsAFailingCloseAndStillReleasesTheEngine) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    std::weak_ptr<automation::Object> database;
    std::weak_ptr<automation::Object> workspace;
    {
        TzelDAO dao;
        ASSERT_TRUE(dao.OpenBase("base.mdb"));
        database = dao.Database.object();
        workspace = dao.Workspace.object();
        engine.failOn("Database.Close");
    }
    EXPECT_EQ(engine.lines().back(), "Database.Close");
    EXPECT_TRUE(database.expired());
    EXPECT_TRUE(workspace.expired());
    EXPECT_TRUE(dialogs->boxes().empty());
}

TEST(Connection, TableExistsAnswersFromTheEngineAndFalseWithoutADatabase) {
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    engine.addTable("LogDoc", {"Vn"});
    TzelDAO dao;
    EXPECT_FALSE(dao.TableExists("LogDoc"));
    ASSERT_TRUE(dao.OpenBase("base.mdb"));
    EXPECT_TRUE(dao.TableExists("LogDoc"));
    EXPECT_TRUE(dao.TableExists("logdoc"));
    EXPECT_FALSE(dao.TableExists("LogDocU"));
    EXPECT_TRUE(dialogs->boxes().empty());
}
