#include "engine/jet4/format/Value.h"

namespace engine::jet4 {

bool isKnownColumnType(std::uint8_t type) {
    switch (static_cast<ColumnType>(type)) {
    case ColumnType::Boolean:
    case ColumnType::Byte:
    case ColumnType::Integer:
    case ColumnType::Long:
    case ColumnType::Currency:
    case ColumnType::Single:
    case ColumnType::Double:
    case ColumnType::DateTime:
    case ColumnType::Binary:
    case ColumnType::Text:
    case ColumnType::Ole:
    case ColumnType::Memo:
    case ColumnType::Guid:
    case ColumnType::Numeric:
        return true;
    }
    return false;
}

std::string numericText(const Value& value) {
    const std::string& b = value.bytes;
    if (b.size() < 17)
        return "invalid";
    // Sign byte (0x80: negative), then four 32-bit little-endian words, the most significant
    // first. The 128-bit magnitude stays in those words and is divided by ten word by word, as
    // 32-bit targets have no 128-bit integer.
    std::uint32_t magnitude[4] = {};
    for (int word = 0; word < 4; ++word)
        for (int i = 3; i >= 0; --i)
            magnitude[word] =
                magnitude[word] << 8 | static_cast<unsigned char>(b[1 + word * 4 + i]);
    const auto nonZero = [&] {
        return (magnitude[0] | magnitude[1] | magnitude[2] | magnitude[3]) != 0;
    };
    const auto nextDigit = [&] { // the magnitude's last digit, which leaves it
        std::uint64_t rest = 0;
        for (std::uint32_t& word : magnitude) {
            const std::uint64_t part = rest << 32 | word;
            word = static_cast<std::uint32_t>(part / 10);
            rest = part % 10;
        }
        return static_cast<int>(rest);
    };
    // Digits from the last; at least one before the decimal point.
    char buffer[64];
    std::size_t pos = sizeof buffer;
    std::size_t written = 0;
    while (nonZero() || written <= value.scale) {
        if (written == value.scale && value.scale > 0)
            buffer[--pos] = '.';
        buffer[--pos] = static_cast<char>('0' + nextDigit());
        ++written;
    }
    const bool negative = (static_cast<unsigned char>(b[0]) & 0x80) != 0;
    return (negative ? "-" : "") + std::string(buffer + pos, sizeof buffer - pos);
}

std::string guidText(std::string_view b) {
    if (b.size() != 16)
        return "invalid";
    static constexpr int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            out += '-';
        const auto byte = static_cast<unsigned char>(b[static_cast<std::size_t>(order[i])]);
        out += hex[byte >> 4];
        out += hex[byte & 15];
    }
    return out + "}";
}

} // namespace engine::jet4
