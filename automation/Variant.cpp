#include "automation/Variant.h"

#include "automation/Error.h"
#include "automation/Object.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace automation {

namespace {

const char* kSource = "Automation";

[[noreturn]] void typeMismatch(const Variant& v, const char* wanted) {
    throw Error(errors::TypeMismatch,
                "Несоответствие типа: значение " + v.describe() + " нельзя преобразовать в " +
                    wanted,
                kSource);
}

std::string formatDouble(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.15g", d);
    return buf;
}

// Parses the whole of `text` (surrounding blanks allowed) as a number.
bool parseNumber(const std::string& text, double& out) {
    std::size_t b = text.find_first_not_of(" \t");
    std::size_t e = text.find_last_not_of(" \t");
    if (b == std::string::npos)
        return false;
    const char* first = text.data() + b;
    const char* last = text.data() + e + 1;
    auto [ptr, ec] = std::from_chars(first, last, out);
    return ec == std::errc() && ptr == last;
}

} // namespace

Variant::Variant(ObjectRef object) {
    if (object)
        value_ = std::move(object);
}

Variant Variant::null() {
    Variant v;
    v.value_ = NullTag{};
    return v;
}

Variant Variant::bytes(std::vector<std::uint8_t> bytes) {
    Variant v;
    v.value_ = std::move(bytes);
    return v;
}

const std::vector<std::uint8_t>& Variant::toBytes() const {
    if (kind() != Kind::Bytes)
        typeMismatch(*this, "массив байтов");
    return std::get<std::vector<std::uint8_t>>(value_);
}

std::string Variant::toText() const {
    switch (kind()) {
    case Kind::Empty:
        return {};
    case Kind::Text:
        return std::get<std::string>(value_);
    case Kind::Int:
        return std::to_string(std::get<std::int32_t>(value_));
    case Kind::Bool:
        return std::get<bool>(value_) ? "True" : "False";
    case Kind::Double:
        return formatDouble(std::get<double>(value_));
    case Kind::Null:
    case Kind::Object:
    case Kind::Bytes:
        break;
    }
    typeMismatch(*this, "текст");
}

double Variant::toDouble() const {
    switch (kind()) {
    case Kind::Empty:
        return 0;
    case Kind::Int:
        return std::get<std::int32_t>(value_);
    case Kind::Bool:
        return std::get<bool>(value_) ? -1 : 0;
    case Kind::Double:
        return std::get<double>(value_);
    case Kind::Text: {
        double d = 0;
        if (parseNumber(std::get<std::string>(value_), d))
            return d;
        break;
    }
    case Kind::Null:
    case Kind::Object:
    case Kind::Bytes:
        break;
    }
    typeMismatch(*this, "число");
}

std::int32_t Variant::toInt() const {
    if (kind() == Kind::Int)
        return std::get<std::int32_t>(value_);
    double d = toDouble();
    // Round half to even, as the original service converted doubles to integers.
    double r = std::nearbyint(d);
    if (!(r >= std::numeric_limits<std::int32_t>::min() &&
          r <= std::numeric_limits<std::int32_t>::max()))
        throw Error(errors::TypeMismatch,
                    "Переполнение: значение " + describe() + " не помещается в целое", kSource);
    return static_cast<std::int32_t>(r);
}

bool Variant::toBool() const {
    switch (kind()) {
    case Kind::Bool:
        return std::get<bool>(value_);
    case Kind::Text: {
        const std::string& t = std::get<std::string>(value_);
        if (t == "True" || t == "true" || t == "TRUE")
            return true;
        if (t == "False" || t == "false" || t == "FALSE")
            return false;
        break;
    }
    default:
        break;
    }
    return toDouble() != 0;
}

const ObjectRef& Variant::object() const {
    if (kind() != Kind::Object)
        throw Error(errors::ObjectRequired, "Требуется объект, а значение " + describe(), kSource);
    return std::get<ObjectRef>(value_);
}

Variant Variant::get(std::string_view member, const Args& args) const {
    return object()->invoke(member, CallKind::Get, args);
}

void Variant::put(std::string_view member, const Variant& value) const {
    put(member, {}, value);
}

void Variant::put(std::string_view member, const Args& args, const Variant& value) const {
    Args all = args;
    all.push_back(value);
    object()->invoke(member, CallKind::Put, all);
}

Variant Variant::call(std::string_view member, const Args& args) const {
    return object()->invoke(member, CallKind::Call, args);
}

bool operator==(const Variant& a, const Variant& b) {
    return a.value_ == b.value_;
}

std::string Variant::describe() const {
    switch (kind()) {
    case Kind::Empty:
        return "Empty";
    case Kind::Null:
        return "Null";
    case Kind::Object:
        return "<объект>";
    case Kind::Text:
        return "'" + std::get<std::string>(value_) + "'";
    case Kind::Bytes:
        return "<" + std::to_string(std::get<std::vector<std::uint8_t>>(value_).size()) +
               " байт>";
    default:
        return toText();
    }
}

} // namespace automation
