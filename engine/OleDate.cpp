#include "engine/OleDate.h"

#include <cmath>
#include <cstdio>

namespace engine {

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian), after H. Hinnant.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<long long>(yoe) + era * 400 + (m <= 2);
}

constexpr long long OleEpoch = -25569; // 1899-12-30 in days from 1970-01-01

} // namespace

std::string isoFromOleDate(double days) {
    if (!std::isfinite(days) || std::fabs(days) > 3e6)
        return {};
    double whole = std::trunc(days);
    long long seconds = std::llround(std::fabs(days - whole) * 86400.0);
    long long day = static_cast<long long>(whole);
    if (seconds >= 86400) {
        seconds -= 86400;
        day += days < 0 ? -1 : 1;
    }
    long long y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(day + OleEpoch, y, m, d);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u %02lld:%02lld:%02lld", y, m, d, seconds / 3600,
                  seconds / 60 % 60, seconds % 60);
    return buf;
}

std::optional<double> oleDateFromIso(std::string_view text) {
    auto digits = [&](std::size_t at, std::size_t n, int& out) {
        if (at + n > text.size())
            return false;
        out = 0;
        for (std::size_t i = at; i < at + n; ++i) {
            if (text[i] < '0' || text[i] > '9')
                return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (!digits(0, 4, y) || text.size() < 10 || text[4] != '-' || !digits(5, 2, mo) ||
        text[7] != '-' || !digits(8, 2, d))
        return std::nullopt;
    static const int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    if (mo < 1 || mo > 12 || d < 1 || d > monthDays[mo - 1] || (mo == 2 && d == 29 && !leap))
        return std::nullopt;
    std::size_t at = 10;
    if (at < text.size()) {
        if ((text[at] != ' ' && text[at] != 'T') || !digits(at + 1, 2, h) ||
            at + 3 >= text.size() || text[at + 3] != ':' || !digits(at + 4, 2, mi))
            return std::nullopt;
        at += 6;
        if (at < text.size()) {
            if (text[at] != ':' || !digits(at + 1, 2, s))
                return std::nullopt;
            at += 3;
            // Fractions of a second, as other programs write them, are dropped.
            if (at < text.size() && text[at] == '.')
                for (++at; at < text.size() && text[at] >= '0' && text[at] <= '9';)
                    ++at;
            if (at != text.size())
                return std::nullopt;
        }
        if (h > 23 || mi > 59 || s > 59)
            return std::nullopt;
    }
    double day = static_cast<double>(
        daysFromCivil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) - OleEpoch);
    double fraction = (h * 3600 + mi * 60 + s) / 86400.0;
    // Before the epoch the time of day still counts forward, so it is subtracted there.
    return day >= 0 ? day + fraction : day - fraction;
}

} // namespace engine
