#include "engine/jet4/store/Jet4Store.h"

#include "automation/Dispatcher.h"
#include "engine/EngineErrors.h"
#include "engine/jet4/FormatError.h"
#include "engine/jet4/Properties.h"
#include "engine/jet4/TableDefinition.h"
#include "engine/jet4/TableScan.h"
#include "engine/jet4/Text.h"
#include "engine/sql/JetErrors.h"
#include "engine/sql/Select.h"

#include <algorithm>
#include <cstring>
#include <system_error>

namespace engine {

using automation::Variant;
using jet4::ColumnType;

namespace {

// Runs `body`, turning the reader's faults into the engine's errors for the file at `path`.
template <typename Body> auto guarded(const std::string& path, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const jet4::FormatError& e) {
        raise(errors::DamagedFile, "База данных " + quoted(path) +
                                       " повреждена или не является базой данных Access (" +
                                       e.what() + ").");
    } catch (const std::system_error& e) {
        raise(errors::CannotOpenFile,
              "Не удается прочитать файл " + quoted(path) + ": " + e.code().message() + ".");
    }
}

FieldType fieldType(ColumnType type) {
    switch (type) {
    case ColumnType::Boolean:
        return FieldType::Boolean;
    case ColumnType::Byte:
        return FieldType::Byte;
    case ColumnType::Integer:
        return FieldType::Integer;
    case ColumnType::Long:
        return FieldType::Long;
    case ColumnType::Currency:
        return FieldType::Currency;
    case ColumnType::Single:
        return FieldType::Single;
    case ColumnType::Double:
        return FieldType::Double;
    case ColumnType::DateTime:
        return FieldType::Date;
    case ColumnType::Binary:
        return FieldType::Binary;
    case ColumnType::Text:
        return FieldType::Text;
    case ColumnType::Ole:
        return FieldType::LongBinary;
    case ColumnType::Memo:
        return FieldType::Memo;
    case ColumnType::Guid:
        return FieldType::Guid;
    case ColumnType::Numeric:
        return FieldType::Decimal;
    }
    return FieldType::LongBinary; // kinds of later versions, read as their raw bytes
}

// The size the object model shows: characters for text, bytes for binary, the value's width for
// the rest, 0 for long values.
int fieldSize(const jet4::ColumnDefinition& column) {
    const FieldType type = fieldType(column.type);
    if (type == FieldType::Text)
        return column.length / 2;
    if (type == FieldType::Binary)
        return column.length;
    return defaultSize(type);
}

// A stored value as the object model hands values out: numbers of every width as integers or
// doubles (currency in units, dates as days), text as UTF-8, a GUID as its braced text.
Variant toVariant(const jet4::Value& v) {
    switch (v.kind) {
    case jet4::Value::Kind::Null:
        return Variant::null();
    case jet4::Value::Kind::Boolean:
        return Variant(v.integer != 0);
    case jet4::Value::Kind::Integer:
        return Variant(static_cast<std::int32_t>(v.integer));
    case jet4::Value::Kind::Currency:
        return Variant(static_cast<double>(v.integer) / 10000.0);
    case jet4::Value::Kind::Single:
    case jet4::Value::Kind::Double:
    case jet4::Value::Kind::DateTime:
        return Variant(v.real);
    case jet4::Value::Kind::Text:
        return Variant(jet4::utf8FromUtf16(v.text));
    case jet4::Value::Kind::Guid:
        return Variant(jet4::guidText(v.bytes));
    case jet4::Value::Kind::Numeric:
        return Variant(std::strtod(jet4::numericText(v).c_str(), nullptr));
    case jet4::Value::Kind::Binary:
        return Variant::bytes(std::vector<std::uint8_t>(v.bytes.begin(), v.bytes.end()));
    }
    return Variant::null();
}

// The live columns in the order the object model lists them: by column number.
std::vector<const jet4::ColumnDefinition*> orderedColumns(const jet4::TableDefinition& t) {
    std::vector<const jet4::ColumnDefinition*> out;
    for (const auto& c : t.columns)
        out.push_back(&c);
    std::stable_sort(out.begin(), out.end(),
                     [](const auto* a, const auto* b) { return a->number < b->number; });
    return out;
}

} // namespace

Jet4Store::Jet4Store(std::string path, std::unique_ptr<jet4::PageFile> file)
    : path_(std::move(path)), file_(std::move(file)) {}

