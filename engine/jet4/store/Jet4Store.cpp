#include "engine/jet4/store/Jet4Store.h"

#include "automation/Dispatcher.h"
#include "engine/EngineErrors.h"
#include "engine/OleDate.h"
#include "engine/SchemaRules.h"
#include "engine/jet4/file/AtomicFile.h"
#include "engine/jet4/file/FileLock.h"
#include "engine/jet4/file/FormatError.h"
#include "engine/jet4/file/SystemFiles.h"
#include "engine/jet4/format/Properties.h"
#include "engine/jet4/format/PropertiesEncoder.h"
#include "engine/jet4/format/Row.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/TableScan.h"
#include "engine/jet4/format/Text.h"
#include "engine/jet4/index/IndexTreeCheck.h"
#include "engine/jet4/write/CatalogWriter.h"
#include "engine/jet4/write/IndexBuilder.h"
#include "engine/jet4/write/NewDatabase.h"
#include "engine/jet4/write/RowWriter.h"
#include "engine/jet4/write/SchemaWriter.h"
#include "engine/sql/JetErrors.h"
#include "engine/sql/Select.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <set>
#include <stdexcept>
#include <system_error>

namespace engine {

using automation::Variant;
using jet4::ColumnType;

namespace {

// The original engine's numbers for refusals only a change meets.
constexpr long FieldTooSmall = 3163;
constexpr long FieldCannotBeUpdated = 3164;
constexpr long ZeroLengthNotAllowed = 3315;
constexpr long RecordTooLarge = 3047;

// 3049 for a fault the reader found in the file at `path`.
[[noreturn]] void raiseDamaged(const std::string& path, const jet4::FormatError& e) {
    raise(errors::DamagedFile, "База данных " + quoted(path) +
                                   " повреждена или не является базой данных Access (" + e.what() +
                                   ").");
}

// Runs `body`, turning the reader's faults into the engine's errors for the file at `path`.
template <typename Body> auto guarded(const std::string& path, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (const jet4::FormatError& e) {
        raiseDamaged(path, e);
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

// Runs `body`, a change of `table` in the file at `path`, turning the page file's, the row
// writer's and the index builder's faults into the engine's errors.
template <typename Body>
auto changing(const std::string& path, std::string_view table, Body&& body) -> decltype(body()) {
    const std::string name = quoted(std::string(table));
    try {
        return body();
    } catch (const jet4::InUseError&) {
        raise(errors::Locked, "Невозможно обновить: база данных " + quoted(path) +
                                  " заблокирована другим пользователем или процессом.");
    } catch (const jet4::FileChangedError&) {
        raise(errors::Locked, "Невозможно обновить: база данных " + quoted(path) +
                                  " заблокирована другим пользователем или процессом (файл "
                                  "изменён другой программой после открытия).");
    } catch (const jet4::IndexKeyError& e) {
        if (e.reason() == jet4::IndexKeyError::Reason::SortOrder)
            raise(errors::NotSupported,
                  "Невозможно изменить таблицу " + name + ": порядок сортировки " +
                      std::to_string(e.sortOrder()) + " поля " + quoted(e.column()) +
                      " не поддерживается в ключах индекса.");
        raise(errors::NotSupported, "Невозможно изменить таблицу " + name +
                                        ": ключ индекса по полю " + quoted(e.column()) +
                                        " не может быть записан (" + e.what() + ").");
    } catch (const jet4::DuplicateKeyError&) {
        raise(errors::DuplicateValues,
              "Изменения не были внесены: они привели бы к повторяющимся значениям в индексе "
              "или ключевом поле таблицы " +
                  name + ".");
    } catch (const jet4::FormatError& e) {
        raiseDamaged(path, e);
    } catch (const std::system_error& e) {
        raise(errors::CannotOpenFile,
              "Не удается записать файл " + quoted(path) + ": " + e.code().message() + ".");
    } catch (const std::length_error&) {
        raise(RecordTooLarge, "Запись таблицы " + name + " слишком велика.");
    } catch (const std::invalid_argument& e) {
        raise(FieldTooSmall,
              "Значение не помещается в поле таблицы " + name + " (" + e.what() + ").");
    }
}

// UTF-8 (checked by the lexer) as UTF-16.
std::u16string utf16(const std::string& text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
        char32_t code = extra == 0 ? c : extra == 1 ? c & 0x1F : extra == 2 ? c & 0x0F : c & 0x07;
        for (int k = 1; k <= extra && i + k < text.size(); ++k)
            code = (code << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += static_cast<std::size_t>(extra) + 1;
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

// The column properties a change must respect.
struct ColumnRules {
    bool required = false;
    bool allowZeroLength = false;
};

jet4::PropertyMaps propertiesOf(const jet4::CatalogEntry& entry) {
    return entry.lvProp ? jet4::readProperties(std::span<const std::uint8_t>(
                              reinterpret_cast<const std::uint8_t*>(entry.lvProp->data()),
                              entry.lvProp->size()))
                        : jet4::PropertyMaps{};
}

ColumnRules rulesOf(const jet4::PropertyMaps& properties, const std::string& column) {
    ColumnRules rules;
    for (const auto& [owner, list] : properties.columns)
        if (automation::sameName(owner, column)) {
            rules.required = jet4::boolProperty(list, "Required").value_or(false);
            rules.allowZeroLength = jet4::boolProperty(list, "AllowZeroLength").value_or(false);
        }
    return rules;
}

// The position in `t.columns` of the column called `name`; 3061 when there is none.
std::size_t columnIndex(const jet4::TableDefinition& t, const std::string& name) {
    for (std::size_t i = 0; i < t.columns.size(); ++i)
        if (automation::sameName(t.columns[i].name, name))
            return i;
    jet::raiseTooFewParameters();
}

[[noreturn]] void raiseMismatch(const jet4::ColumnDefinition& column) {
    raise(jet::errors::CriteriaTypeMismatch,
          "Несоответствие типов данных: значение не может быть записано в поле " +
              quoted(column.name) + ".");
}

// `v` as `column` stores it; 3314 for Null in a Required column, 3315 for "" where a zero-length
// text is not allowed, 3163 for text longer than the column, 3464 for a value of another kind or
// out of the column's range.
jet4::Value convert(const Variant& v, const jet4::ColumnDefinition& column, ColumnRules rules) {
    using K = Variant::Kind;
    jet4::Value out;
    if (v.isNull() || v.isEmpty()) {
        if (rules.required)
            raise(errors::NullNotAllowed, "Поле " + quoted(column.name) +
                                              " не может содержать значение Null, так как его "
                                              "свойство Required имеет значение True.");
        return out;
    }
    const bool numeric = v.kind() == K::Int || v.kind() == K::Double || v.kind() == K::Bool;
    auto number = [&]() -> double {
        if (numeric)
            return v.toDouble();
        if (v.kind() == K::Text) {
            const std::string text = v.toText();
            char* stop = nullptr;
            const double d = std::strtod(text.c_str(), &stop);
            if (!text.empty() && stop == text.c_str() + text.size())
                return d;
        }
        raiseMismatch(column);
    };
    auto whole = [&](double low, double high) {
        const double d = std::nearbyint(number());
        if (!(d >= low && d <= high))
            raiseMismatch(column);
        return static_cast<std::int64_t>(d);
    };
    switch (column.type) {
    case ColumnType::Text:
    case ColumnType::Memo: {
        if (!numeric && v.kind() != K::Text)
            raiseMismatch(column);
        out.kind = jet4::Value::Kind::Text;
        out.text = utf16(v.toText());
        if (column.type == ColumnType::Text && out.text.size() > column.length / 2u)
            raise(FieldTooSmall, "Поле " + quoted(column.name) +
                                     " слишком мало для принимаемого объема данных (не более " +
                                     std::to_string(column.length / 2) + " знаков).");
        if (out.text.empty() && !rules.allowZeroLength)
            raise(ZeroLengthNotAllowed,
                  "Поле " + quoted(column.name) + " не может быть строкой нулевой длины.");
        return out;
    }
    case ColumnType::Byte:
        out.kind = jet4::Value::Kind::Integer;
        out.integer = whole(0, 255);
        return out;
    case ColumnType::Integer:
        out.kind = jet4::Value::Kind::Integer;
        out.integer = whole(-32768, 32767);
        return out;
    case ColumnType::Long:
        out.kind = jet4::Value::Kind::Integer;
        out.integer = whole(-2147483648.0, 2147483647.0);
        return out;
    case ColumnType::Currency: {
        const double d = std::nearbyint(number() * 10000.0);
        if (!(std::fabs(d) < 9.2e18))
            raiseMismatch(column);
        out.kind = jet4::Value::Kind::Currency;
        out.integer = static_cast<std::int64_t>(d);
        return out;
    }
    case ColumnType::Single: {
        const double d = number();
        if (!(std::fabs(d) <= std::numeric_limits<float>::max()))
            raiseMismatch(column);
        out.kind = jet4::Value::Kind::Single;
        out.real = static_cast<float>(d);
        return out;
    }
    case ColumnType::Double:
        out.kind = jet4::Value::Kind::Double;
        out.real = number();
        if (!std::isfinite(out.real))
            raiseMismatch(column);
        return out;
    case ColumnType::DateTime:
        out.kind = jet4::Value::Kind::DateTime;
        if (v.kind() == K::Text) {
            const auto days = oleDateFromIso(v.toText());
            if (!days)
                raiseMismatch(column);
            out.real = *days;
        } else {
            out.real = number();
        }
        return out;
    case ColumnType::Boolean:
        if (!numeric)
            raiseMismatch(column);
        out.kind = jet4::Value::Kind::Boolean;
        out.integer = v.toDouble() != 0 ? 1 : 0;
        return out;
    default:
        raiseMismatch(column);
    }
}

bool isAutonumber(const jet4::ColumnDefinition& c) {
    return (c.flags & (jet4::ColumnDefinition::AutonumberFlag |
                       jet4::ColumnDefinition::GuidAutonumberFlag)) != 0;
}

// The table a change names: 3078 when the database has none, 3027 for a system or linked one.
const jet4::CatalogEntry& changeable(const std::vector<jet4::CatalogEntry>& catalog,
                                     std::string_view name) {
    for (const auto& entry : catalog) {
        if ((entry.type != jet4::CatalogEntry::TableType && !jet4::isLinkedTable(entry)) ||
            !automation::sameName(entry.name, name))
            continue;
        const bool system =
            entry.name.size() >= 4 && automation::sameName(entry.name.substr(0, 4), "MSys");
        if (jet4::isLinkedTable(entry) || !jet4::isUserTable(entry) || system)
            jet::raiseReadOnly(entry.name);
        return entry;
    }
    jet::raiseTableNotFound(name);
}

// Refuses, before anything is written, a change whose index keys this system cannot write: text
// in a sort order other than General.
void checkKeys(const jet4::TableDefinition& t, const std::vector<std::size_t>& indexes,
               const std::string& table) {
    for (std::size_t p : indexes)
        for (const auto& key : t.physicalIndexes[p].columns)
            for (const auto& c : t.columns)
                if (c.number == key.columnNumber &&
                    (c.type == ColumnType::Text || c.type == ColumnType::Memo) &&
                    c.sortOrder != 1033)
                    raise(errors::NotSupported,
                          "Невозможно изменить таблицу " + quoted(table) + ": порядок сортировки " +
                              std::to_string(c.sortOrder) + " поля " + quoted(c.name) +
                              " не поддерживается в ключах индекса.");
}

// The positions of the physical indexes with a key column among `columns` (numbers).
std::vector<std::size_t> indexesOver(const jet4::TableDefinition& t,
                                     const std::set<std::uint16_t>& columns) {
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < t.physicalIndexes.size(); ++p)
        for (const auto& key : t.physicalIndexes[p].columns)
            if (columns.count(key.columnNumber)) {
                out.push_back(p);
                break;
            }
    return out;
}

std::vector<std::size_t> allIndexes(const jet4::TableDefinition& t) {
    std::vector<std::size_t> out;
    for (std::size_t p = 0; p < t.physicalIndexes.size(); ++p)
        out.push_back(p);
    return out;
}

// Calls `change` with the location of each row of `t` that satisfies `where` (every row without
// one) as the scan meets it; returns how many. `change` may rewrite or delete the row: the scan
// reads each page as it was when it got there, and a row moved elsewhere is marked as no row of
// its own, so every row is met once, as it was before the statement.
int changeMatchingRows(jet4::PageFile& file, const jet4::TableDefinition& t,
                       const jet::Condition* where,
                       const std::function<void(jet4::RowLocation)>& change) {
    // The columns the condition reads, in the table's order, and their values in the row at hand.
    std::vector<std::size_t> positions;
    if (where)
        for (const auto& name : jet::conditionColumns(*where))
            positions.push_back(columnIndex(t, name));
    std::sort(positions.begin(), positions.end());
    positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
    std::vector<jet4::Value> values(positions.size());
    int count = 0;
    jet4::scanRowImages(
        file, t,
        [&](jet4::RowLocation location, std::span<const std::uint8_t> image, std::uint32_t page) {
            // Decoding checks the row's layout even when the condition reads
            // nothing: a damaged row stops the statement before it changes.
            jet4::decodeColumns(file, t, image, page, positions, values);
            if (where && !jet::matches(*where, [&](const std::string& name) {
                    for (std::size_t k = 0; k < positions.size(); ++k)
                        if (automation::sameName(t.columns[positions[k]].name, name))
                            return toVariant(values[k]);
                    return Variant::null();
                }))
                return true;
            change(location);
            ++count;
            return true;
        });
    return count;
}

// Stores `value` as the table's last autonumber (definition +20) when it is above it.
void keepAutonumberAbove(jet4::PageFile& file, const jet4::TableDefinition& t,
                         std::uint32_t value) {
    auto page = *file.page(t.page);
    std::uint32_t stored = 0;
    for (std::size_t i = 0; i < 4; ++i)
        stored |= std::uint32_t{page[jet4::tdef::AutonumberOffset + i]} << (8 * i);
    if (value <= stored)
        return;
    for (std::size_t i = 0; i < 4; ++i)
        page[jet4::tdef::AutonumberOffset + i] = static_cast<std::uint8_t>(value >> (8 * i));
    file.write(t.page, page);
}

constexpr long TooManyFields = 3190;
constexpr long InRelationship = 3303;
constexpr std::size_t MaxColumns = 255;
constexpr std::int16_t TableType = jet4::CatalogEntry::TableType;
constexpr std::int16_t ContainerType = 3;

std::uint32_t tableIdOf(const jet4::CatalogEntry& entry) {
    return static_cast<std::uint32_t>(entry.id & 0x00FFFFFF);
}

// The Id of the container that holds tables and queries, whose names share one space.
std::int32_t tablesContainer(const std::vector<jet4::CatalogEntry>& catalog) {
    for (const auto& entry : catalog)
        if (entry.type == ContainerType && entry.name == "Tables")
            return entry.id;
    return 0;
}

[[noreturn]] void raiseIndexExists(const std::string& index, const std::string& table) {
    raise(errors::IndexExists,
          "Индекс " + quoted(index) + " уже существует (таблица " + quoted(table) + ").");
}

jet4::ColumnType columnType(FieldType type) {
    switch (type) {
    case FieldType::Boolean:
        return ColumnType::Boolean;
    case FieldType::Byte:
        return ColumnType::Byte;
    case FieldType::Integer:
        return ColumnType::Integer;
    case FieldType::Long:
        return ColumnType::Long;
    case FieldType::Currency:
        return ColumnType::Currency;
    case FieldType::Single:
        return ColumnType::Single;
    case FieldType::Double:
        return ColumnType::Double;
    case FieldType::Date:
        return ColumnType::DateTime;
    case FieldType::Memo:
        return ColumnType::Memo;
    case FieldType::Binary:
        return ColumnType::Binary;
    case FieldType::LongBinary:
        return ColumnType::Ole;
    case FieldType::Guid:
        return ColumnType::Guid;
    case FieldType::Decimal:
        return ColumnType::Numeric;
    case FieldType::Text:
        break;
    }
    return ColumnType::Text;
}

// A new column as the file stores it: text in the database's sort order, compressed as Access
// makes its text columns.
jet4::NewColumn newColumn(const ColumnDef& c, const jet4::DatabaseHeader& header) {
    jet4::NewColumn out;
    out.name = utf16(c.name);
    out.type = columnType(c.type);
    const int size = c.size > 0 ? c.size : defaultSize(c.type);
    if (out.type == ColumnType::Text)
        out.length = static_cast<std::uint16_t>(2 * size);
    else if (out.type == ColumnType::Binary)
        out.length = static_cast<std::uint16_t>(size);
    out.sortOrder = header.sortOrder;
    out.sortVersion = static_cast<std::uint8_t>(header.sortVersion);
    return out;
}

// Sets the boolean column property `name` as Access writes the properties a definition gives.
void setColumnFlag(jet4::PropertyMaps& maps, const std::string& column, const std::string& name,
                   bool value) {
    auto chunk = std::find_if(maps.columns.begin(), maps.columns.end(),
                              [&](const auto& c) { return automation::sameName(c.first, column); });
    if (chunk == maps.columns.end()) {
        maps.columns.emplace_back(column, std::vector<jet4::Property>{});
        chunk = std::prev(maps.columns.end());
    }
    if (!maps.names.empty() &&
        std::find(maps.names.begin(), maps.names.end(), name) == maps.names.end())
        maps.names.push_back(name);
    jet4::Property property{name, static_cast<std::uint8_t>(ColumnType::Boolean),
                            std::string(1, value ? '\x01' : '\x00'), 1};
    for (auto& existing : chunk->second)
        if (existing.name == name) {
            existing = property;
            return;
        }
    chunk->second.push_back(std::move(property));
}

// The properties a new column's definition gives: Required, and AllowZeroLength for text.
void setColumnProperties(jet4::PropertyMaps& maps, const ColumnDef& c) {
    setColumnFlag(maps, c.name, "Required", c.required);
    if (c.type == FieldType::Text || c.type == FieldType::Memo)
        setColumnFlag(maps, c.name, "AllowZeroLength", c.allowZeroLength);
}

// The blob of `maps`, or nothing (a Null LvProp) when it holds no property.
std::optional<std::string> encoded(const jet4::PropertyMaps& maps) {
    if (maps.table.empty() && maps.columns.empty())
        return std::nullopt;
    return jet4::encodeProperties(maps);
}

// `index` with its key columns as `t` numbers them.
jet4::NewIndex newIndex(const jet4::TableDefinition& t, const IndexDef& index) {
    jet4::NewIndex out;
    out.name = utf16(index.name);
    for (const std::string& key : index.columns)
        out.columns.push_back({t.columns[columnIndex(t, key)].number, true});
    out.primary = index.primary;
    out.unique = index.unique || index.primary;
    out.required = index.required || index.primary;
    out.ignoreNulls = index.ignoreNulls;
    return out;
}

} // namespace

Jet4Store::Jet4Store(std::string path, std::unique_ptr<jet4::PageFile> file)
    : path_(std::move(path)), file_(std::move(file)) {}

std::shared_ptr<Jet4Store> Jet4Store::open(const std::string& path, bool readOnly) {
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
        // Changes need the file and its folder (where the replacement copy is made) writable.
        store->readOnly_ = readOnly || jet4::sys::mayWrite(path) != 0 ||
                           jet4::sys::mayWriteIn(jet4::sys::folderOf(path)) != 0;
        return store;
    });
}

// ---- levels: the page file's, opened once a change needs them ----
//
// Outside a statement the page file has either no level open or exactly the store's levels.

void Jet4Store::begin() {
    if (levels_ >= MaxLevels)
        raiseTooManyLevels(MaxLevels);
    if (file_->levels() > 0)
        changing(path_, "", [&] { file_->beginLevel(); });
    ++levels_;
}

void Jet4Store::commit() {
    if (levels_ == 0)
        raiseNothingToCommit();
    const bool open = file_->levels() == levels_;
    // The level ends whether or not its commit succeeds.
    --levels_;
    if (levels_ == 0)
        verified_.clear();
    if (open)
        changing(path_, "", [&] { file_->commitLevel(); });
}

void Jet4Store::rollback() {
    if (levels_ == 0)
        raiseNothingToRollBack();
    const bool open = file_->levels() == levels_;
    --levels_;
    if (levels_ == 0)
        verified_.clear();
    if (open) {
        file_->rollbackLevel();
        // A schema change undone takes its catalog rows with it.
        reloadCatalog();
    }
}

void Jet4Store::openLevels() {
    while (file_->levels() < levels_)
        file_->beginLevel();
}

int Jet4Store::atomically(const std::function<int()>& change) {
    openLevels();
    file_->beginLevel();
    int changed = 0;
    try {
        changed = change();
        file_->commitLevel();
    } catch (...) {
        // A failed commit has ended the level already.
        if (file_->levels() > levels_)
            file_->rollbackLevel();
        if (levels_ == 0)
            verified_.clear();
        throw;
    }
    // Outside any level the change was a transaction of its own: another program may change the
    // file before the next one.
    if (levels_ == 0)
        verified_.clear();
    return changed;
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

void Jet4Store::reloadCatalog() {
    catalog_ = guarded(path_, [&] { return jet4::readCatalog(*file_); });
}

int Jet4Store::changeSchema(const std::string& table, const std::function<void()>& change) {
    try {
        changing(path_, table, [&] {
            return atomically([&] {
                change();
                return 0;
            });
        });
    } catch (...) {
        reloadCatalog();
        throw;
    }
    reloadCatalog();
    return 0;
}

void Jet4Store::createTable(const TableSchema& schema) {
    validateNewTable(schema);
    if (readOnly_)
        jet::raiseReadOnly(schema.name);
    for (const auto& entry : catalog_)
        if (automation::sameName(entry.name, schema.name) &&
            (entry.parentId == tablesContainer(catalog_) || entry.type == TableType))
            raise(errors::TableExists, "Таблица " + quoted(entry.name) + " уже существует.");
    // The catalog's index over the names takes the new name as a text key.
    const jet4::TableDefinition objects = definitionAt(jet4::CatalogDefinitionPage);
    checkKeys(objects, allIndexes(objects), schema.name);
    std::vector<jet4::NewColumn> columns;
    jet4::PropertyMaps properties;
    for (const ColumnDef& column : schema.columns) {
        columns.push_back(newColumn(column, header_));
        setColumnProperties(properties, column);
    }
    TableSchema built = schema;
    built.indexes.clear();
    for (const IndexDef& index : schema.indexes) {
        validateIndex(built, index);
        if (findIndex(built, index.name))
            raiseIndexExists(index.name, schema.name);
        built.indexes.push_back(index);
    }
    const double now = jet4::currentOleDate();
    changeSchema(schema.name, [&] {
        jet4::TableDefinition t = jet4::createTable(*file_, columns);
        jet4::addTableToCatalog(*file_, t.page, utf16(schema.name), encoded(properties), now);
        for (const IndexDef& index : schema.indexes)
            jet4::addIndex(*file_, t, newIndex(t, index));
    });
}

void Jet4Store::dropTable(std::string_view tableName) {
    const jet4::CatalogEntry& entry = changeable(catalog_, tableName);
    if (readOnly_)
        jet::raiseReadOnly(entry.name);
    const std::string name = entry.name;
    const std::uint32_t id = tableIdOf(entry);
    const jet4::TableDefinition t = definitionAt(id);
    // A table in a relationship keeps it: the other table's key would point at nothing.
    if (findTable("MSysRelationships"))
        for (const auto& row :
             read("MSysRelationships", {"szObject", "szReferencedObject"}, nullptr).rows)
            for (const Variant& side : row)
                if (!side.isNull() && automation::sameName(side.toText(), name))
                    raise(InRelationship, "Невозможно удалить таблицу " + quoted(name) +
                                              ": она участвует в связях с другими таблицами.");
    changeSchema(name, [&] {
        jet4::removeTableFromCatalog(*file_, id);
        jet4::freeTablePages(*file_, t);
    });
    verified_.erase(id);
}

void Jet4Store::addColumn(std::string_view tableName, const ColumnDef& column) {
    validateColumn(column);
    const jet4::CatalogEntry& entry = changeable(catalog_, tableName);
    if (readOnly_)
        jet::raiseReadOnly(entry.name);
    jet4::TableDefinition t = definitionAt(tableIdOf(entry));
    verifyIndexes(t);
    const TableSchema schema = *table(entry.name);
    if (const ColumnDef* existing = findColumn(schema, column.name))
        raise(errors::FieldDefinedTwice, "Поле " + quoted(existing->name) +
                                             " определено более одного раза (таблица " +
                                             quoted(entry.name) + ").");
    if (t.columns.size() >= MaxColumns || t.maxColumns >= MaxColumns)
        raise(TooManyFields, "Определено слишком много полей в таблице " + quoted(entry.name) +
                                 " (не более " + std::to_string(MaxColumns) + ").");
    jet4::PropertyMaps properties = guarded(path_, [&] { return propertiesOf(entry); });
    setColumnProperties(properties, column);
    const jet4::NewColumn added = newColumn(column, header_);
    const double now = jet4::currentOleDate();
    changeSchema(entry.name, [&] {
        jet4::addColumn(*file_, t, added);
        jet4::setTableProperties(*file_, tableIdOf(entry), encoded(properties), now);
    });
}

void Jet4Store::dropColumn(std::string_view tableName, std::string_view columnName) {
    const jet4::CatalogEntry& entry = changeable(catalog_, tableName);
    if (readOnly_)
        jet::raiseReadOnly(entry.name);
    const TableSchema schema = *table(entry.name);
    const ColumnDef* column = findColumn(schema, columnName);
    if (!column)
        raise(errors::ItemNotFound, "Поле " + quoted(std::string(columnName)) +
                                        " не найдено в таблице " + quoted(schema.name) + ".");
    for (const IndexDef& index : schema.indexes)
        for (const std::string& key : index.columns)
            if (automation::sameName(key, column->name))
                raise(errors::FieldInIndex, "Невозможно удалить поле " + quoted(column->name) +
                                                ": оно входит в индекс " + quoted(index.name) +
                                                " таблицы " + quoted(schema.name) + ".");
    jet4::TableDefinition t = definitionAt(tableIdOf(entry));
    verifyIndexes(t);
    const std::size_t position = columnIndex(t, column->name);
    jet4::PropertyMaps properties = guarded(path_, [&] { return propertiesOf(entry); });
    const bool hadProperties = std::erase_if(properties.columns, [&](const auto& chunk) {
                                   return automation::sameName(chunk.first, column->name);
                               }) > 0;
    const double now = jet4::currentOleDate();
    changeSchema(entry.name, [&] {
        jet4::removeColumn(*file_, t, position);
        if (hadProperties)
            jet4::setTableProperties(*file_, tableIdOf(entry), encoded(properties), now);
    });
}

void Jet4Store::createIndex(std::string_view tableName, const IndexDef& index) {
    const jet4::CatalogEntry& entry = changeable(catalog_, tableName);
    if (readOnly_)
        jet::raiseReadOnly(entry.name);
    const TableSchema schema = *table(entry.name);
    validateIndex(schema, index);
    if (findIndex(schema, index.name))
        raiseIndexExists(index.name, schema.name);
    jet4::TableDefinition t = definitionAt(tableIdOf(entry));
    verifyIndexes(t);
    const jet4::NewIndex added = newIndex(t, index);
    std::set<std::uint16_t> keyColumns;
    for (const auto& key : added.columns)
        keyColumns.insert(key.columnNumber);
    // A new index writes text keys of its own columns only.
    jet4::TableDefinition keysOnly = t;
    keysOnly.physicalIndexes.push_back({});
    keysOnly.physicalIndexes.back().columns = added.columns;
    checkKeys(keysOnly, {keysOnly.physicalIndexes.size() - 1}, entry.name);
    if (index.primary || index.required)
        guarded(path_, [&] {
            std::vector<bool> wanted(t.columns.size(), false);
            for (std::size_t i = 0; i < t.columns.size(); ++i)
                wanted[i] = keyColumns.count(t.columns[i].number) > 0;
            jet4::scanRows(
                *file_, t,
                [&](jet4::RowLocation, const std::vector<jet4::Value>& row) {
                    for (std::size_t i = 0; i < row.size(); ++i)
                        if (wanted[i] && row[i].isNull())
                            raise(errors::NullInIndex,
                                  "Индекс или ключевое поле " + quoted(index.name) +
                                      " не может содержать значение Null (таблица " +
                                      quoted(entry.name) + ").");
                    return true;
                },
                wanted);
        });
    changeSchema(entry.name, [&] { jet4::addIndex(*file_, t, added); });
}

void Jet4Store::dropIndex(std::string_view tableName, std::string_view indexName) {
    const jet4::CatalogEntry& entry = changeable(catalog_, tableName);
    if (readOnly_)
        jet::raiseReadOnly(entry.name);
    jet4::TableDefinition t = definitionAt(tableIdOf(entry));
    const auto found = std::find_if(t.logicalIndexes.begin(), t.logicalIndexes.end(),
                                    [&](const jet4::LogicalIndex& index) {
                                        return automation::sameName(index.name, indexName);
                                    });
    if (found == t.logicalIndexes.end())
        raise(errors::ItemNotFound, "Индекс " + quoted(std::string(indexName)) +
                                        " не найден в таблице " + quoted(entry.name) + ".");
    if (found->type == jet4::LogicalIndex::ForeignKeyType)
        raise(InRelationship, "Невозможно удалить индекс " + quoted(found->name) +
                                  ": он участвует в связи с другой таблицей.");
    const auto position = static_cast<std::size_t>(found - t.logicalIndexes.begin());
    changeSchema(entry.name, [&] { jet4::removeIndex(*file_, t, position); });
}

int Jet4Store::execute(const DataStatement& statement) {
    // Everything that can be refused is refused before a level opens: the statement, the table,
    // the columns, the values and the index keys.
    std::string tableName;
    std::shared_ptr<const jet::Condition> where;
    std::vector<jet::Assignment> given;
    switch (statement.kind) {
    case jet::StatementKind::Update: {
        auto u = jet::parseUpdate(statement.tokens, statement.sql);
        tableName = u.table;
        where = u.where;
        given = std::move(u.assignments);
        break;
    }
    case jet::StatementKind::Delete: {
        auto d = jet::parseDelete(statement.tokens, statement.sql);
        tableName = d.table;
        where = d.where;
        break;
    }
    case jet::StatementKind::Insert: {
        auto i = jet::parseInsert(statement.tokens, statement.sql);
        tableName = i.table;
        given = std::move(i.values);
        break;
    }
    default:
        jet::raiseSyntaxError(jet::errors::InvalidStatement);
    }
    const jet4::CatalogEntry& entry = changeable(catalog_, tableName);
    if (readOnly_)
        jet::raiseReadOnly(entry.name);
    jet4::TableDefinition t = guarded(path_, [&] {
        return jet4::readTableDefinition(*file_, static_cast<std::uint32_t>(entry.id & 0x00FFFFFF));
    });
    const jet4::PropertyMaps properties = guarded(path_, [&] { return propertiesOf(entry); });
    verifyIndexes(t);
    const std::string& name = entry.name;

    // The values the statement writes, by position in t.columns, converted to their columns.
    std::vector<std::pair<std::size_t, jet4::Value>> values;
    std::set<std::uint16_t> changedColumns;
    const auto ordered = orderedColumns(t);
    for (std::size_t n = 0; n < given.size(); ++n) {
        std::size_t i = 0;
        if (given[n].column.empty()) {
            if (n >= ordered.size())
                jet::raiseSyntaxError(jet::errors::SyntaxInsert);
            i = static_cast<std::size_t>(ordered[n] - t.columns.data());
        } else {
            i = columnIndex(t, given[n].column);
        }
        const auto& column = t.columns[i];
        if (changedColumns.count(column.number))
            raise(errors::FieldDefinedTwice,
                  "Поле " + quoted(column.name) + " указано в инструкции дважды.");
        if (statement.kind == jet::StatementKind::Update && isAutonumber(column))
            raise(FieldCannotBeUpdated,
                  "Поле " + quoted(column.name) + " не может быть обновлено.");
        if ((column.flags & jet4::ColumnDefinition::GuidAutonumberFlag) != 0)
            raise(errors::NotSupported, "Запись в поле " + quoted(column.name) +
                                            " (код репликации) пока не поддерживается.");
        changedColumns.insert(column.number);
        values.emplace_back(i, convert(given[n].value, column, rulesOf(properties, column.name)));
    }

    if (statement.kind == jet::StatementKind::Update) {
        const auto indexes = indexesOver(t, changedColumns);
        checkKeys(t, indexes, name);
        return changing(path_, name, [&] {
            return atomically([&] {
                jet4::RowUpdates updates(*file_, t, values);
                const int count =
                    changeMatchingRows(*file_, t, where.get(), [&](jet4::RowLocation location) {
                        updates.update(location);
                    });
                updates.finish();
                if (count > 0)
                    for (std::size_t p : indexes)
                        jet4::rebuildIndex(*file_, t, p);
                return count;
            });
        });
    }

    const auto indexes = allIndexes(t);
    checkKeys(t, indexes, name);
    if (statement.kind == jet::StatementKind::Delete) {
        return changing(path_, name, [&] {
            return atomically([&] {
                const int count =
                    changeMatchingRows(*file_, t, where.get(), [&](jet4::RowLocation location) {
                        jet4::deleteRow(*file_, t, location);
                    });
                if (count > 0)
                    for (std::size_t p : indexes)
                        jet4::rebuildIndex(*file_, t, p);
                return count;
            });
        });
    }

    // INSERT: the columns not given are Null (3314 for a Required one), but for a counter, which
    // takes the table's next number.
    std::vector<jet4::Value> row(t.columns.size());
    std::optional<std::size_t> counter;
    for (std::size_t i = 0; i < t.columns.size(); ++i) {
        const auto& column = t.columns[i];
        if (changedColumns.count(column.number))
            continue;
        if ((column.flags & jet4::ColumnDefinition::AutonumberFlag) != 0 &&
            column.type == ColumnType::Long)
            counter = i;
        else if ((column.flags & jet4::ColumnDefinition::GuidAutonumberFlag) != 0)
            raise(errors::NotSupported, "Запись в поле " + quoted(column.name) +
                                            " (код репликации) пока не поддерживается.");
        else
            convert(Variant::null(), column, rulesOf(properties, column.name));
    }
    for (const auto& [i, value] : values)
        row[i] = value;
    return changing(path_, name, [&] {
        return atomically([&] {
            if (counter) {
                const auto page = file_->page(t.page);
                std::uint32_t last = 0;
                for (std::size_t b = 0; b < 4; ++b)
                    last |= std::uint32_t{(*page)[jet4::tdef::AutonumberOffset + b]} << (8 * b);
                row[*counter].kind = jet4::Value::Kind::Integer;
                row[*counter].integer = static_cast<std::int32_t>(last + 1);
            }
            for (std::size_t i = 0; i < t.columns.size(); ++i)
                if (isAutonumber(t.columns[i]) && !row[i].isNull() && row[i].integer > 0)
                    keepAutonumberAbove(*file_, t, static_cast<std::uint32_t>(row[i].integer));
            jet4::insertRow(*file_, t, row);
            for (std::size_t p : indexes)
                jet4::rebuildIndex(*file_, t, p);
            return 1;
        });
    });
}

// ---- data ----

jet4::TableDefinition Jet4Store::definitionAt(std::uint32_t page) const {
    return guarded(path_, [&] { return jet4::readTableDefinition(*file_, page); });
}

void Jet4Store::verifyIndexes(const jet4::TableDefinition& t) {
    if (verified_.count(t.page))
        return;
    guarded(path_, [&] {
        for (const auto& index : t.physicalIndexes)
            jet4::verifyIndexTree(*file_, t, index);
    });
    verified_.insert(t.page);
}

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
