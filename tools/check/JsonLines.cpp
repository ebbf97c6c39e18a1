#include "tools/check/JsonLines.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace check {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
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
            if (c < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof buffer, "\\u%04x", c);
                out += buffer;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

std::string jsonNumber(double value, bool single) {
    if (std::isnan(value) || std::isinf(value))
        return "null";
    if (value == 0)
        return "0";
    // The shortest digits that read back as the same value, from the scientific form.
    char buffer[64];
    const auto result =
        single
            ? std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value),
                            std::chars_format::scientific)
            : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
    const std::string scientific(buffer, result.ptr);
    const bool negative = scientific[0] == '-';
    const std::size_t e = scientific.find('e');
    std::string digits;
    for (std::size_t i = negative ? 1 : 0; i < e; ++i)
        if (scientific[i] != '.')
            digits += scientific[i];
    const int exponent = std::atoi(scientific.c_str() + e + 1);
    // JavaScript's layout: n is the position of the decimal point after the first digit.
    const int k = static_cast<int>(digits.size());
    const int n = exponent + 1;
    std::string out = negative ? "-" : "";
    if (k <= n && n <= 21) {
        out += digits + std::string(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out += digits.substr(0, static_cast<std::size_t>(n)) + "." +
               digits.substr(static_cast<std::size_t>(n));
    } else if (-6 < n && n <= 0) {
        out += "0." + std::string(static_cast<std::size_t>(-n), '0') + digits;
    } else {
        out += digits.substr(0, 1);
        if (k > 1)
            out += "." + digits.substr(1);
        out += "e";
        out += n - 1 >= 0 ? "+" : "-";
        out += std::to_string(std::abs(n - 1));
    }
    return out;
}

std::string currencyText(std::int64_t scaled) {
    const bool negative = scaled < 0;
    // Through unsigned arithmetic, so the most negative value has a magnitude too.
    const std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(scaled) + 1 : static_cast<std::uint64_t>(scaled);
    std::string fraction = std::to_string(magnitude % 10000);
    fraction.insert(0, 4 - fraction.size(), '0');
    return std::string(negative ? "-" : "") + std::to_string(magnitude / 10000) + "." + fraction;
}

std::string dateTimeText(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6)
        return {};
    // Whole days count from 1899-12-30 either way; the fraction is the time of day even for
    // negative values, so -1.25 is 1899-12-29 06:00.
    const double whole = std::trunc(days);
    std::int64_t day = static_cast<std::int64_t>(whole);
    std::int64_t seconds = std::llround(std::fabs(days - whole) * 86400.0);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += 1;
    }
    // Civil date from a day count (days since 1970-01-01 for the algorithm).
    std::int64_t z = day - 25569 + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t year = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t dayOfMonth = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    if (month <= 2)
        ++year;
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld",
                  static_cast<long long>(year), static_cast<long long>(month),
                  static_cast<long long>(dayOfMonth), static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return buffer;
}

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                           static_cast<unsigned char>(bytes[i + 1]) << 8 |
                           static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[v >> 18];
        out += alphabet[v >> 12 & 63];
        out += alphabet[v >> 6 & 63];
        out += alphabet[v & 63];
    }
    if (i < bytes.size()) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[v >> 18];
        out += alphabet[v >> 12 & 63];
        out += i + 1 < bytes.size() ? alphabet[v >> 6 & 63] : '=';
        out += '=';
    }
    return out;
}

std::string dumpLine(std::string_view table,
                     const std::vector<std::pair<std::string, std::string>>& values) {
    std::string out = "{\"table\":" + jsonString(table) + ",\"row\":{";
    bool first = true;
    for (const auto& [name, value] : values) {
        if (!first)
            out += ',';
        first = false;
        out += jsonString(name) + ":" + value;
    }
    return out + "}}";
}

} // namespace check
