#include "engine/sqlite/SqliteStatement.h"

#include "engine/EngineErrors.h"

#include <cstring>

namespace engine {

namespace {

using automation::Variant;

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

} // namespace

Statement::Statement(sqlite3* db, std::string_view sql, const std::string& action)
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

Statement& Statement::bind(const std::vector<Variant>& params) {
    if (static_cast<int>(params.size()) != sqlite3_bind_parameter_count(stmt_))
        raise(errors::TooFewParameters, "Число параметров (" + std::to_string(params.size()) +
                                            ") не совпадает с ожидаемым (" +
                                            std::to_string(sqlite3_bind_parameter_count(stmt_)) +
                                            "); " + action_ + ".");
    for (std::size_t i = 0; i < params.size(); ++i)
        bindOne(static_cast<int>(i) + 1, params[i]);
    return *this;
}

Statement& Statement::bind(int index, std::string_view text) {
    sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
    return *this;
}

bool Statement::step() {
    int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    raiseSqlite(db_, rc, action_);
}

std::string Statement::text(int column) const {
    const unsigned char* p = sqlite3_column_text(stmt_, column);
    return p ? std::string(reinterpret_cast<const char*>(p),
                           static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
             : std::string();
}

void Statement::bindOne(int index, const Variant& v) {
    int rc = SQLITE_OK;
    switch (v.kind()) {
    case Variant::Kind::Empty:
    case Variant::Kind::Null:
        rc = sqlite3_bind_null(stmt_, index);
        break;
    case Variant::Kind::Text: {
        std::string t = v.toText();
        rc =
            sqlite3_bind_text(stmt_, index, t.data(), static_cast<int>(t.size()), SQLITE_TRANSIENT);
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
    case Variant::Kind::Bytes: {
        const auto& bytes = v.toBytes();
        rc = sqlite3_bind_blob(stmt_, index, bytes.data(), static_cast<int>(bytes.size()),
                               SQLITE_TRANSIENT);
        break;
    }
    case Variant::Kind::Object:
        raise(errors::TypeMismatch,
              "Несоответствие типа: объект нельзя передать как значение параметра " +
                  std::to_string(index) + "; " + action_ + ".");
    }
    if (rc != SQLITE_OK)
        raiseSqlite(db_, rc, action_);
}

void exec(sqlite3* db, std::string_view sql, const std::string& action) {
    Statement s(db, sql, action);
    while (s.step()) {
    }
}

void execQuietly(sqlite3* db, const char* sql) {
    sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

std::string ident(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"')
            out += '"';
    }
    return out + "\"";
}

} // namespace engine
