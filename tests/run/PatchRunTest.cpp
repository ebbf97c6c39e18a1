// The run end to end through the window: a sample database at revision 15 becomes revision 16.

#include "RunFixture.h"

#include "automation/Error.h"
#include "automation/Registry.h"
#include "platform/FileNames.h"

#include <QFile>

using automation::Variant;
using runtest::MeterWatch;
using runtest::RunTest;
using testsupport::sqliteRows;

namespace {

// name|declared type|not null, in table order.
std::vector<std::string> columns(const std::string& path, const std::string& table) {
    return sqliteRows(path, "SELECT name, type, \"notnull\" FROM pragma_table_info('" + table +
                                "') ORDER BY cid");
}

// name|unique|columns, in name order.
std::vector<std::string> indexes(const std::string& path, const std::string& table) {
    return sqliteRows(path, "SELECT il.name, il.\"unique\", (SELECT group_concat(name, ',') FROM "
                            "(SELECT name FROM pragma_index_info(il.name) ORDER BY seqno)) "
                            "FROM pragma_index_list('" +
                                table + "') il ORDER BY il.name");
}

// The database opened through the engine, as another program of the shop would.
struct EngineView {
    explicit EngineView(const std::string& path) {
        Variant engine = automation::createOleObject(engine::ProgId);
        database = engine.get("Workspaces", {Variant(0)}).call("OpenDatabase", {Variant(path)});
    }
    ~EngineView() { database.call("Close"); }
    Variant table(const char* name) { return database.get("TableDefs", {Variant(name)}); }
    Variant database;
};

} // namespace

