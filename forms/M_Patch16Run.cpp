// The run: opens the chosen database, checks its revision stamp, applies revision 16 in three
// stages and stamps it, all inside one transaction level of the run's own, so that a run either
// completes or leaves the database exactly as it found it.

#include "forms/EDatabaseError.h"
#include "forms/M_Patch16.h"
#include "forms/Revision.h"

#include "automation/Error.h"

#include "platform/Dialogs.h"

#include <array>
#include <memory>

using automation::Variant;

std::unique_ptr<TzelDAO> Dao;

namespace {

constexpr int RequiredRevision = 15;
constexpr const char* StampQuery = "select * from param where Item=\"PATCH\"";
constexpr const char* StampStatement = "UPDATE param SET AValue=\"patch16\" WHERE ID=\"patch\"";
constexpr std::int32_t FailOnError = 128;
// The engine's answer to a CommitTrans or Rollback with no transaction level open.
constexpr long NoLevelOpen = 3034;

constexpr const char* PreviousNeededText = "Необходимо предварительно выполнить предыдущие патчи";
constexpr const char* NotNeededText = "Нет необходимости в выполнении данного патча";
constexpr const char* NoStampRowText = "В таблице param нет строки с отметкой версии базы";
constexpr const char* UnchangedText = "База данных не изменена.";

constexpr std::int32_t Currency = 5;
constexpr std::int32_t DateTime = 8;
constexpr std::int32_t Text = 10;

// The log tables and their keys, in the order they are made.
constexpr std::array<const char*, 10> LogStatements = {
    "CREATE TABLE LogDoc (Vn TEXT(10) NOT NULL,KindDoc TEXT(3) NULL,IsIncome SHORT NULL,"
    "Owner SHORT NULL)",
    "ALTER TABLE LogDoc ADD CONSTRAINT LogDoc_PK_VN PRIMARY KEY (VN)",
    "CREATE TABLE LogDocU (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
    "NULL,TIMEOP TEXT(8) NOT NULL,OP TEXT(1) NOT NULL,VN TEXT(10) NOT NULL,SumTotal MONEY "
    "NULL,Num TEXT(10) NULL,DFrom TEXT(10) NULL,Firm Text(10) NULL)",
    "ALTER TABLE LogDocU ADD CONSTRAINT LogDocU_PK_ID PRIMARY KEY (ID)",
    "CREATE TABLE LogPart (PartID TEXT(10) NOT NULL,Vn TEXT(10) NOT NULL)",
    "ALTER TABLE LogPart ADD CONSTRAINT LogPart_PK_PartID PRIMARY KEY (PartID)",
    "CREATE TABLE LogPartU (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
    "NULL,TIMEOP TEXT(8) NOT NULL,OP TEXT(1) NOT NULL,PartID TEXT(10) NOT NULL,Name TEXT(50) "
    "NULL,HowMany DOUBLE NULL,PriceTotal MONEY NULL)",
    "ALTER TABLE LogPartU ADD CONSTRAINT LogPartU_PK_ID PRIMARY KEY (ID)",
    "CREATE TABLE LogTbl (ID TEXT(10) NOT NULL,UserID TEXT(10) NOT NULL,DateOp DATETIME NOT "
    "NULL,TIMEOP TEXT(8) NOT NULL,RecID TEXT(10) NOT NULL,NTable TEXT(10) NOT NULL,OP TEXT(1) "
    "NOT NULL)",
    "ALTER TABLE LogTbl ADD CONSTRAINT LogTbl_PK_ID PRIMARY KEY (ID)",
};

// A secondary index: no flag set.
void plainIndex(const std::string& table, const std::string& name,
                const std::vector<std::string>& columns) {
    Dao->CreateIndex(table, name, columns, false, false, false, false, false);
}

// A column change that did not take stops the run with the engine's own account of why.
void mustSucceed(bool done) {
    if (!done)
        throw EDatabaseError(Dao->LastErrorDescription());
}

// Ends every transaction level still open on the workspace, innermost first: the run's own and
// any that a failing stage left behind inside it (a schema change whose own Rollback was refused
// keeps its levels open, so that nothing commits over it). Rollback is called until the engine
// answers that no level is left; a Rollback it refuses for another reason is tried again, a few
// times in all, since nothing but the close would end that level otherwise.
void rollbackAll(const Variant& workspace) {
    constexpr int MaxRefusals = 3;
    constexpr int MaxCalls = 16; // far more levels than an engine allows, plus the refusals
    int refusals = 0;
    for (int call = 0; call < MaxCalls; ++call) {
        try {
            workspace.call("Rollback");
        } catch (const automation::Error& e) {
            if (e.number() == NoLevelOpen || ++refusals > MaxRefusals)
                return;
        }
    }
}

} // namespace

