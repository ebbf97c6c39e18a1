#include "engine/Field.h"

#include "engine/EngineErrors.h"
#include "engine/Recordset.h"

namespace engine {

using automation::Variant;

Field::Field(std::shared_ptr<ErrorLog> log, ColumnDef def, bool appended)
    : EngineObject("DAO.Field", std::move(log)), def_(std::move(def)), appended_(appended) {
    addMembers();
}

Field::Field(std::shared_ptr<ErrorLog> log, ColumnDef def, std::shared_ptr<Recordset> recordset,
             std::size_t column)
    : EngineObject("DAO.Field", std::move(log)), def_(std::move(def)), appended_(true),
      recordset_(std::move(recordset)), column_(column) {
    addMembers();
}

void Field::requireNew(const char* property) const {
    if (appended_)
        raise(errors::InvalidOperation, "Свойство " + std::string(property) + " поля " +
                                            quoted(def_.name) +
                                            " нельзя изменить после добавления поля в семейство.");
}

void Field::addMembers() {
    property(
        "Name", [this] { return Variant(def_.name); },
        [this](std::span<const Variant>, const Variant& v) {
            requireNew("Name");
            def_.name = v.toText();
        });
    property(
        "Type", [this] { return Variant(static_cast<std::int32_t>(def_.type)); },
        [this](std::span<const Variant>, const Variant& v) {
            requireNew("Type");
            int code = v.toInt();
            if (!isFieldType(code))
                raise(errors::InvalidFieldType, "Недопустимый тип данных поля " +
                                                    quoted(def_.name) + ": " +
                                                    std::to_string(code) + ".");
            def_.type = static_cast<FieldType>(code);
        });
    property(
        "Size",
        [this] {
            return Variant(static_cast<std::int32_t>(def_.type == FieldType::Text && def_.size > 0
                                                         ? def_.size
                                                         : defaultSize(def_.type)));
        },
        [this](std::span<const Variant>, const Variant& v) {
            requireNew("Size");
            int size = v.toInt();
            if (def_.type == FieldType::Text && (size < 1 || size > 255))
                raise(errors::InvalidFieldType,
                      "Недопустимый размер текстового поля " + quoted(def_.name) + ": " +
                          std::to_string(size) + " (допускается от 1 до 255).");
            // Only text fields have a size of their choosing; the others keep their width.
            if (def_.type == FieldType::Text)
                def_.size = size;
        });
    property(
        "Required", [this] { return Variant(def_.required); },
        [this](std::span<const Variant>, const Variant& v) {
            requireNew("Required");
            def_.required = v.toBool();
        });
    property(
        "AllowZeroLength", [this] { return Variant(def_.allowZeroLength); },
        [this](std::span<const Variant>, const Variant& v) {
            requireNew("AllowZeroLength");
            def_.allowZeroLength = v.toBool();
        });
    property("Value", [this] {
        if (!recordset_)
            raise(errors::InvalidOperation, "Недопустимая операция: у поля " + quoted(def_.name) +
                                                " нет значения вне набора записей.");
        return recordset_->value(column_);
    });
}

} // namespace engine
