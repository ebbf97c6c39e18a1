#pragma once
// The key bytes of a Jet 4 index entry: what precedes the row pointer in every leaf entry, and
// what index entries are ordered by (plain byte comparison).

#include "engine/jet4/format/Value.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace engine::jet4 {

// One key column of an index entry: the row's value, the column's type and the column's order
// in the index definition.
struct KeyPart {
    const Value* value;
    ColumnType type;
    bool ascending;
};

// The key of one entry: for each part a flag byte (0x7F value ascending, 0x80 value descending,
// 0x00 NULL ascending, 0xFF NULL descending) and the value's bytes. Nothing when a value does not
// fit its column type, or when its key bytes are not known with certainty (Memo, OLE and Binary
// columns, text this encoder cannot encode).
std::optional<std::string> encodeIndexKey(std::span<const KeyPart> parts);

// The same key appended to `key`, for a caller that encodes many into one buffer; false, with
// `key` as it was, when encodeIndexKey gives nothing.
bool appendIndexKey(std::span<const KeyPart> parts, std::string& key);

// Whether text keys can be written for a text column with this sort order and sort version:
// only "General" (1033) version 0.
bool textKeysSupported(std::uint16_t sortOrder, std::uint16_t sortVersion);

} // namespace engine::jet4
