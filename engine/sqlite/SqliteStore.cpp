#include "engine/sqlite/SqliteStore.h"

#include "automation/CaseFold.h"
#include "automation/Dispatcher.h"
#include "automation/Error.h"
#include "engine/EngineErrors.h"
#include "engine/FileProbe.h"
#include "engine/OleDate.h"
#include "engine/SchemaRules.h"
#include "engine/sqlite/CaseRules.h"
#include "engine/sqlite/EngineProperties.h"
#include "engine/sqlite/LongPathVfs.h"
#include "engine/sqlite/SqliteStatement.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

using automation::Variant;

constexpr int BusyTimeoutMs = 2000;

Variant integerValue(sqlite3_int64 v) {
    if (v >= std::numeric_limits<std::int32_t>::min() &&
        v <= std::numeric_limits<std::int32_t>::max())
        return Variant(static_cast<std::int32_t>(v));
    return Variant(static_cast<double>(v));
}

// One column value as the engine hands it out: by the column's declared type when it has one,
// else by what SQLite stored.
Variant readValue(const Statement& s, int column, const std::optional<FieldType>& declared) {
    sqlite3_stmt* st = s.get();
    int storage = sqlite3_column_type(st, column);
    if (storage == SQLITE_NULL)
        return Variant::null();
    bool number = storage == SQLITE_INTEGER || storage == SQLITE_FLOAT;
    if (!declared) {
        if (storage == SQLITE_INTEGER)
            return integerValue(s.integer(column));
        if (storage == SQLITE_FLOAT)
            return Variant(sqlite3_column_double(st, column));
        return Variant(s.text(column));
    }
    switch (*declared) {
    case FieldType::Boolean:
        if (number)
            return Variant(sqlite3_column_double(st, column) != 0.0);
        break;
    case FieldType::Byte:
    case FieldType::Integer:
    case FieldType::Long:
        if (storage == SQLITE_INTEGER)
            return integerValue(s.integer(column));
        if (storage == SQLITE_FLOAT)
            return Variant(sqlite3_column_double(st, column));
        break;
    case FieldType::Currency:
    case FieldType::Single:
    case FieldType::Double:
        if (number)
            return Variant(sqlite3_column_double(st, column));
        break;
    case FieldType::Date:
        if (number)
            return Variant(sqlite3_column_double(st, column));
        if (std::optional<double> days = oleDateFromIso(s.text(column)))
            return Variant(*days);
        break;
    default: // text, and kinds only Access files hold
        break;
    }
    return Variant(s.text(column));
}

// The type and name of any schema object called `name` (tables and indexes share one space),
// matched by the engine's rule for case. A file made by another program may hold names that
// differ only in case: the one spelled exactly as asked comes first.
std::optional<std::pair<std::string, std::string>> findObject(sqlite3* db, std::string_view name) {
    Statement s(db,
                std::string("SELECT type, name FROM sqlite_master WHERE name=?1 COLLATE ") +
                    FoldCollation + " ORDER BY name=?1 DESC, rowid LIMIT 1",
                "поиск объекта " + quoted(std::string(name)));
    s.bind(1, name);
    if (!s.step())
        return std::nullopt;
    return std::make_pair(s.text(0), s.text(1));
}

std::string columnSql(const ColumnDef& c) {
    return ident(c.name) + " " + canonicalTypeName(c.type, c.size) +
           (c.required ? " NOT NULL" : "");
}

[[noreturn]] void tableNotFound(std::string_view table) {
    raise(errors::ItemNotFound,
          "Таблица " + quoted(std::string(table)) + " не найдена в этой базе данных.");
}

} // namespace

// ---- opening and closing ----

SqliteStore::SqliteStore(std::string path, sqlite3* db, bool readOnly)
    : path_(std::move(path)), db_(db), readOnly_(readOnly) {}