TEST_F(RunTest, SampleAtRevision15BecomesRevision16WithEveryObjectInPlace) {
    const std::vector<std::string> supgoodBefore =
        sqliteRows(path, "SELECT ID, Vn, Owner, Good, DCome, HowMany, PriceSupp FROM Supgood "
                         "ORDER BY ID");
    auto form = showForm();
    ASSERT_EQ(form->Edit1->Text(), path);
    ASSERT_TRUE(form->Button1->Enabled());

    run(*form);
    EXPECT_TRUE(errors().empty()) << errors().front();
    EXPECT_TRUE(messages().empty());

    // The log tables, column by column, with their keys and indexes.
    EXPECT_EQ(columns(path, "LogDoc"),
              (std::vector<std::string>{"Vn|TEXT(10)|1", "KindDoc|TEXT(3)|0", "IsIncome|SHORT|0",
                                        "Owner|SHORT|0"}));
    EXPECT_EQ(columns(path, "LogDocU"),
              (std::vector<std::string>{"ID|TEXT(10)|1", "UserID|TEXT(10)|1", "DateOp|DATETIME|1",
                                        "TIMEOP|TEXT(8)|1", "OP|TEXT(1)|1", "VN|TEXT(10)|1",
                                        "SumTotal|CURRENCY|0", "Num|TEXT(10)|0", "DFrom|TEXT(10)|0",
                                        "Firm|TEXT(10)|0"}));
    EXPECT_EQ(columns(path, "LogPart"),
              (std::vector<std::string>{"PartID|TEXT(10)|1", "Vn|TEXT(10)|1"}));
    EXPECT_EQ(
        columns(path, "LogPartU"),
        (std::vector<std::string>{"ID|TEXT(10)|1", "UserID|TEXT(10)|1", "DateOp|DATETIME|1",
                                  "TIMEOP|TEXT(8)|1", "OP|TEXT(1)|1", "PartID|TEXT(10)|1",
                                  "Name|TEXT(50)|0", "HowMany|DOUBLE|0", "PriceTotal|CURRENCY|0"}));
    EXPECT_EQ(columns(path, "LogTbl"),
              (std::vector<std::string>{"ID|TEXT(10)|1", "UserID|TEXT(10)|1", "DateOp|DATETIME|1",
                                        "TIMEOP|TEXT(8)|1", "RecID|TEXT(10)|1", "NTable|TEXT(10)|1",
                                        "OP|TEXT(1)|1"}));
    EXPECT_EQ(indexes(path, "LogDoc"), (std::vector<std::string>{"LogDoc_PK_VN|1|Vn"}));
    EXPECT_EQ(indexes(path, "LogDocU"),
              (std::vector<std::string>{"LogDocU_I_Op|0|VN,OP", "LogDocU_I_Vn|0|VN,DateOp,TIMEOP",
                                        "LogDocU_PK_ID|1|ID"}));
    EXPECT_EQ(indexes(path, "LogPart"),
              (std::vector<std::string>{"LogPart_I_Vn|0|Vn", "LogPart_PK_PartID|1|PartID"}));
    EXPECT_EQ(indexes(path, "LogPartU"),
              (std::vector<std::string>{"LogPartU_I_PartID|0|PartID,DateOp,TIMEOP",
                                        "LogPartU_PK_ID|1|ID"}));
    EXPECT_EQ(
        indexes(path, "LogTbl"),
        (std::vector<std::string>{"LogTbl_I_RecID|0|RecID,DateOp,TIMEOP", "LogTbl_PK_ID|1|ID"}));

    // The new columns, the removed one, the new indexes of Supgood.
    EXPECT_EQ(columns(path, "Supgood"),
              (std::vector<std::string>{
                  "ID|TEXT(10)|1", "Vn|TEXT(10)|1", "Owner|SHORT|1", "Good|TEXT(10)|1",
                  "DCome|DATETIME|1", "HowMany|DOUBLE|0", "PriceSupp|CURRENCY|0",
                  "SertBlank|TEXT(10)|0", "SertNum|TEXT(30)|0", "SertStart|DATETIME|0",
                  "SertEnd|DATETIME|0", "SertIssue|TEXT(120)|0", "SertGet|TEXT(100)|0"}));
    EXPECT_EQ(indexes(path, "Supgood"),
              (std::vector<std::string>{"SupGood_I_Good|0|Owner,Good,DCome,PriceSupp",
                                        "SupGood_I_Vn|0|Vn", "SupGood_PK_ID|1|ID"}));
    EXPECT_EQ(sqliteRows(path, "SELECT ID, Vn, Owner, Good, DCome, HowMany, PriceSupp FROM Supgood "
                               "ORDER BY ID"),
              supgoodBefore);

    // MinValue is 0 in every row of GoodPric.
    EXPECT_EQ(columns(path, "GoodPric").back(), "MinValue|CURRENCY|0");
    EXPECT_EQ(sqliteRows(path, "SELECT count(*), count(MinValue), sum(MinValue = 0) FROM GoodPric"),
              (std::vector<std::string>{"12|12|12"}));

    // The stamp.
    EXPECT_EQ(sqliteRows(path, "SELECT AValue FROM param WHERE ID = 'patch'"),
              (std::vector<std::string>{"patch16"}));

    // The same, through the engine: flags that SQLite cannot hold.
    EngineView view(path);
    struct FieldCase {
        const char* name;
        int type;
        int size;
    } fields[] = {{"SertBlank", 10, 10}, {"SertNum", 10, 30},    {"SertStart", 8, 8},
                  {"SertEnd", 8, 8},     {"SertIssue", 10, 120}, {"SertGet", 10, 100}};
    for (const FieldCase& f : fields) {
        Variant field = view.table("Supgood").get("Fields", {Variant(f.name)});
        EXPECT_EQ(field.get("Type").toInt(), f.type) << f.name;
        EXPECT_EQ(field.get("Size").toInt(), f.size) << f.name;
        EXPECT_FALSE(field.get("Required").toBool()) << f.name;
        EXPECT_FALSE(field.get("AllowZeroLength").toBool()) << f.name;
    }
    EXPECT_EQ(view.table("GoodPric").get("Fields", {Variant("MinValue")}).get("Type").toInt(), 5);
    const char* primaryKeys[][2] = {{"LogDoc", "LogDoc_PK_VN"},
                                    {"LogDocU", "LogDocU_PK_ID"},
                                    {"LogPart", "LogPart_PK_PartID"},
                                    {"LogPartU", "LogPartU_PK_ID"},
                                    {"LogTbl", "LogTbl_PK_ID"}};
    for (auto& [table, name] : primaryKeys)
        EXPECT_TRUE(view.table(table).get("Indexes", {Variant(name)}).get("Primary").toBool())
            << name;
    Variant plain = view.table("Supgood").get("Indexes", {Variant("SupGood_I_Good")});
    for (const char* flag : {"Primary", "Unique", "Required", "IgnoreNulls", "Clustered"})
        EXPECT_FALSE(plain.get(flag).toBool()) << flag;
    EXPECT_THROW(view.table("Supgood").get("Fields", {Variant("Certificat")}), automation::Error);
}

