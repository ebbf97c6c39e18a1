#pragma once
// The engine value: what carries an argument or a result of a late-bound call.
//
// It is empty, null, a counted reference to an automation object, UTF-8 text, a 32-bit integer,
// a Boolean, a double (currency, date/time and floating-point column values), or a byte array
// (binary column values). Copies share
// the object they refer to; clear() (or assigning an empty value) releases this reference.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace automation {

class Object;
using ObjectRef = std::shared_ptr<Object>;

class Variant;
using Args = std::vector<Variant>;

class Variant {
public:
    enum class Kind { Empty, Null, Object, Text, Int, Bool, Double, Bytes };

    Variant() = default;
    Variant(ObjectRef object);
    Variant(std::string text) : value_(std::move(text)) {}
    Variant(const char* text) : value_(std::string(text)) {}
    Variant(std::string_view text) : value_(std::string(text)) {}
    Variant(std::int32_t number) : value_(number) {}
    Variant(bool flag) : value_(flag) {}
    Variant(double number) : value_(number) {}

    // The database's "no value".
    static Variant null();
    // A byte array holding `bytes`.
    static Variant bytes(std::vector<std::uint8_t> bytes);

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isEmpty() const { return kind() == Kind::Empty; }
    bool isNull() const { return kind() == Kind::Null; }
    bool isObject() const { return kind() == Kind::Object; }

    // Conversions in the manner of the original service. Empty converts to "", 0 and false;
    // Null and objects convert to nothing and raise a type-mismatch Error; text converts to a
    // number only when it reads as one. Booleans read as -1 (true) and 0 as numbers.
    std::string toText() const;
    std::int32_t toInt() const;
    bool toBool() const;
    double toDouble() const;
    // The bytes of a byte array; raises a type-mismatch Error for any other kind.
    const std::vector<std::uint8_t>& toBytes() const;
    // The referenced object; raises Error (object required) for any other kind.
    const ObjectRef& object() const;

    // Late-bound calls on the referenced object, by member name (case is ignored).
    // Raise Error when this value holds no object or when the object refuses the call.
    Variant get(std::string_view member, const Args& args = {}) const;
    void put(std::string_view member, const Variant& value) const;
    void put(std::string_view member, const Args& args, const Variant& value) const;
    Variant call(std::string_view member, const Args& args = {}) const;

    // Sets this value to empty, releasing the object reference it held.
    void clear() { value_ = std::monostate{}; }

    // Same kind and same value; objects compare by identity, text byte by byte.
    friend bool operator==(const Variant& a, const Variant& b);

    // Short readable form for messages and test output ("Null", "'abc'", "42"...).
    std::string describe() const;

private:
    struct NullTag {
        bool operator==(const NullTag&) const = default;
    };
    std::variant<std::monostate, NullTag, ObjectRef, std::string, std::int32_t, bool, double,
                 std::vector<std::uint8_t>>
        value_;
};

} // namespace automation