std::shared_ptr<SqliteStore> SqliteStore::create(const std::string& path) {
    const std::string name = quoted(path);
    struct stat info {};
    if (path.empty() || ::lstat(path.c_str(), &info) == 0)
        raise(errors::DatabaseExists, "База данных " + name + " уже существует.");
    // O_EXCL: never take over a file that appeared meanwhile.
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        raise(errors::CannotOpenFile,
              "Не удается создать файл " + name + ": " + std::strerror(errno) + ".");
    ::close(fd);
    sqlite3* db = nullptr;
    std::string sqlitePath = path.rfind("file:", 0) == 0 ? "./" + path : path;
    int rc = sqlite3_open_v2(sqlitePath.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    // SQLite writes the header of an empty database only with its first page: make and drop a
    // table so the new file is a complete database that open() recognises.
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "CREATE TABLE t(x); DROP TABLE t; VACUUM", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        ::unlink(path.c_str());
        raise(errors::CannotOpenFile, "Не удается создать файл " + name + ": " + message + ".");
    }
    sqlite3_close_v2(db);
    return open(path, false);
}

bool SqliteStore::recognizes(std::span<const unsigned char> header) {
    return startsLikeSqlite(header);
}

std::shared_ptr<SqliteStore> SqliteStore::open(const std::string& path, bool forceReadOnly) {
    const std::string name = quoted(path);
    // Only a file that starts like an SQLite database reaches SQLite: anything else is refused
    // before SQLite could take it for an empty database and write to it.
    if (!recognizes(probeDatabaseFile(path, 16)))
        raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + name + ".");

    // Writing needs the file and its folder (SQLite keeps its rollback journal beside the file).
    std::string folder = path.find('/') == std::string::npos
                             ? std::string(".")
                             : path.substr(0, std::max<std::size_t>(path.rfind('/'), 1));
    bool readOnly =
        forceReadOnly || ::access(path.c_str(), W_OK) != 0 || ::access(folder.c_str(), W_OK) != 0;

    sqlite3* db = nullptr;
    int flags = (readOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    // A path starting "file:" would otherwise be read as a URI where URIs are enabled.
    std::string sqlitePath = path.rfind("file:", 0) == 0 ? "./" + path : path;
    const char* vfs = nullptr;
    int folderFd = -1;
    if (sqlitePath.size() > LongestSqlitePath && sqlitePath.front() == '/' && (vfs = folderVfs())) {
        folderFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0)
            raise(errors::CannotOpenFile,
                  "Не удается открыть файл " + name + ": " + std::strerror(errno) + ".");
        sqlitePath = FolderPrefix + std::to_string(folderFd) + path.substr(path.rfind('/'));
    }
    int rc = sqlite3_open_v2(sqlitePath.c_str(), &db, flags, vfs);
    if (rc != SQLITE_OK) {
        std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
        sqlite3_close_v2(db);
        if (folderFd >= 0)
            ::close(folderFd);
        raise(errors::CannotOpenFile, "Не удается открыть файл " + name + ": " + message + ".");
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, BusyTimeoutMs);
    if (registerCaseRules(db) != SQLITE_OK) {
        sqlite3_close_v2(db);
        if (folderFd >= 0)
            ::close(folderFd);
        raise(errors::Unexpected, "Не удается открыть файл " + name + ": нехватка памяти.");
    }
    std::shared_ptr<SqliteStore> store(new SqliteStore(path, db, readOnly));
    store->folder_ = folderFd;
    // SQLite reads nothing until asked: read the schema now so a damaged file fails here.
    try {
        exec(db, "SELECT count(*) FROM sqlite_master", "открытие базы данных " + name);
    } catch (const automation::Error& e) {
        if (e.number() == errors::UnrecognizedFormat)
            raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + name + ".");
        throw;
    }
    return store;
}

SqliteStore::~SqliteStore() {
    // A real ROLLBACK, not ROLLBACK TO: nothing of the open levels reaches the file.
    if (!sqlite3_get_autocommit(db_))
        execQuietly(db_, "ROLLBACK");
    sqlite3_close_v2(db_);
    if (folder_ >= 0)
        ::close(folder_);
}

