// An Access 2000-2003 file through the object model: queries run on the file's own rows, data
// statements and data definition change the file inside transaction levels, and what cannot be
// done is refused before a byte of the file is written.

#include "EngineFixture.h"
#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/Catalog.h"
#include "engine/jet4/format/UsageMap.h"
#include "engine/jet4/index/IndexPage.h"
#include "engine/jet4/write/IndexBuilder.h"
#include "support/JetSamples.h"
#include "support/ReferenceReaders.h"
#include "tools/check/Checker.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <optional>
#include <strings.h>

using automation::Variant;

namespace {

class AccessFileTest : public EngineTest {
protected:
    void SetUp() override {
        REQUIRE_JET_SAMPLES();
        use("compIndexTestV2000.mdb");
    }

    // Opens a fresh copy of the sample `name` in place of the database.
    void use(const std::string& name) {
        if (!database.isEmpty())
            database.call("Close");
        std::filesystem::remove(path);
        std::filesystem::copy_file(*testsupport::jetSamplesFolder() / name, path);
        database = open();
    }

    // Runs `sql` and returns the rows it changed, as RecordsAffected tells them.
    std::int32_t execute(const std::string& sql) {
        database.call("Execute", {Variant(sql)});
        return database.get("RecordsAffected").toInt();
    }

    // Every row of `source` (a table or a query) as its fields' values.
    std::vector<std::vector<Variant>> rows(const std::string& source) {
        std::vector<std::vector<Variant>> out;
        Variant set = database.call("OpenRecordset", {Variant(source)});
        while (!set.get("EOF").toBool()) {
            Variant fields = set.get("Fields");
            std::vector<Variant> row;
            for (std::int32_t i = 0; i < fields.get("Count").toInt(); ++i)
                row.push_back(fields.get("Item", {i}).get("Value"));
            out.push_back(std::move(row));
            set.call("MoveNext");
        }
        return out;
    }

    // Every index of `table` in the file as committed: the checker finds no fault, and the
    // leaves, read along their sibling links from the leftmost, hold exactly the entries built
    // afresh from the rows.
    void expectIndexesMatchRows(const std::string& table, const std::string& after) {
        SCOPED_TRACE("after " + after);
        const check::Report report = check::checkFile(path);
        EXPECT_TRUE(report.sound())
            << report.faults.size() << " fault(s), the first " << report.faults.front().kind << ": "
            << report.faults.front().detail;
        namespace jet4 = engine::jet4;
        const jet4::PageFile file(path);
        std::optional<jet4::TableDefinition> definition;
        for (const auto& entry : jet4::readCatalog(file))
            if (entry.name == table && entry.type == jet4::CatalogEntry::TableType)
                definition = jet4::readTableDefinition(file, static_cast<std::uint32_t>(entry.id) &
                                                                 0x00FFFFFF);
        ASSERT_TRUE(definition) << "no table " << table;
        for (const auto& index : definition->physicalIndexes) {
            jet4::IndexPage page = jet4::readIndexPage(file, index.rootPage);
            while (!page.leaf)
                page = jet4::readIndexPage(file, page.entries.empty() ? page.tail
                                                                      : page.entries.front().child);
            const auto show = [](const jet4::IndexEntry& e) {
                return e.key + "@" + std::to_string(e.row.page) + ":" + std::to_string(e.row.row);
            };
            std::vector<std::string> leaves;
            for (;;) {
                for (const auto& entry : page.entries)
                    leaves.push_back(show(entry));
                if (page.next == 0)
                    break;
                page = jet4::readIndexPage(file, page.next);
            }
            std::vector<std::string> built;
            for (const auto& entry : jet4::indexEntriesFromRows(file, *definition, index))
                built.push_back(show(entry));
            EXPECT_TRUE(leaves == built)
                << "index " << index.number << ": its " << leaves.size()
                << " leaf entries are not the " << built.size() << " built from the rows";
        }
    }

