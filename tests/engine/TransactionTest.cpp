// Transaction levels through the workspace: nesting and its limits, undoing data definition at
// any depth, and the file left byte for byte when the outermost level is rolled back or the
// database is closed or released with levels open.

#include "EngineFixture.h"

using automation::Variant;
using testsupport::fileBytes;

namespace {

// Adds column `name` of type `type` to `table` through the object model, as a connection does.
void addField(const Variant& db, const std::string& table, const std::string& name, int type) {
    Variant t = db.get("TableDefs", {table});
    Variant f = t.call("CreateField", {name, type});
    t.get("Fields").call("Append", {f});
}

void addIndex(const Variant& db, const std::string& table, const std::string& name,
              const std::vector<std::string>& columns, bool primary = false) {
    Variant t = db.get("TableDefs", {table});
    Variant index = t.call("CreateIndex", {name});
    index.put("Primary", primary);
    for (const std::string& c : columns)
        index.get("Fields").call("Append", {index.call("CreateField", {c})});
    t.get("Indexes").call("Append", {index});
}

void createTable(const Variant& db, const std::string& name) {
    Variant t = db.call("CreateTableDef", {name});
    t.get("Fields").call("Append", {t.call("CreateField", {"ID", 10, 10})});
    db.get("TableDefs").call("Append", {t});
}

} // namespace

TEST_F(EngineTest, LevelsNestToFiveAndRefuseCommitOrRollbackWithNoneOpen) {
    makeSample();
    Variant db = open();
    EXPECT_EQ(errorNumber([&] { workspace.call("CommitTrans"); }), 3034);
    EXPECT_EQ(errorNumber([&] { workspace.call("Rollback"); }), 3034);
    EXPECT_EQ(dbEngine.get("Errors", {0}).get("Source").toText(), "DAO.Workspace");
    for (int i = 0; i < 5; ++i)
        workspace.call("BeginTrans");
    EXPECT_EQ(errorNumber([&] { workspace.call("BeginTrans"); }), 3003);
    for (int i = 0; i < 5; ++i)
        workspace.call(i % 2 ? "CommitTrans" : "Rollback");
    EXPECT_EQ(errorNumber([&] { workspace.call("Rollback"); }), 3034);
}

TEST_F(EngineTest, RollbackOfInnerLevelUndoesOnlyItsDataDefinition) {
    makeSample();
    Variant db = open();
    workspace.call("BeginTrans");
    createTable(db, "Outer");
    workspace.call("BeginTrans");
    createTable(db, "Inner");
    addField(db, "Supgood", "SertNum", 10);
    addIndex(db, "Supgood", "SupGood_I_Vn", {"Vn"});
    db.get("TableDefs", {"Supgood"}).get("Fields").call("Delete", {"Certificat"});
    workspace.call("BeginTrans");
    addIndex(db, "Outer", "Outer_PK", {"ID"}, true); // committed into the level rolled back
    workspace.call("CommitTrans");
    workspace.call("Rollback");

    Variant supgood = db.get("TableDefs", {"Supgood"});
    EXPECT_EQ(errorNumber([&] { db.get("TableDefs", {"Inner"}); }), 3265);
    EXPECT_EQ(errorNumber([&] { supgood.get("Fields", {"SertNum"}); }), 3265);
    EXPECT_EQ(supgood.get("Fields", {"Certificat"}).get("Name").toText(), "Certificat");
    EXPECT_EQ(supgood.get("Indexes").get("Count").toInt(), 0);
    EXPECT_EQ(db.get("TableDefs", {"Outer"}).get("Indexes").get("Count").toInt(), 0);
    workspace.call("CommitTrans");
    db.call("Close");

    EXPECT_TRUE(tableInFile("Outer"));
    EXPECT_FALSE(tableInFile("Inner"));
    EXPECT_EQ(columnsOf("Supgood"),
              (std::vector<std::string>{"Vn:TEXT(10):1", "Good:LONG:0", "Certificat:TEXT(50):0"}));
    EXPECT_TRUE(indexesOf("Supgood").empty());
}

TEST_F(EngineTest, CommittedLevelsReachTheFile) {
    makeSample();
    Variant db = open();
    workspace.call("BeginTrans");
    workspace.call("BeginTrans");
    addField(db, "Supgood", "SertStart", 8);
    addIndex(db, "Supgood", "SupGood_I_Good", {"Good", "Vn"});
    workspace.call("CommitTrans");
    workspace.call("CommitTrans");
    db.call("Close");
    EXPECT_EQ(columnsOf("Supgood").back(), "SertStart:DATETIME:0");
    EXPECT_EQ(indexesOf("Supgood"), std::vector<std::string>{"SupGood_I_Good:0:Good,Vn"});
}

TEST_F(EngineTest, OutermostRollbackCloseAndReleaseLeaveFileByteForByte) {
    makeSample();
    const std::string before = fileBytes(path);
    const std::vector<std::pair<const char*, std::function<void(Variant&)>>> endings = {
        {"rollback",
         [&](Variant& db) {
             workspace.call("Rollback");
             db.call("Close");
         }},
        {"close", [](Variant& db) { db.call("Close"); }},
        {"release", [](Variant& db) { db.clear(); }},
    };
    for (const auto& [name, end] : endings) {
        SCOPED_TRACE(name);
        Variant db = open();
        workspace.call("BeginTrans");
        createTable(db, "LogDoc");
        addIndex(db, "LogDoc", "LogDoc_PK_VN", {"id"}, true); // creates the engine's own table
        workspace.call("BeginTrans");
        addField(db, "Supgood", "SertBlank", 10);
        workspace.call("CommitTrans");
        end(db);
        EXPECT_EQ(fileBytes(path), before);
        if (std::string(name) != "rollback")
            workspace.call("Rollback"); // the workspace still counts its level
    }
}

TEST_F(EngineTest, DatabaseOpenedInsideLevelsJoinsThem) {
    makeSample();
    workspace.call("BeginTrans");
    Variant db = open();
    createTable(db, "Late");
    workspace.call("Rollback");
    EXPECT_EQ(errorNumber([&] { db.get("TableDefs", {"Late"}); }), 3265);
}

TEST_F(EngineTest, ObjectsOfClosedDatabaseFailAsInvalid) {
    makeSample();
    Variant db = open();
    Variant tables = db.get("TableDefs");
    Variant table = db.get("TableDefs", {"Supgood"});
    db.call("Close");
    EXPECT_EQ(errorNumber([&] { tables.get("Count"); }), 3420);
    EXPECT_EQ(errorNumber([&] { table.get("Fields").get("Count"); }), 3420);
    EXPECT_EQ(errorNumber([&] { db.call("Close"); }), 3420);
    EXPECT_EQ(dbEngine.get("Errors", {0}).get("Source").toText(), "DAO.Database");
}
