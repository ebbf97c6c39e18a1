#include "engine/Store.h"

#include "automation/Error.h"
#include "engine/EngineErrors.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {

namespace {

using automation::Variant;

// The engine's own table for what SQLite cannot hold. The "MSys" prefix keeps it out of every
// table list, as the original engine's system tables were.
constexpr const char* MetaTable = "MSysEngineProperties";
constexpr int BusyTimeoutMs = 2000;

char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = lower(c);
    return out;
}

// An SQL identifier in double quotes, inner quotes doubled, so any name is taken literally.
std::string ident(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

// The part of an SQLite message after "prefix", e.g. the "t.c" of "UNIQUE constraint failed: t.c".
std::string after(const std::string& message, std::string_view prefix) {
    std::size_t at = message.find(prefix);
    return at == std::string::npos ? message : message.substr(at + prefix.size());
}

// Turns an SQLite failure into the engine's error; `action` names what was being done and to
// which object ("создание индекса «I»").
[[noreturn]] void raiseSqlite(sqlite3* db, int rc, const std::string& action) {
    int extended = db ? sqlite3_extended_errcode(db) : rc;
    std::string message = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    switch (extended) {
    case SQLITE_CONSTRAINT_UNIQUE:
    case SQLITE_CONSTRAINT_PRIMARYKEY:
        raise(errors::DuplicateValues,
              "Изменения не были внесены: они привели бы к повторяющимся значениям в индексе "
              "или ключевом поле (" +
                  after(message, "failed: ") + "); " + action + ".");
    case SQLITE_CONSTRAINT_NOTNULL:
        raise(errors::NullNotAllowed, "Поле " + quoted(after(message, "failed: ")) +
                                          " не может содержать значение Null, так как его "
                                          "свойство Required имеет значение True; " +
                                          action + ".");
    default:
        break;
    }
    switch (rc & 0xff) {
    case SQLITE_READONLY:
        raise(errors::ReadOnly,
              "Невозможно обновить: база данных доступна только для чтения; " + action + ".");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        raise(errors::Locked,
              "Невозможно обновить: база данных заблокирована другим пользователем или "
              "процессом; " +
                  action + ".");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        raise(errors::UnrecognizedFormat,
              "Нераспознанный формат базы данных или файл повреждён; " + action + ".");
    default:
        break;
    }
    if (message.rfind("no such table: ", 0) == 0)
        raise(errors::TableNotFound, "Не удается найти входную таблицу или запрос " +
                                         quoted(after(message, "no such table: ")) + "; " + action +
                                         ".");
    if (message.rfind("no such column: ", 0) == 0)
        raise(errors::TooFewParameters, "Неизвестное поле " +
                                            quoted(after(message, "no such column: ")) +
                                            " (слишком мало параметров); " + action + ".");
    raise(errors::Unexpected, "Ошибка SQLite (" + action + "): " + message);
}

// One prepared statement, finalised when it goes out of scope, so no statement outlives the
// store call that made it.
class Statement {
public:
    Statement(sqlite3* db, std::string_view sql, const std::string& action)
        : db_(db), action_(action) {
        const char* tail = nullptr;
        int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &stmt_, &tail);
        if (rc != SQLITE_OK)
            raiseSqlite(db, rc, action_);
        if (!stmt_)
            raise(errors::Unexpected, "Пустая инструкция SQL; " + action_ + ".");
        // A second statement would run outside the checks made for the first.
        for (const char* p = tail; p && p < sql.data() + sql.size(); ++p)
            if (!std::strchr(" \t\r\n;", *p))
                raise(errors::Unexpected,
                      "Допускается только одна инструкция SQL за вызов; " + action_ + ".");
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& bind(const std::vector<Variant>& params) {
        if (static_cast<int>(params.size()) != sqlite3_bind_parameter_count(stmt_))
            raise(errors::TooFewParameters,
                  "Число параметров (" + std::to_string(params.size()) +
                      ") не совпадает с ожидаемым (" +
                      std::to_string(sqlite3_bind_parameter_count(stmt_)) + "); " + action_ + ".");
        for (std::size_t i = 0; i < params.size(); ++i)
            bindOne(static_cast<int>(i) + 1, params[i]);
        return *this;
    }
    Statement& bind(int index, std::string_view text) {
        sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }

    // True while a row is available; raises the engine's error when SQLite fails.
    bool step() {
        int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        raiseSqlite(db_, rc, action_);
    }

    std::string text(int column) const {
        const unsigned char* p = sqlite3_column_text(stmt_, column);
        return p ? std::string(reinterpret_cast<const char*>(p),
                               static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }
    sqlite3_int64 integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    sqlite3_stmt* get() const { return stmt_; }

private:
    void bindOne(int index, const Variant& v) {
        int rc = SQLITE_OK;
        switch (v.kind()) {
        case Variant::Kind::Empty:
        case Variant::Kind::Null:
            rc = sqlite3_bind_null(stmt_, index);
            break;
        case Variant::Kind::Text: {
            std::string t = v.toText();
            rc = sqlite3_bind_text(stmt_, index, t.data(), static_cast<int>(t.size()),
                                   SQLITE_TRANSIENT);
            break;
        }
        case Variant::Kind::Int:
            rc = sqlite3_bind_int(stmt_, index, v.toInt());
            break;
        case Variant::Kind::Bool: // the engine's True is -1
            rc = sqlite3_bind_int(stmt_, index, v.toBool() ? -1 : 0);
            break;
        case Variant::Kind::Double:
            rc = sqlite3_bind_double(stmt_, index, v.toDouble());
            break;
        case Variant::Kind::Object:
            raise(errors::TypeMismatch,
                  "Несоответствие типа: объект нельзя передать как значение параметра " +
                      std::to_string(index) + "; " + action_ + ".");
        }
        if (rc != SQLITE_OK)
            raiseSqlite(db_, rc, action_);
    }

    sqlite3* db_;
    std::string action_;
    sqlite3_stmt* stmt_ = nullptr;
};

void exec(sqlite3* db, std::string_view sql, const std::string& action) {
    Statement s(db, sql, action);
    while (s.step()) {
    }
}

// Runs SQL whose failure cannot be reported (undoing after another failure, closing).
void execQuietly(sqlite3* db, const char* sql) {
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

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
    case FieldType::Text:
    case FieldType::Memo:
        break;
    }
    return Variant(s.text(column));
}

// What the engine keeps in its own table, for one user table: "kind/name/property" keys whose
// value is true.
class Properties {
public:
    static bool tableExists(sqlite3* db) {
        Statement s(db, "SELECT 1 FROM sqlite_master WHERE type='table' AND name=?1",
                    "чтение свойств");
        s.bind(1, MetaTable);
        return s.step();
    }

    static Properties read(sqlite3* db, const std::string& table) {
        Properties p;
        if (!tableExists(db))
            return p;
        Statement s(db,
                    std::string("SELECT ObjectKind, ObjectName, Property FROM ") +
                        ident(MetaTable) + " WHERE TableName=?1 COLLATE NOCASE AND Value<>0",
                    "чтение свойств таблицы " + quoted(table));
        s.bind(1, table);
        while (s.step())
            p.keys_.insert(key(s.text(0), s.text(1), s.text(2)));
        return p;
    }

    bool has(std::string_view kind, std::string_view name, std::string_view property) const {
        return keys_.count(key(kind, name, property)) > 0;
    }

    // Records `property` of an object; only true values are kept, so a database whose objects
    // need nothing beyond SQLite never gets the engine's table.
    static void set(sqlite3* db, const std::string& table, std::string_view kind,
                    const std::string& name, std::string_view property, bool value) {
        std::string action =
            "запись свойства " + std::string(property) + " объекта " + quoted(name);
        if (!value) {
            if (tableExists(db)) {
                Statement s(db,
                            std::string("DELETE FROM ") + ident(MetaTable) +
                                " WHERE TableName=?1 COLLATE NOCASE AND ObjectKind=?2 AND "
                                "ObjectName=?3 COLLATE NOCASE AND Property=?4",
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

    // Forgets everything about one object (`kind` and `name` given) or a whole table.
    static void forget(sqlite3* db, const std::string& table, std::string_view kind = {},
                       const std::string& name = {}) {
        if (!tableExists(db))
            return;
        std::string sql =
            std::string("DELETE FROM ") + ident(MetaTable) + " WHERE TableName=?1 COLLATE NOCASE";
        if (!kind.empty())
            sql += " AND ObjectKind=?2 AND ObjectName=?3 COLLATE NOCASE";
        Statement s(db, sql, "удаление свойств объекта " + quoted(name.empty() ? table : name));
        s.bind(1, table);
        if (!kind.empty())
            s.bind(2, kind).bind(3, name);
        s.step();
    }

private:
    static std::string key(std::string_view kind, std::string_view name,
                           std::string_view property) {
        return lowered(kind) + "/" + lowered(name) + "/" + lowered(property);
    }
    std::set<std::string> keys_;
};

constexpr std::string_view ColumnKind = "column";
constexpr std::string_view IndexKind = "index";

// The type and name of any schema object called `name` (tables and indexes share one space).
std::optional<std::pair<std::string, std::string>> findObject(sqlite3* db, std::string_view name) {
    Statement s(db, "SELECT type, name FROM sqlite_master WHERE name=?1 COLLATE NOCASE",
                "поиск объекта " + quoted(std::string(name)));
    s.bind(1, name);
    if (!s.step())
        return std::nullopt;
    return std::make_pair(s.text(0), s.text(1));
}

void validateName(const std::string& name, const std::string& what) {
    if (name.empty() || name.find_first_not_of(' ') == std::string::npos)
        raise(errors::InvalidName, "Недопустимое имя " + what + ": имя не может быть пустым.");
}

void validateColumn(const ColumnDef& c) {
    validateName(c.name, "поля");
    if (!isFieldType(static_cast<int>(c.type)))
        raise(errors::InvalidFieldType, "Недопустимый тип данных поля " + quoted(c.name) + ": " +
                                            std::to_string(static_cast<int>(c.type)) + ".");
    if (c.type == FieldType::Text && (c.size < 0 || c.size > 255))
        raise(errors::InvalidFieldType, "Недопустимый размер текстового поля " + quoted(c.name) +
                                            ": " + std::to_string(c.size) +
                                            " (допускается от 1 до 255).");
}

std::string columnSql(const ColumnDef& c) {
    return ident(c.name) + " " + canonicalTypeName(c.type, c.size) +
           (c.required ? " NOT NULL" : "");
}

const ColumnDef* findColumn(const TableSchema& t, std::string_view name) {
    for (const ColumnDef& c : t.columns)
        if (sameName(c.name, name))
            return &c;
    return nullptr;
}

const IndexDef* findIndex(const TableSchema& t, std::string_view name) {
    for (const IndexDef& i : t.indexes)
        if (sameName(i.name, name))
            return &i;
    return nullptr;
}

[[noreturn]] void tableNotFound(std::string_view table) {
    raise(errors::ItemNotFound,
          "Таблица " + quoted(std::string(table)) + " не найдена в этой базе данных.");
}

// Days from 1970-01-01 to a civil date (proleptic Gregorian), after H. Hinnant.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

constexpr long long OleEpoch = -25569; // 1899-12-30 in days from 1970-01-01

// SQLite's file layer takes no path longer than 512 bytes, while the system allows about 4096.
// A database deeper than that is reached as "/proc/self/fd/<open folder>/<name>": the kernel
// follows the open folder, so the file, its journal and its locks are the very ones that the
// long path names for every other program. SQLite would resolve that link back to the long
// path, so such names go through a file layer that differs from the default only in taking
// them as they are.
constexpr std::size_t LongestSqlitePath = 500;
constexpr const char* FolderPrefix = "/proc/self/fd/";

int folderFullPathname(sqlite3_vfs*, const char* path, int size, char* out) {
    sqlite3_vfs* standard = sqlite3_vfs_find(nullptr);
    if (std::strncmp(path, FolderPrefix, std::strlen(FolderPrefix)) != 0)
        return standard->xFullPathname(standard, path, size, out);
    if (std::strlen(path) >= static_cast<std::size_t>(size))
        return SQLITE_CANTOPEN;
    std::strcpy(out, path);
    return SQLITE_OK;
}

const char* folderVfs() {
    static sqlite3_vfs vfs;
    static const bool registered = [] {
        vfs = *sqlite3_vfs_find(nullptr);
        vfs.pNext = nullptr;
        vfs.zName = "patch16-folder";
        vfs.xFullPathname = folderFullPathname;
        return sqlite3_vfs_register(&vfs, 0) == SQLITE_OK;
    }();
    return registered ? vfs.zName : nullptr;
}

} // namespace

// ---- opening and closing ----

Store::Store(std::string path, sqlite3* db, bool readOnly)
    : path_(std::move(path)), db_(db), readOnly_(readOnly) {}

std::shared_ptr<Store> Store::open(const std::string& path) {
    return open(path, false);
}

std::shared_ptr<Store> Store::create(const std::string& path) {
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

std::shared_ptr<Store> Store::open(const std::string& path, bool forceReadOnly) {
    const std::string name = quoted(path);
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0) {
        if (path.empty() || errno == ENOENT || errno == ENOTDIR)
            raise(errors::FileNotFound, "Не удается найти файл " + name + ".");
        raise(errors::CannotOpenFile,
              "Не удается открыть файл " + name + ": " + std::strerror(errno) + ".");
    }
    // Only a file that starts like an SQLite database reaches SQLite: anything else is refused
    // before SQLite could take it for an empty database and write to it.
    if (!S_ISREG(info.st_mode))
        raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + name + ".");
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        raise(errors::CannotOpenFile,
              "Не удается открыть файл " + name + ": " + std::strerror(errno) + ".");
    char header[16] = {};
    ssize_t got = ::read(fd, header, sizeof header);
    ::close(fd);
    if (got != static_cast<ssize_t>(sizeof header) ||
        std::memcmp(header, "SQLite format 3", sizeof header) != 0)
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
    std::shared_ptr<Store> store(new Store(path, db, readOnly));
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

Store::~Store() {
    // A real ROLLBACK, not ROLLBACK TO: nothing of the open levels reaches the file.
    if (!sqlite3_get_autocommit(db_))
        execQuietly(db_, "ROLLBACK");
    sqlite3_close_v2(db_);
    if (folder_ >= 0)
        ::close(folder_);
}

// ---- levels ----

void Store::begin() {
    if (levels_ >= static_cast<unsigned>(MaxLevels))
        raise(errors::TooManyTransactions,
              "Невозможно начать транзакцию: слишком много вложенных транзакций (не более " +
                  std::to_string(MaxLevels) + ").");
    requireLiveTransaction("начало транзакции");
    if (levels_ == 0)
        exec(db_, "BEGIN", "начало транзакции");
    else
        exec(db_, "SAVEPOINT level" + std::to_string(levels_ + 1), "начало транзакции");
    ++levels_;
}

void Store::commit() {
    if (levels_ == 0)
        raise(errors::NoTransaction,
              "Попытка завершить транзакцию без предварительного начала транзакции.");
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

void Store::rollback() {
    if (levels_ == 0)
        raise(errors::NoTransaction,
              "Попытка отменить транзакцию без предварительного начала транзакции.");
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

void Store::requireWritable(const std::string& action) const {
    if (readOnly_)
        raise(errors::ReadOnly, "Невозможно обновить: база данных " + quoted(path_) +
                                    " открыта только для чтения; " + action + ".");
}

void Store::requireLiveTransaction(const std::string& action) const {
    // After a severe failure (an interrupt, a full disk, an I/O error) SQLite may abandon the
    // whole transaction by itself. Work done now would no longer belong to the open levels: it
    // would be committed at once, and the caller's later Rollback could not undo it.
    if (levels_ > 0 && sqlite3_get_autocommit(db_))
        raise(errors::Unexpected, "Транзакция была прервана, и все ее изменения отменены; " +
                                      action + " невозможно до отката транзакции (Rollback).");
}

void Store::atomically(const std::string& action, const std::function<void()>& body) {
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

std::vector<std::string> Store::tableNames() const {
    Statement s(db_,
                "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE "
                "'sqlite\\_%' ESCAPE '\\' AND name NOT LIKE 'MSys%' ORDER BY name COLLATE NOCASE",
                "чтение списка таблиц");
    std::vector<std::string> names;
    while (s.step())
        names.push_back(s.text(0));
    return names;
}

std::optional<TableSchema> Store::table(std::string_view name) const {
    if (startsWithNoCase(name, "sqlite_") || startsWithNoCase(name, "MSys"))
        return std::nullopt;
    auto found = findObject(db_, name);
    if (!found || found->first != "table")
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
            if (sameName(declared, "INTEGER"))
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

void Store::createTable(const TableSchema& table) {
    const std::string action = "создание таблицы " + quoted(table.name);
    requireWritable(action);
    validateName(table.name, "таблицы");
    if (startsWithNoCase(table.name, "MSys") || startsWithNoCase(table.name, "sqlite_"))
        raise(errors::InvalidName,
              "Имя " + quoted(table.name) + " зарезервировано для системных таблиц.");
    if (auto existing = findObject(db_, table.name))
        raise(errors::TableExists, "Таблица " + quoted(existing->second) + " уже существует.");
    if (table.columns.empty())
        raise(errors::NoFields,
              "Не определены поля: невозможно добавить таблицу " + quoted(table.name) + ".");
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        validateColumn(table.columns[i]);
        for (std::size_t j = 0; j < i; ++j)
            if (sameName(table.columns[i].name, table.columns[j].name))
                raise(errors::FieldDefinedTwice,
                      "Поле " + quoted(table.columns[i].name) + " определено более одного раза.");
    }
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

void Store::dropTable(std::string_view name) {
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

void Store::addColumn(std::string_view tableName, const ColumnDef& column) {
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

void Store::dropColumn(std::string_view tableName, std::string_view columnName) {
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
            if (sameName(key, column->name))
                raise(errors::FieldInIndex, "Невозможно удалить поле " + quoted(column->name) +
                                                ": оно входит в индекс " + quoted(index.name) +
                                                " таблицы " + quoted(t->name) + ".");
    const std::string name = column->name;
    atomically(action, [&] {
        exec(db_, "ALTER TABLE " + ident(t->name) + " DROP COLUMN " + ident(name), action);
        Properties::forget(db_, t->name, ColumnKind, name);
    });
}

void Store::createIndex(std::string_view tableName, const IndexDef& index) {
    const std::string action = "создание индекса " + quoted(index.name);
    requireWritable(action);
    std::optional<TableSchema> t = table(tableName);
    if (!t)
        tableNotFound(tableName);
    atomically(action, [&] { addIndexTo(*t, index); });
}

void Store::addIndexTo(const TableSchema& t, const IndexDef& index) {
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
    if (index.columns.empty())
        raise(errors::NoFields,
              "Не определены поля: невозможно добавить индекс " + quoted(index.name) + ".");
    std::vector<std::string> keys;
    for (const std::string& wanted : index.columns) {
        const ColumnDef* c = findColumn(t, wanted);
        if (!c)
            raise(errors::ItemNotFound, "Поле " + quoted(wanted) + " индекса " +
                                            quoted(index.name) + " не найдено в таблице " +
                                            quoted(t.name) + ".");
        for (const std::string& k : keys)
            if (k == c->name)
                raise(errors::FieldDefinedTwice, "Поле " + quoted(c->name) + " указано в индексе " +
                                                     quoted(index.name) + " более одного раза.");
        keys.push_back(c->name);
    }
    if (index.primary)
        for (const IndexDef& other : t.indexes)
            if (other.primary)
                raise(errors::PrimaryKeyExists, "Таблица " + quoted(t.name) +
                                                    " уже имеет первичный ключ " +
                                                    quoted(other.name) + ".");
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

void Store::dropIndex(std::string_view tableName, std::string_view indexName) {
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

int Store::execute(const std::string& sql, const std::vector<Variant>& params) {
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

ResultSet Store::query(const std::string& sql, const std::vector<Variant>& params) const {
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

// ---- dates ----

std::string isoFromOleDate(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6)
        return {};
    double whole = std::trunc(days);
    long long seconds = std::llround(std::fabs(days - whole) * 86400.0);
    long long day = static_cast<long long>(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += days < 0 ? -1 : 1;
    }
    long long y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(day + OleEpoch, y, m, d);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return buf;
}

std::optional<double> oleDateFromIso(std::string_view text) {
    auto digits = [&](std::size_t at, std::size_t n, int& out) {
        if (at + n > text.size())
            return false;
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!digits(0, 4, y) || text.size() < 10 || text[4] != '-' || !digits(5, 2, mo) ||
        text[7] != '-' || !digits(8, 2, d))
        return std::nullopt;
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] || (mo == 2 && d == 29 && !leap))
        return std::nullopt;
    std::size_t at = 10;
    if (at < text.size()) {
        if ((text[at] != ' ' && text[at] != 'T') || !digits(at + 1, 2, h) ||
            at + 3 >= text.size() || text[at + 3] != ':' || !digits(at + 4, 2, mi))
            return std::nullopt;
        at += 6;
        if (at < text.size()) {
            if (text[at] != ':' || !digits(at + 1, 2, s))
                return std::nullopt;
            at += 3;
            // Fractions of a second, as other programs write them, are dropped.
            if (at < text.size() && text[at] == '.')
                for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9';)
                    ++at;
            if (at != text.size())
                return std::nullopt;
        }
        if (h > 23 || mi > 59 || s > 59)
            return std::nullopt;
    }
    double day = static_cast<double>(
        daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - OleEpoch);
    double fraction = (h * 3600 + mi * 60 + s) / 86400.0;
    // Before the epoch the time of day still counts forward, so it is subtracted there.
    return day >= 0 ? day + fraction : day - fraction;
}

} // namespace engine
