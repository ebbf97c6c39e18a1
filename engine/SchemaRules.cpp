#include "engine/SchemaRules.h"

#include "automation/CaseFold.h"
#include "automation/Dispatcher.h"
#include "engine/EngineErrors.h"

namespace engine {

bool isSystemName(std::string_view name) {
    const std::string folded = automation::foldCase(name);
    return folded.starts_with("sqlite_") || folded.starts_with("msys");
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

void validateNewTable(const TableSchema& table) {
    validateName(table.name, "таблицы");
    if (isSystemName(table.name))
        raise(errors::InvalidName,
              "Имя " + quoted(table.name) + " зарезервировано для системных таблиц.");
    if (table.columns.empty())
        raise(errors::NoFields,
              "Не определены поля: невозможно добавить таблицу " + quoted(table.name) + ".");
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        validateColumn(table.columns[i]);
        for (std::size_t j = 0; j < i; ++j)
            if (automation::sameName(table.columns[i].name, table.columns[j].name))
                raise(errors::FieldDefinedTwice,
                      "Поле " + quoted(table.columns[i].name) + " определено более одного раза.");
    }
}

const ColumnDef* findColumn(const TableSchema& t, std::string_view name) {
    for (const ColumnDef& c : t.columns)
        if (automation::sameName(c.name, name))
            return &c;
    return nullptr;
}

const IndexDef* findIndex(const TableSchema& t, std::string_view name) {
    for (const IndexDef& i : t.indexes)
        if (automation::sameName(i.name, name))
            return &i;
    return nullptr;
}

std::vector<std::string> validateIndex(const TableSchema& t, const IndexDef& index) {
    validateName(index.name, "индекса");
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
    return keys;
}

} // namespace engine
