#include "support/ReferenceReaders.h"

#include "support/ChildProcess.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// mdbtools prints numbers and converts text by the locale; C.UTF-8 keeps both exact.
const std::vector<std::string> mdbtoolsEnvironment{"LC_ALL=C.UTF-8"};

std::string runMdbtools(const std::vector<std::string>& args) {
    auto result = runProgram(args, mdbtoolsEnvironment);
    if (result.status != 0)
        throw std::runtime_error(args[0] + " failed on " + args.back() + " (exit " +
                                 std::to_string(result.status) + "): " + result.err);
    return std::move(result.out);
}

fs::path nodeModulesFolder() {
    if (const char* env = std::getenv("PATCH16_NODE_MODULES"); env && *env)
        return env;
    return PATCH16_NODE_MODULES_DEFAULT;
}

fs::path dumpScript() {
    return fs::path(PATCH16_SOURCE_DIR) / "tests" / "tools" / "mdb-reader-dump.mjs";
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const auto end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> split(std::string_view text, std::string_view separator) {
    std::vector<std::string> parts;
    while (true) {
        const auto at = text.find(separator);
        parts.emplace_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + separator.size());
    }
}

// ------------------------------------------------------------------------ JSON text

// A string as JSON.stringify writes it: quotes, backslashes and control characters escaped, every
// other character (UTF-8 here) unchanged.
std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[(c >> 4) & 0xf];
                out += hex[c & 0xf];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

// Lays out a number given in scientific form ("-1.2345e+05", shortest digits) as JavaScript's
// Number.prototype.toString does.
std::string jsLayout(std::string_view scientific) {
    std::string sign;
    if (scientific.front() == '-') {
        sign = "-";
        scientific.remove_prefix(1);
    }
    const auto e = scientific.find('e');
    std::string digits;
    for (const char c : scientific.substr(0, e))
        if (c != '.')
            digits += c;
    int exponent = 0;
    auto exponentText = scientific.substr(e + 1);
    if (exponentText.front() == '+')
        exponentText.remove_prefix(1);
    std::from_chars(exponentText.data(), exponentText.data() + exponentText.size(), exponent);
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1; // the decimal point sits after n digits
    if (k <= n && n <= 21)
        return sign + digits + std::string(static_cast<std::size_t>(n - k), '0');
    if (0 < n && n <= 21)
        return sign + digits.substr(0, static_cast<std::size_t>(n)) + "." +
               digits.substr(static_cast<std::size_t>(n));
    if (-6 < n && n <= 0)
        return sign + "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
    const std::string power = (n - 1 < 0 ? "e-" : "e+") + std::to_string(std::abs(n - 1));
    if (k == 1)
        return sign + digits + power;
    return sign + digits.substr(0, 1) + "." + digits.substr(1) + power;
}

template <typename Number> std::string shortestText(Number value) {
    if (!std::isfinite(value))
        return "null";
    if (value == 0)
        return "0";
    char buffer[64];
    const auto end =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific).ptr;
    return jsLayout(std::string_view(buffer, static_cast<std::size_t>(end - buffer)));
}

std::string base64(std::string_view bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += alphabet[v & 63];
    }
    if (i + 1 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += "==";
    } else if (i + 2 == bytes.size()) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[v >> 18];
        out += alphabet[(v >> 12) & 63];
        out += alphabet[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

std::string fromHex(std::string_view hex) {
    if (hex.size() % 2)
        throw std::runtime_error("mdb-export printed an odd number of hex digits");
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned v = 0;
        const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, v, 16);
        if (ec != std::errc() || end != hex.data() + i + 2)
            throw std::runtime_error("mdb-export printed a bad hex digit: " + std::string(hex));
        bytes += static_cast<char>(v);
    }
    return bytes;
}