    Variant database;
};

} // namespace

TEST_F(AccessFileTest, ConditionsSelectExactlyTheRowsWhoseValuesMeetThem) {
    // Table1: CD_AGENTE (long), RS_AGENTE and DC_AGENTE (text).
    const auto all = rows("Table1");
    ASSERT_GT(all.size(), 500u);
    // A row from the middle with a number and a text: the conditions below are built from it.
    auto pick = std::find_if(all.begin() + static_cast<std::ptrdiff_t>(all.size() / 2), all.end(),
                             [](const auto& r) { return !r[0].isNull() && !r[1].isNull(); });
    ASSERT_NE(pick, all.end());
    const Variant someText = (*pick)[1];
    const std::int32_t middle = (*pick)[0].toInt();
    // Null compares as unknown, which selects nothing.
    const auto above = [&](const std::vector<Variant>& r) {
        return !r[0].isNull() && r[0].toInt() > middle;
    };
    const auto count = [&](const std::function<bool(const std::vector<Variant>&)>& keep) {
        return static_cast<std::size_t>(std::count_if(all.begin(), all.end(), keep));
    };
    std::string upper = someText.toText();
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const struct {
        std::string sql;
        std::size_t expected;
    } cases[] = {
        {"SELECT * FROM Table1 WHERE CD_AGENTE > " + std::to_string(middle), count(above)},
        {"select CD_AGENTE from [Table1] where RS_AGENTE = \"" + upper + "\"",
         count([&](const auto& r) {
             return !r[1].isNull() && strcasecmp(r[1].toText().c_str(), upper.c_str()) == 0;
         })},
        {"SELECT * FROM Table1 WHERE DC_AGENTE IS NULL OR NOT (CD_AGENTE <= " +
             std::to_string(middle) + ")",
         count([&](const auto& r) { return r[2].isNull() || above(r); })},
        {"SELECT * FROM Table1 WHERE CD_AGENTE < 0", 0},
    };
    // The conditions split the table: neither all rows nor none (but for the last).
    EXPECT_GT(cases[0].expected, 0u);
    EXPECT_LT(cases[0].expected, all.size());
    for (const auto& c : cases)
        EXPECT_EQ(rows(c.sql).size(), c.expected) << c.sql;
    EXPECT_EQ(
        rows("SELECT RS_AGENTE, CD_AGENTE FROM Table1 WHERE CD_AGENTE = " + std::to_string(middle))
            .at(0),
        (std::vector<Variant>{someText, Variant(middle)}));
    EXPECT_EQ(errorNumber([&] { rows("SELECT Nothing FROM Table1"); }), 3061);
    EXPECT_EQ(errorNumber([&] { rows("SELECT * FROM Absent"); }), 3078);
}

