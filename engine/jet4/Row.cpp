#include "engine/jet4/Row.h"

#include "engine/jet4/Bytes.h"
#include "engine/jet4/LongValue.h"
#include "engine/jet4/Text.h"

#include <cstring>

namespace engine::jet4 {

namespace {

using namespace rowlayout;

std::string bytesOf(std::span<const std::uint8_t> bytes) {
    return {bytes.begin(), bytes.end()};
}

Value decodeValue(const PageFile& file, const ColumnDefinition& column, const ByteView& data) {
    Value v;
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
        v.bytes = bytesOf(data.span(0, GuidSize));
        break;
    case ColumnType::Numeric:
        v.kind = Value::Kind::Numeric;
        v.bytes = bytesOf(data.span(0, NumericSize));
        v.scale = column.scale;
        break;
    case ColumnType::Text:
        v.kind = Value::Kind::Text;
        v.text = decodeStoredText(bytes, data.page());
        break;
    case ColumnType::Memo:
        v.kind = Value::Kind::Text;
        if (!bytes.empty()) {
            const std::string stored = readLongValue(file, bytes, data.page());
            v.text = decodeStoredText(
                {reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()}, data.page());
        }
        break;
    case ColumnType::Ole:
        v.kind = Value::Kind::Binary;
        if (!bytes.empty())
            v.bytes = readLongValue(file, bytes, data.page());
        break;
    default: // Binary, and types this reader does not know: the stored bytes
        v.kind = Value::Kind::Binary;
        v.bytes = bytesOf(bytes);
        break;
    }
    return v;
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
    const ByteView view(row, page, "row");
    const std::uint16_t columnCount = view.u16(ColumnCountOffset);
    const std::size_t maskSize = (std::size_t{columnCount} + 7) / 8;
    if (FixedAreaOffset + maskSize > view.size())
        view.fail("null mask of " + std::to_string(columnCount) + " columns does not fit " +
                  std::to_string(view.size()) + " bytes");
    const std::size_t maskStart = view.size() - maskSize;
    const auto present = [&](std::uint16_t number) {
        return number < columnCount && (view.u8(maskStart + number / 8) >> (number % 8) & 1) != 0;
    };

    // The variable-slot table, read backwards from the slot count.
    std::size_t dataEnd = maskStart;
    std::size_t slotCount = 0;
    std::size_t countAt = 0;
    std::size_t variableEnd = 0;
    if (definition.variableSlots > 0) {
        if (maskStart < FixedAreaOffset + OffsetSize)
            view.fail("no room for the variable slot count");
        countAt = maskStart - OffsetSize;
        slotCount = view.u16(countAt);
        const std::size_t tableSize = (slotCount + 1) * OffsetSize;
        if (countAt < FixedAreaOffset + tableSize)
            view.fail(std::to_string(slotCount) + " variable slots do not fit the row");
        dataEnd = countAt - tableSize;
        variableEnd = view.u16(dataEnd);
        if (variableEnd > dataEnd || variableEnd < FixedAreaOffset)
            view.fail("end of variable data " + std::to_string(variableEnd) +
                      " is outside the row data (" + std::to_string(dataEnd) + " bytes)");
    }
    const auto slotStart = [&](std::size_t slot) {
        return view.u16(countAt - OffsetSize * (slot + 1));
    };

    std::vector<Value> values(definition.columns.size());
    for (std::size_t i = 0; i < definition.columns.size(); ++i) {
        if (!wanted.empty() && (i >= wanted.size() || !wanted[i]))
            continue;
        const ColumnDefinition& column = definition.columns[i];
        const bool isPresent = present(column.number);
        if (column.type == ColumnType::Boolean) {
            values[i].kind = Value::Kind::Boolean;
            values[i].integer = isPresent ? 1 : 0;
            continue;
        }
        if (!isPresent)
            continue;
        if (column.isFixed()) {
            const std::size_t start = FixedAreaOffset + column.fixedOffset;
            const std::size_t size = fixedSize(column);
            if (start + size > dataEnd)
                view.fail("column " + column.name + " at " + std::to_string(start) + " (" +
                          std::to_string(size) + " bytes) runs past the fixed area");
            values[i] = decodeValue(file, column, view.sub(start, size, "row"));
            continue;
        }
        const std::size_t slot = column.variableSlot;
        if (slot >= slotCount)
            continue; // the row predates the column
        const std::size_t start = slotStart(slot);
        const std::size_t end = slot + 1 < slotCount ? slotStart(slot + 1) : variableEnd;
        if (start < FixedAreaOffset || start > end || end > variableEnd)
            view.fail("column " + column.name + " spans " + std::to_string(start) + ".." +
                      std::to_string(end) + ", outside the variable data (" +
                      std::to_string(variableEnd) + ")");
        values[i] = decodeValue(file, column, view.sub(start, end - start, "row"));
    }
    return values;
}

} // namespace engine::jet4
