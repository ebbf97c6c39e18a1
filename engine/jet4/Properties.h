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

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace engine::jet4 {

struct Property {
    std::string name;      // UTF-8
    std::uint8_t type = 0; // a column type byte: 0x01 Boolean, 0x0A Text, 0x0C Memo...
    std::string value;     // the stored bytes (text stays UTF-16LE)
};

struct PropertyMaps {
    std::vector<Property> table;
    std::vector<std::pair<std::string, std::vector<Property>>> columns; // column name (UTF-8)
};

// Parses a blob; FormatError (no page) for a wrong signature or a length that does not fit.
// Chunks of other kinds are skipped.
PropertyMaps readProperties(std::span<const std::uint8_t> blob);

// The boolean property `name` (ASCII case-insensitive), or nothing when absent or not boolean.
std::optional<bool> boolProperty(const std::vector<Property>& properties, std::string_view name);

} // namespace engine::jet4