TEST_F(AccessFileTest, DataDefinitionBuildsTablesColumnsAndIndexesOthersRead) {
    const auto before = rows("Table1");
    workspace.call("BeginTrans");
    for (const char* sql : {
             "CREATE TABLE LogDocU (ID TEXT(10) NOT NULL, UserID TEXT(10) NOT NULL, DateOp "
             "DATETIME NOT NULL, SumTotal MONEY NULL, Num SHORT, Note MEMO)",
             "ALTER TABLE LogDocU ADD CONSTRAINT LogDocU_PK_ID PRIMARY KEY (ID)",
             "CREATE INDEX LogDocU_I_Vn ON LogDocU (UserID, DateOp)",
             "INSERT INTO LogDocU (ID, UserID, DateOp, Note) VALUES ('b', 'u', #2024-03-01#, 'м')",
             "INSERT INTO LogDocU (ID, UserID, DateOp, Num) VALUES ('a', 'u', #2024-02-01#, 7)",
             "ALTER TABLE Table1 ADD COLUMN MinValue MONEY",
             "UPDATE Table1 SET MinValue = 0",
             "ALTER TABLE Table1 DROP COLUMN DC_AGENTE",
             "CREATE INDEX Table1_I_Min ON Table1 (MinValue, RS_AGENTE)",
             "CREATE TABLE AllTypes (B BIT, Y BYTE, I SHORT, L LONG, C MONEY, S SINGLE, D DOUBLE, "
             "T DATETIME, X TEXT(20), M MEMO)",
             "INSERT INTO AllTypes VALUES (True, 200, -3, 70000, 12.5, 0.25, 1e300, "
             "#2003-07-30 10:20:30#, 'Ворлан', 'длинный текст')",
             "CREATE UNIQUE INDEX AllTypes_All ON AllTypes (B, Y, I, L, C, S, D, T, X)",
         })
        database.call("Execute", {Variant(sql)});
    workspace.call("CommitTrans");

    const std::string done = testsupport::fileBytes(path);
    const struct {
        const char* sql;
        long error;
    } refused[] = {
        {"CREATE TABLE table1 (A LONG)", 3010},
        {"ALTER TABLE Table1 ADD COLUMN minvalue LONG", 3191},
        {"ALTER TABLE Table1 DROP COLUMN MinValue", 3280},
        {"ALTER TABLE LogDocU ADD CONSTRAINT Second PRIMARY KEY (UserID)", 3283},
        {"CREATE UNIQUE INDEX U ON LogDocU (UserID)", 3022},
        {"CREATE INDEX R ON LogDocU (Num) WITH DISALLOW NULL", 3058},
        {"INSERT INTO LogDocU (ID, UserID) VALUES ('c', 'u')", 3314},
        {"INSERT INTO LogDocU (ID, UserID, DateOp) VALUES ('c', Null, #2024-04-01#)", 3314},
        {"UPDATE LogDocU SET DateOp = Null WHERE ID = 'a'", 3314},
        {"ALTER TABLE MSysObjects ADD COLUMN X LONG", 3027},
    };
    for (const auto& r : refused)
        EXPECT_EQ(errorNumber([&] { database.call("Execute", {Variant(r.sql)}); }), r.error)
            << r.sql;
    database.call("Close");
    EXPECT_TRUE(testsupport::fileBytes(path) == done);

    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << report.faults.size() << " faults";
    database = open();
    EXPECT_EQ(rows("SELECT ID, Num, Note FROM LogDocU"),
              (std::vector<std::vector<Variant>>{{Variant("b"), Variant::null(), Variant("м")},
                                                 {Variant("a"), Variant(7), Variant::null()}}));
    const auto after = rows("Table1");
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        EXPECT_EQ(after[i], (std::vector<Variant>{before[i][0], before[i][1], Variant(0.0)}));
    Variant key =
        database.get("TableDefs", {Variant("LogDocU")}).get("Indexes", {Variant("LogDocU_PK_ID")});
    EXPECT_TRUE(key.get("Primary").toBool());
    EXPECT_TRUE(database.get("TableDefs", {Variant("LogDocU")})
                    .get("Fields", {Variant("UserID")})
                    .get("Required")
                    .toBool());

    if (const auto missing = testsupport::referenceToolsMissing()) {
        GTEST_SKIP() << "the reference readers cannot run: " << *missing;
    }
    const testsupport::ReferenceSchema schema = testsupport::mdbSchema(path);
    const testsupport::ReferenceTable* log = schema.table("LogDocU");
    ASSERT_NE(log, nullptr);
    EXPECT_TRUE(log->column("UserID")->notNull);
    EXPECT_FALSE(log->column("SumTotal")->notNull);
    ASSERT_EQ(log->indexes.size(), 2u);
    EXPECT_EQ(schema.table("Table1")->column("DC_AGENTE"), nullptr);
    EXPECT_NE(schema.table("Table1")->column("MinValue"), nullptr);
    // Every kind of column reads back alike for the engine and the judge.
    std::vector<std::string> ours, judged;
    check::dump(path, [&](const std::string& line) { ours.push_back(line); });
    for (const auto& line : testsupport::mdbReaderDump(path))
        if (line.starts_with("{\"table\":\"AllTypes\""))
            judged.push_back(line);
    ASSERT_EQ(judged.size(), 1u);
    EXPECT_NE(std::find(ours.begin(), ours.end(), judged.front()), ours.end()) << judged.front();
}

