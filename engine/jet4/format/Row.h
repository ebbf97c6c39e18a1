#pragma once
// One row image as a data page stores it, decoded against its table definition. With n the
// row's column count, v its variable slot count and m = (n+7)/8:
//
//   offset          size  field
//   0               2     n: the columns this row was written with
//   2               ...   fixed area: each fixed column at 2 + its stored offset
//   ...             ...   variable data, slot 0 first
//   end-m-2-2v-2    2     end of the variable data (from the row start)
//   end-m-2-2v      2*v   slot start offsets (from the row start), the last slot first
//   end-m-2         2     v (this field and the two above are absent when the table has no
//                         variable slots)
//   end-m           m     null mask: bit k (LSB first) set = column number k present; for
//                         Boolean columns the bit is the value
//
// A row keeps the width it was written with: columns added later have numbers at or above its
// count and read as absent; dropped columns leave their bytes in old rows, so columns are found
// by their stored number, offset and slot, never by position among the live columns.

#include "engine/jet4/file/PageFile.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/Value.h"

#include <cstdint>
#include <span>
#include <vector>

namespace engine::jet4 {

// Offsets of the layout above, shared by the reader and the encoder.
namespace rowlayout {
inline constexpr std::size_t ColumnCountOffset = 0;
inline constexpr std::size_t FixedAreaOffset = 2;
inline constexpr std::size_t OffsetSize = 2;
inline constexpr std::size_t GuidSize = 16;
inline constexpr std::size_t NumericSize = 17;
} // namespace rowlayout

// Bytes a fixed column of `column`'s type takes in the fixed area (Boolean: none, its value is
// its null-mask bit).
std::size_t fixedSize(const ColumnDefinition& column);

// The values of `row` (found on `page`), indexed like `definition.columns`. Columns whose entry
// in `wanted` is false are not decoded and read Null (an empty `wanted` means every column);
// memo and OLE values are read through `file`. A Boolean column the row is too short for reads
// false. FormatError for any count, offset or length that does not fit the row.
std::vector<Value> decodeRow(const PageFile& file, const TableDefinition& definition,
                             std::span<const std::uint8_t> row, std::uint32_t page,
                             const std::vector<bool>& wanted = {});

// The columns at `positions` (indexes into `definition.columns`, in increasing order) of `row`,
// decoded into `values` (one per position) as decodeRow decodes them, with the same checks and
// FormatErrors; each value is replaced but keeps its strings' room, so a scan that reads a few
// columns of every row allocates nothing once its values have grown.
void decodeColumns(const PageFile& file, const TableDefinition& definition,
                   std::span<const std::uint8_t> row, std::uint32_t page,
                   std::span<const std::size_t> positions, std::span<Value> values);

} // namespace engine::jet4