// ---- levels ----

void SqliteStore::begin() {
    if (levels_ >= static_cast<unsigned>(MaxLevels))
        raiseTooManyLevels(MaxLevels);
    requireLiveTransaction("начало транзакции");
    if (levels_ == 0)
        exec(db_, "BEGIN", "начало транзакции");
    else
        exec(db_, "SAVEPOINT level" + std::to_string(levels_ + 1), "начало транзакции");
    ++levels_;
}

void SqliteStore::commit() {
    if (levels_ == 0)
        raiseNothingToCommit();
    if (sqlite3_get_autocommit(db_)) {
        // SQLite itself abandoned the transaction after a severe failure: nothing to keep.
        --levels_;
        raise(errors::Unexpected, "Транзакция была отменена SQLite; изменения не сохранены.");
    }
    if (levels_ == 1)
        exec(db_, "COMMIT", "фиксация транзакции в " + quoted(path_));
    else
        exec(db_, "RELEASE level" + std::to_string(levels_), "фиксация транзакции");
    --levels_;
}

void SqliteStore::rollback() {
    if (levels_ == 0)
        raiseNothingToRollBack();
    if (sqlite3_get_autocommit(db_)) {
        --levels_;
        return;
    }
    if (levels_ == 1) {
        exec(db_, "ROLLBACK", "откат транзакции");
    } else {
        std::string name = "level" + std::to_string(levels_);
        exec(db_, "ROLLBACK TO " + name, "откат транзакции");
        exec(db_, "RELEASE " + name, "откат транзакции");
    }
    --levels_;
}

void SqliteStore::requireWritable(const std::string& action) const {
    if (readOnly_)
        raise(errors::ReadOnly, "Невозможно обновить: база данных " + quoted(path_) +
                                    " открыта только для чтения; " + action + ".");
}

void SqliteStore::requireLiveTransaction(const std::string& action) const {
    // After a severe failure (an interrupt, a full disk, an I/O error) SQLite may abandon the
    // whole transaction by itself. Work done now would no longer belong to the open levels: it
    // would be committed at once, and the caller's later Rollback could not undo it.
    if (levels_ > 0 && sqlite3_get_autocommit(db_))
        raise(errors::Unexpected, "Транзакция была прервана, и все ее изменения отменены; " +
                                      action + " невозможно до отката транзакции (Rollback).");
}

void SqliteStore::atomically(const std::string& action, const std::function<void()>& body) {
    requireLiveTransaction(action);
    bool own = levels_ == 0;
    if (own)
        exec(db_, readOnly_ ? "BEGIN" : "BEGIN IMMEDIATE", action);
    else
        exec(db_, "SAVEPOINT engine_call", action);
    try {
        body();
    } catch (...) {
        if (own) {
            execQuietly(db_, "ROLLBACK");
        } else if (!sqlite3_get_autocommit(db_)) {
            execQuietly(db_, "ROLLBACK TO engine_call");
            execQuietly(db_, "RELEASE engine_call");
        }
        throw;
    }
    if (own) {
        int rc = sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK) {
            int saved = sqlite3_extended_errcode(db_);
            std::string message = sqlite3_errmsg(db_);
            execQuietly(db_, "ROLLBACK");
            raise(saved == SQLITE_BUSY ? errors::Locked : errors::Unexpected,
                  "Не удалось сохранить изменения (" + action + "): " + message);
        }
    } else {
        exec(db_, "RELEASE engine_call", action);
    }
}

// ---- schema ----

std::vector<std::string> SqliteStore::tableNames() const {
    Statement s(db_,
                std::string("SELECT name FROM sqlite_master WHERE type='table' ORDER BY name "
                            "COLLATE ") +
                    FoldCollation,
                "чтение списка таблиц");
    std::vector<std::string> names;
    while (s.step())
        if (std::string name = s.text(0); !isSystemName(name))
            names.push_back(std::move(name));
    return names;
}

