// Feeds arbitrary bytes, as one statement, to the engine's SQL front end on a small shop
// database, once in an SQLite file and once in an Access 2000-2003 file (the same tables and
// rows, made once per process). Raised engine errors are expected; a crash, a sanitizer report, a
// leak, a hang, an open level left behind, a changed file, a file left beside it or tables that
// differ after the rollback is a finding. Each input runs inside a transaction level that is rolled
// back afterwards, so every input meets the same database and neither file is ever written.

#include "FuzzSupport.h"

#include "automation/Error.h"
#include "engine/sql/JetSql.h"
#include "engine/sqlite/SqliteStore.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The tables the tool works on, in the shape the shop's programs made them, with a few rows, a
// secondary index and an index whose properties live in the engine's own table.
constexpr const char* ShopStatements[] = {
    "CREATE TABLE param (ID TEXT(20) NOT NULL, Item TEXT(20) NULL, AValue TEXT(100) NULL, "
    "CONSTRAINT param_PK PRIMARY KEY (ID))",
    "INSERT INTO param (ID, Item, AValue) VALUES ('patch', 'PATCH', 'patch15')",
    "INSERT INTO param (ID, Item, AValue) VALUES ('firm', 'FIRM', 'ООО «Ромашка»')",
    "CREATE TABLE Goods (Good TEXT(10) NOT NULL, Name TEXT(100) NOT NULL, Unit TEXT(10) NULL, "
    "CONSTRAINT Goods_PK PRIMARY KEY (Good))",
    "INSERT INTO Goods (Good, Name, Unit) VALUES ('G1', 'Хлеб', 'шт')",
    "INSERT INTO Goods (Good, Name, Unit) VALUES ('G2', 'Сахар', 'кг')",
    "CREATE TABLE GoodPric (Good TEXT(10) NOT NULL, DateFrom DATETIME NOT NULL, Price MONEY NULL, "
    "CONSTRAINT GoodPric_PK PRIMARY KEY (Good, DateFrom))",
    "INSERT INTO GoodPric (Good, DateFrom, Price) VALUES ('G1', #2003-07-30#, 12.5)",
    "INSERT INTO GoodPric (Good, DateFrom, Price) VALUES ('G2', #7/1/2003 10:15 PM#, NULL)",
    "CREATE TABLE Supgood (ID TEXT(10) NOT NULL, Vn TEXT(10) NOT NULL, Owner SHORT NOT NULL, "
    "Good TEXT(10) NOT NULL, DCome DATETIME NOT NULL, HowMany DOUBLE NULL, PriceSupp MONEY NULL, "
    "Certificat TEXT(50) NULL, CONSTRAINT SupGood_PK_ID PRIMARY KEY (ID))",
    "INSERT INTO Supgood (ID, Vn, Owner, Good, DCome, HowMany, PriceSupp, Certificat) VALUES "
    "('S1', 'V1', 1, 'G1', #2003-01-02#, 1.5, 9.99, 'РОСС RU.АЯ1')",
    "INSERT INTO Supgood (ID, Vn, Owner, Good, DCome, HowMany, PriceSupp, Certificat) VALUES "
    "('S2', 'V1', 2, 'G2', #2003-01-03#, NULL, 5, NULL)",
    "CREATE INDEX Supgood_I_Owner ON Supgood (Owner)",
    "CREATE TABLE Docs (Vn TEXT(10) NOT NULL, KindDoc TEXT(3) NOT NULL, SumTotal MONEY NULL, "
    "Note MEMO NULL, Done BIT NULL)",
    "CREATE UNIQUE INDEX Docs_Vn ON Docs (Vn) WITH DISALLOW NULL",
    "INSERT INTO Docs (Vn, KindDoc, SumTotal, Note, Done) VALUES ('V1', 'ПРХ', 16.49, 'x', True)",
};

struct Fixture {
    fuzz::ScratchDir dir;
    std::string path = dir.file("DB.mdb");
    std::string accessPath = dir.file("Access.mdb");
    std::shared_ptr<engine::SqliteStore> store;
    std::shared_ptr<engine::Store> access;
    std::string bytes;       // the SQLite file as every input must leave it
    std::string accessBytes; // the Access file as every input must leave it
    std::vector<std::string> tables;
    std::vector<std::string> entries; // of the scratch folder

    Fixture() {
        fuzz::limitEveryConnection();
        try {
            store = engine::SqliteStore::create(path);
            access = engine::Store::create(accessPath, engine::Store::Format::Jet4);
            for (const char* sql : ShopStatements) {
                engine::jet::execute(*store, sql);
                engine::jet::execute(*access, sql);
            }
        } catch (const automation::Error& e) {
            fuzz::finding("cannot make the shop database: " + e.description());
        }
        bytes = fuzz::readFile(path);
        accessBytes = fuzz::readFile(accessPath);
        tables = sorted(store->tableNames());
        if (sorted(access->tableNames()) != tables)
            fuzz::finding("the two shop databases have different tables");
        entries = dir.entries();
    }

    static std::vector<std::string> sorted(std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    }
};

Fixture* fixture = nullptr;

// Runs `sql` as a statement and as a query inside a level of `store`, then rolls the level back;
// `what` names the store in findings.
void runRolledBack(engine::Store& store, std::string_view sql, const std::string& what) {
    fuzz::workStarted();
    store.begin();
    try {
        engine::jet::execute(store, sql);
    } catch (const automation::Error&) {
    }
    try {
        engine::jet::query(store, sql);
    } catch (const automation::Error&) {
    }
    // Whatever the statement did, the level it ran in must still be there to roll back.
    if (store.depth() != 1)
        fuzz::finding(what + ": the statement changed the transaction depth to " +
                      std::to_string(store.depth()));
    try {
        store.rollback();
    } catch (const automation::Error& e) {
        fuzz::finding(what + ": rollback failed: " + e.description());
    }
    if (Fixture::sorted(store.tableNames()) != fixture->tables)
        fuzz::finding(what + ": the tables differ after the rollback");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static Fixture shared;
    fixture = &shared;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view sql(reinterpret_cast<const char*>(data), size);
    runRolledBack(*fixture->store, sql, "SQLite");
    if (!sqlite3_get_autocommit(fixture->store->handle()))
        fuzz::finding("a transaction is still open after the rollback");
    if (fuzz::readFile(fixture->path) != fixture->bytes)
        fuzz::finding("the database file changed although every level was rolled back");
    runRolledBack(*fixture->access, sql, "Access");
    if (fuzz::readFile(fixture->accessPath) != fixture->accessBytes)
        fuzz::finding("the Access file changed although every level was rolled back");
    if (fixture->dir.entries() != fixture->entries)
        fuzz::finding("a file was left beside the databases");
    return 0;
}
