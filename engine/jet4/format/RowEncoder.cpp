#include "engine/jet4/format/RowEncoder.h"

#include "engine/jet4/format/EncoderBytes.h"
#include "engine/jet4/format/LongValue.h"
#include "engine/jet4/format/Row.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

namespace engine::jet4 {

using namespace rowlayout;

namespace {

constexpr std::uint8_t CompressionMarker[] = {0xFF, 0xFE};
constexpr std::uint8_t RunSwitch = 0x00;

bool oneByte(char16_t c) {
    return c != 0 && c <= 0xFF;
}

[[noreturn]] void misfit(const ColumnDefinition& column, const char* what) {
    throw std::invalid_argument("column " + column.name + ": " + what);
}

// The bytes a fixed column keeps in the fixed area for a value that is not Null.
std::string fixedBytes(const ColumnDefinition& column, const Value& value) {
    std::string out(fixedSize(column), '\0');
    const auto bytes = writable(out);
    const auto wantKind = [&](Value::Kind kind) {
        if (value.kind != kind)
            misfit(column, "value of another kind");
    };
    switch (column.type) {
    case ColumnType::Byte:
        wantKind(Value::Kind::Integer);
        putU8(bytes, 0, static_cast<std::uint8_t>(value.integer));
        break;
    case ColumnType::Integer:
        wantKind(Value::Kind::Integer);
        putU16(bytes, 0, static_cast<std::uint16_t>(value.integer));
        break;
    case ColumnType::Long:
        wantKind(Value::Kind::Integer);
        putU32(bytes, 0, static_cast<std::uint32_t>(value.integer));
        break;
    case ColumnType::Currency:
        wantKind(Value::Kind::Currency);
        putU64(bytes, 0, static_cast<std::uint64_t>(value.integer));
        break;
    case ColumnType::Single:
        wantKind(Value::Kind::Single);
        putU32(bytes, 0, std::bit_cast<std::uint32_t>(static_cast<float>(value.real)));
        break;
    case ColumnType::Double:
    case ColumnType::DateTime:
        if (value.kind != Value::Kind::Double && value.kind != Value::Kind::DateTime)
            misfit(column, "value of another kind");
        putU64(bytes, 0, std::bit_cast<std::uint64_t>(value.real));
        break;
    case ColumnType::Text: {
        // Fixed-length text: UTF-16LE, the rest of the area zero.
        std::string text = encodeStoredText(value.text, false);
        if (text.size() > out.size())
            misfit(column, "text longer than the column");
        std::copy(text.begin(), text.end(), out.begin());
        break;
    }
    default: { // GUID, Numeric, fixed Binary and unknown types: the stored bytes
        if (value.bytes.size() != out.size())
            misfit(column, "value of another size");
        out = value.bytes;
        break;
    }
    }
    return out;
}

} // namespace

std::string encodeStoredText(std::u16string_view text, bool compress, CompressionRule rule) {
    ByteAppender plain;
    plain.utf16(text);
    // Text with a character that has a 0x00 byte (U+0000, or a low byte of zero) stays plain.
    const bool hasZeroByte =
        std::any_of(text.begin(), text.end(), [](char16_t c) { return (c & 0xFF) == 0; });
    if (!compress || text.empty() || hasZeroByte)
        return plain.bytes();
    // One-byte characters go in one-byte runs, all others in two-byte runs: a two-byte run
    // never holds a 0x00 byte, which would read as a switch.
    ByteAppender packed;
    packed.append(std::span<const std::uint8_t>(CompressionMarker));
    bool oneByteRun = true;
    for (const char16_t c : text) {
        if (oneByte(c) != oneByteRun) {
            packed.u8(RunSwitch);
            oneByteRun = !oneByteRun;
        }
        if (oneByteRun)
            packed.u8(static_cast<std::uint8_t>(c));
        else
            packed.u16(static_cast<std::uint16_t>(c));
    }
    if (rule == CompressionRule::NotLonger)
        return text.size() > 2 && packed.size() <= plain.size() ? packed.bytes() : plain.bytes();
    return packed.size() < plain.size() ? packed.bytes() : plain.bytes();
}

std::string longValueBytes(const ColumnDefinition& column, const Value& value) {
    if (column.type == ColumnType::Memo) {
        if (value.kind != Value::Kind::Text)
            misfit(column, "memo value that is not text");
        // Access decides on the plain size: memo text that stays in the row is compressed
        // (whatever the column's flag says), memo text that leaves it is stored plain.
        std::string plain = encodeStoredText(value.text, false);
        return longValueInRow(plain.size())
                   ? encodeStoredText(value.text, true, CompressionRule::Shorter)
                   : plain;
    }
    if (value.kind != Value::Kind::Binary)
        misfit(column, "long binary value that is not binary");
    return value.bytes;
}

bool longValueInRow(std::size_t storedLength) {
    return storedLength <= InlineLongValueLimit;
}

std::string encodeLongValueField(std::string_view stored,
                                 const std::optional<LongValueReference>& reference) {
    std::string out(LongValueHeaderSize, '\0');
    const auto header = writable(out);
    const auto length = static_cast<std::uint32_t>(stored.size());
    if (longValueInRow(stored.size())) {
        putU32(header, longvalue::LengthOffset, length | longvalue::InlineFlag);
        out += stored;
        return out;
    }
    if (!reference)
        throw std::invalid_argument("a long value of " + std::to_string(stored.size()) +
                                    " bytes must be stored in long-value rows first");
    const bool single = reference->kind == LongValueReference::Kind::SingleRow;
    putU32(header, longvalue::LengthOffset, length | (single ? longvalue::SingleRowFlag : 0));
    putU32(header, longvalue::PointerOffset, reference->pointer);
    return out;
}

namespace {

// The row in Access's layout for the table's full width. `field(i, scratch)` gives what column
// `i` holds: nothing when it is Null (false for a Boolean column), else its stored bytes (none
// for a Boolean column), which may be built in `scratch`; they are used before the next call.
template <typename Field> std::string layRow(const TableDefinition& definition, Field field) {
    std::size_t fixedEnd = 0;
    for (const ColumnDefinition& column : definition.columns)
        if (column.isFixed() && column.type != ColumnType::Boolean)
            fixedEnd = std::max(fixedEnd, column.fixedOffset + fixedSize(column));

    std::string row(FixedAreaOffset + fixedEnd, '\0');
    putU16(writable(row), ColumnCountOffset, definition.maxColumns);
    std::vector<std::uint8_t> mask((definition.maxColumns + 7u) / 8u, 0);
    constexpr std::size_t NoColumn = static_cast<std::size_t>(-1);
    std::vector<std::size_t> slotColumn(definition.variableSlots, NoColumn);
    std::string scratch;
    const auto present = [&](const ColumnDefinition& column) {
        mask.at(column.number / 8) |= static_cast<std::uint8_t>(1u << (column.number % 8));
    };

    for (std::size_t i = 0; i < definition.columns.size(); ++i) {
        const ColumnDefinition& column = definition.columns[i];
        if (!column.isFixed() && column.type != ColumnType::Boolean) {
            slotColumn.at(column.variableSlot) = i; // laid out below, in slot order
            continue;
        }
        const std::optional<std::string_view> bytes = field(i, scratch);
        if (!bytes)
            continue;
        present(column);
        if (column.type != ColumnType::Boolean)
            std::copy(bytes->begin(), bytes->end(),
                      row.begin() +
                          static_cast<std::ptrdiff_t>(FixedAreaOffset + column.fixedOffset));
    }

    if (!slotColumn.empty()) {
        std::vector<std::uint16_t> starts;
        starts.reserve(slotColumn.size());
        for (const std::size_t i : slotColumn) {
            starts.push_back(static_cast<std::uint16_t>(row.size()));
            if (i == NoColumn)
                continue;
            if (const std::optional<std::string_view> bytes = field(i, scratch)) {
                present(definition.columns[i]);
                row += *bytes;
            }
        }
        ByteAppender table;
        table.u16(static_cast<std::uint16_t>(row.size()));
        for (auto it = starts.rbegin(); it != starts.rend(); ++it)
            table.u16(*it);
        table.u16(static_cast<std::uint16_t>(slotColumn.size()));
        row += table.bytes();
    }
    row.append(mask.begin(), mask.end());
    return row;
}

// The stored bytes of `value` in `column`, built in `scratch` where they are not the value's
// own; nothing for Null (and for a false Boolean).
std::optional<std::string_view> valueField(const ColumnDefinition& column, const Value& value,
                                           const std::optional<LongValueReference>& longValue,
                                           std::string& scratch) {
    if (column.type == ColumnType::Boolean)
        return value.kind == Value::Kind::Boolean && value.integer != 0
                   ? std::optional<std::string_view>(std::string_view{})
                   : std::nullopt;
    if (value.isNull())
        return std::nullopt;
    if (column.isFixed()) {
        scratch = fixedBytes(column, value);
        return scratch;
    }
    switch (column.type) {
    case ColumnType::Text:
        if (value.kind != Value::Kind::Text)
            misfit(column, "text value that is not text");
        scratch = encodeStoredText(value.text, (column.extraFlags & CompressedTextFlag) != 0);
        return scratch;
    case ColumnType::Memo:
    case ColumnType::Ole:
        scratch = encodeLongValueField(longValueBytes(column, value), longValue);
        return scratch;
    case ColumnType::Binary:
        if (value.kind != Value::Kind::Binary)
            misfit(column, "binary value that is not binary");
        return value.bytes;
    default: // numbers, dates and GUIDs in a variable column: their fixed-size bytes
        scratch = fixedBytes(column, value);
        return scratch;
    }
}

} // namespace

std::string encodeRow(const TableDefinition& definition, const std::vector<Value>& values,
                      const std::vector<std::optional<LongValueReference>>& longValues) {
    if (values.size() != definition.columns.size())
        throw std::invalid_argument("a row needs one value per column");
    const std::optional<LongValueReference> none;
    return layRow(definition, [&](std::size_t i, std::string& scratch) {
        return valueField(definition.columns[i], values[i],
                          i < longValues.size() ? longValues[i] : none, scratch);
    });
}

std::string encodeRowChanging(const TableDefinition& definition, const StoredRow& stored,
                              std::span<const Value* const> changes) {
    if (changes.size() != definition.columns.size())
        throw std::invalid_argument("a row needs one change or none per column");
    const std::optional<LongValueReference> none;
    return layRow(definition,
                  [&](std::size_t i, std::string& scratch) -> std::optional<std::string_view> {
                      if (changes[i])
                          return valueField(definition.columns[i], *changes[i], none, scratch);
                      const StoredField field = stored.field(definition.columns[i]);
                      if (!field.present)
                          return std::nullopt;
                      return std::string_view(reinterpret_cast<const char*>(field.bytes.data()),
                                              field.bytes.size());
                  });
}

} // namespace engine::jet4
