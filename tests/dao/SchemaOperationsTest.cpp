// The schema changes on the recording engine: the exact calls each one makes, and what a
// failure at each of those calls leaves behind (levels, result, boxes, the engine's error list).

#include "dao/ClassDAO.h"

#include "automation/Error.h"
#include "support/RecordingDialogs.h"
#include "support/RecordingEngine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using testsupport::RecordingDialogs;
using testsupport::RecordingEngine;
using testsupport::ScopedRecordingDialogs;
using Lines = std::vector<std::string>;

namespace {

// A connection with a database open on a fresh recording engine, the caller holding
// `callerLevels` levels, and the recorded lines cleared.
struct Bench {
    explicit Bench(int callerLevels = 0) {
        engine.addTable("GoodPric", {"ID", "Price"});
        engine.addTable("Supgood", {"ID", "Owner", "Good", "Certificat"}, {"PrimaryKey"});
        dao = std::make_unique<TzelDAO>();
        EXPECT_TRUE(dao->OpenBase("base.mdb"));
        for (int i = 0; i < callerLevels; ++i)
            dao->Workspace.call("BeginTrans");
        callerOpen = engine.openLevels();
        engine.clearLines();
    }
    ScopedRecordingDialogs dialogs;
    RecordingEngine engine;
    std::unique_ptr<TzelDAO> dao;
    std::vector<int> callerOpen;
};

struct Operation {
    const char* name;
    std::function<bool(TzelDAO&)> run;
    Lines lines;          // every call, in order, when nothing fails
    bool reportsFailures; // shows the engine's errors in one box when it fails
};

const Lines addPrologue(const std::string& table, const std::string& field) {
    return {"Workspace.BeginTrans",
            "Database.TableDefs",
            "TableDefs.Refresh",
            "Database.TableDefs(" + table + ")",
            "TableDef.Fields",
            "Fields.Refresh",
            "TableDef.Fields(" + field + ")"};
}

Lines join(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

const std::vector<Operation>& operations() {
    static const std::vector<Operation> all = {
        {"AddField currency with fill",
         [](TzelDAO& d) { return d.AddField("GoodPric", "MinValue", 5, 0, "0", false, true); },
         join(addPrologue("GoodPric", "MinValue"),
              {"Workspace.BeginTrans", "TableDef.CreateField(MinValue,5)", "Field.Required=False",
               "TableDef.Fields", "Fields.Append(Field MinValue)", "Workspace.CommitTrans",
               "Workspace.BeginTrans", "Database.Execute(UPDATE GoodPric set MinValue=0,128)",
               "Workspace.CommitTrans", "Workspace.CommitTrans"}),
         false},
        {"AddField text with size, no fill",
         [](TzelDAO& d) { return d.AddField("Supgood", "SertNum", 10, 30, "", false, true); },
         join(addPrologue("Supgood", "SertNum"),
              {"Workspace.BeginTrans", "TableDef.CreateField(SertNum,10)", "Field.Size=30",
               "Field.AllowZeroLength=False", "Field.Required=False", "TableDef.Fields",
               "Fields.Append(Field SertNum)", "Workspace.CommitTrans", "Workspace.CommitTrans"}),
         false},
        {"AddField date, required",
         [](TzelDAO& d) { return d.AddField("Supgood", "SertStart", 8, -1, "", true, false); },
         join(addPrologue("Supgood", "SertStart"),
              {"Workspace.BeginTrans", "TableDef.CreateField(SertStart,8)", "Field.Required=True",
               "TableDef.Fields", "Fields.Append(Field SertStart)", "Workspace.CommitTrans",
               "Workspace.CommitTrans"}),
         false},
        {"DeleteField",
         [](TzelDAO& d) { return d.DeleteField("Supgood", "Certificat"); },
         {"Workspace.BeginTrans", "Database.TableDefs", "TableDefs.Refresh",
          "Database.TableDefs(Supgood)", "TableDef.Fields", "Fields.Delete(Certificat)",
          "Workspace.CommitTrans"},
         false},
        {"CreateIndex over two columns",
         [](TzelDAO& d) {
             return d.CreateIndex("SupGood", "SupGood_I_Good", {"Owner", "Good"}, true, false, true,
                                  false, true);
         },
         {"Workspace.BeginTrans",
          "Database.TableDefs",
          "TableDefs.Refresh",
          "Database.TableDefs(SupGood)",
          "TableDef.Fields",
          "Fields.Refresh",
          "TableDef.Indexes",
          "Indexes.Refresh",
          "TableDef.CreateIndex(SupGood_I_Good)",
          "Index.Primary=True",
          "Index.Unique=False",
          "Index.Required=True",
          "Index.IgnoreNulls=False",
          "Index.Clustered=True",
          "Index.CreateField(Owner)",
          "Index.Fields",
          "Fields.Append(Field Owner)",
          "Index.CreateField(Good)",
          "Index.Fields",
          "Fields.Append(Field Good)",
          "TableDef.Indexes",
          "Indexes.Append(Index SupGood_I_Good)",
          "Workspace.CommitTrans"},
         true},
    };
    return all;
}

long countOf(const Lines& lines, std::size_t end, const std::string& line) {
    return std::count(lines.begin(), lines.begin() + static_cast<long>(end), line);
}

} // namespace

TEST(SchemaOperations, EachOperationMakesExactlyItsCallsInOrder) {
    // The recording engine refuses a wrongly typed argument, so a success here also proves that
    // names travel as text, type and size as integers and flags as Booleans.
    for (const Operation& op : operations()) {
        SCOPED_TRACE(op.name);
        Bench bench;
        EXPECT_TRUE(op.run(*bench.dao));
        EXPECT_EQ(bench.engine.lines(), op.lines);
        EXPECT_TRUE(bench.engine.openLevels().empty());
        EXPECT_TRUE(bench.dialogs->boxes().empty());
    }
}

TEST(SchemaOperations, ChangesReachTheDatabaseModel) {
    Bench bench;
    ASSERT_TRUE(bench.dao->AddField("Supgood", "SertBlank", 10, 10, "", false, true));
    ASSERT_TRUE(bench.dao->DeleteField("Supgood", "Certificat"));
    ASSERT_TRUE(bench.dao->CreateIndex("Supgood", "SupGood_I_Vn", {"ID"}, false, false, false,
                                       false, false));
    RecordingEngine::Table supgood = bench.engine.table("Supgood");
    EXPECT_EQ(supgood.fields, (Lines{"ID", "Owner", "Good", "SertBlank"}));
    EXPECT_EQ(supgood.indexes, (Lines{"PrimaryKey", "SupGood_I_Vn"}));
}

TEST(SchemaOperations, AddFieldLeavesAnExistingColumnAloneInsideOneCommittedLevel) {
    Bench bench;
    EXPECT_TRUE(bench.dao->AddField("GoodPric", "price", 5, 0, "0", false, true));
    EXPECT_EQ(bench.engine.lines(),
              join(addPrologue("GoodPric", "price"), {"Workspace.CommitTrans"}));
    EXPECT_EQ(bench.engine.table("GoodPric").fields, (Lines{"ID", "Price"}));
}

// A failure at every call of every operation, under 0 and 1 levels of the caller: the operation
// rolls back exactly the levels it opened and still has open, returns false, leaves the failure
// in the engine's error list and shows nothing, except CreateIndex's one report.
TEST(SchemaOperations, AFailureAtAnyStepRollsBackOnlyTheOperationsOwnLevels) {
    for (const Operation& op : operations()) {
        for (std::size_t step = 0; step < op.lines.size(); ++step) {
            for (int callerLevels : {0, 1}) {
                const std::string& failing = op.lines[step];
                SCOPED_TRACE(std::string(op.name) + ", failing call " + std::to_string(step + 1) +
                             " " + failing + ", caller levels " + std::to_string(callerLevels));
                Bench bench(callerLevels);
                bench.engine.failAtCall(static_cast<int>(step + 1));
                bool result = op.run(*bench.dao);

                EXPECT_EQ(bench.engine.openLevels(), bench.callerOpen);
                // A failing column probe reads as "no such column": the column is added.
                bool probe = failing.starts_with("TableDef.Fields(");
                EXPECT_EQ(result, probe);
                if (probe)
                    continue;

                const Lines& lines = bench.engine.lines();
                ASSERT_GT(lines.size(), step);
                EXPECT_EQ(lines[step], failing);
                auto ownOpen =
                    static_cast<std::size_t>(countOf(lines, step, "Workspace.BeginTrans") -
                                             countOf(lines, step, "Workspace.CommitTrans"));
                Lines transactions;
                for (std::size_t i = step + 1; i < lines.size(); ++i)
                    if (lines[i].starts_with("Workspace."))
                        transactions.push_back(lines[i]);
                EXPECT_EQ(transactions, Lines(ownOpen, "Workspace.Rollback"));

                ASSERT_FALSE(bench.engine.errors().empty());
                EXPECT_NE(bench.engine.errors().back().description.find(failing),
                          std::string::npos);

                const auto& boxes = bench.dialogs->boxes();
                if (op.reportsFailures) {
                    ASSERT_EQ(boxes.size(), 1u);
                    EXPECT_EQ(boxes[0].kind, RecordingDialogs::Kind::Message);
                    EXPECT_NE(boxes[0].text.find(failing), std::string::npos);
                    EXPECT_TRUE(boxes[0].text.ends_with("\r\n"));
                } else {
                    EXPECT_EQ(lines.size(), step + 1 + ownOpen); // the rollbacks and nothing else
                    EXPECT_TRUE(boxes.empty());
                }
            }
        }
    }
}

TEST(SchemaOperations, ANaturalRefusalKeepsTheCallersEnclosingLevelUsable) {
    // The certificate stage: an enclosing level, a column added, then a removal the engine
    // refuses; the caller's CommitTrans must still find its level.
    Bench bench(1);
    EXPECT_TRUE(bench.dao->AddField("Supgood", "SertBlank", 10, 10, "", false, true));
    EXPECT_FALSE(bench.dao->DeleteField("Supgood", "NoSuchColumn"));
    EXPECT_FALSE(bench.dao->AddField("NoSuchTable", "SertNum", 10, 30, "", false, true));
    EXPECT_FALSE(
        bench.dao->CreateIndex("Supgood", "PrimaryKey", {"ID"}, true, true, true, false, false));
    EXPECT_EQ(bench.engine.openLevels(), bench.callerOpen);
    EXPECT_NO_THROW(bench.dao->Workspace.call("CommitTrans"));
    EXPECT_EQ(bench.dialogs->texts(RecordingDialogs::Kind::Message).size(), 1u);
}

// A refused Rollback of a level the operation itself opened means the engine is broken: the
// error reaches the caller instead of a false result.
TEST(SchemaOperations, ARefusedRollbackReachesTheCaller) {
    for (const Operation& op : operations()) {
        SCOPED_TRACE(op.name);
        Bench bench(1);
        bench.engine.failAtCall(4); // the table lookup, with the operation's level open
        bench.engine.failOn("Workspace.Rollback");
        try {
            op.run(*bench.dao);
            ADD_FAILURE() << "no error";
        } catch (const automation::Error& e) {
            EXPECT_NE(e.description().find("Workspace.Rollback"), std::string::npos);
        }
    }
}

TEST(SchemaOperations, CreateIndexRollsBackItsLevelEvenWhenItsReportFails) {
    Bench bench(1);
    bench.engine.failOn("Errors.Refresh");
    EXPECT_THROW(
        bench.dao->CreateIndex("Supgood", "PrimaryKey", {"ID"}, true, true, true, false, false),
        automation::Error);
    EXPECT_EQ(bench.engine.openLevels(), bench.callerOpen);
    EXPECT_EQ(bench.engine.lines().back(), "Workspace.Rollback");
    EXPECT_TRUE(bench.dialogs->boxes().empty());
}
