#include "engine/jet4/index/IndexKey.h"

#include "engine/jet4/index/TextKey.h"

#include <bit>
#include <cstring>
#include <limits>

namespace engine::jet4 {

namespace {

constexpr char kValueAscending = '\x7F';
constexpr char kValueDescending = '\x80';
constexpr char kNullAscending = '\x00';
constexpr char kNullDescending = '\xFF';

// Inverts the bytes of `key` from `from` on.
void invertFrom(std::string& key, std::size_t from) {
    for (std::size_t i = from; i < key.size(); ++i)
        key[i] = static_cast<char>(~key[i]);
}

void appendBigEndian(std::string& key, std::uint64_t value, int size) {
    char bytes[8];
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        bytes[i] = static_cast<char>(value & 0xFF);
    key.append(bytes, static_cast<std::size_t>(size));
}

// Two's-complement integers: flipping the top bit makes byte order match numeric order.
bool signedKey(const Value& value, int size, bool ascending, std::string& key) {
    const std::int64_t min =
        size == 8 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t{1} << (size * 8 - 1));
    const std::int64_t max = size == 8 ? std::numeric_limits<std::int64_t>::max()
                                       : (std::int64_t{1} << (size * 8 - 1)) - 1;
    if (value.integer < min || value.integer > max)
        return false;
    const std::size_t at = key.size();
    appendBigEndian(key, static_cast<std::uint64_t>(value.integer), size);
    key[at] = static_cast<char>(key[at] ^ 0x80);
    if (!ascending)
        invertFrom(key, at);
    return true;
}

// IEEE numbers: non-negative ones get the sign bit set, negative ones are inverted whole, so that
// larger magnitudes of negative numbers sort first.
void floatingKey(std::uint64_t bits, int size, bool ascending, std::string& key) {
    const std::size_t at = key.size();
    appendBigEndian(key, bits, size);
    const bool negative = (key[at] & 0x80) != 0;
    if (!negative)
        key[at] = static_cast<char>(key[at] ^ 0x80);
    if (negative == ascending)
        invertFrom(key, at);
}

// A GUID as it is written out ({00112233-4455-6677-...}), in 8-byte segments: each segment is
// followed by 0x09 when more follow, the last one by its length. Descending inverts the data
// and the last length byte but keeps the 0x09 markers.
bool guidKey(const Value& value, bool ascending, std::string& key) {
    if (value.kind != Value::Kind::Guid || value.bytes.size() != 16)
        return false;
    std::string data = value.bytes;
    // The row stores the first three fields little-endian.
    std::swap(data[0], data[3]);
    std::swap(data[1], data[2]);
    std::swap(data[4], data[5]);
    std::swap(data[6], data[7]);
    const std::size_t first = key.size();
    key.append(data, 0, 8);
    if (!ascending)
        invertFrom(key, first);
    key += '\x09';
    const std::size_t last = key.size();
    key.append(data, 8, 8);
    key += '\x08';
    if (!ascending)
        invertFrom(key, last);
    return true;
}

// Numeric (decimal) values: a sign byte, then the 128-bit magnitude big-endian. The row stores
// the magnitude as four 32-bit little-endian words, most significant first. In the key the sign
// byte is 0xFF for positive and 0x00 for negative numbers; the magnitude is inverted for negative
// numbers ascending and for positive numbers descending. (So a descending Numeric index lists
// negative numbers from -0 downwards before the positive ones: Jet 4 writes it that way.)
bool numericKey(const Value& value, bool ascending, std::string& key) {
    if (value.kind != Value::Kind::Numeric || value.bytes.size() != 17)
        return false;
    const auto sign = static_cast<unsigned char>(value.bytes[0]);
    if (sign != 0x00 && sign != 0x80)
        return false;
    const bool negative = sign == 0x80;
    key += negative ? '\x00' : '\xFF';
    const std::size_t magnitude = key.size();
    for (int word = 0; word < 4; ++word)
        for (int i = 3; i >= 0; --i)
            key += value.bytes[1 + word * 4 + i];
    if (negative == ascending)
        invertFrom(key, magnitude);
    return true;
}

bool isIntegerKind(const Value& value) {
    return value.kind == Value::Kind::Integer;
}

// Appends the value's bytes after the flag byte; false when it has none.
bool valueKey(const Value& value, ColumnType type, bool ascending, std::string& key) {
    switch (type) {
    case ColumnType::Byte: {
        if (!isIntegerKind(value) || value.integer < 0 || value.integer > 0xFF)
            return false;
        const auto byte = static_cast<char>(value.integer);
        key += ascending ? byte : static_cast<char>(~byte);
        return true;
    }
    case ColumnType::Integer:
        return isIntegerKind(value) && signedKey(value, 2, ascending, key);
    case ColumnType::Long:
        return isIntegerKind(value) && signedKey(value, 4, ascending, key);
    case ColumnType::Currency:
        return value.kind == Value::Kind::Currency && signedKey(value, 8, ascending, key);
    case ColumnType::Single: {
        if (value.kind != Value::Kind::Single)
            return false;
        const auto single = static_cast<float>(value.real);
        floatingKey(std::bit_cast<std::uint32_t>(single), 4, ascending, key);
        return true;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        const auto kind = type == ColumnType::Double ? Value::Kind::Double : Value::Kind::DateTime;
        if (value.kind != kind)
            return false;
        floatingKey(std::bit_cast<std::uint64_t>(value.real), 8, ascending, key);
        return true;
    }
    case ColumnType::Guid:
        return guidKey(value, ascending, key);
    case ColumnType::Numeric:
        return numericKey(value, ascending, key);
    case ColumnType::Text: {
        if (value.kind != Value::Kind::Text)
            return false;
        const std::size_t at = key.size();
        if (!appendGeneralTextKey(value.text, key))
            return false;
        // Descending text is inverted including its final 0x00, then ends with another 0x00.
        if (!ascending) {
            invertFrom(key, at);
            key += '\0';
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

std::optional<std::string> encodeIndexKey(std::span<const KeyPart> parts) {
    std::string key;
    if (!appendIndexKey(parts, key))
        return std::nullopt;
    return key;
}

bool appendIndexKey(std::span<const KeyPart> parts, std::string& key) {
    const std::size_t start = key.size();
    const auto refuse = [&] {
        key.resize(start);
        return false;
    };
    for (const KeyPart& part : parts) {
        if (part.value == nullptr)
            return refuse();
        const Value& value = *part.value;
        if (part.type == ColumnType::Boolean) {
            // A Yes/No value lives in the row's null mask, so it is never NULL: a NULL here is a
            // cleared bit, which is No. Yes sorts before No.
            if (!value.isNull() && value.kind != Value::Kind::Boolean)
                return refuse();
            const bool yes = !value.isNull() && value.integer != 0;
            key += part.ascending ? kValueAscending : kValueDescending;
            key += yes == part.ascending ? '\x00' : '\xFF';
            continue;
        }
        if (part.type == ColumnType::Memo || part.type == ColumnType::Ole ||
            part.type == ColumnType::Binary)
            return refuse();
        if (value.isNull()) {
            key += part.ascending ? kNullAscending : kNullDescending;
            continue;
        }
        key += part.ascending ? kValueAscending : kValueDescending;
        if (!valueKey(value, part.type, part.ascending, key))
            return refuse();
    }
    return true;
}

bool textKeysSupported(std::uint16_t sortOrder, std::uint16_t sortVersion) {
    return sortOrder == 1033 && sortVersion == 0;
}

} // namespace engine::jet4
