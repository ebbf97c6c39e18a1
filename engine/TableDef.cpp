#include "engine/TableDef.h"

#include "automation/Error.h"
#include "engine/Collection.h"
#include "engine/EngineErrors.h"
#include "engine/Field.h"
#include "engine/Index.h"

#include <algorithm>

namespace engine {

using automation::ObjectRef;
using automation::Variant;

namespace {

template <class T> std::shared_ptr<T> objectOf(const Variant& value, const char* kind) {
    auto object = std::dynamic_pointer_cast<T>(value.object());
    if (!object)
        raise(errors::TypeMismatch,
              std::string("Несоответствие типа: сюда можно добавить только объект ") + kind + ".");
    return object;
}

template <class T>
void removeByName(std::vector<std::shared_ptr<T>>& items, const std::string& name,
                  const std::string& table) {
    auto it = std::find_if(items.begin(), items.end(), [&](const std::shared_ptr<T>& item) {
        return automation::sameName(item->def().name, name);
    });
    if (it == items.end())
        raise(errors::ItemNotFound,
              "Элемент " + quoted(name) + " не найден в описании таблицы " + quoted(table) + ".");
    items.erase(it);
}

} // namespace

TableDef::TableDef(std::shared_ptr<Session> session, std::shared_ptr<ErrorLog> log,
                   std::string name, bool appended)
    : EngineObject("DAO.TableDef", std::move(log)), session_(std::move(session)),
      name_(std::move(name)), appended_(appended) {
    property(
        "Name", [this] { return Variant(name_); },
        [this](std::span<const Variant>, const Variant& v) {
            if (appended_)
                raise(errors::InvalidOperation,
                      "Имя таблицы " + quoted(name_) + " нельзя изменить через это свойство.");
            name_ = v.toText();
        });
    method("Fields", 0, 1, [this](std::span<const Variant> args) {
        ObjectRef list = fields();
        if (args.empty())
            return Variant(list);
        return Variant(std::static_pointer_cast<Collection>(list)->item(args[0]));
    });
    method("Indexes", 0, 1, [this](std::span<const Variant> args) {
        ObjectRef list = indexes();
        if (args.empty())
            return Variant(list);
        return Variant(std::static_pointer_cast<Collection>(list)->item(args[0]));
    });
    method("CreateField", 0, 3, [this](std::span<const Variant> args) {
        session_->store();
        ColumnDef column;
        if (args.size() > 0)
            column.name = automation::argText(args, 0);
        if (args.size() > 1) {
            int code = automation::argInt(args, 1);
            if (!isFieldType(code))
                raise(errors::InvalidFieldType, "Недопустимый тип данных поля " +
                                                    quoted(column.name) + ": " +
                                                    std::to_string(code) + ".");
            column.type = static_cast<FieldType>(code);
        }
        if (args.size() > 2) {
            int size = automation::argInt(args, 2);
            if (column.type == FieldType::Text && (size < 1 || size > 255))
                raise(errors::InvalidFieldType,
                      "Недопустимый размер текстового поля " + quoted(column.name) + ": " +
                          std::to_string(size) + " (допускается от 1 до 255).");
            if (column.type == FieldType::Text)
                column.size = size;
        }
        return Variant(std::make_shared<Field>(errorLog(), column, false));
    });
    method("CreateIndex", 0, 1, [this](std::span<const Variant> args) {
        session_->store();
        IndexDef index;
        if (!args.empty())
            index.name = automation::argText(args, 0);
        return Variant(std::make_shared<Index>(errorLog(), index, false));
    });
    property("RecordCount", [this] {
        if (!appended_)
            return Variant(std::int32_t{0});
        TableSchema t = existing();
        return Variant(static_cast<std::int32_t>(session_->store().rowCount(t.name)));
    });
}

TableSchema TableDef::existing() const {
    std::optional<TableSchema> t = session_->store().table(name_);
    if (!t)
        raise(errors::ItemNotFound, "Таблица " + quoted(name_) + " не найдена в базе данных.");
    return *t;
}

void TableDef::create() {
    if (appended_)
        raise(errors::AlreadyInCollection,
              "Таблица " + quoted(name_) + " уже добавлена в семейство.");
    TableSchema schema;
    schema.name = name_;
    for (const auto& field : newFields_)
        schema.columns.push_back(field->def());
    for (const auto& index : newIndexes_)
        schema.indexes.push_back(index->def());
    session_->store().createTable(schema);
    appended_ = true;
    for (const auto& index : newIndexes_)
        index->markAppended();
    newFields_.clear();
    newIndexes_.clear();
}

ObjectRef TableDef::fields() {
    auto self = std::static_pointer_cast<TableDef>(shared_from_this());
    Collection::Backend backend;
    backend.items = [self] {
        Collection::Items items;
        if (!self->appended_) {
            for (const auto& field : self->newFields_)
                items.emplace_back(field->def().name, field);
            return items;
        }
        for (const ColumnDef& c : self->existing().columns)
            items.emplace_back(c.name, std::make_shared<Field>(self->errorLog(), c, true));
        return items;
    };
    backend.append = [self](const Variant& value) {
        auto field = objectOf<Field>(value, "Field");
        if (field->appended())
            raise(errors::AlreadyInCollection,
                  "Поле " + quoted(field->def().name) + " уже добавлено в семейство.");
        if (self->appended_) {
            self->session_->store().addColumn(self->name_, field->def());
        } else {
            for (const auto& other : self->newFields_)
                if (automation::sameName(other->def().name, field->def().name))
                    raise(errors::FieldDefinedTwice,
                          "Поле " + quoted(field->def().name) + " определено более одного раза.");
            self->newFields_.push_back(field);
        }
        field->markAppended();
    };
    backend.remove = [self](const std::string& name) {
        if (self->appended_)
            self->session_->store().dropColumn(self->name_, name);
        else
            removeByName(self->newFields_, name, self->name_);
    };
    return std::make_shared<Collection>("DAO.Fields", errorLog(), std::move(backend));
}

ObjectRef TableDef::indexes() {
    auto self = std::static_pointer_cast<TableDef>(shared_from_this());
    Collection::Backend backend;
    backend.items = [self] {
        Collection::Items items;
        if (!self->appended_) {
            for (const auto& index : self->newIndexes_)
                items.emplace_back(index->def().name, index);
            return items;
        }
        for (const IndexDef& i : self->existing().indexes)
            items.emplace_back(i.name, std::make_shared<Index>(self->errorLog(), i, true));
        return items;
    };
    backend.append = [self](const Variant& value) {
        auto index = objectOf<Index>(value, "Index");
        if (index->appended())
            raise(errors::AlreadyInCollection,
                  "Индекс " + quoted(index->def().name) + " уже добавлен в семейство.");
        if (self->appended_) {
            self->session_->store().createIndex(self->name_, index->def());
        } else {
            for (const auto& other : self->newIndexes_)
                if (automation::sameName(other->def().name, index->def().name))
                    raise(errors::IndexExists,
                          "Индекс " + quoted(index->def().name) + " уже существует.");
            self->newIndexes_.push_back(index);
        }
        index->markAppended();
    };
    backend.remove = [self](const std::string& name) {
        if (self->appended_)
            self->session_->store().dropIndex(self->name_, name);
        else
            removeByName(self->newIndexes_, name, self->name_);
    };
    return std::make_shared<Collection>("DAO.Indexes", errorLog(), std::move(backend));
}

ObjectRef makeTableDefs(const std::shared_ptr<Session>& session,
                        const std::shared_ptr<ErrorLog>& log) {
    Collection::Backend backend;
    backend.items = [session, log] {
        Collection::Items items;
        for (const std::string& name : session->store().tableNames())
            items.emplace_back(name, std::make_shared<TableDef>(session, log, name, true));
        return items;
    };
    backend.append = [session](const Variant& value) {
        session->store();
        objectOf<TableDef>(value, "TableDef")->create();
    };
    backend.remove = [session](const std::string& name) { session->store().dropTable(name); };
    return std::make_shared<Collection>("DAO.TableDefs", log, std::move(backend));
}

} // namespace engine
