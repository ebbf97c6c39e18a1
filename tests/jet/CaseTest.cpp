// Names and text without regard to case in any alphabet, with the same answers from the SQLite
// store and the Jet 4 store, and the names a file already holds never rewritten.

#include "automation/Error.h"
#include "engine/Store.h"
#include "engine/sql/JetSql.h"
#include "tests/jet/Printers.h"
#include "tests/support/JetSamples.h"
#include "tests/support/SqliteDump.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>

using engine::Store;
namespace jet = engine::jet;

namespace {

// Every row of `sql` on `store`, each as its values' readable forms, in a stable order.
std::vector<std::string> rows(const Store& store, const char* sql) {
    std::vector<std::string> out;
    for (const auto& row : jet::query(store, sql).rows) {
        std::string line;
        for (const auto& value : row)
            line += value.describe() + "|";
        out.push_back(line);
    }
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

TEST(CaseInAnyAlphabet, SqliteStoreMatchesNamesAndTextButKeepsTheFilesOwnNames) {
    testsupport::TempDir dir;
    const std::string path = dir.file("shop.mdb");
    // Made by another program, with SQLite's own NOCASE on a column and an index over it.
    testsupport::makeSqliteFile(path, {"CREATE TABLE ТОВАРЫ (Имя TEXT(20) COLLATE NOCASE, Цена "
                                       "CURRENCY)",
                                       "CREATE INDEX Товары_Имя ON ТОВАРЫ (Имя)",
                                       "INSERT INTO ТОВАРЫ VALUES ('ПАТЧ', 1), ('Патч', 2), "
                                       "('другое', 3)"});
    auto store = Store::open(path);
    ASSERT_TRUE(store->table("товары"));
    EXPECT_EQ(store->table("товары")->name, "ТОВАРЫ");
    EXPECT_EQ(store->table("Товары")->columns.at(0).name, "Имя");
    EXPECT_EQ(rows(*store, "SELECT цена FROM товары WHERE ИМЯ = 'патч'"),
              (std::vector<std::string>{"1|", "2|"}));
    EXPECT_EQ(rows(*store, "SELECT [ЦЕНА] FROM [Товары] WHERE товары.имя > 'ДРУГОЕ'"),
              (std::vector<std::string>{"1|", "2|"}));
    EXPECT_EQ(rows(*store, "SELECT цена FROM товары WHERE имя LIKE 'п_Т%'"),
              (std::vector<std::string>{"1|", "2|"}));
    EXPECT_EQ(jet::query(*store, "товары").rows.size(), 3u);
    EXPECT_EQ(store->rowCount("тОВАРЫ"), 3);
    EXPECT_EQ(jet::execute(*store, "UPDATE товары SET ЦЕНА = 5 WHERE имя = 'патч'"), 2);
    EXPECT_EQ(jet::execute(*store, "DELETE FROM товары WHERE Имя <> 'ПАТЧ'"), 1);
    EXPECT_EQ(jet::execute(*store, "INSERT INTO товары (ИМЯ, цена) VALUES ('Новый', 4)"), 1);
    try {
        jet::execute(*store, "CREATE TABLE товары (x TEXT(5))");
        ADD_FAILURE() << "a second table of the same name was made";
    } catch (const automation::Error& e) {
        EXPECT_EQ(e.number(), 3010) << e.description();
    }
    store.reset();

    EXPECT_EQ(testsupport::sqliteRows(path, "SELECT name FROM sqlite_master ORDER BY name"),
              (std::vector<std::string>{"ТОВАРЫ", "Товары_Имя"}));
    EXPECT_EQ(testsupport::sqliteRows(path, "SELECT name FROM pragma_table_info('ТОВАРЫ')"),
              (std::vector<std::string>{"Имя", "Цена"}));
    EXPECT_EQ(testsupport::sqliteRows(path, "SELECT Имя, Цена FROM ТОВАРЫ ORDER BY rowid"),
              (std::vector<std::string>{"ПАТЧ|5", "Патч|5", "Новый|4"}));
    EXPECT_EQ(testsupport::sqliteRows(path, "PRAGMA integrity_check"),
              std::vector<std::string>{"ok"});
}

TEST(CaseInAnyAlphabet, JetAndSqliteStoresGiveTheSameAnswers) {
    REQUIRE_JET_SAMPLES();
    const auto jetStore =
        Store::open((*testsupport::jetSamplesFolder() / "ru/Ash13Furry+Ocenki+db.mdb").string());
    // The same rows in an SQLite file.
    testsupport::TempDir dir;
    const auto sqliteStore = Store::create(dir.file("copy.mdb"));
    jet::execute(*sqliteStore, "CREATE TABLE Оценки (Код_оценки LONG, Предмет TEXT(50))");
    for (const auto& row : jet::query(*jetStore, "SELECT Код_оценки, Предмет FROM Оценки").rows)
        jet::execute(*sqliteStore, "INSERT INTO Оценки VALUES (" + row[0].toText() + ", '" +
                                       row[1].toText() + "')");

    const char* queries[] = {
        "SELECT код_ОЦЕНКИ FROM ОЦЕНКИ WHERE ПРЕДМЕТ = 'литература'",
        "SELECT Код_Оценки, предмет FROM оценки WHERE предмет <> 'ФИНАНСЫ' AND ПРЕДМЕТ >= 'мдк'",
        "SELECT КОД_ОЦЕНКИ FROM [оценки] WHERE Предмет < 'народное ПРАВО' OR предмет = 'мДК 6.3'",
    };
    for (const char* sql : queries) {
        const auto expected = rows(*jetStore, sql);
        EXPECT_FALSE(expected.empty()) << sql;
        EXPECT_EQ(rows(*sqliteStore, sql), expected) << sql;
    }
}
