#pragma once
// Rows written in Access's layout (see Row.h for the layout itself). A row written now always
// has the table's full width: `maxColumns` null-mask bits and `variableSlots` variable slots,
// dropped columns Null (their fixed bytes zero, their slots empty), and the whole fixed area
// present even when its columns are Null.
//
// Text is stored compressed (Text.h) when the column asks for it (extra flag 0x01), following
// CompressionRule. Memo and OLE values stay in the row, after their 12-byte header, when their
// uncompressed bytes are at most InlineLongValueLimit long (memo text then compressed whatever
// the column's flag); longer ones go, uncompressed, to long-value rows that a long-value writer
// places, the row keeping the header that points there.

#include "engine/jet4/format/RowFields.h"
#include "engine/jet4/format/TableDefinition.h"
#include "engine/jet4/format/Value.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace engine::jet4 {

inline constexpr std::uint8_t CompressedTextFlag = 0x01; // ColumnDefinition::extraFlags
inline constexpr std::size_t InlineLongValueLimit = 64;

// When Access keeps the compressed form: Text values of three or more characters when it is not
// longer than UTF-16LE, Memo values only when it is shorter.
enum class CompressionRule { NotLonger, Shorter };

// The bytes of a Text or Memo value: compressed (0xFF 0xFE, then runs of one-byte characters
// and runs of two-byte characters, 0x00 between runs) when `compress` and `rule` allow it,
// UTF-16LE otherwise. Text with a character that has a 0x00 byte stays UTF-16LE.
std::string encodeStoredText(std::u16string_view text, bool compress,
                             CompressionRule rule = CompressionRule::NotLonger);

// The bytes a Memo or OLE value stores, wherever they end up.
std::string longValueBytes(const ColumnDefinition& column, const Value& value);

// Whether a long value of `storedLength` bytes stays in its row.
bool longValueInRow(std::size_t storedLength);

// Where a long-value writer put a value that does not stay in its row.
struct LongValueReference {
    enum class Kind { SingleRow, Chain };
    Kind kind = Kind::SingleRow;
    std::uint32_t pointer = 0; // row pointer of the (first) long-value row
};

// The 12-byte header (and for an in-row value the value after it) a row stores for a long value
// of `stored` bytes; `reference` is required, and used, only for values that leave the row.
std::string encodeLongValueField(std::string_view stored,
                                 const std::optional<LongValueReference>& reference);

// The row for `values` (indexed like `definition.columns`). `longValues`, when not empty, is
// indexed the same way and gives where each Memo/OLE value that leaves the row was stored;
// std::invalid_argument when such a value has none, or when a value does not fit its column.
std::string encodeRow(const TableDefinition& definition, const std::vector<Value>& values,
                      const std::vector<std::optional<LongValueReference>>& longValues = {});

// The row `stored` laid out again for the table's current definition, with `changes[i]` (indexed
// like `definition.columns`) in place of column i's field where it is not null. Every other field
// keeps its stored bytes: text as it was compressed, long values where they are. Errors as
// encodeRow, a Memo or OLE value that would leave the row included; FormatError for a kept field
// that runs outside the row.
std::string encodeRowChanging(const TableDefinition& definition, const StoredRow& stored,
                              std::span<const Value* const> changes);

} // namespace engine::jet4
