#include "engine/jet4/IndexKey.h"

#include "engine/jet4/TextKey.h"

#include <bit>
#include <cstring>
#include <limits>

namespace engine::jet4 {

namespace {

constexpr char kValueAscending = '\x7F';
constexpr char kValueDescending = '\x80';
constexpr char kNullAscending = '\x00';
constexpr char kNullDescending = '\xFF';

void invert(std::string& bytes) {
    for (char& byte : bytes)
        byte = static_cast<char>(~byte);
}

std::string bigEndian(std::uint64_t value, int size) {
    std::string bytes(size, '\0');
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        bytes[i] = static_cast<char>(value & 0xFF);
    return bytes;
}

// Two's-complement integers: flipping the top bit makes byte order match numeric order.
std::optional<std::string> signedKey(const Value& value, int size, bool ascending) {
    const std::int64_t min =
        size == 8 ? std::numeric_limits<std::int64_t>::min() : -(std::int64_t{1} << (size * 8 - 1));
    const std::int64_t max = size == 8 ? std::numeric_limits<std::int64_t>::max()
                                       : (std::int64_t{1} << (size * 8 - 1)) - 1;
    if (value.integer < min || value.integer > max)
        return std::nullopt;
    std::string bytes = bigEndian(static_cast<std::uint64_t>(value.integer), size);
    bytes[0] = static_cast<char>(bytes[0] ^ 0x80);
    if (!ascending)
        invert(bytes);
    return bytes;
}

// IEEE numbers: non-negative ones get the sign bit set, negative ones are inverted whole, so that
// larger magnitudes of negative numbers sort first.
std::string floatingKey(std::uint64_t bits, int size, bool ascending) {
    std::string bytes = bigEndian(bits, size);
    const bool negative = (bytes[0] & 0x80) != 0;
    if (!negative)
        bytes[0] = static_cast<char>(bytes[0] ^ 0x80);
    if (negative == ascending)
        invert(bytes);
    return bytes;
}

// A GUID as it is written out ({00112233-4455-6677-...}), in 8-byte segments: each segment is
// followed by 0x09 when more follow, the last one by its length. Descending inverts the data
// and the last length byte but keeps the 0x09 markers.
std::optional<std::string> guidKey(const Value& value, bool ascending) {
    if (value.kind != Value::Kind::Guid || value.bytes.size() != 16)
        return std::nullopt;
    std::string data = value.bytes;
    // The row stores the first three fields little-endian.
    std::swap(data[0], data[3]);
    std::swap(data[1], data[2]);
    std::swap(data[4], data[5]);
    std::swap(data[6], data[7]);
    std::string first = data.substr(0, 8);
    std::string last = data.substr(8, 8) + '\x08';
    if (!ascending) {
        invert(first);
        invert(last);
    }
    return first + '\x09' + last;
}

// Numeric (decimal) values: a sign byte, then the 128-bit magnitude big-endian. The row stores
// the magnitude as four 32-bit little-endian words, most significant first. In the key the sign
// byte is 0xFF for positive and 0x00 for negative numbers; the magnitude is inverted for negative
// numbers ascending and for positive numbers descending. (So a descending Numeric index lists
// negative numbers from -0 downwards before the positive ones: Jet 4 writes it that way.)
std::optional<std::string> numericKey(const Value& value, bool ascending) {
    if (value.kind != Value::Kind::Numeric || value.bytes.size() != 17)
        return std::nullopt;
    const auto sign = static_cast<unsigned char>(value.bytes[0]);
    if (sign != 0x00 && sign != 0x80)
        return std::nullopt;
    const bool negative = sign == 0x80;
    std::string magnitude;
    for (int word = 0; word < 4; ++word)
        for (int i = 3; i >= 0; --i)
            magnitude += value.bytes[1 + word * 4 + i];
    if (negative == ascending)
        invert(magnitude);
    return (negative ? '\x00' : '\xFF') + magnitude;
}

bool isIntegerKind(const Value& value) {
    return value.kind == Value::Kind::Integer;
}

// The value's bytes after the flag byte, or nothing.
std::optional<std::string> valueKey(const Value& value, ColumnType type, bool ascending) {
    switch (type) {
    case ColumnType::Byte: {
        if (!isIntegerKind(value) || value.integer < 0 || value.integer > 0xFF)
            return std::nullopt;
        std::string bytes(1, static_cast<char>(value.integer));
        if (!ascending)
            invert(bytes);
        return bytes;
    }
    case ColumnType::Integer:
        return isIntegerKind(value) ? signedKey(value, 2, ascending) : std::nullopt;
    case ColumnType::Long:
        return isIntegerKind(value) ? signedKey(value, 4, ascending) : std::nullopt;
    case ColumnType::Currency:
        return value.kind == Value::Kind::Currency ? signedKey(value, 8, ascending) : std::nullopt;
    case ColumnType::Single: {
        if (value.kind != Value::Kind::Single)
            return std::nullopt;
        const auto single = static_cast<float>(value.real);
        return floatingKey(std::bit_cast<std::uint32_t>(single), 4, ascending);
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        const auto kind = type == ColumnType::Double ? Value::Kind::Double : Value::Kind::DateTime;
        if (value.kind != kind)
            return std::nullopt;
        return floatingKey(std::bit_cast<std::uint64_t>(value.real), 8, ascending);
    }
    case ColumnType::Guid:
        return guidKey(value, ascending);
    case ColumnType::Numeric:
        return numericKey(value, ascending);
    case ColumnType::Text: {
        if (value.kind != Value::Kind::Text)
            return std::nullopt;
        auto bytes = generalTextKey(value.text);
        // Descending text is inverted including its final 0x00, then ends with another 0x00.
        if (bytes && !ascending) {
            invert(*bytes);
            *bytes += '\0';
        }
        return bytes;
    }
    default:
        return std::nullopt;
    }
}

} // namespace

std::optional<std::string> encodeIndexKey(std::span<const KeyPart> parts) {
    std::string key;
    for (const KeyPart& part : parts) {
        if (part.value == nullptr)
            return std::nullopt;
        const Value& value = *part.value;
        if (part.type == ColumnType::Boolean) {
            // A Yes/No value lives in the row's null mask, so it is never NULL: a NULL here is a
            // cleared bit, which is No. Yes sorts before No.
            if (!value.isNull() && value.kind != Value::Kind::Boolean)
                return std::nullopt;
            const bool yes = !value.isNull() && value.integer != 0;
            key += part.ascending ? kValueAscending : kValueDescending;
            key += yes == part.ascending ? '\x00' : '\xFF';
            continue;
        }
        if (part.type == ColumnType::Memo || part.type == ColumnType::Ole ||
            part.type == ColumnType::Binary)
            return std::nullopt;
        if (value.isNull()) {
            key += part.ascending ? kNullAscending : kNullDescending;
            continue;
        }
        auto bytes = valueKey(value, part.type, part.ascending);
        if (!bytes)
            return std::nullopt;
        key += part.ascending ? kValueAscending : kValueDescending;
        key += *bytes;
    }
    return key;
}

bool textKeysSupported(std::uint16_t sortOrder, std::uint16_t sortVersion) {
    return sortOrder == 1033 && sortVersion == 0;
}

} // namespace engine::jet4