template <typename Number> std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool isInteger(std::string_view text) {
    if (startsWith(text, "-"))
        text.remove_prefix(1);
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// One value printed by mdb-export, turned into the dump's form by the column's type.
std::string mdbtoolsValueJson(const std::string& text, const std::string& type) {
    const auto bad = [&]() {
        return std::runtime_error("mdb-export printed \"" + text + "\" for a " + type + " column");
    };
    if (startsWith(type, "Text") || startsWith(type, "Memo"))
        return jsonString(text);
    if (type == "Byte" || type == "Integer" || type == "Long Integer") {
        if (!isInteger(text))
            throw bad();
        return text;
    }
    if (type == "Single") {
        const auto value = parseNumber<float>(text);
        if (!value)
            throw bad();
        return shortestText(*value);
    }
    if (type == "Double") {
        const auto value = parseNumber<double>(text);
        if (!value)
            throw bad();
        return shortestText(*value);
    }
    if (type == "Boolean") {
        if (text != "0" && text != "1")
            throw bad();
        return text == "1" ? "true" : "false";
    }
    if (type == "Currency" || startsWith(type, "Numeric") || type == "DateTime")
        return jsonString(text);
    if (startsWith(type, "OLE") || startsWith(type, "Binary"))
        return jsonString(base64(fromHex(text)));
    if (type == "Replication ID") {
        // mdb-export hex-encodes the GUID's text; mdbtools 1.0 leaves out its fourth dash.
        std::string guid = fromHex(text);
        if (guid.size() == 37 && guid[24] != '-')
            guid.insert(24, "-");
        if (guid.size() != 38 || guid.front() != '{' || guid.back() != '}')
            throw bad();
        for (auto& c : guid)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return jsonString(guid);
    }
    throw std::runtime_error("no dump form for mdbtools' column type " + type);
}

// ------------------------------------------------------------------------ reading dump lines

struct JsonValue {
    enum Kind { Null, Boolean, Number, String } kind = Null;
    std::string text; // the decoded string, the number's text, or "true"/"false"
};

struct DumpRow {
    std::string table;
    std::vector<std::pair<std::string, JsonValue>> fields;
};

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xc0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xe0 | code >> 12);
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        out += static_cast<char>(0xf0 | code >> 18);
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        out += static_cast<char>(0x80 | (code & 0x3f));
    }
}

// Reads the one shape the dumps print: {"table":"...","row":{"key":value,...}} with string,
// number, true, false and null values. Lone surrogates decode to their own three bytes so that
// two dumps holding the same one still compare equal.
class DumpLineParser {
public:
    explicit DumpLineParser(std::string_view text) : text_(text) {}

