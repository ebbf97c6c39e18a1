#include "engine/Index.h"

#include "automation/Error.h"
#include "engine/Collection.h"
#include "engine/EngineErrors.h"
#include "engine/Field.h"

#include <algorithm>

namespace engine {

using automation::Variant;

Index::Index(std::shared_ptr<ErrorLog> log, IndexDef def, bool appended)
    : EngineObject("DAO.Index", std::move(log)), def_(std::move(def)), appended_(appended) {
    property(
        "Name", [this] { return Variant(def_.name); },
        [this](std::span<const Variant>, const Variant& v) {
            requireNew("Name");
            def_.name = v.toText();
        });
    flag("Primary", &IndexDef::primary);
    flag("Unique", &IndexDef::unique);
    flag("Required", &IndexDef::required);
    flag("IgnoreNulls", &IndexDef::ignoreNulls);
    flag("Clustered", &IndexDef::clustered);
    method("Fields", 0, 1, [this](std::span<const Variant> args) {
        automation::ObjectRef list = fields();
        if (args.empty())
            return Variant(list);
        return Variant(std::static_pointer_cast<Collection>(list)->item(args[0]));
    });
    method("CreateField", 1, 3, [this](std::span<const Variant> args) {
        ColumnDef column;
        column.name = automation::argText(args, 0);
        return Variant(std::make_shared<Field>(errorLog(), column, false));
    });
}

void Index::flag(const char* name, bool IndexDef::*member) {
    property(
        name, [this, member] { return Variant(def_.*member); },
        [this, name, member](std::span<const Variant>, const Variant& v) {
            requireNew(name);
            def_.*member = v.toBool();
        });
}

void Index::requireNew(const char* property) const {
    if (appended_)
        raise(errors::InvalidOperation, "Свойство " + std::string(property) + " индекса " +
                                            quoted(def_.name) +
                                            " нельзя изменить после добавления индекса в "
                                            "семейство.");
}

automation::ObjectRef Index::fields() {
    auto self = std::static_pointer_cast<Index>(shared_from_this());
    Collection::Backend backend;
    backend.items = [self] {
        Collection::Items items;
        for (const std::string& name : self->def_.columns) {
            ColumnDef column;
            column.name = name;
            items.emplace_back(name, std::make_shared<Field>(self->errorLog(), column, true));
        }
        return items;
    };
    backend.append = [self](const Variant& value) {
        auto field = std::dynamic_pointer_cast<Field>(value.object());
        if (!field)
            raise(errors::TypeMismatch, "Несоответствие типа: в поля индекса можно добавить "
                                        "только объект Field.");
        self->requireNew("Fields");
        if (field->appended())
            raise(errors::AlreadyInCollection,
                  "Поле " + quoted(field->def().name) + " уже добавлено в семейство.");
        for (const std::string& name : self->def_.columns)
            if (automation::sameName(name, field->def().name))
                raise(errors::FieldDefinedTwice, "Поле " + quoted(name) + " указано в индексе " +
                                                     quoted(self->def_.name) +
                                                     " более одного раза.");
        self->def_.columns.push_back(field->def().name);
        field->markAppended();
    };
    backend.remove = [self](const std::string& name) {
        self->requireNew("Fields");
        auto& columns = self->def_.columns;
        auto it = std::find_if(columns.begin(), columns.end(),
                               [&](const std::string& c) { return automation::sameName(c, name); });
        if (it == columns.end())
            raise(errors::ItemNotFound, "Поле " + quoted(name) + " не найдено в индексе " +
                                            quoted(self->def_.name) + ".");
        columns.erase(it);
    };
    return std::make_shared<Collection>("DAO.Fields", errorLog(), std::move(backend));
}

} // namespace engine