TEST_F(RunTest, MeterWalksThroughTheStagesAndEndsFull) {
    auto form = showForm();
    MeterWatch watch(*form);
    run(*form);
    ASSERT_TRUE(errors().empty());
    EXPECT_EQ(watch.captions, (std::vector<std::string>{
                                  "0%", "Открытие базы", "Таблицы лога юзеров", "Таблица GoodPric",
                                  "Таблица Supgood", "Закрытие базы", "Выполнено"}));
    EXPECT_EQ(watch.percents, (std::vector<int>{0, 25, 50, 75, 100}));
    EXPECT_EQ(form->Meter->Percent(), 100);
    EXPECT_EQ(form->Meter->DisplayText(), "Выполнено");
    EXPECT_TRUE(form->Button1->Enabled());
}

TEST_F(RunTest, SecondRunIsRefusedAsNotNeededAndChangesNothing) {
    auto form = showForm();
    run(*form);
    ASSERT_TRUE(errors().empty());
    const std::string after = testsupport::fileBytes(path);
    run(*form);
    EXPECT_EQ(messages(),
              (std::vector<std::string>{"Нет необходимости в выполнении данного патча"}));
    EXPECT_FALSE(form->Button1->Enabled());
    EXPECT_EQ(testsupport::fileBytes(path), after);
}

TEST_F(RunTest, RunOnAnotherDatabaseShowsItsOwnProgressFromAnEmptyBar) {
    auto form = showForm();
    run(*form);
    ASSERT_TRUE(errors().empty());
    const std::string second = dir.file("DB/second.mdb");
    tools::makeSampleDatabase(second, {3, 5, "patch15", tools::SampleFormat::Sqlite});
    form->Edit1->setText(second);
    MeterWatch watch(*form);
    run(*form);
    ASSERT_TRUE(errors().empty());
    EXPECT_EQ(watch.percents, (std::vector<int>{0, 25, 50, 75, 100}));
    EXPECT_EQ(sqliteRows(second, "SELECT AValue FROM param WHERE ID = 'patch'"),
              (std::vector<std::string>{"patch16"}));
}

TEST_F(RunTest, ExistingLogTablesAndColumnAreLeftAsTheyAre) {
    testsupport::sqliteExec(path, "CREATE TABLE LogDoc (Vn TEXT(10));"
                                  "ALTER TABLE GoodPric ADD COLUMN MinValue CURRENCY;"
                                  "UPDATE GoodPric SET MinValue = 7;");
    auto form = showForm();
    run(*form);
    ASSERT_TRUE(errors().empty()) << errors().front();
    EXPECT_EQ(sqliteRows(path, "SELECT count(*) FROM sqlite_schema WHERE name LIKE 'Log%'"),
              (std::vector<std::string>{"1"}));
    EXPECT_EQ(sqliteRows(path, "SELECT DISTINCT MinValue FROM GoodPric"),
              (std::vector<std::string>{"7"}));
    EXPECT_EQ(sqliteRows(path, "SELECT AValue FROM param WHERE ID = 'patch'"),
              (std::vector<std::string>{"patch16"}));
}

