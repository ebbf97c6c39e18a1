#include "engine/sqlite/EngineProperties.h"

#include "automation/CaseFold.h"
#include "engine/EngineErrors.h"
#include "engine/sqlite/CaseRules.h"
#include "engine/sqlite/SqliteStatement.h"

namespace engine {

namespace {

constexpr const char* MetaTable = "MSysEngineProperties";

// "TableName=?1", "ObjectName=?3"...: a name column compared by the engine's rule for case.
std::string sameNameAs(const char* column, int parameter) {
    return std::string(column) + "=?" + std::to_string(parameter) + " COLLATE " + FoldCollation;
}

} // namespace

bool Properties::tableExists(sqlite3* db) {
    Statement s(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1", "чтение свойств");
    s.bind(1, MetaTable);
    return s.step();
}

Properties Properties::read(sqlite3* db, const std::string& table) {
    Properties p;
    if (!tableExists(db))
        return p;
    Statement s(db,
                std::string("SELECT ObjectKind, ObjectName, Property FROM ") + ident(MetaTable) +
                    " WHERE " + sameNameAs("TableName", 1) + " AND Value<>0",
                "чтение свойств таблицы " + quoted(table));
    s.bind(1, table);
    while (s.step())
        p.keys_.insert(key(s.text(0), s.text(1), s.text(2)));
    return p;
}

bool Properties::has(std::string_view kind, std::string_view name,
                     std::string_view property) const {
    return keys_.count(key(kind, name, property)) > 0;
}

void Properties::set(sqlite3* db, const std::string& table, std::string_view kind,
                     const std::string& name, std::string_view property, bool value) {
    std::string action = "запись свойства " + std::string(property) + " объекта " + quoted(name);
    if (!value) {
        if (tableExists(db)) {
            Statement s(db,
                        std::string("DELETE FROM ") + ident(MetaTable) + " WHERE " +
                            sameNameAs("TableName", 1) + " AND ObjectKind=?2 AND " +
                            sameNameAs("ObjectName", 3) + " AND Property=?4",
                        action);
            s.bind(1, table).bind(2, kind).bind(3, name).bind(4, property);
            s.step();
        }
        return;
    }
    if (!tableExists(db))
        exec(db,
             std::string("CREATE TABLE ") + ident(MetaTable) +
                 " (TableName TEXT NOT NULL, ObjectKind TEXT NOT NULL, ObjectName TEXT NOT "
                 "NULL, Property TEXT NOT NULL, Value INTEGER NOT NULL)",
             "создание системной таблицы " + quoted(MetaTable));
    set(db, table, kind, name, property, false);
    Statement s(db,
                std::string("INSERT INTO ") + ident(MetaTable) +
                    " (TableName, ObjectKind, ObjectName, Property, Value) "
                    "VALUES (?1, ?2, ?3, ?4, -1)",
                action);
    s.bind(1, table).bind(2, kind).bind(3, name).bind(4, property);
    s.step();
}

void Properties::forget(sqlite3* db, const std::string& table, std::string_view kind,
                        const std::string& name) {
    if (!tableExists(db))
        return;
    std::string sql =
        std::string("DELETE FROM ") + ident(MetaTable) + " WHERE " + sameNameAs("TableName", 1);
    if (!kind.empty())
        sql += " AND ObjectKind=?2 AND " + sameNameAs("ObjectName", 3);
    Statement s(db, sql, "удаление свойств объекта " + quoted(name.empty() ? table : name));
    s.bind(1, table);
    if (!kind.empty())
        s.bind(2, kind).bind(3, name);
    s.step();
}

std::string Properties::key(std::string_view kind, std::string_view name,
                            std::string_view property) {
    return automation::foldCase(kind) + "/" + automation::foldCase(name) + "/" +
           automation::foldCase(property);
}

} // namespace engine