std::optional<TableSchema> SqliteStore::table(std::string_view name) const {
    if (isSystemName(name))
        return std::nullopt;
    auto found = findObject(db_, name);
    if (!found || found->first != "table" || isSystemName(found->second))
        return std::nullopt;
    TableSchema t;
    t.name = found->second;
    const std::string action = "чтение описания таблицы " + quoted(t.name);
    Properties props = Properties::read(db_, t.name);

    Statement columns(db_, "SELECT name, type, \"notnull\", pk FROM pragma_table_info(?1)", action);
    columns.bind(1, t.name);
    int keyColumns = 0;
    std::string rowidColumn;
    while (columns.step()) {
        ColumnDef c;
        c.name = columns.text(0);
        std::string declared = columns.text(1);
        DerivedType type = deriveType(declared);
        c.type = type.type;
        c.size = type.size;
        c.required = columns.integer(2) != 0 || props.has(ColumnKind, c.name, "Required");
        c.allowZeroLength = props.has(ColumnKind, c.name, "AllowZeroLength");
        if (columns.integer(3) > 0) {
            ++keyColumns;
            if (automation::sameName(declared, "INTEGER"))
                rowidColumn = c.name;
        }
        t.columns.push_back(c);
    }
    // An INTEGER PRIMARY KEY is the table's row id and has no index of its own in SQLite: show
    // it as the primary key it is.
    if (keyColumns == 1 && !rowidColumn.empty()) {
        IndexDef key;
        key.name = "PrimaryKey";
        key.columns = {rowidColumn};
        key.primary = key.unique = key.required = true;
        t.indexes.push_back(key);
    }

    Statement indexes(db_,
                      "SELECT il.name, il.\"unique\", il.origin FROM pragma_index_list(?1) il "
                      "LEFT JOIN sqlite_master m ON m.type='index' AND m.name=il.name "
                      "ORDER BY m.rowid",
                      action);
    indexes.bind(1, t.name);
    while (indexes.step()) {
        IndexDef index;
        index.name = indexes.text(0);
        index.primary = indexes.text(2) == "pk" || props.has(IndexKind, index.name, "Primary");
        index.unique = indexes.integer(1) != 0 || index.primary;
        index.required = props.has(IndexKind, index.name, "Required");
        index.ignoreNulls = props.has(IndexKind, index.name, "IgnoreNulls");
        index.clustered = props.has(IndexKind, index.name, "Clustered");
        Statement keys(db_, "SELECT name FROM pragma_index_info(?1) ORDER BY seqno", action);
        keys.bind(1, index.name);
        while (keys.step())
            index.columns.push_back(keys.text(0));
        t.indexes.push_back(index);
    }
    return t;
}

void SqliteStore::createTable(const TableSchema& table) {
    const std::string action = "создание таблицы " + quoted(table.name);
    requireWritable(action);
    validateNewTable(table);
    if (auto existing = findObject(db_, table.name))
        raise(errors::TableExists, "Таблица " + quoted(existing->second) + " уже существует.");
    atomically(action, [&] {
        std::string sql = "CREATE TABLE " + ident(table.name) + " (";
        for (std::size_t i = 0; i < table.columns.size(); ++i)
            sql += (i ? ", " : "") + columnSql(table.columns[i]);
        exec(db_, sql + ")", action);
        for (const ColumnDef& c : table.columns)
            if (c.allowZeroLength)
                Properties::set(db_, table.name, ColumnKind, c.name, "AllowZeroLength", true);
        for (const IndexDef& index : table.indexes)
            addIndexTo(*this->table(table.name), index);
    });
}

void SqliteStore::dropTable(std::string_view name) {
    const std::string action = "удаление таблицы " + quoted(std::string(name));
    requireWritable(action);
    std::optional<TableSchema> t = table(name);
    if (!t)
        tableNotFound(name);
    atomically(action, [&] {
        exec(db_, "DROP TABLE " + ident(t->name), action);
        Properties::forget(db_, t->name);
    });
}

