#pragma once
// The property blob in a table's LvProp catalog cell: what Access shows in design view and keeps
// nowhere else (Required, AllowZeroLength, Description, formats...).
//
//   offset  size  field
//   0       4     "MR2\0"
//   4       ...   chunks: length 4 (the whole chunk), kind 2, content
//
//   kind 0x80, names: repeated (byte length 2, UTF-16LE name)
//   kind 0x00 (the table) and 0x01 (one column), values:
//     a name block: its length 4 (itself included), then when longer than 6: byte length 2 and
//     the UTF-16LE name of the column (blank for the table)
//     then repeated values: length 2 (itself included), DDL flag 1, type 1 (column type byte),
//     index into the names 2, value length 2, value

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine::jet4 {

// Offsets of the layout above, shared by the reader and the encoder.
namespace properties {
inline constexpr char Signature[4] = {'M', 'R', '2', '\0'};
inline constexpr std::size_t ChunkHeaderSize = 6;
inline constexpr std::uint16_t NamesChunk = 0x80;
inline constexpr std::uint16_t TableChunk = 0x00;
inline constexpr std::uint16_t ColumnChunk = 0x01;
inline constexpr std::size_t NameBlockHeaderSize = 6;
inline constexpr std::size_t ValueHeaderSize = 8;
inline constexpr std::size_t ValueDdlOffset = 2;
inline constexpr std::size_t ValueTypeOffset = 3;
inline constexpr std::size_t ValueNameIndexOffset = 4;
inline constexpr std::size_t ValueLengthOffset = 6;
} // namespace properties

struct Property {
    std::string name;      // UTF-8
    std::uint8_t type = 0; // a column type byte: 0x01 Boolean, 0x0A Text, 0x0C Memo...
    std::string value;     // the stored bytes (text stays UTF-16LE)
    std::uint8_t ddl = 0;  // the DDL flag byte
};

struct PropertyMaps {
    std::vector<Property> table;
    std::vector<std::pair<std::string, std::vector<Property>>> columns; // column name (UTF-8)
    // The name list in stored order (UTF-8), which the values' name indexes refer to.
    std::vector<std::string> names;
    // Where the table's chunk stood among the column chunks (how many came before it); none
    // when the blob has no table chunk.
    std::optional<std::size_t> tableChunkPosition;
};

// Parses a blob; FormatError (no page) for a wrong signature or a length that does not fit.
// Chunks of other kinds are skipped.
PropertyMaps readProperties(std::span<const std::uint8_t> blob);

// The boolean property `name` (ASCII case-insensitive), or nothing when absent or not boolean.
std::optional<bool> boolProperty(const std::vector<Property>& properties, std::string_view name);

} // namespace engine::jet4