void TForm1::Button1Click() {
    Meter->setMax(4);
    Meter->setPosition(0);
    Meter->setMeterText("Открытие базы");

    // The engine opens exactly the file the field names, whatever the encoding of its name; the
    // operator is told of it as the field shows it.
    const std::string path = databasePath();
    Dao = std::make_unique<TzelDAO>();
    Dao->OpenBase(path);
    if (!Dao->Opened) {
        Dao.reset();
        throw EDatabaseError("Не удалось открыть " + Edit1->Text());
    }

    try {
        Dao->Workspace.call("BeginTrans");

        Variant records = Dao->Database.call("OpenRecordSet", {Variant(StampQuery)});
        const char* refusal = PreviousNeededText;
        bool goAhead = false;
        if (records.call("RecordCount").toInt() == 1) {
            switch (forms::checkRevision(records.get("Fields", {Variant("AVALUE")}).call("Value"),
                                         RequiredRevision)) {
            case forms::RevisionCheck::Ready:
                goAhead = true;
                break;
            case forms::RevisionCheck::NotNeeded:
                refusal = NotNeededText;
                break;
            case forms::RevisionCheck::PreviousNeeded:
                break;
            }
        }
        records.clear();

        if (!goAhead) {
            // The run's one level, ended before the refusal is shown; a refused Rollback goes
            // to the failure path below, which ends whatever is left.
            Dao->Workspace.call("Rollback");
            platform::dialogs().showMessage(refusal);
            Dao->CloseBase();
            Dao.reset();
            Button1->setEnabled(false);
            return;
        }

        Meter->StepIt();
        Meter->setMeterText("Таблицы лога юзеров");
        MakeLogTables();
        Meter->StepIt();
        Meter->setMeterText("Таблица GoodPric");
        AlterGoodPric();
        Meter->StepIt();
        Meter->setMeterText("Таблица Supgood");
        AlterSupgood();

        Dao->Database.call("Execute", {Variant(StampStatement)});
        if (Dao->Database.get("RecordsAffected").toInt() == 0)
            throw EDatabaseError(NoStampRowText);
        Dao->Workspace.call("CommitTrans");
    } catch (const std::exception& e) {
        // Nothing of this run may stay behind: undo it all, close, and say so.
        rollbackAll(Dao->Workspace);
        try {
            Dao->CloseBase();
        } catch (const automation::Error&) {
        }
        Dao.reset();
        throw EDatabaseError(std::string(e.what()) + "\n" + UnchangedText);
    }

    Meter->setMeterText("Закрытие базы");
    Dao->CloseBase();
    Dao.reset();
    Meter->StepIt();
    Meter->setMeterText("Выполнено");
}

void TForm1::MakeLogTables() {
    if (Dao->TableExists("LogDoc"))
        return;
    auto statement = [](int number) {
        Dao->Workspace.call("BeginTrans");
        Dao->Database.call("Execute", {Variant(LogStatements[number - 1]), Variant(FailOnError)});
        Dao->Workspace.call("CommitTrans");
    };
    statement(1);
    statement(2);
    statement(3);
    statement(4);
    plainIndex("LogDocU", "LogDocU_I_Op", {"Vn", "Op"});
    plainIndex("LogDocU", "LogDocU_I_Vn", {"Vn", "DateOp", "TimeOp"});
    statement(5);
    statement(6);
    plainIndex("LogPart", "LogPart_I_Vn", {"Vn"});
    statement(7);
    statement(8);
    plainIndex("LogPartU", "LogPartU_I_PartID", {"PartID", "DateOp", "TimeOp"});
    statement(9);
    statement(10);
    plainIndex("LogTbl", "LogTbl_I_RecID", {"RecID", "DateOp", "TimeOp"});
}

void TForm1::AlterGoodPric() {
    mustSucceed(Dao->AddField("GoodPric", "MinValue", Currency, 0, "0", false, true));
}

void TForm1::AlterSupgood() {
    Dao->Workspace.call("BeginTrans");
    mustSucceed(Dao->AddField("Supgood", "SertBlank", Text, 10, "", false, true));
    mustSucceed(Dao->AddField("Supgood", "SertNum", Text, 30, "", false, true));
    mustSucceed(Dao->AddField("Supgood", "SertStart", DateTime, 0, "", false, true));
    mustSucceed(Dao->AddField("Supgood", "SertEnd", DateTime, 0, "", false, true));
    mustSucceed(Dao->AddField("Supgood", "SertIssue", Text, 120, "", false, true));
    mustSucceed(Dao->AddField("Supgood", "SertGet", Text, 100, "", false, true));
    mustSucceed(Dao->DeleteField("Supgood", "Certificat"));
    Dao->Workspace.call("CommitTrans");

    Dao->Workspace.call("BeginTrans");
    plainIndex("SupGood", "SupGood_I_Good", {"Owner", "Good", "DCome", "PriceSupp"});
    plainIndex("SupGood", "SupGood_I_Vn", {"Vn"});
    Dao->Workspace.call("CommitTrans");
}
