#include "support/SqliteDump.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>

namespace testsupport {

namespace {

using Db = std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)>;

Db openDb(const std::string& path, int flags) {
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
    Db db(raw, &sqlite3_close_v2);
    if (rc != SQLITE_OK)
        throw std::runtime_error("cannot open " + path + ": " + sqlite3_errstr(rc));
    return db;
}

// One value; `tagged` puts its storage class before it, so 1 and '1' differ in a dump.
std::string cell(sqlite3_stmt* st, int i, bool tagged) {
    std::string tag;
    std::string value;
    switch (sqlite3_column_type(st, i)) {
    case SQLITE_NULL:
        return "<null>";
    case SQLITE_INTEGER:
        tag = "i:";
        value = std::to_string(sqlite3_column_int64(st, i));
        break;
    case SQLITE_FLOAT: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", sqlite3_column_double(st, i));
        tag = "f:";
        value = buf;
        break;
    }
    default: {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(st, i));
        tag = sqlite3_column_type(st, i) == SQLITE_BLOB ? "b:" : "t:";
        value = text ? std::string(text, sqlite3_column_bytes(st, i)) : "";
    }
    }
    return tagged ? tag + value : value;
}

std::vector<std::string> rows(sqlite3* db, const std::string& sql, bool tagged) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
    std::unique_ptr<sqlite3_stmt, decltype(&sqlite3_finalize)> st(raw, &sqlite3_finalize);
    std::vector<std::string> out;
    int rc;
    while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        std::string line;
        for (int i = 0; i < sqlite3_column_count(raw); ++i)
            line += (i ? "|" : "") + cell(raw, i, tagged);
        out.push_back(std::move(line));
    }
    if (rc != SQLITE_DONE)
        throw std::runtime_error(sql + ": " + sqlite3_errmsg(db));
    return out;
}

} // namespace

std::string sqliteDump(const std::string& path) {
    Db db = openDb(path, SQLITE_OPEN_READONLY);
    std::string dump;
    for (const std::string& entry :
         rows(db.get(), "SELECT type, name, tbl_name, sql FROM sqlite_schema ORDER BY name", true))
        dump += entry + "\n";
    for (const std::string& table :
         rows(db.get(), "SELECT name FROM sqlite_schema WHERE type = 'table' ORDER BY name",
              false)) {
        const std::string& name = table;
        dump += "== " + name + "\n";
        std::string quotedName = "\"";
        for (char c : name)
            quotedName += c == '"' ? std::string("\"\"") : std::string(1, c);
        quotedName += "\"";
        for (const std::string& row :
             rows(db.get(), "SELECT * FROM " + quotedName + " ORDER BY rowid", true))
            dump += row + "\n";
    }
    return dump;
}

std::vector<std::string> sqliteRows(const std::string& path, const std::string& sql) {
    Db db = openDb(path, SQLITE_OPEN_READONLY);
    return rows(db.get(), sql, false);
}

void sqliteExec(const std::string& path, const std::string& sql) {
    Db db = openDb(path, SQLITE_OPEN_READWRITE);
    char* error = nullptr;
    if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
        std::string message = error ? error : "?";
        sqlite3_free(error);
        throw std::runtime_error(sql + ": " + message);
    }
}

} // namespace testsupport
