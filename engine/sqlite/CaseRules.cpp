#include "engine/sqlite/CaseRules.h"

#include "automation/CaseFold.h"
#include "automation/Utf8.h"

#include <sqlite3.h>

#include <optional>
#include <string_view>

namespace engine {

namespace {

int compare(void*, int lengthA, const void* a, int lengthB, const void* b) {
    return automation::compareFolded(
        std::string_view(static_cast<const char*>(a), static_cast<std::size_t>(lengthA)),
        std::string_view(static_cast<const char*>(b), static_cast<std::size_t>(lengthB)));
}

// One character of a LIKE operand: a folded code point, or a byte that is no UTF-8 (above every
// code point, so it equals only itself), and its length in bytes.
struct Unit {
    char32_t value;
    std::size_t length;
};

constexpr char32_t ForeignByte = 0x110000;

Unit unitAt(std::string_view text, std::size_t at) {
    char32_t c = 0;
    const std::size_t length = automation::decodeUtf8(text.substr(at), c);
    if (length == 0)
        return {ForeignByte + static_cast<unsigned char>(text[at]), 1};
    return {c, length};
}

bool sameUnit(const Unit& a, const Unit& b) {
    return automation::foldCase(a.value) == automation::foldCase(b.value);
}

// SQLite's LIKE (% any run of characters, _ one character, `escape` making the next pattern
// character literal), case ignored by the engine's rule. One backtracking point for the last %
// seen keeps it linear in practice and quadratic at worst.
bool like(std::string_view pattern, std::string_view text, std::optional<char32_t> escape) {
    std::size_t p = 0, t = 0;
    std::optional<std::size_t> afterPercent; // pattern position after the last % seen
    std::size_t resumeText = 0;              // where the text resumes when that % takes one more
    while (t < text.size()) {
        if (p < pattern.size()) {
            const Unit wanted = unitAt(pattern, p);
            const Unit got = unitAt(text, t);
            if (escape && wanted.value == *escape) {
                if (p + wanted.length < pattern.size()) {
                    const Unit literal = unitAt(pattern, p + wanted.length);
                    if (sameUnit(literal, got)) {
                        p += wanted.length + literal.length;
                        t += got.length;
                        continue;
                    }
                }
            } else if (wanted.value == '%') {
                p += wanted.length;
                afterPercent = p;
                resumeText = t;
                continue;
            } else if (wanted.value == '_' || sameUnit(wanted, got)) {
                p += wanted.length;
                t += got.length;
                continue;
            }
        }
        if (!afterPercent)
            return false;
        resumeText += unitAt(text, resumeText).length;
        p = *afterPercent;
        t = resumeText;
    }
    while (p < pattern.size() && pattern[p] == '%')
        ++p;
    return p == pattern.size();
}

std::string_view textOf(sqlite3_value* value) {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
    return bytes ? std::string_view(bytes, static_cast<std::size_t>(sqlite3_value_bytes(value)))
                 : std::string_view();
}

// like(pattern, text [, escape]), as SQLite calls it for "text LIKE pattern [ESCAPE escape]".
void likeFunction(sqlite3_context* context, int count, sqlite3_value** args) {
    for (int i = 0; i < count; ++i)
        if (sqlite3_value_type(args[i]) == SQLITE_NULL)
            return; // Null
    std::optional<char32_t> escape;
    if (count == 3) {
        const std::string_view given = textOf(args[2]);
        const Unit first = given.empty() ? Unit{0, 0} : unitAt(given, 0);
        if (given.empty() || first.length != given.size()) {
            sqlite3_result_error(context, "ESCAPE expression must be a single character", -1);
            return;
        }
        escape = first.value;
    }
    sqlite3_result_int(context, like(textOf(args[0]), textOf(args[1]), escape) ? 1 : 0);
}

} // namespace

int registerCaseRules(sqlite3* db) {
    int rc = sqlite3_create_collation_v2(db, FoldCollation, SQLITE_UTF8, nullptr, compare, nullptr);
    for (int arguments : {2, 3})
        if (rc == SQLITE_OK)
            rc = sqlite3_create_function_v2(db, "like", arguments,
                                            SQLITE_UTF8 | SQLITE_DETERMINISTIC, nullptr,
                                            likeFunction, nullptr, nullptr, nullptr);
    return rc;
}

} // namespace engine
