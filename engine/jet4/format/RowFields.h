#pragma once
// The fields of a stored row found without decoding them (the layout is in Row.h): what the
// decoder reads values from, and what a change to some columns of a row needs to carry every
// other column over byte for byte, long-value references and Access's own text compression
// included.

#include "engine/jet4/format/Bytes.h"
#include "engine/jet4/format/TableDefinition.h"

#include <cstdint>
#include <span>

namespace engine::jet4 {

// One column's field in a row: whether the row holds a value (for a Boolean column, the value
// itself), and the stored bytes: fixedSize bytes of the fixed area, or the variable slot's bytes.
struct StoredField {
    bool present = false;
    std::span<const std::uint8_t> bytes;
};

// A row image with its null mask and variable-slot table checked once; each column's field is
// then found through them. FormatError (naming `page`) for a count or offset that does not fit
// the row.
class StoredRow {
public:
    StoredRow(std::span<const std::uint8_t> row, std::uint32_t page,
              const TableDefinition& definition);

    std::uint32_t page() const { return view_.page(); }
    // The field of `column`: absent for a column the row predates; FormatError when the field
    // runs outside the row.
    StoredField field(const ColumnDefinition& column) const;

private:
    bool present(std::uint16_t number) const;
    std::size_t slotStart(std::size_t slot) const;

    ByteView view_;
    std::uint16_t columnCount_ = 0;
    std::size_t maskStart_ = 0;
    std::size_t dataEnd_ = 0;
    std::size_t slotCount_ = 0;
    std::size_t countAt_ = 0;
    std::size_t variableEnd_ = 0;
};

} // namespace engine::jet4
