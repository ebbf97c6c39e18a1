#include "engine/Recordset.h"

#include "engine/Collection.h"
#include "engine/EngineErrors.h"
#include "engine/Field.h"

#include <optional>

namespace engine {

using automation::Variant;

Recordset::Recordset(std::shared_ptr<Session> session, std::shared_ptr<ErrorLog> log,
                     ResultSet rows)
    : EngineObject("DAO.Recordset", std::move(log)), session_(std::move(session)),
      rows_(std::move(rows)) {
    property("RecordCount", [this] {
        requireOpen();
        return Variant(static_cast<std::int32_t>(rows_.rows.size()));
    });
    property("EOF", [this] {
        requireOpen();
        return Variant(position_ >= rows_.rows.size());
    });
    property("BOF", [this] {
        requireOpen();
        return Variant(rows_.rows.empty());
    });
    method("MoveFirst", 0, 0, [this](std::span<const Variant>) {
        requireRows();
        position_ = 0;
        return Variant();
    });
    method("MoveLast", 0, 0, [this](std::span<const Variant>) {
        requireRows();
        position_ = rows_.rows.size() - 1;
        return Variant();
    });
    method("MoveNext", 0, 0, [this](std::span<const Variant>) {
        requireOpen();
        if (position_ >= rows_.rows.size())
            raise(errors::NoCurrentRecord, "Нет текущей записи: достигнут конец набора записей.");
        ++position_;
        return Variant();
    });
    method("Fields", 0, 1, [this](std::span<const Variant> args) {
        requireOpen();
        automation::ObjectRef list = fields();
        if (args.empty())
            return Variant(list);
        return Variant(std::static_pointer_cast<Collection>(list)->item(args[0]));
    });
    method("Close", 0, 0, [this](std::span<const Variant>) {
        requireOpen();
        closed_ = true;
        rows_ = {};
        return Variant();
    });
}

void Recordset::requireOpen() const {
    if (closed_)
        raise(errors::ObjectInvalid,
              "Объект недопустим или больше не установлен: набор записей закрыт.");
    session_->store(); // raises once the database is closed
}

void Recordset::requireRows() const {
    requireOpen();
    if (rows_.rows.empty())
        raise(errors::NoCurrentRecord, "Нет текущей записи: набор записей пуст.");
}

Variant Recordset::value(std::size_t column) const {
    requireOpen();
    if (position_ >= rows_.rows.size())
        raise(errors::NoCurrentRecord, "Нет текущей записи.");
    return rows_.rows[position_].at(column);
}

automation::ObjectRef Recordset::fields() {
    auto self = std::static_pointer_cast<Recordset>(shared_from_this());
    Collection::Backend backend;
    // A recordset's columns never change, so each list makes its Field objects once, on first
    // use, rather than at every Item call.
    auto made = std::make_shared<std::optional<Collection::Items>>();
    backend.items = [self, made] {
        if (!*made) {
            Collection::Items items;
            for (std::size_t i = 0; i < self->rows_.columns.size(); ++i) {
                ColumnDef def;
                def.name = self->rows_.columns[i];
                def.type = i < self->rows_.types.size() ? self->rows_.types[i] : FieldType::Memo;
                def.size = defaultSize(def.type);
                items.emplace_back(def.name,
                                   std::make_shared<Field>(self->errorLog(), def, self, i));
            }
            *made = std::move(items);
        }
        return **made;
    };
    return std::make_shared<Collection>("DAO.Fields", errorLog(), std::move(backend));
}

} // namespace engine
