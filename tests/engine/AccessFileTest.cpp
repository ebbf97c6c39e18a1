// An Access 2000-2003 file through the object model: queries run on the file's own rows, and
// every change is refused before a byte of the file is written.

#include "EngineFixture.h"
#include "support/JetSamples.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <strings.h>

using automation::Variant;

namespace {

class AccessFileTest : public EngineTest {
protected:
    void SetUp() override {
        REQUIRE_JET_SAMPLES();
        std::filesystem::copy_file(*testsupport::jetSamplesFolder() / "compIndexTestV2000.mdb",
                                   path);
        database = open();
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

TEST_F(AccessFileTest, EveryChangeIsRefusedAndTheFileKeepsItsBytes) {
    const std::string before = testsupport::fileBytes(path);
    const std::function<void()> changes[] = {
        [&] { database.call("Execute", {Variant("CREATE TABLE LogDoc (Vn TEXT(10) NOT NULL)")}); },
        [&] {
            database.call("Execute", {Variant("ALTER TABLE Table1 ADD COLUMN MinValue MONEY")});
        },
        [&] { database.call("Execute", {Variant("ALTER TABLE Table1 DROP COLUMN DC_AGENTE")}); },
        [&] { database.call("Execute", {Variant("CREATE INDEX I ON Table1 (RS_AGENTE)")}); },
        [&] { database.call("Execute", {Variant("INSERT INTO Table1 (CD_AGENTE) VALUES (1)")}); },
        [&] { database.call("Execute", {Variant("UPDATE Table1 SET RS_AGENTE = 'x'")}); },
        [&] { database.call("Execute", {Variant("DELETE * FROM Table1")}); },
        [&] { database.call("Execute", {Variant("DROP TABLE Table1")}); },
        [&] {
            Variant table = database.call("CreateTableDef", {Variant("T")});
            table.call("Fields").call("Append", {table.call("CreateField", {Variant("F"), 4})});
            database.get("TableDefs").call("Append", {table});
        },
        [&] {
            database.get("TableDefs", {Variant("Table1")})
                .get("Fields")
                .call("Delete", {Variant("DC_AGENTE")});
        },
    };
    workspace.call("BeginTrans");
    for (const auto& change : changes) {
        try {
            change();
            ADD_FAILURE() << "a change was accepted";
        } catch (const automation::Error& e) {
            EXPECT_EQ(e.number(), 3251);
            EXPECT_EQ(e.description(),
                      "Изменение баз данных этого формата пока не поддерживается.");
        }
    }
    workspace.call("Rollback");
    database.call("Close");
    EXPECT_EQ(testsupport::fileBytes(path), before);
}
