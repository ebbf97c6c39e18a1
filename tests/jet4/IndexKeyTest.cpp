// Index entry keys: flag bytes, the byte layout of each column type in both orders, and the
// byte order of keys following the order of the values.

#include "engine/jet4/index/IndexKey.h"

#include <gtest/gtest.h>

#include <sstream>
#include <vector>

using engine::jet4::ColumnType;
using engine::jet4::encodeIndexKey;
using engine::jet4::integerValue;
using engine::jet4::KeyPart;
using engine::jet4::textKeysSupported;
using engine::jet4::textValue;
using engine::jet4::Value;

namespace {

Value real(double x, Value::Kind kind) {
    Value v;
    v.kind = kind;
    v.real = x;
    return v;
}

Value raw(Value::Kind kind, std::string bytes) {
    Value v;
    v.kind = kind;
    v.bytes = std::move(bytes);
    return v;
}

std::string hex(const std::string& bytes) {
    std::ostringstream out;
    for (unsigned char byte : bytes)
        out << "0123456789ABCDEF"[byte >> 4] << "0123456789ABCDEF"[byte & 15] << ' ';
    return out.str();
}

std::string hex(std::initializer_list<unsigned> values) {
    return hex(std::string(values.begin(), values.end()));
}

std::optional<std::string> keyOf(const Value& value, ColumnType type, bool ascending) {
    const KeyPart part{&value, type, ascending};
    return encodeIndexKey(std::span(&part, 1));
}

// Stored bytes 00 01 .. 0F, and a Numeric of +5 / -5 (sign byte, four little-endian words).
std::string guidBytes() {
    std::string b;
    for (int i = 0; i < 16; ++i)
        b += static_cast<char>(i);
    return b;
}
std::string numericBytes(bool negative) {
    std::string b(17, '\0');
    b[0] = negative ? '\x80' : '\0';
    b[13] = 5;
    return b;
}

struct KeyCase {
    const char* what;
    Value value;
    ColumnType type;
    bool ascending;
    std::string key; // as hex()
};

// Test names and messages show what a case is about, not its bytes.
void PrintTo(const KeyCase& c, std::ostream* os) {
    *os << c.what;
}

class IndexKeyCases : public testing::TestWithParam<KeyCase> {};

} // namespace

TEST_P(IndexKeyCases, WritesTheseBytes) {
    const auto key = keyOf(GetParam().value, GetParam().type, GetParam().ascending);
    ASSERT_TRUE(key) << GetParam().what;
    EXPECT_EQ(hex(*key), GetParam().key) << GetParam().what;
}

using K = Value::Kind;
using T = ColumnType;

