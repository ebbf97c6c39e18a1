#include "engine/jet4/RowFields.h"

#include "engine/jet4/Bytes.h"
#include "engine/jet4/Row.h"

namespace engine::jet4 {

using namespace rowlayout;

std::vector<StoredField> storedFields(const TableDefinition& definition,
                                      std::span<const std::uint8_t> row, std::uint32_t page) {
    const ByteView view(row, page, "row");
    const std::uint16_t columnCount = view.u16(ColumnCountOffset);
    const std::size_t maskSize = (std::size_t{columnCount} + 7) / 8;
    if (FixedAreaOffset + maskSize > view.size())
        view.fail("null mask of " + std::to_string(columnCount) + " columns does not fit " +
                  std::to_string(view.size()) + " bytes");
    const std::size_t maskStart = view.size() - maskSize;

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

    std::vector<StoredField> fields(definition.columns.size());
    for (std::size_t i = 0; i < definition.columns.size(); ++i) {
        const ColumnDefinition& column = definition.columns[i];
        StoredField& field = fields[i];
        field.present = column.number < columnCount &&
                        (view.u8(maskStart + column.number / 8) >> (column.number % 8) & 1) != 0;
        if (!field.present || column.type == ColumnType::Boolean)
            continue;
        if (column.isFixed()) {
            const std::size_t start = FixedAreaOffset + column.fixedOffset;
            const std::size_t size = fixedSize(column);
            if (start + size > dataEnd)
                view.fail("column " + column.name + " at " + std::to_string(start) + " (" +
                          std::to_string(size) + " bytes) runs past the fixed area");
            field.bytes = view.span(start, size);
            continue;
        }
        const std::size_t slot = column.variableSlot;
        if (slot >= slotCount) {
            field.present = false; // the row predates the column
            continue;
        }
        const std::size_t start = slotStart(slot);
        const std::size_t end = slot + 1 < slotCount ? slotStart(slot + 1) : variableEnd;
        if (start < FixedAreaOffset || start > end || end > variableEnd)
            view.fail("column " + column.name + " spans " + std::to_string(start) + ".." +
                      std::to_string(end) + ", outside the variable data (" +
                      std::to_string(variableEnd) + ")");
        field.bytes = view.span(start, end - start);
    }
    return fields;
}

} // namespace engine::jet4