    std::optional<DumpRow> parse() {
        DumpRow row;
        if (!literal("{") || !key("table") || !string(row.table) || !literal(",") || !key("row") ||
            !literal("{"))
            return std::nullopt;
        skipSpace();
        if (!peek('}')) {
            do {
                std::pair<std::string, JsonValue> field;
                if (!string(field.first) || !literal(":") || !value(field.second))
                    return std::nullopt;
                row.fields.push_back(std::move(field));
            } while (literal(","));
        }
        if (!literal("}") || !literal("}"))
            return std::nullopt;
        skipSpace();
        if (at_ != text_.size())
            return std::nullopt;
        return row;
    }

private:
    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t'))
            ++at_;
    }
    bool peek(char c) { return at_ < text_.size() && text_[at_] == c; }
    bool literal(std::string_view word) {
        skipSpace();
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }
    bool key(std::string_view name) {
        std::string read;
        return string(read) && read == name && literal(":");
    }
    bool hex4(unsigned& code) {
        if (at_ + 4 > text_.size())
            return false;
        const auto [end, ec] = std::from_chars(&text_[at_], &text_[at_] + 4, code, 16);
        if (ec != std::errc() || end != &text_[at_] + 4)
            return false;
        at_ += 4;
        return true;
    }
    bool string(std::string& out) {
        if (!literal("\""))
            return false;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                return false;
            switch (const char e = text_[at_++]) {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                unsigned code = 0;
                if (!hex4(code))
                    return false;
                if (code >= 0xd800 && code < 0xdc00 && text_.substr(at_, 2) == "\\u") {
                    const auto save = at_;
                    at_ += 2;
                    unsigned low = 0;
                    if (hex4(low) && low >= 0xdc00 && low < 0xe000)
                        code = 0x10000 + ((code - 0xd800) << 10) + (low - 0xdc00);
                    else
                        at_ = save;
                }
                appendUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }
    bool value(JsonValue& out) {
        skipSpace();
        if (peek('"')) {
            out.kind = JsonValue::String;
            return string(out.text);
        }
        for (const auto& [word, kind] : {std::pair{"null", JsonValue::Null},
                                         {"true", JsonValue::Boolean},
                                         {"false", JsonValue::Boolean}})
            if (literal(word)) {
                out.kind = kind;
                out.text = word;
                return true;
            }
        const auto start = at_;
        while (at_ < text_.size() &&
               std::string_view("+-.0123456789eE").find(text_[at_]) != std::string_view::npos)
            ++at_;
        out.kind = JsonValue::Number;
        out.text = std::string(text_.substr(start, at_ - start));
        return parseNumber<double>(out.text).has_value();
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// "YYYY-MM-DDTHH:MM:SS".
bool isDateTimeText(std::string_view text) {
    static constexpr std::string_view shape = "dddd-dd-ddTdd:dd:dd";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != shape[i])
            return false;
    return true;
}

std::string shown(const JsonValue& value) {
    return value.kind == JsonValue::String ? jsonString(value.text) : value.text;
}

// Whether `other` is a value mdbtools would have printed as `mdbtools`, given its quirks.
bool agreesWithQuirks(const JsonValue& mdbtools, const JsonValue& other,
                      const ReferenceColumn* column) {
    if (mdbtools.kind == other.kind && mdbtools.text == other.text)
        return true;
    if (!column)
        return false;
    const std::string& type = column->type;
    const bool bytes = startsWith(type, "OLE") || startsWith(type, "Binary");
    const bool text = startsWith(type, "Text") || startsWith(type, "Memo");
    if ((text || bytes) && mdbtools.kind == JsonValue::Null && other.kind == JsonValue::String)
        return other.text.empty();
    if (text && mdbtools.kind == JsonValue::String && other.kind == JsonValue::String) {
        const auto cut = other.text.find('\0');
        return cut != std::string::npos && mdbtools.text == other.text.substr(0, cut);
    }
    if ((type == "Single" || type == "Double") && mdbtools.kind == JsonValue::Number &&
        other.kind == JsonValue::Number) {
        const auto printed = parseNumber<double>(mdbtools.text);
        const auto exact = parseNumber<double>(other.text);
        if (!printed || !exact)
            return false;
        char buffer[64];
        if (type == "Single") {
            const auto end =
                std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(*exact),
                              std::chars_format::general, 8)
                    .ptr;
            const auto reread = parseNumber<float>(std::string_view(buffer, end - buffer));
            return reread && *reread == static_cast<float>(*printed);
        }
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, *exact, std::chars_format::general, 16)
                .ptr;
        const auto reread = parseNumber<double>(std::string_view(buffer, end - buffer));
        return reread && *reread == *printed;
    }
    if (type == "DateTime" && mdbtools.kind == JsonValue::String &&
        other.kind == JsonValue::String && mdbtools.text == "1900-01-00T00:00:00" &&
        isDateTimeText(other.text))
        return other.text < "1899-12-31T00:00:00" || other.text > "4637-11-26T00:00:00";
    return false;
}

} // namespace

// ------------------------------------------------------------------------ public API

const ReferenceColumn* ReferenceTable::column(std::string_view wanted) const {
    for (const auto& c : columns)
        if (c.name == wanted)
            return &c;
    return nullptr;
}

const ReferenceTable* ReferenceSchema::table(std::string_view wanted) const {
    for (const auto& t : tables)
        if (t.name == wanted)
            return &t;
    return nullptr;
}

