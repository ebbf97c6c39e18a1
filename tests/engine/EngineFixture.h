#pragma once
// What the engine tests share: an engine created by its ProgID in a fresh temporary folder,
// databases made with the raw SQLite API, and readers of the file's real schema.

#include "automation/Error.h"
#include "automation/Registry.h"
#include "engine/Registration.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <string>
#include <vector>

class EngineTest : public ::testing::Test {
protected:
    EngineTest() {
        engine::registerEngine();
        dbEngine = automation::createOleObject(engine::ProgId);
        dbEngine.put("DefaultType", std::int32_t{2});
        workspace = dbEngine.get("Workspaces", {std::int32_t{0}});
        path = dir.file("base.mdb");
    }

    // A database holding table "param" (the revision stamp) and "Supgood".
    void makeSample() {
        testsupport::makeSqliteFile(
            path, {"CREATE TABLE param (ID TEXT(10) NOT NULL, Item TEXT(10), AValue TEXT(50))",
                   "INSERT INTO param VALUES ('patch', 'PATCH', 'patch15')",
                   "CREATE TABLE Supgood (Vn TEXT(10) NOT NULL, Good LONG, Certificat TEXT(50))",
                   "INSERT INTO Supgood VALUES ('1', 10, 'c1')"});
    }

    automation::Variant open() { return workspace.call("OpenDatabase", {path}); }

    // The number of the engine error `call` raises, 0 when it raises none.
    static long errorNumber(const std::function<void()>& call) {
        try {
            call();
        } catch (const automation::Error& e) {
            return e.number();
        }
        return 0;
    }

    // Rows of `sql` run on the file with the raw API, each row's columns joined by "|".
    std::vector<std::string> rawQuery(const std::string& sql) const {
        std::vector<std::string> rows;
        sqlite3* db = nullptr;
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK) {
            while (sqlite3_step(st) == SQLITE_ROW) {
                std::string row;
                for (int i = 0; i < sqlite3_column_count(st); ++i) {
                    const unsigned char* t = sqlite3_column_text(st, i);
                    row += (i ? "|" : "") + std::string(t ? reinterpret_cast<const char*>(t) : "");
                }
                rows.push_back(row);
            }
        } else {
            ADD_FAILURE() << "raw query failed: " << sqlite3_errmsg(db);
        }
        sqlite3_finalize(st);
        sqlite3_close(db);
        return rows;
    }

    // "name:type:notnull" of every column of `table`, from PRAGMA table_info.
    std::vector<std::string> columnsOf(const std::string& table) const {
        return rawQuery(
            "SELECT name || ':' || type || ':' || \"notnull\" FROM pragma_table_info('" + table +
            "')");
    }

    // Names of the file's indexes on `table` ("name:unique:col1,col2").
    std::vector<std::string> indexesOf(const std::string& table) const {
        return rawQuery("SELECT il.name || ':' || il.\"unique\" || ':' || (SELECT "
                        "group_concat(name, ',') FROM (SELECT name FROM pragma_index_info(il.name) "
                        "ORDER BY seqno)) FROM pragma_index_list('" +
                        table + "') il ORDER BY il.name");
    }

    bool tableInFile(const std::string& name) const {
        return !rawQuery("SELECT 1 FROM sqlite_master WHERE type='table' AND name='" + name + "'")
                    .empty();
    }

    testsupport::TempDir dir;
    std::string path;
    automation::Variant dbEngine;
    automation::Variant workspace;
};