void SqliteStore::addColumn(std::string_view tableName, const ColumnDef& column) {
    const std::string action =
        "добавление поля " + quoted(column.name) + " в таблицу " + quoted(std::string(tableName));
    requireWritable(action);
    validateColumn(column);
    std::optional<TableSchema> t = table(tableName);
    if (!t)
        tableNotFound(tableName);
    if (const ColumnDef* existing = findColumn(*t, column.name))
        raise(errors::FieldDefinedTwice, "Поле " + quoted(existing->name) +
                                             " определено более одного раза (таблица " +
                                             quoted(t->name) + ").");
    // SQLite cannot add a NOT NULL column without a default value to an existing table, so
    // Required is kept by the engine instead.
    ColumnDef declared = column;
    declared.required = false;
    atomically(action, [&] {
        exec(db_, "ALTER TABLE " + ident(t->name) + " ADD COLUMN " + columnSql(declared), action);
        if (column.required)
            Properties::set(db_, t->name, ColumnKind, column.name, "Required", true);
        if (column.allowZeroLength)
            Properties::set(db_, t->name, ColumnKind, column.name, "AllowZeroLength", true);
    });
}

void SqliteStore::dropColumn(std::string_view tableName, std::string_view columnName) {
    const std::string action = "удаление поля " + quoted(std::string(columnName)) + " из таблицы " +
                               quoted(std::string(tableName));
    requireWritable(action);
    std::optional<TableSchema> t = table(tableName);
    if (!t)
        tableNotFound(tableName);
    const ColumnDef* column = findColumn(*t, columnName);
    if (!column)
        raise(errors::ItemNotFound, "Поле " + quoted(std::string(columnName)) +
                                        " не найдено в таблице " + quoted(t->name) + ".");
    for (const IndexDef& index : t->indexes)
        for (const std::string& key : index.columns)
            if (automation::sameName(key, column->name))
                raise(errors::FieldInIndex, "Невозможно удалить поле " + quoted(column->name) +
                                                ": оно входит в индекс " + quoted(index.name) +
                                                " таблицы " + quoted(t->name) + ".");
    const std::string name = column->name;
    atomically(action, [&] {
        exec(db_, "ALTER TABLE " + ident(t->name) + " DROP COLUMN " + ident(name), action);
        Properties::forget(db_, t->name, ColumnKind, name);
    });
}

void SqliteStore::createIndex(std::string_view tableName, const IndexDef& index) {
    const std::string action = "создание индекса " + quoted(index.name);
    requireWritable(action);
    std::optional<TableSchema> t = table(tableName);
    if (!t)
        tableNotFound(tableName);
    atomically(action, [&] { addIndexTo(*t, index); });
}

void SqliteStore::addIndexTo(const TableSchema& t, const IndexDef& index) {
    const std::string action =
        "создание индекса " + quoted(index.name) + " таблицы " + quoted(t.name);
    validateName(index.name, "индекса");
    // SQLite keeps index names per database, so an index of another table clashes as well.
    if (auto existing = findObject(db_, index.name))
        raise(errors::IndexExists,
              "Индекс " + quoted(index.name) + " уже существует" +
                  (existing->first == "index"
                       ? std::string(".")
                       : " (это имя занято таблицей " + quoted(existing->second) + ")."));
    const std::vector<std::string> keys = validateIndex(t, index);
    if (index.primary || index.required) {
        std::string sql = "SELECT 1 FROM " + ident(t.name) + " WHERE ";
        for (std::size_t i = 0; i < keys.size(); ++i)
            sql += (i ? " OR " : "") + ident(keys[i]) + " IS NULL";
        Statement s(db_, sql + " LIMIT 1", action);
        if (s.step())
            raise(errors::NullInIndex, "Индекс или ключевое поле " + quoted(index.name) +
                                           " не может содержать значение Null (таблица " +
                                           quoted(t.name) + ").");
    }
    std::string sql = std::string("CREATE ") + (index.unique || index.primary ? "UNIQUE " : "") +
                      "INDEX " + ident(index.name) + " ON " + ident(t.name) + " (";
    for (std::size_t i = 0; i < keys.size(); ++i)
        sql += (i ? ", " : "") + ident(keys[i]);
    exec(db_, sql + ")", action);
    const std::pair<const char*, bool> flags[] = {{"Primary", index.primary},
                                                  {"Required", index.required},
                                                  {"IgnoreNulls", index.ignoreNulls},
                                                  {"Clustered", index.clustered}};
    for (const auto& [property, value] : flags)
        if (value)
            Properties::set(db_, t.name, IndexKind, index.name, property, true);
}