TEST_F(AccessFileTest, DroppedTablesAndIndexesGiveTheirPagesBack) {
    const auto catalog = rows("SELECT Name FROM MSysObjects");
    workspace.call("BeginTrans");
    execute("CREATE TABLE Gone (A LONG, B TEXT(50), M MEMO)");
    for (int i = 0; i < 300; ++i)
        execute("INSERT INTO Gone VALUES (" + std::to_string(i) + ", 'строка " + std::to_string(i) +
                "', '" + std::string(3000, 'x') + "')");
    execute("CREATE UNIQUE INDEX Gone_A ON Gone (A)");
    execute("CREATE INDEX Gone_B ON Gone (B)");
    execute("CREATE INDEX Table1_Name ON Table1 (RS_AGENTE)");
    execute("DROP INDEX Gone_A ON Gone");
    workspace.call("CommitTrans");
    EXPECT_EQ(errorNumber([&] { execute("DROP INDEX Gone_A ON Gone"); }), 3265);
    Variant gone = database.get("TableDefs", {Variant("Gone")});
    EXPECT_EQ(gone.get("Indexes").get("Count").toInt(), 1);
    gone.clear();
    execute("DROP TABLE Gone");
    execute("DROP INDEX Table1_Name ON Table1");
    EXPECT_EQ(errorNumber([&] { rows("Gone"); }), 3078);
    EXPECT_EQ(rows("SELECT Name FROM MSysObjects"), catalog);
    database.call("Close");

    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << report.faults.size() << " faults";
    // Every page the table took is free again: the file holds no page in use that it did not
    // hold before, but the map rows' page.
    const engine::jet4::PageFile pages(path);
    const auto free = engine::jet4::readUsageMap(pages, engine::jet4::GlobalUsageMapPointer).pages;
    const auto inFile = std::count_if(free.begin(), free.end(),
                                      [&](std::uint32_t p) { return p < pages.pageCount(); });
    EXPECT_GT(static_cast<std::uint32_t>(inFile), pages.pageCount() - 40);
}

TEST_F(AccessFileTest, DefinitionsGrowOntoMorePagesAndShrinkBackAsColumnsComeAndGo) {
    const auto before = rows("Table1");
    const std::string wide = std::string(24, 'x');
    constexpr int Added = 90; // about 6 KiB of column descriptors and names: a second page
    workspace.call("BeginTrans");
    for (int i = 0; i < Added; ++i)
        execute("ALTER TABLE Table1 ADD COLUMN " + wide + std::to_string(i) + " TEXT(20)");
    execute("INSERT INTO Table1 (CD_AGENTE, " + wide + "89) VALUES (-1, 'последний')");
    workspace.call("CommitTrans");
    const auto grown = rows("Table1");
    ASSERT_EQ(grown.size(), before.size() + 1);
    EXPECT_EQ(grown.front().size(), before.front().size() + Added);
    EXPECT_TRUE(grown.front().back().isNull()); // rows written before read the new columns as Null
    EXPECT_EQ(rows("SELECT " + wide + "89 FROM Table1 WHERE CD_AGENTE = -1"),
              (std::vector<std::vector<Variant>>{{Variant("последний")}}));

    workspace.call("BeginTrans");
    for (int i = 0; i < Added; ++i)
        execute("ALTER TABLE Table1 DROP COLUMN " + wide + std::to_string(i));
    workspace.call("CommitTrans");
    database.call("Close");
    const check::Report report = check::checkFile(path);
    EXPECT_TRUE(report.sound()) << report.faults.size() << " faults";
    database = open();
    auto after = rows("Table1");
    after.pop_back();
    EXPECT_EQ(after, before);
}