std::optional<std::string> referenceToolsMissing() {
#if defined(_WIN32)
    // Both readers are run as Linux programs (node with the module ./test installs, Debian's
    // mdbtools); the Windows suite has neither.
    return "the reference readers (npm mdb-reader under node, Debian's mdbtools) are Linux "
           "programs, not run by the Windows suite";
#endif
    std::vector<std::string> missing;
    if (!onPath("node"))
        missing.push_back("node");
    const fs::path package = nodeModulesFolder() / "mdb-reader" / "package.json";
    std::ifstream in(package);
    const std::string manifest((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
    if (manifest.find("\"version\": \"3.") == std::string::npos &&
        manifest.find("\"version\":\"3.") == std::string::npos)
        missing.push_back("npm mdb-reader 3 (looked for " + package.string() +
                          "; ./test installs it, PATCH16_NODE_MODULES names another folder)");
    for (const char* tool : {"mdb-tables", "mdb-export", "mdb-schema"})
        if (!onPath(tool))
            missing.push_back(std::string(tool) + " (Debian mdbtools)");
    if (missing.empty())
        return std::nullopt;
    std::string reason = "the reference readers are missing:";
    for (const auto& m : missing)
        reason += " " + m + ";";
    reason.pop_back();
    return reason;
}

std::vector<std::string> mdbReaderDump(const fs::path& file) {
    auto result = runProgram({"node", dumpScript().string(), file.string()},
                             {"PATCH16_NODE_MODULES=" + nodeModulesFolder().string()});
    if (result.status != 0)
        throw std::runtime_error("mdb-reader cannot read " + file.string() + ": " + result.err);
    return splitLines(result.out);
}

std::vector<std::string> mdbtoolsDump(const fs::path& file) {
    // Separators no table holds, so every byte of every value passes unchanged.
    static const std::string field = "\x1e\x1f<mdb-export field>\x1f\x1e";
    static const std::string rowEnd = "\x1d\x1c<mdb-export row>\x1c\x1d\n";
    static const std::string null = "\x1a<mdb-export null>\x1a";
    static const std::string dateFormat = "%Y-%m-%dT%H:%M:%S";

    const ReferenceSchema schema = mdbSchema(file);
    std::vector<std::string> lines;
    for (const auto& table : splitLines(runMdbtools({"mdb-tables", "-1", file.string()}))) {
        const ReferenceTable* definition = schema.table(table);
        if (!definition)
            throw std::runtime_error("mdb-schema does not list table " + table + " of " +
                                     file.string());
        const std::string out =
            runMdbtools({"mdb-export", "-Q", "-d", field, "-R", rowEnd, "-0", null, "-b", "hex",
                         "-D", dateFormat, "-T", dateFormat, file.string(), table});
        auto rows = split(out, rowEnd);
        if (rows.empty() || !rows.back().empty())
            throw std::runtime_error("mdb-export output of " + table + " does not end a row");
        rows.pop_back();
        const auto header = split(rows.front(), field);
        std::vector<const ReferenceColumn*> columns;
        for (const auto& name : header) {
            columns.push_back(definition->column(name));
            if (!columns.back())
                throw std::runtime_error("mdb-schema does not list column " + name + " of " +
                                         table);
        }
        for (std::size_t r = 1; r < rows.size(); ++r) {
            const auto values = split(rows[r], field);
            if (values.size() != columns.size())
                throw std::runtime_error("mdb-export printed a row of " + table + " with " +
                                         std::to_string(values.size()) + " values");
            std::string line = "{\"table\":" + jsonString(table) + ",\"row\":{";
            for (std::size_t c = 0; c < values.size(); ++c) {
                if (c)
                    line += ',';
                line +=
                    jsonString(columns[c]->name) + ':' +
                    (values[c] == null ? "null" : mdbtoolsValueJson(values[c], columns[c]->type));
            }
            lines.push_back(line + "}}");
        }
    }
    return lines;
}

ReferenceSchema mdbSchema(const fs::path& file) {
    ReferenceSchema schema;
    // Tables and columns with Access' own type names.
    const std::string access = runMdbtools(
        {"mdb-schema", "--not-null", "--no-indexes", "--no-relations", file.string(), "access"});
    for (const auto& line : splitLines(access)) {
        if (startsWith(line, "CREATE TABLE [")) {
            const auto end = line.rfind(']');
            schema.tables.push_back({line.substr(14, end - 14), {}, {}});
        } else if (startsWith(line, "\t[") && !schema.tables.empty()) {
            const auto end = line.find(']');
            ReferenceColumn column{line.substr(2, end - 2), line.substr(end + 1), false};
            auto& type = column.type;
            type.erase(0, type.find_first_not_of('\t'));
            while (!type.empty() && (type.back() == ' ' || type.back() == ','))
                type.pop_back();
            if (type.ends_with(" NOT NULL")) {
                column.notNull = true;
                type.erase(type.size() - 9);
            }
            schema.tables.back().columns.push_back(std::move(column));
        }
    }
    // Indexes: the Access output has none; MySQL's keeps their names and columns unchanged.
    const std::string mysql =
        runMdbtools({"mdb-schema", "--indexes", "--no-relations", file.string(), "mysql"});
    for (const auto& line : splitLines(mysql)) {
        static const std::string alter = "ALTER TABLE `";
        const auto tableEnd = line.find("` ADD ");
        if (!startsWith(line, alter) || tableEnd == std::string::npos)
            continue;
        const std::string tableName = line.substr(alter.size(), tableEnd - alter.size());
        std::string_view rest = std::string_view(line).substr(tableEnd + 6);
        ReferenceIndex index;
        if (startsWith(rest, "PRIMARY KEY ")) {
            index.primary = index.unique = true;
        } else {
            if (startsWith(rest, "UNIQUE ")) {
                index.unique = true;
                rest.remove_prefix(7);
            }
            if (!startsWith(rest, "INDEX `"))
                continue;
            rest.remove_prefix(7);
            const auto nameEnd = rest.find("` (");
            index.name = std::string(rest.substr(0, nameEnd));
        }
        const auto open = rest.find('(');
        const auto close = rest.rfind(')');
        if (open == std::string_view::npos || close == std::string_view::npos || close < open)
            continue;
        const auto inside = rest.substr(open + 1, close - open - 1);
        if (inside.size() >= 2)
            for (const auto& name : split(inside.substr(1, inside.size() - 2), "`, `"))
                index.columns.push_back(name);
        for (auto& table : schema.tables)
            if (table.name == tableName)
                table.indexes.push_back(index);
    }
    return schema;
}

std::vector<std::string> mdbtoolsDisagreements(const std::vector<std::string>& mdbtools,
                                               const std::vector<std::string>& other,
                                               const ReferenceSchema& schema) {
    std::vector<std::string> problems;
    if (mdbtools.size() != other.size())
        problems.push_back("mdbtools has " + std::to_string(mdbtools.size()) + " rows, the other " +
                           std::to_string(other.size()));
    for (std::size_t i = 0; i < std::min(mdbtools.size(), other.size()); ++i) {
        const std::string where = "line " + std::to_string(i + 1);
        if (mdbtools[i] == other[i])
            continue;
        const auto a = DumpLineParser(mdbtools[i]).parse();
        const auto b = DumpLineParser(other[i]).parse();
        if (!a || !b) {
            problems.push_back(where + ": not a dump line: " + (a ? other[i] : mdbtools[i]));
            continue;
        }
        if (a->table != b->table) {
            problems.push_back(where + ": table " + a->table + " in mdbtools, " + b->table +
                               " in the other");
            continue;
        }
        const ReferenceTable* table = schema.table(a->table);
        const std::string at = where + " (table " + a->table + ")";
        if (a->fields.size() != b->fields.size()) {
            problems.push_back(at + ": " + std::to_string(a->fields.size()) +
                               " columns in mdbtools, " + std::to_string(b->fields.size()) +
                               " in the other");
            continue;
        }
        for (std::size_t f = 0; f < a->fields.size(); ++f) {
            const auto& [name, value] = a->fields[f];
            if (name != b->fields[f].first) {
                problems.push_back(at + ": column " + std::to_string(f + 1) + " is " + name +
                                   " in mdbtools, " + b->fields[f].first + " in the other");
                break;
            }
            if (!agreesWithQuirks(value, b->fields[f].second,
                                  table ? table->column(name) : nullptr))
                problems.push_back(at + " column " + name + ": mdbtools " + shown(value) +
                                   ", the other " + shown(b->fields[f].second));
        }
    }
    return problems;
}

std::string jsNumberText(double value) {
    return shortestText(value);
}

std::string jsSingleText(float value) {
    return shortestText(value);
}

} // namespace testsupport
