#include "engine/jet4/format/Row.h"

#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/LongValue.h"
#include "engine/jet4/format/RowFields.h"
#include "engine/jet4/format/Text.h"

#include <cstring>

namespace engine::jet4 {

namespace {

using namespace rowlayout;

void assignBytes(std::string& to, std::span<const std::uint8_t> bytes) {
    to.assign(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

// Makes `value` Null, keeping the room of its strings.
void clear(Value& value) {
    value.kind = Value::Kind::Null;
    value.integer = 0;
    value.real = 0;
    value.text.clear();
    value.bytes.clear();
    value.scale = 0;
}

// Replaces `v` with the value `data` holds for `column`, keeping the room of its strings.
void decodeValue(const PageFile& file, const ColumnDefinition& column, const ByteView& data,
                 Value& v) {
    clear(v);
    const auto bytes = data.bytes();
    switch (column.type) {
    case ColumnType::Byte:
        v.kind = Value::Kind::Integer;
        v.integer = data.u8(0);
        break;
    case ColumnType::Integer:
        v.kind = Value::Kind::Integer;
        v.integer = static_cast<std::int16_t>(data.u16(0));
        break;
    case ColumnType::Long:
        v.kind = Value::Kind::Integer;
        v.integer = static_cast<std::int32_t>(data.u32(0));
        break;
    case ColumnType::Currency:
        v.kind = Value::Kind::Currency;
        v.integer = static_cast<std::int64_t>(data.u64(0));
        break;
    case ColumnType::Single: {
        const std::uint32_t bits = data.u32(0);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        v.kind = Value::Kind::Single;
        v.real = f;
        break;
    }
    case ColumnType::Double:
        v.kind = Value::Kind::Double;
        v.real = data.f64(0);
        break;
    case ColumnType::DateTime:
        v.kind = Value::Kind::DateTime;
        v.real = data.f64(0);
        break;
    case ColumnType::Guid:
        v.kind = Value::Kind::Guid;
        assignBytes(v.bytes, data.span(0, GuidSize));
        break;
    case ColumnType::Numeric:
        v.kind = Value::Kind::Numeric;
        assignBytes(v.bytes, data.span(0, NumericSize));
        v.scale = column.scale;
        break;
    case ColumnType::Text:
        v.kind = Value::Kind::Text;
        decodeStoredText(bytes, data.page(), v.text);
        break;
    case ColumnType::Memo:
        v.kind = Value::Kind::Text;
        if (!bytes.empty()) {
            const std::string stored = readLongValue(file, bytes, data.page());
            decodeStoredText({reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()},
                             data.page(), v.text);
        }
        break;
    case ColumnType::Ole:
        v.kind = Value::Kind::Binary;
        if (!bytes.empty())
            v.bytes = readLongValue(file, bytes, data.page());
        break;
    default: // Binary, and types this reader does not know: the stored bytes
        v.kind = Value::Kind::Binary;
        assignBytes(v.bytes, bytes);
        break;
    }
}

// Replaces `value` with the row's value of `column`: Null when absent, false for a Boolean the
// row is too short for.
void decodeField(const PageFile& file, const StoredRow& row, const ColumnDefinition& column,
                 Value& value) {
    const StoredField field = row.field(column);
    if (column.type == ColumnType::Boolean) {
        clear(value);
        value.kind = Value::Kind::Boolean;
        value.integer = field.present ? 1 : 0;
        return;
    }
    if (!field.present) {
        clear(value);
        return;
    }
    decodeValue(file, column, ByteView(field.bytes, row.page(), "row"), value);
}

} // namespace

std::size_t fixedSize(const ColumnDefinition& column) {
    switch (column.type) {
    case ColumnType::Boolean:
        return 0;
    case ColumnType::Byte:
        return 1;
    case ColumnType::Integer:
        return 2;
    case ColumnType::Long:
    case ColumnType::Single:
        return 4;
    case ColumnType::Currency:
    case ColumnType::Double:
    case ColumnType::DateTime:
        return 8;
    case ColumnType::Guid:
        return GuidSize;
    case ColumnType::Numeric:
        return NumericSize;
    default:
        return column.length;
    }
}

std::vector<Value> decodeRow(const PageFile& file, const TableDefinition& definition,
                             std::span<const std::uint8_t> row, std::uint32_t page,
                             const std::vector<bool>& wanted) {
    const StoredRow stored(row, page, definition);
    // Copies of one blank value: value-initialising each element would clear its bytes before
    // constructing it, which costs several times as much for a wide row.
    const Value blank;
    std::vector<Value> values(definition.columns.size(), blank);
    for (std::size_t i = 0; i < definition.columns.size(); ++i)
        if (wanted.empty() || (i < wanted.size() && wanted[i]))
            decodeField(file, stored, definition.columns[i], values[i]);
    return values;
}

void decodeColumns(const PageFile& file, const TableDefinition& definition,
                   std::span<const std::uint8_t> row, std::uint32_t page,
                   std::span<const std::size_t> positions, std::span<Value> values) {
    const StoredRow stored(row, page, definition);
    for (std::size_t i = 0; i < positions.size(); ++i)
        decodeField(file, stored, definition.columns.at(positions[i]), values[i]);
}

} // namespace engine::jet4
