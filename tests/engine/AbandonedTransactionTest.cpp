// When SQLite abandons a transaction by itself (an interrupted statement, a full disk), nothing
// may slip into the file outside the levels the caller still believes open.

#include "engine/sqlite/SqliteStore.h"
#include "support/SqliteDump.h"
#include "support/TempDir.h"

#include "automation/Error.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

using testsupport::sqliteRows;

TEST(AbandonedTransaction, WorkAfterSqliteDroppedTheLevelsIsRefusedUntilRolledBack) {
    testsupport::TempDir dir;
    const std::string path = dir.file("shop.mdb");
    auto store = engine::SqliteStore::create(path);
    engine::TableSchema t{"t", {{"x", engine::FieldType::Long}}, {}};
    store->createTable(t);

    store->begin();
    store->execute("INSERT INTO t VALUES (1)");
    // What SQLite does after a full disk or an I/O error in the middle of a transaction: the
    // whole transaction is gone, while the store still counts its level.
    ASSERT_EQ(sqlite3_exec(store->handle(), "ROLLBACK", nullptr, nullptr, nullptr), SQLITE_OK);

    // Neither a change nor a new level may run as if the old level still held it.
    EXPECT_THROW(store->execute("INSERT INTO t VALUES (5)"), automation::Error);
    EXPECT_THROW(store->addColumn("t", {"y", engine::FieldType::Long}), automation::Error);
    EXPECT_THROW(store->begin(), automation::Error);
    EXPECT_EQ(sqliteRows(path, "SELECT count(*) FROM t"), std::vector<std::string>{"0"});

    // The caller's rollback ends the level; afterwards the store works again.
    store->rollback();
    EXPECT_EQ(store->depth(), 0);
    store->execute("INSERT INTO t VALUES (7)");
    EXPECT_EQ(sqliteRows(path, "SELECT x FROM t"), std::vector<std::string>{"7"});
}