TEST_F(AccessFileTest, DataStatementsChangeRowsAndRebuildTheIndexes) {
    // Table1: 512 rows, all but two with a code of their own, an index over CD_AGENTE; given
    // here a primary key over it (the two rows without a code gone) and an index over a text.
    EXPECT_EQ(execute("DELETE FROM Table1 WHERE CD_AGENTE IS NULL"), 2);
    execute("ALTER TABLE Table1 ADD CONSTRAINT Table1_PK PRIMARY KEY (CD_AGENTE)");
    execute("CREATE INDEX Table1_Name ON Table1 (RS_AGENTE)");
    const auto all = rows("Table1");
    const std::int32_t first = all.at(0)[0].toInt();
    const auto count = [&](const std::function<bool(std::int32_t)>& code) {
        return static_cast<std::int32_t>(std::count_if(all.begin(), all.end(), [&](const auto& r) {
            return !r[0].isNull() && code(r[0].toInt());
        }));
    };
    // The rows the statements meet once the first UPDATE has moved the row with the first code.
    const std::int32_t few = count([&](std::int32_t c) { return c < 100 && c != first; });
    const std::int32_t most = count([&](std::int32_t c) { return c > 300 && c != first; });
    ASSERT_GT(few, 2);
    ASSERT_GT(most, static_cast<std::int32_t>(all.size()) / 2);
    const struct {
        std::string sql;
        std::int32_t affected;
    } cases[] = {
        {"UPDATE Table1 SET RS_AGENTE = 'Изменено', CD_AGENTE = 7777777 WHERE CD_AGENTE = " +
             std::to_string(first),
         1},
        {"UPDATE Table1 SET RS_AGENTE = 'b' WHERE CD_AGENTE > 300 AND CD_AGENTE < 7777777", most},
        {"DELETE * FROM [Table1] WHERE CD_AGENTE < 100", few},
        {"DELETE FROM Table1 WHERE CD_AGENTE > 300 AND CD_AGENTE < 7777777", most},
        {"INSERT INTO Table1 (CD_AGENTE, RS_AGENTE) VALUES (-5, 'новая')", 1},
        {"INSERT INTO Table1 VALUES (-6, 'ещё', Null)", 1},
        {"UPDATE Table1 SET DC_AGENTE = 'x' WHERE CD_AGENTE = 123456789", 0},
    };
    // Each statement in a level of its own, its indexes checked before the next touches them.
    for (const auto& c : cases) {
        workspace.call("BeginTrans");
        EXPECT_EQ(execute(c.sql), c.affected) << c.sql;
        workspace.call("CommitTrans");
        expectIndexesMatchRows("Table1", c.sql);
    }
    database.call("Close");
    database = open();
    EXPECT_EQ(rows("Table1").size(), all.size() - static_cast<std::size_t>(few + most) + 2);
    EXPECT_EQ(rows("SELECT RS_AGENTE FROM Table1 WHERE CD_AGENTE = 7777777"),
              std::vector<std::vector<Variant>>{{Variant("Изменено")}});
    EXPECT_EQ(rows("SELECT CD_AGENTE, RS_AGENTE, DC_AGENTE FROM Table1 WHERE CD_AGENTE < 0"),
              (std::vector<std::vector<Variant>>{{Variant(-5), Variant("новая"), Variant::null()},
                                                 {Variant(-6), Variant("ещё"), Variant::null()}}));
}