TEST_F(RunTest, IndexAlreadyPresentIsReportedAndTheRunGoesOn) {
    testsupport::sqliteExec(path, "CREATE INDEX SupGood_I_Vn ON Supgood (Vn)");
    auto form = showForm();
    run(*form);
    ASSERT_TRUE(errors().empty()) << errors().front();
    ASSERT_EQ(messages().size(), 1u);
    EXPECT_NE(messages()[0].find("SupGood_I_Vn"), std::string::npos) << messages()[0];
    EXPECT_TRUE(messages()[0].ends_with("\r\n"));
    EXPECT_EQ(sqliteRows(path, "SELECT AValue FROM param WHERE ID = 'patch'"),
              (std::vector<std::string>{"patch16"}));
}

// Databases whose names, or whose program folder's names, are Windows-1251 or CP866 bytes: each
// is proposed or browsed to, run to the end, and is the one file changed. Beside each lies the
// file its name turns into when read as UTF-8 text, which must stay as it was.
TEST(RunOnNamesInOtherEncodings, RunsOnExactlyTheFileOfThoseBytes) {
    const std::string windows1251 = "\xD2\xEE\xE2\xE0\xF0\xFB"; // "Товары"
    const std::string cp866 = "\x92\xAE\xA2\xA0\xE0\xEB";       // "Товары"
    const struct {
        const char* name;
        std::string program; // the program folder, inside the temporary folder
        std::string target;  // the database, inside the temporary folder
        bool browse;         // chosen in the file dialog rather than proposed
    } cases[] = {
        {"Windows-1251 name in DB", "program", "program/DB/" + windows1251 + ".mdb", false},
        {"CP866 name in DB", "program", "program/DB/" + cp866 + ".mdb", false},
        {"Windows-1251 name browsed to", "program", windows1251 + "/" + cp866 + ".mdb", true},
        {"CP866 name browsed to", "program", cp866 + "/" + cp866 + ".mdb", true},
        {"Windows-1251 program folder", windows1251, windows1251 + "/DB/shop.mdb", false},
        {"CP866 program folder", cp866, cp866 + "/DB/" + windows1251 + ".mdb", false},
    };
    engine::registerEngine();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::TempDir dir;
        testsupport::ScopedRecordingDialogs dialogs;
        const std::string program = dir.file(c.program) + "/";
        const std::string target = dir.file(c.target);
        // The name as text would have it: each byte that is no UTF-8 read as a replacement mark.
        const std::string garbled =
            QFile::encodeName(QFile::decodeName(target.c_str())).toStdString();
        for (const std::string& file : {target, garbled}) {
            std::filesystem::create_directories(std::filesystem::path(file).parent_path());
            tools::makeSampleDatabase(file, {4, 4, "patch15", tools::SampleFormat::Sqlite});
        }
        std::filesystem::create_directories(program + "DB");
        const std::string untouched = testsupport::fileBytes(garbled);

        testsupport::FormWindow form(program);
        form.show();
        if (c.browse) {
            dialogs->queueOpenFile(target);
            testsupport::clickAsOperator(*form.Button2);
        }
        EXPECT_EQ(form.Edit1->Text(), platform::displayFileName(target));
        ASSERT_TRUE(form.Button1->Enabled());
        testsupport::clickAsOperator(*form.Button1);

        EXPECT_TRUE(dialogs->boxes().empty()) << dialogs->boxes().front().text;
        EXPECT_EQ(form.Meter->DisplayText(), "Выполнено");
        EXPECT_EQ(sqliteRows(target, "SELECT AValue FROM param WHERE ID = 'patch'"),
                  (std::vector<std::string>{"patch16"}));
        EXPECT_EQ(testsupport::fileBytes(garbled), untouched);
    }
}