std::shared_ptr<Jet4Store> Jet4Store::open(const std::string& path) {
    return guarded(path, [&] {
        auto file = std::make_unique<jet4::PageFile>(path);
        std::shared_ptr<Jet4Store> store(new Jet4Store(path, std::move(file)));
        store->header_ = jet4::readHeader(*store->file_);
        // The tool gives no password, so a database that has one opens no further.
        if (store->header_.passwordSet)
            raise(errors::InvalidPassword, "Недопустимый пароль.");
        if (store->header_.databaseKey != 0)
            raise(errors::UnrecognizedFormat, "Нераспознанный формат базы данных " + quoted(path) +
                                                  ": шифрованные базы данных не поддерживаются.");
        store->catalog_ = jet4::readCatalog(*store->file_);
        return store;
    });
}

// ---- levels: nothing is ever changed, so they only count ----

void Jet4Store::begin() {
    if (levels_ >= MaxLevels)
        raiseTooManyLevels(MaxLevels);
    ++levels_;
}

void Jet4Store::commit() {
    if (levels_ == 0)
        raiseNothingToCommit();
    --levels_;
}

void Jet4Store::rollback() {
    if (levels_ == 0)
        raiseNothingToRollBack();
    --levels_;
}

// ---- schema ----

const jet4::CatalogEntry* Jet4Store::findTable(std::string_view name) const {
    for (const auto& entry : catalog_)
        if (entry.type == jet4::CatalogEntry::TableType && automation::sameName(entry.name, name))
            return &entry;
    return nullptr;
}

std::vector<std::string> Jet4Store::tableNames() const {
    std::vector<std::string> names;
    for (const auto& entry : catalog_)
        if (jet4::isUserTable(entry))
            names.push_back(entry.name);
    return names;
}

std::optional<TableSchema> Jet4Store::table(std::string_view name) const {
    const jet4::CatalogEntry* entry = findTable(name);
    if (!entry || !jet4::isUserTable(*entry))
        return std::nullopt;
    return guarded(path_, [&] {
        const jet4::TableDefinition t =
            jet4::readTableDefinition(*file_, static_cast<std::uint32_t>(entry->id & 0x00FFFFFF));
        const jet4::PropertyMaps properties =
            entry->lvProp ? jet4::readProperties(std::span<const std::uint8_t>(
                                reinterpret_cast<const std::uint8_t*>(entry->lvProp->data()),
                                entry->lvProp->size()))
                          : jet4::PropertyMaps{};
        auto columnProperties =
            [&](const std::string& column) -> const std::vector<jet4::Property>* {
            for (const auto& [owner, list] : properties.columns)
                if (automation::sameName(owner, column))
                    return &list;
            return nullptr;
        };
        TableSchema schema;
        schema.name = entry->name;
        for (const jet4::ColumnDefinition* c : orderedColumns(t)) {
            ColumnDef column;
            column.name = c->name;
            column.type = fieldType(c->type);
            column.size = fieldSize(*c);
            if (const auto* list = columnProperties(c->name)) {
                column.required = jet4::boolProperty(*list, "Required").value_or(false);
                column.allowZeroLength =
                    jet4::boolProperty(*list, "AllowZeroLength").value_or(false);
            }
            schema.columns.push_back(std::move(column));
        }
        auto columnName = [&](std::uint16_t number) {
            for (const auto& c : t.columns)
                if (c.number == number)
                    return c.name;
            throw jet4::FormatError(t.page, "an index names column " + std::to_string(number) +
                                                ", which the table does not have");
        };
        for (const auto& logical : t.logicalIndexes) {
            if (logical.physicalIndex >= t.physicalIndexes.size())
                throw jet4::FormatError(t.page, "index " + logical.name +
                                                    " names a physical index past the list");
            const auto& physical = t.physicalIndexes[logical.physicalIndex];
            IndexDef index;
            index.name = logical.name;
            for (const auto& key : physical.columns)
                index.columns.push_back(columnName(key.columnNumber));
            index.primary = logical.type == jet4::LogicalIndex::PrimaryKeyType;
            index.unique = (physical.flags & jet4::PhysicalIndex::UniqueFlag) != 0;
            index.ignoreNulls = (physical.flags & jet4::PhysicalIndex::IgnoreNullsFlag) != 0;
            index.required = (physical.flags & jet4::PhysicalIndex::RequiredFlag) != 0;
            schema.indexes.push_back(std::move(index));
        }
        return std::optional<TableSchema>(std::move(schema));
    });
}

