#pragma once
// One column value as a Jet 4 file stores it, decoded but not yet converted for the engine:
// what the reader returns for every cell, what the index-key encoder takes, and what the
// checker's dump prints.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace engine::jet4 {

// The column kinds of a Jet 4 table definition (the type byte of a column descriptor).
enum class ColumnType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,  // 16-bit
    Long = 0x04,     // 32-bit
    Currency = 0x05, // 64-bit integer scaled by 10,000
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08, // double: days since 1899-12-30, fraction = time of day
    Binary = 0x09,   // up to 255 bytes
    Text = 0x0A,     // up to 255 characters, UTF-16 or compressed
    Ole = 0x0B,      // long binary value
    Memo = 0x0C,     // long text value
    Guid = 0x0F,     // 16 bytes
    Numeric = 0x10,  // 17 bytes: precision and scale in the column, sign + 128-bit integer
};

// True for the type bytes above.
bool isKnownColumnType(std::uint8_t type);

struct Value {
    enum class Kind {
        Null,
        Boolean,  // `integer` is 0 or 1
        Integer,  // Byte, Integer and Long columns: `integer`
        Currency, // `integer` scaled by 10,000
        Single,   // `real` (exactly a float's value)
        Double,   // `real`
        DateTime, // `real`: days since 1899-12-30
        Text,     // Text and Memo columns: `text`, UTF-16 code units exactly as stored
        Binary,   // Binary and Ole columns: `bytes`
        Guid,     // `bytes`: the 16 stored bytes
        Numeric,  // `bytes`: the 17 stored bytes (sign byte, then four 32-bit words); `scale`
    };

    Kind kind = Kind::Null;
    std::int64_t integer = 0;
    double real = 0;
    std::u16string text;
    std::string bytes;
    std::uint8_t scale = 0; // Numeric only: decimal places

    bool isNull() const { return kind == Kind::Null; }
};

// Values as the writers build them.
inline Value integerValue(std::int64_t v, Value::Kind kind = Value::Kind::Integer) {
    Value value;
    value.kind = kind;
    value.integer = v;
    return value;
}

inline Value booleanValue(bool b) {
    return integerValue(b ? 1 : 0, Value::Kind::Boolean);
}

inline Value dateValue(double days) {
    Value value;
    value.kind = Value::Kind::DateTime;
    value.real = days;
    return value;
}

inline Value textValue(std::u16string_view text) {
    Value value;
    value.kind = Value::Kind::Text;
    value.text = text;
    return value;
}

inline Value binaryValue(std::string bytes) {
    Value value;
    value.kind = Value::Kind::Binary;
    value.bytes = std::move(bytes);
    return value;
}

// A Numeric value as decimal text with its `scale` decimals ("-12.50", "0.003"); "invalid" when
// the value holds fewer than 17 bytes.
std::string numericText(const Value& value);

// A GUID's 16 stored bytes as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (the first three groups
// are stored little-endian); "invalid" for any other length.
std::string guidText(std::string_view bytes);

} // namespace engine::jet4