INSTANTIATE_TEST_SUITE_P(
    Examples, IndexKeyCases,
    testing::Values(
        KeyCase{"long", integerValue(1), T::Long, true, hex({0x7F, 0x80, 0, 0, 1})},
        KeyCase{"long desc", integerValue(1), T::Long, false, hex({0x80, 0x7F, 0xFF, 0xFF, 0xFE})},
        KeyCase{"negative long", integerValue(-1), T::Long, true,
                hex({0x7F, 0x7F, 0xFF, 0xFF, 0xFF})},
        KeyCase{"integer", integerValue(0x0D), T::Integer, true, hex({0x7F, 0x80, 0x0D})},
        KeyCase{"byte desc", integerValue(0x0D), T::Byte, false, hex({0x80, 0xF2})},
        KeyCase{"currency 1.00", integerValue(10000, K::Currency), T::Currency, true,
                hex({0x7F, 0x80, 0, 0, 0, 0, 0, 0x27, 0x10})},
        KeyCase{"double", real(1, K::Double), T::Double, true,
                hex({0x7F, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0})},
        KeyCase{"negative double", real(-1, K::Double), T::Double, true,
                hex({0x7F, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        KeyCase{"double desc", real(1, K::Double), T::Double, false,
                hex({0x80, 0x40, 0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF})},
        KeyCase{"negative double desc", real(-1, K::Double), T::Double, false,
                hex({0x80, 0xBF, 0xF0, 0, 0, 0, 0, 0, 0})},
        KeyCase{"single", real(1, K::Single), T::Single, true, hex({0x7F, 0xBF, 0x80, 0, 0})},
        KeyCase{"date", real(0, K::DateTime), T::DateTime, true,
                hex({0x7F, 0x80, 0, 0, 0, 0, 0, 0, 0})},
        KeyCase{"NULL", Value{}, T::Long, true, hex({0x00})},
        KeyCase{"NULL desc", Value{}, T::Text, false, hex({0xFF})},
        KeyCase{"yes", integerValue(1, K::Boolean), T::Boolean, true, hex({0x7F, 0x00})},
        KeyCase{"no", integerValue(0, K::Boolean), T::Boolean, true, hex({0x7F, 0xFF})},
        KeyCase{"yes desc", integerValue(1, K::Boolean), T::Boolean, false, hex({0x80, 0xFF})},
        KeyCase{"boolean NULL is no", Value{}, T::Boolean, false, hex({0x80, 0x00})},
        KeyCase{"text desc", textValue(u"AB"), T::Text, false,
                hex({0x80, 0xB5, 0xB3, 0xFE, 0xFF, 0x00})},
        KeyCase{"guid", raw(K::Guid, guidBytes()), T::Guid, true,
                hex({0x7F, 3, 2, 1, 0, 5, 4, 7, 6, 0x09, 8, 9, 10, 11, 12, 13, 14, 15, 0x08})},
        KeyCase{"guid desc", raw(K::Guid, guidBytes()), T::Guid, false,
                hex({0x80, 0xFC, 0xFD, 0xFE, 0xFF, 0xFA, 0xFB, 0xF8, 0xF9, 0x09, 0xF7, 0xF6, 0xF5,
                     0xF4, 0xF3, 0xF2, 0xF1, 0xF0, 0xF7})},
        KeyCase{"numeric", raw(K::Numeric, numericBytes(false)), T::Numeric, true,
                hex({0x7F, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5})},
        KeyCase{"negative numeric", raw(K::Numeric, numericBytes(true)), T::Numeric, true,
                hex({0x7F, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                     0xFF, 0xFF, 0xFF, 0xFF, 0xFA})},
        KeyCase{"numeric desc", raw(K::Numeric, numericBytes(false)), T::Numeric, false,
                hex({0x80, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                     0xFF, 0xFF, 0xFF, 0xFF, 0xFA})},
        KeyCase{"negative numeric desc", raw(K::Numeric, numericBytes(true)), T::Numeric, false,
                hex({0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5})}),
    [](const auto& info) { return std::to_string(info.index); });

TEST(IndexKey, ConcatenatesTheColumnsOfAMultiColumnKey) {
    const Value name = textValue(u"A");
    const Value number = integerValue(2);
    const Value missing;
    const std::vector<KeyPart> parts{
        {&name, T::Text, true}, {&number, T::Long, false}, {&missing, T::Integer, true}};
    const auto key = encodeIndexKey(parts);
    ASSERT_TRUE(key);
    EXPECT_EQ(hex(*key), hex({0x7F, 0x4A, 0x01, 0x00, 0x80, 0x7F, 0xFF, 0xFF, 0xFD, 0x00}));
    // Appended to bytes already in a buffer, the same key follows them.
    std::string buffer = "held";
    ASSERT_TRUE(appendIndexKey(parts, buffer));
    EXPECT_EQ(buffer, "held" + *key);
}

TEST(IndexKey, KeysOrderAsTheValuesDoInBothDirections) {
    const std::vector<std::pair<ColumnType, std::vector<Value>>> ordered{
        {T::Long,
         {integerValue(INT32_MIN), integerValue(-1), integerValue(0), integerValue(1),
          integerValue(INT32_MAX)}},
        {T::Double,
         {real(-1e300, K::Double), real(-1, K::Double), real(-0.5, K::Double), real(0, K::Double),
          real(0.5, K::Double), real(1e300, K::Double)}},
        {T::Single, {real(-2, K::Single), real(-0.25, K::Single), real(0.25, K::Single)}},
        {T::Text, {textValue(u"a"), textValue(u"ab"), textValue(u"b"), textValue(u"ба")}},
    };
    for (const auto& [type, values] : ordered)
        for (std::size_t i = 1; i < values.size(); ++i) {
            EXPECT_LT(*keyOf(values[i - 1], type, true), *keyOf(values[i], type, true)) << i;
            EXPECT_GT(*keyOf(values[i - 1], type, false), *keyOf(values[i], type, false)) << i;
        }
}

TEST(IndexKey, RefusesValuesWithoutAKnownKey) {
    const std::vector<std::pair<Value, ColumnType>> refused{
        {textValue(u"x"), T::Memo},        {raw(K::Binary, "x"), T::Ole},
        {raw(K::Binary, "x"), T::Binary},  {textValue(u"1"), T::Long},
        {integerValue(70000), T::Integer}, {integerValue(256), T::Byte},
        {textValue(u"α"), T::Text},        {raw(K::Numeric, std::string(17, '\x01')), T::Numeric},
        {raw(K::Guid, "short"), T::Guid},
    };
    const Value before = integerValue(1);
    for (const auto& [value, type] : refused) {
        EXPECT_FALSE(keyOf(value, type, true)) << static_cast<int>(type);
        // After a column that has a key, appending leaves the buffer as it was.
        const std::vector<KeyPart> parts{{&before, T::Long, true}, {&value, type, true}};
        std::string buffer = "held";
        EXPECT_FALSE(appendIndexKey(parts, buffer)) << static_cast<int>(type);
        EXPECT_EQ(buffer, "held") << static_cast<int>(type);
    }
}

TEST(IndexKey, TextKeysOnlyForGeneralVersionZero) {
    EXPECT_TRUE(textKeysSupported(1033, 0));
    EXPECT_FALSE(textKeysSupported(1033, 1));
    EXPECT_FALSE(textKeysSupported(1049, 0));
    EXPECT_FALSE(textKeysSupported(1058, 0));
}
