#pragma once
// The fields of a stored row found without decoding them (the layout is in Row.h): what a change
// to some columns of a row needs to carry every other column over byte for byte, long-value
// references and Access's own text compression included.

#include "engine/jet4/TableDefinition.h"

#include <cstdint>
#include <span>
#include <vector>

namespace engine::jet4 {

// One column's field in a row: whether the row holds a value (for a Boolean column, the value
// itself), and the stored bytes: fixedSize bytes of the fixed area, or the variable slot's bytes.
struct StoredField {
    bool present = false;
    std::span<const std::uint8_t> bytes;
};

// The field of each column of `definition` in `row` (found on `page`), indexed like
// `definition.columns`. Columns the row predates are absent. FormatError for any count, offset
// or length that does not fit the row, as decodeRow raises it.
std::vector<StoredField> storedFields(const TableDefinition& definition,
                                      std::span<const std::uint8_t> row, std::uint32_t page);

} // namespace engine::jet4