void SqliteStore::dropIndex(std::string_view tableName, std::string_view indexName) {
    const std::string action = "удаление индекса " + quoted(std::string(indexName));
    requireWritable(action);
    std::optional<TableSchema> t = table(tableName);
    if (!t)
        tableNotFound(tableName);
    const IndexDef* index = findIndex(*t, indexName);
    if (!index)
        raise(errors::ItemNotFound, "Индекс " + quoted(std::string(indexName)) +
                                        " не найден в таблице " + quoted(t->name) + ".");
    auto object = findObject(db_, index->name);
    if (!object || object->first != "index")
        raise(errors::InvalidOperation, "Ключ " + quoted(index->name) +
                                            " входит в определение таблицы " + quoted(t->name) +
                                            " и не может быть удален.");
    const std::string name = index->name;
    atomically(action, [&] {
        exec(db_, "DROP INDEX " + ident(name), action);
        Properties::forget(db_, t->name, IndexKind, name);
    });
}

// ---- data ----

int SqliteStore::execute(const std::string& sql, const std::vector<Variant>& params) {
    const std::string action = "выполнение инструкции SQL";
    int changed = 0;
    atomically(action, [&] {
        Statement s(db_, sql, action);
        s.bind(params);
        bool writes = !sqlite3_stmt_readonly(s.get());
        if (writes)
            requireWritable(action);
        sqlite3_int64 before = sqlite3_total_changes64(db_);
        while (s.step()) {
        }
        if (writes)
            changed = static_cast<int>(sqlite3_total_changes64(db_) - before);
    });
    return changed;
}

ResultSet SqliteStore::query(const std::string& sql, const std::vector<Variant>& params) const {
    const std::string action = "выполнение запроса";
    Statement s(db_, sql, action);
    s.bind(params);
    ResultSet result;
    const int count = sqlite3_column_count(s.get());
    std::vector<std::optional<FieldType>> declared(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const char* name = sqlite3_column_name(s.get(), i);
        result.columns.emplace_back(name ? name : "");
        const char* type = sqlite3_column_decltype(s.get(), i);
        if (type)
            declared[static_cast<std::size_t>(i)] = deriveType(type).type;
    }
    bool first = true;
    while (s.step()) {
        if (first) {
            // Expressions have no declared type: describe them by what the first row holds.
            for (int i = 0; i < count; ++i) {
                auto& d = declared[static_cast<std::size_t>(i)];
                int storage = sqlite3_column_type(s.get(), i);
                result.types.push_back(d                           ? *d
                                       : storage == SQLITE_INTEGER ? FieldType::Long
                                       : storage == SQLITE_FLOAT   ? FieldType::Double
                                                                   : FieldType::Memo);
            }
            first = false;
        }
        std::vector<Variant> row;
        row.reserve(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            row.push_back(readValue(s, i, declared[static_cast<std::size_t>(i)]));
        result.rows.push_back(std::move(row));
    }
    if (first)
        for (int i = 0; i < count; ++i)
            result.types.push_back(declared[static_cast<std::size_t>(i)].value_or(FieldType::Memo));
    return result;
}

} // namespace engine
