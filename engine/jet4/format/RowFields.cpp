#include "engine/jet4/format/RowFields.h"

#include "engine/jet4/format/Row.h"

namespace engine::jet4 {

using namespace rowlayout;

StoredRow::StoredRow(std::span<const std::uint8_t> row, std::uint32_t page,
                     const TableDefinition& definition)
    : view_(row, page, "row") {
    columnCount_ = view_.u16(ColumnCountOffset);
    const std::size_t maskSize = (std::size_t{columnCount_} + 7) / 8;
    if (FixedAreaOffset + maskSize > view_.size())
        view_.fail("null mask of " + std::to_string(columnCount_) + " columns does not fit " +
                   std::to_string(view_.size()) + " bytes");
    maskStart_ = view_.size() - maskSize;
    // The variable-slot table, read backwards from the slot count.
    dataEnd_ = maskStart_;
    if (definition.variableSlots > 0) {
        if (maskStart_ < FixedAreaOffset + OffsetSize)
            view_.fail("no room for the variable slot count");
        countAt_ = maskStart_ - OffsetSize;
        slotCount_ = view_.u16(countAt_);
        const std::size_t tableSize = (slotCount_ + 1) * OffsetSize;
        if (countAt_ < FixedAreaOffset + tableSize)
            view_.fail(std::to_string(slotCount_) + " variable slots do not fit the row");
        dataEnd_ = countAt_ - tableSize;
        variableEnd_ = view_.u16(dataEnd_);
        if (variableEnd_ > dataEnd_ || variableEnd_ < FixedAreaOffset)
            view_.fail("end of variable data " + std::to_string(variableEnd_) +
                       " is outside the row data (" + std::to_string(dataEnd_) + " bytes)");
    }
}

bool StoredRow::present(std::uint16_t number) const {
    return number < columnCount_ && (view_.u8(maskStart_ + number / 8) >> (number % 8) & 1) != 0;
}

std::size_t StoredRow::slotStart(std::size_t slot) const {
    return view_.u16(countAt_ - OffsetSize * (slot + 1));
}

StoredField StoredRow::field(const ColumnDefinition& column) const {
    StoredField field;
    field.present = present(column.number);
    if (!field.present || column.type == ColumnType::Boolean)
        return field;
    if (column.isFixed()) {
        const std::size_t start = FixedAreaOffset + column.fixedOffset;
        const std::size_t size = fixedSize(column);
        if (start + size > dataEnd_)
            view_.fail("column " + column.name + " at " + std::to_string(start) + " (" +
                       std::to_string(size) + " bytes) runs past the fixed area");
        field.bytes = view_.span(start, size);
        return field;
    }
    const std::size_t slot = column.variableSlot;
    if (slot >= slotCount_) {
        field.present = false; // the row predates the column
        return field;
    }
    const std::size_t start = slotStart(slot);
    const std::size_t end = slot + 1 < slotCount_ ? slotStart(slot + 1) : variableEnd_;
    if (start < FixedAreaOffset || start > end || end > variableEnd_)
        view_.fail("column " + column.name + " spans " + std::to_string(start) + ".." +
                   std::to_string(end) + ", outside the variable data (" +
                   std::to_string(variableEnd_) + ")");
    field.bytes = view_.span(start, end - start);
    return field;
}

} // namespace engine::jet4