TEST_F(AccessFileTest, RollbackAndFailingStatementsLeaveTheFileAsItWas) {
    // t_like2: ID (the primary key), Campo1 TEXT(50), Campo2 TEXT(50) Required.
    use("accessLike.mdb");
    const std::string before = testsupport::fileBytes(path);
    const auto original = rows("t_like2");
    ASSERT_GE(original.size(), 2u);
    const struct {
        std::string sql;
        long error;
    } failing[] = {
        {"INSERT INTO t_like2 (ID, Campo2) VALUES (" + original[0][0].toText() + ", 'x')", 3022},
        {"UPDATE t_like2 SET ID = 1", 3164},
        {"UPDATE t_like2 SET Campo2 = Null", 3314},
        {"INSERT INTO t_like2 (ID, Campo1) VALUES (990, 'a')", 3314},
        {"UPDATE t_like2 SET Campo1 = '" + std::string(51, 'x') + "'", 3163},
        {"UPDATE t_like2 SET Nothing = 1", 3061},
        {"UPDATE t_like2 SET", 3144},
        {"DELETE FROM", 3075},
        {"INSERT INTO t_like2 VALUES", 3134},
        {"DELETE FROM Absent", 3078},
        {"DELETE FROM MSysObjects", 3027},
    };
    // Outside any level, then inside one that goes on working after each failure.
    for (const bool inLevel : {false, true}) {
        if (inLevel)
            workspace.call("BeginTrans");
        for (const auto& f : failing)
            EXPECT_EQ(errorNumber([&] { execute(f.sql); }), f.error) << f.sql;
        EXPECT_TRUE(testsupport::fileBytes(path) == before);
    }
    EXPECT_EQ(execute("DELETE FROM t_like2"), static_cast<std::int32_t>(original.size()));
    execute("CREATE TABLE Undone (A LONG, B TEXT(5) NOT NULL)");
    execute("ALTER TABLE t_like2 ADD COLUMN Extra MONEY");
    execute("CREATE INDEX Undone_B ON Undone (B)");
    EXPECT_TRUE(rows("t_like2").empty());
    workspace.call("Rollback");
    EXPECT_EQ(rows("t_like2"), original);
    EXPECT_EQ(errorNumber([&] { rows("Undone"); }), 3078);
    database.call("Close");
    EXPECT_TRUE(testsupport::fileBytes(path) == before);
}

TEST_F(AccessFileTest, FileCutShortAtAPageBoundaryIsRefusedAsDamaged) {
    database.call("Close");
    {
        // Cut before the last page in use, which tables or indexes still name.
        const engine::jet4::PageFile pages(path);
        const auto free =
            engine::jet4::readUsageMap(pages, engine::jet4::GlobalUsageMapPointer).pages;
        std::uint32_t last = pages.pageCount() - 1;
        while (std::binary_search(free.begin(), free.end(), last))
            --last;
        std::filesystem::resize_file(path, std::uintmax_t{last} * engine::jet4::PageFile::PageSize);
    }
    database = open();
    const std::string before = testsupport::fileBytes(path);
    EXPECT_EQ(errorNumber([&] { execute("CREATE TABLE LogDoc (Vn TEXT(10))"); }), 3049);
    EXPECT_EQ(errorNumber([&] { execute("INSERT INTO Table1 (CD_AGENTE) VALUES (1)"); }), 3049);
    database.call("Close");
    EXPECT_TRUE(testsupport::fileBytes(path) == before);
}

TEST_F(AccessFileTest, TextKeysInAnotherSortOrderAreRefusedNamingIt) {
    use("ru/StelmakhAleksandr+Library+db.mdb");
    const std::string before = testsupport::fileBytes(path);
    for (const char* sql : {"DELETE FROM [User]", "DELETE * FROM Book WHERE False",
                            "CREATE TABLE LogDoc (Vn TEXT(10))"}) {
        try {
            database.call("Execute", {Variant(sql)});
            ADD_FAILURE() << sql << " was accepted";
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), 3251) << sql;
            EXPECT_NE(e.description().find("порядок сортировки 1058"), std::string::npos)
                << e.description();
        }
    }
    database.call("Close");
    EXPECT_TRUE(testsupport::fileBytes(path) == before);
}
