#include "tools/check/SqliteCheck.h"

#include "engine/OleDate.h"
#include "engine/Schema.h"
#include "tools/check/JsonLines.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <stdexcept>

namespace check {

namespace {

using Db = std::unique_ptr<sqlite3, int (*)(sqlite3*)>;
using Stmt = std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)>;

// The file as an SQLite URI, every byte that could end or alter the path escaped.
std::string fileUri(const std::string& path, const char* query) {
    std::string uri = "file:";
    for (char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if (b == '%' || b == '?' || b == '#' || b < 0x20 || b == 0x7F) {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", b);
            uri += escaped;
        } else {
            uri += c;
        }
    }
    return uri + query;
}

Db openReadOnly(const std::string& path) {
    // With no write-ahead log beside it, the file is all there is to read: opened as immutable,
    // SQLite then makes no lock or log files beside it either (a database in WAL mode would get
    // them even read-only, and keep them).
    std::error_code error;
    const bool log = std::filesystem::exists(path + "-wal", error);
    const std::string uri = fileUri(path, log ? "?mode=ro" : "?mode=ro&immutable=1");
    sqlite3* raw = nullptr;
    const int rc =
        sqlite3_open_v2(uri.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr);
    Db db(raw, sqlite3_close_v2);
    if (rc != SQLITE_OK)
        throw Unreadable{std::string("SQLite cannot open the file: ") +
                         (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc))};
    return db;
}

Stmt prepare(sqlite3* db, const std::string& sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
        throw Unreadable{std::string("SQLite cannot read the schema: ") + sqlite3_errmsg(db)};
    return Stmt(raw, sqlite3_finalize);
}

std::string text(sqlite3_stmt* s, int column) {
    const auto* p = sqlite3_column_text(s, column);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(s, column)))
             : std::string();
}

std::string quotedName(const std::string& name) {
    std::string out = "\"";
    for (char c : name)
        out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

struct Column {
    std::string name;
    engine::FieldType type;
};

std::vector<std::string> userTables(sqlite3* db) {
    std::vector<std::string> names;
    Stmt s = prepare(db, "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE "
                         "'sqlite\\_%' ESCAPE '\\' AND name NOT LIKE 'MSys%' ORDER BY rowid");
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        names.push_back(text(s.get(), 0));
    return names;
}

std::vector<Column> columnsOf(sqlite3* db, const std::string& table) {
    std::vector<Column> columns;
    Stmt s = prepare(db, "SELECT name, type FROM pragma_table_info(?1) ORDER BY cid");
    sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (sqlite3_step(s.get()) == SQLITE_ROW)
        columns.push_back({text(s.get(), 0), engine::deriveType(text(s.get(), 1)).type});
    return columns;
}

// One value in the dump's form, read by its column's declared type.
std::string jsonValue(sqlite3_stmt* s, int i, engine::FieldType type) {
    using engine::FieldType;
    const int storage = sqlite3_column_type(s, i);
    if (storage == SQLITE_NULL)
        return "null";
    const bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
    switch (type) {
    case FieldType::Boolean:
        if (number)
            return sqlite3_column_double(s, i) != 0 ? "true" : "false";
        break;
    case FieldType::Byte:
    case FieldType::Integer:
    case FieldType::Long:
        if (storage == SQLITE_INTEGER)
            return std::to_string(sqlite3_column_int64(s, i));
        break;
    case FieldType::Currency:
        if (number)
            return jsonString(currencyText(std::llround(sqlite3_column_double(s, i) * 10000.0)));
        break;
    case FieldType::Single:
        if (number)
            return jsonNumber(sqlite3_column_double(s, i), true);
        break;
    case FieldType::Double:
        if (number)
            return jsonNumber(sqlite3_column_double(s, i));
        break;
    case FieldType::Date: {
        const auto days = number ? std::optional<double>(sqlite3_column_double(s, i))
                                 : engine::oleDateFromIso(text(s, i));
        if (days)
            return jsonString(dateTimeText(*days));
        break;
    }
    case FieldType::Binary:
    case FieldType::LongBinary:
        if (storage == SQLITE_BLOB)
            return jsonString(
                base64(std::string_view(static_cast<const char*>(sqlite3_column_blob(s, i)),
                                        static_cast<std::size_t>(sqlite3_column_bytes(s, i)))));
        break;
    default:
        break;
    }
    if (storage == SQLITE_INTEGER)
        return std::to_string(sqlite3_column_int64(s, i));
    if (storage == SQLITE_FLOAT)
        return jsonNumber(sqlite3_column_double(s, i));
    return jsonString(text(s, i));
}

} // namespace

Report checkSqlite(const std::string& path) {
    Report report;
    Db db = openReadOnly(path);
    {
        Stmt s = prepare(db.get(), "PRAGMA integrity_check");
        while (sqlite3_step(s.get()) == SQLITE_ROW) {
            const std::string line = text(s.get(), 0);
            if (line != "ok")
                report.fault("sqlite-integrity", line);
        }
    }
    const auto tables = userTables(db.get());
    report.note("SQLite integrity check done; " + std::to_string(tables.size()) + " user tables");

    // The engine's properties table names tables, columns and indexes that must exist.
    Stmt exists = prepare(db.get(), "SELECT 1 FROM sqlite_master WHERE type='table' AND "
                                    "name='MSysEngineProperties'");
    if (sqlite3_step(exists.get()) != SQLITE_ROW)
        return report;
    std::set<std::string> known;
    for (const auto& table : tables) {
        known.insert("table/" + lower(table));
        for (const auto& c : columnsOf(db.get(), table))
            known.insert("column/" + lower(table) + "/" + lower(c.name));
        Stmt s = prepare(db.get(), "SELECT name FROM pragma_index_list(?1)");
        sqlite3_bind_text(s.get(), 1, table.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(s.get()) == SQLITE_ROW)
            known.insert("index/" + lower(table) + "/" + lower(text(s.get(), 0)));
    }
    static const std::set<std::string> properties = {"column/required",   "column/allowzerolength",
                                                     "index/primary",     "index/required",
                                                     "index/ignorenulls", "index/clustered"};
    Stmt s = prepare(db.get(), "SELECT TableName, ObjectKind, ObjectName, Property FROM "
                               "MSysEngineProperties");
    while (sqlite3_step(s.get()) == SQLITE_ROW) {
        const std::string table = text(s.get(), 0), kind = text(s.get(), 1),
                          name = text(s.get(), 2), property = text(s.get(), 3);
        const std::string where =
            "property " + property + " of " + kind + " " + name + " of table " + table;
        if (!known.count("table/" + lower(table)))
            report.fault("properties-orphan", where + ": no such table");
        else if (!properties.count(lower(kind) + "/" + lower(property)))
            report.fault("properties-unknown", where + ": no such property");
        else if (!known.count(lower(kind) + "/" + lower(table) + "/" + lower(name)))
            report.fault("properties-orphan", where + ": no such " + kind);
    }
    return report;
}

void dumpSqlite(const std::string& path, const std::function<void(const std::string&)>& line) {
    Db db = openReadOnly(path);
    for (const auto& table : userTables(db.get())) {
        const auto columns = columnsOf(db.get(), table);
        Stmt s = prepare(db.get(), "SELECT * FROM " + quotedName(table));
        while (sqlite3_step(s.get()) == SQLITE_ROW) {
            std::vector<std::pair<std::string, std::string>> values;
            for (std::size_t i = 0; i < columns.size(); ++i)
                values.emplace_back(columns[i].name,
                                    jsonValue(s.get(), static_cast<int>(i), columns[i].type));
            line(dumpLine(table, values));
        }
    }
}

} // namespace check