void Jet4Store::refuseChange() const {
    raise(errors::NotSupported, "Изменение баз данных этого формата пока не поддерживается.");
}

void Jet4Store::createTable(const TableSchema&) {
    refuseChange();
}
void Jet4Store::dropTable(std::string_view) {
    refuseChange();
}
void Jet4Store::addColumn(std::string_view, const ColumnDef&) {
    refuseChange();
}
void Jet4Store::dropColumn(std::string_view, std::string_view) {
    refuseChange();
}
void Jet4Store::createIndex(std::string_view, const IndexDef&) {
    refuseChange();
}
void Jet4Store::dropIndex(std::string_view, std::string_view) {
    refuseChange();
}
int Jet4Store::execute(const DataStatement&) {
    refuseChange();
}

// ---- data ----

jet4::TableDefinition Jet4Store::definitionOf(std::string_view tableName) const {
    const jet4::CatalogEntry* entry = findTable(tableName);
    if (!entry)
        jet::raiseTableNotFound(tableName);
    return guarded(path_, [&] {
        return jet4::readTableDefinition(*file_,
                                         static_cast<std::uint32_t>(entry->id & 0x00FFFFFF));
    });
}

ResultSet Jet4Store::read(std::string_view tableName, const std::vector<std::string>& wanted,
                          const jet::Condition* where) const {
    const jet4::TableDefinition t = definitionOf(tableName);
    return guarded(path_, [&] {
        // Positions, in the reader's column order, of the columns asked for and of those the
        // condition reads; a name the table lacks is taken by the engine as a parameter.
        auto position = [&](const std::string& name) -> std::size_t {
            for (std::size_t i = 0; i < t.columns.size(); ++i)
                if (automation::sameName(t.columns[i].name, name))
                    return i;
            jet::raiseTooFewParameters();
        };
        ResultSet result;
        std::vector<std::size_t> selected;
        if (wanted.empty()) {
            for (const jet4::ColumnDefinition* c : orderedColumns(t))
                selected.push_back(static_cast<std::size_t>(c - t.columns.data()));
        } else {
            for (const auto& name : wanted)
                selected.push_back(position(name));
        }
        for (std::size_t i : selected) {
            result.columns.push_back(t.columns[i].name);
            result.types.push_back(fieldType(t.columns[i].type));
        }
        std::vector<std::pair<std::string, std::size_t>> conditionColumns;
        if (where)
            for (const auto& name : jet::conditionColumns(*where))
                conditionColumns.emplace_back(name, position(name));
        // Only the columns shown or tested are decoded (long values are read only then).
        std::vector<bool> decoded(t.columns.size(), false);
        for (std::size_t i : selected)
            decoded[i] = true;
        for (const auto& [name, i] : conditionColumns)
            decoded[i] = true;
        jet4::scanRows(
            *file_, t,
            [&](jet4::RowLocation, const std::vector<jet4::Value>& row) {
                if (where && !jet::matches(*where, [&](const std::string& name) {
                        for (const auto& [known, i] : conditionColumns)
                            if (known == name)
                                return toVariant(row.at(i));
                        return Variant::null();
                    }))
                    return true;
                std::vector<Variant> out;
                out.reserve(selected.size());
                for (std::size_t i : selected)
                    out.push_back(toVariant(row.at(i)));
                result.rows.push_back(std::move(out));
                return true;
            },
            decoded);
        return result;
    });
}

ResultSet Jet4Store::select(const DataStatement& statement) const {
    const jet::SelectQuery query = jet::parseSelect(statement.tokens, statement.sql);
    return read(query.table, query.columns, query.where.get());
}

ResultSet Jet4Store::readTable(std::string_view table) const {
    return read(table, {}, nullptr);
}

std::int64_t Jet4Store::rowCount(std::string_view tableName) const {
    const jet4::TableDefinition t = definitionOf(tableName);
    return guarded(path_, [&] {
        std::int64_t count = 0;
        // Counting decodes no value: every column is left out.
        jet4::scanRows(
            *file_, t,
            [&](jet4::RowLocation, const std::vector<jet4::Value>&) {
                ++count;
                return true;
            },
            std::vector<bool>(t.columns.size(), false));
        return count;
    });
}

} // namespace engine
