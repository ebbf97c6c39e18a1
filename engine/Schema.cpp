#include "engine/Schema.h"

#include <cctype>
#include <charconv>

namespace engine {

namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// A type name split into its word(s) and an optional "(n)" or "(n, m)" size part.
struct TypeName {
    std::string base;     // upper case, inner blanks collapsed to one
    bool hasSize = false; // a parenthesised part was present
    bool sizeValid = false;
    int size = 0;
};

TypeName splitTypeName(std::string_view text) {
    TypeName out;
    text = trim(text);
    std::size_t open = text.find('(');
    std::string_view base = trim(text.substr(0, open));
    bool blank = false;
    for (char c : base) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            blank = true;
            continue;
        }
        if (blank && !out.base.empty())
            out.base += ' ';
        blank = false;
        out.base += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (open == std::string_view::npos)
        return out;
    out.hasSize = true;
    std::size_t close = text.find(')', open);
    if (close == std::string_view::npos || !trim(text.substr(close + 1)).empty())
        return out;
    std::string_view inside = trim(text.substr(open + 1, close - open - 1));
    // Other programs write NUMERIC(10,2) and the like: only the first number matters here.
    std::size_t comma = inside.find(',');
    std::string_view first = trim(inside.substr(0, comma));
    auto [ptr, ec] = std::from_chars(first.data(), first.data() + first.size(), out.size);
    out.sizeValid = ec == std::errc() && ptr == first.data() + first.size();
    return out;
}

bool contains(const std::string& text, std::string_view part) {
    return text.find(part) != std::string::npos;
}

} // namespace

bool isFieldType(int code) {
    switch (code) {
    case 1:
    case 2:
    case 3:
    case 4:
    case 5:
    case 6:
    case 7:
    case 8:
    case 10:
    case 12:
        return true;
    default:
        return false;
    }
}

int defaultSize(FieldType type) {
    switch (type) {
    case FieldType::Boolean:
    case FieldType::Byte:
        return 1;
    case FieldType::Integer:
        return 2;
    case FieldType::Long:
    case FieldType::Single:
        return 4;
    case FieldType::Currency:
    case FieldType::Double:
    case FieldType::Date:
        return 8;
    case FieldType::Text:
    case FieldType::Binary:
        return 255;
    case FieldType::Guid:
    case FieldType::Decimal:
        return 16;
    case FieldType::Memo:
    case FieldType::LongBinary:
        return 0;
    }
    return 0;
}

std::string canonicalTypeName(FieldType type, int size) {
    switch (type) {
    case FieldType::Boolean:
        return "BIT";
    case FieldType::Byte:
        return "BYTE";
    case FieldType::Integer:
        return "SHORT";
    case FieldType::Long:
        return "LONG";
    case FieldType::Currency:
        return "CURRENCY";
    case FieldType::Single:
        return "REAL";
    case FieldType::Double:
        return "DOUBLE";
    case FieldType::Date:
        return "DATETIME";
    case FieldType::Text:
        return "TEXT(" + std::to_string(size > 0 ? size : defaultSize(type)) + ")";
    case FieldType::Memo:
        return "LONGTEXT";
    case FieldType::Binary:
        return "BINARY(" + std::to_string(size > 0 ? size : defaultSize(type)) + ")";
    case FieldType::LongBinary:
        return "LONGBINARY";
    case FieldType::Guid:
        return "GUID";
    case FieldType::Decimal:
        return "DECIMAL";
    }
    return "LONGTEXT";
}

std::optional<DerivedType> jetType(std::string_view name) {
    TypeName t = splitTypeName(name);
    if (t.base == "TEXT" || t.base == "CHAR" || t.base == "VARCHAR") {
        if (!t.hasSize)
            return DerivedType{FieldType::Text, defaultSize(FieldType::Text)};
        if (!t.sizeValid || t.size < 1 || t.size > 255)
            return std::nullopt;
        return DerivedType{FieldType::Text, t.size};
    }
    if (t.hasSize)
        return std::nullopt;
    struct Synonym {
        const char* name;
        FieldType type;
    };
    static const Synonym synonyms[] = {
        {"MEMO", FieldType::Memo},         {"LONGTEXT", FieldType::Memo},
        {"BYTE", FieldType::Byte},         {"SHORT", FieldType::Integer},
        {"SMALLINT", FieldType::Integer},  {"LONG", FieldType::Long},
        {"INT", FieldType::Long},          {"INTEGER", FieldType::Long},
        {"SINGLE", FieldType::Single},     {"REAL", FieldType::Single},
        {"DOUBLE", FieldType::Double},     {"FLOAT", FieldType::Double},
        {"CURRENCY", FieldType::Currency}, {"MONEY", FieldType::Currency},
        {"DATETIME", FieldType::Date},     {"DATE", FieldType::Date},
        {"BIT", FieldType::Boolean},       {"YESNO", FieldType::Boolean},
    };
    for (const Synonym& s : synonyms)
        if (t.base == s.name)
            return DerivedType{s.type, defaultSize(s.type)};
    return std::nullopt;
}

DerivedType deriveType(std::string_view declared) {
    auto make = [](FieldType type) { return DerivedType{type, defaultSize(type)}; };
    TypeName t = splitTypeName(declared);
    if (t.base == "TEXT" || t.base == "CHAR" || t.base == "VARCHAR" || t.base == "NCHAR" ||
        t.base == "NVARCHAR" || t.base == "CHARACTER" || t.base == "VARYING CHARACTER" ||
        t.base == "NATIVE CHARACTER") {
        if (t.sizeValid && t.size >= 1 && t.size <= 255)
            return {FieldType::Text, t.size};
        // Longer than a text field may be, or no limit at all from a program that set none.
        return t.hasSize ? make(FieldType::Memo) : make(FieldType::Text);
    }
    if (std::optional<DerivedType> jet = jetType(declared))
        return *jet;
    if (t.base == "TINYINT" || t.base == "UNSIGNED TINYINT")
        return make(FieldType::Byte);
    if (t.base == "BOOLEAN" || t.base == "BOOL" || t.base == "LOGICAL")
        return make(FieldType::Boolean);
    if (t.base == "TIMESTAMP" || t.base == "TIME")
        return make(FieldType::Date);
    if (t.base == "DOUBLE PRECISION")
        return make(FieldType::Double);
    // SQLite's affinity rules, in SQLite's order.
    const std::string& b = t.base;
    if (contains(b, "INT"))
        return make(FieldType::Long);
    if (contains(b, "CHAR") || contains(b, "CLOB") || contains(b, "TEXT"))
        return make(FieldType::Memo);
    if (b.empty() || contains(b, "BLOB"))
        return make(FieldType::Memo);
    return make(FieldType::Double); // REAL and NUMERIC affinity
}

} // namespace engine
