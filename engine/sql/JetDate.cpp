#include "engine/sql/JetDate.h"

#include <cstdio>

namespace engine::jet {

namespace {

class Reader {
public:
    explicit Reader(std::string_view s) : s_(s) {}

    void skipBlanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t'))
            ++i_;
    }
    bool atEnd() const { return i_ >= s_.size(); }
    char peek() const { return atEnd() ? '\0' : s_[i_]; }
    bool accept(char c) {
        if (peek() != c)
            return false;
        ++i_;
        return true;
    }
    // A run of 1 to `maxDigits` digits; -1 when there is none or it is longer.
    int number(int maxDigits, int* digits = nullptr) {
        int value = 0;
        int count = 0;
        while (!atEnd() && s_[i_] >= '0' && s_[i_] <= '9') {
            if (++count > maxDigits)
                return -1;
            value = value * 10 + (s_[i_] - '0');
            ++i_;
        }
        if (digits)
            *digits = count;
        return count == 0 ? -1 : value;
    }
    // Accepts `word` (given in capitals) with ASCII case ignored.
    bool acceptWord(std::string_view word) {
        if (s_.size() - i_ < word.size())
            return false;
        for (std::size_t k = 0; k < word.size(); ++k) {
            char c = s_[i_ + k];
            if (c >= 'a' && c <= 'z')
                c = static_cast<char>(c - 'a' + 'A');
            if (c != word[k])
                return false;
        }
        i_ += word.size();
        return true;
    }
    std::size_t mark() const { return i_; }
    void reset(std::size_t mark) { i_ = mark; }

private:
    std::string_view s_;
    std::size_t i_ = 0;
};

bool isLeap(int y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

struct Date {
    int year = 1899, month = 12, day = 30;
};

struct Time {
    int hour = 0, minute = 0, second = 0;
};

// month/day/year or year-month-day; the separators '/' and '-' are both accepted in either form.
bool readDate(Reader& r, Date& date) {
    int firstDigits = 0;
    const int first = r.number(4, &firstDigits);
    if (first < 0)
        return false;
    const char sep = r.peek();
    if (sep != '/' && sep != '-')
        return false;
    r.accept(sep);
    const int second = r.number(2);
    if (second < 0 || !r.accept(sep))
        return false;
    int lastDigits = 0;
    const int third = r.number(4, &lastDigits);
    if (third < 0)
        return false;
    if (firstDigits > 2) {
        if (firstDigits != 4 || lastDigits > 2)
            return false;
        date = {first, second, third};
    } else {
        if (lastDigits != 2 && lastDigits != 4)
            return false;
        int year = third;
        if (lastDigits == 2)
            year += third < 30 ? 2000 : 1900;
        date = {year, first, second};
    }
    return date.year >= 100 && date.month >= 1 && date.month <= 12 && date.day >= 1 &&
           date.day <= daysInMonth(date.year, date.month);
}

bool readTime(Reader& r, Time& time) {
    const int hour = r.number(2);
    if (hour < 0 || !r.accept(':'))
        return false;
    int digits = 0;
    const int minute = r.number(2, &digits);
    if (minute < 0 || digits != 2)
        return false;
    int second = 0;
    if (r.accept(':')) {
        second = r.number(2, &digits);
        if (second < 0 || digits != 2)
            return false;
    }
    r.skipBlanks();
    int h = hour;
    const bool am = r.acceptWord("AM");
    const bool pm = !am && r.acceptWord("PM");
    if (am || pm) {
        if (hour < 1 || hour > 12)
            return false;
        h = hour % 12 + (pm ? 12 : 0);
    }
    time = {h, minute, second};
    return h <= 23 && minute <= 59 && second <= 59;
}

} // namespace

std::optional<std::string> isoFromJetDate(std::string_view literal) {
    Reader r(literal);
    Date date;
    Time time;
    r.skipBlanks();
    const std::size_t start = r.mark();
    bool haveDate = readDate(r, date);
    if (!haveDate) {
        r.reset(start);
        date = Date{};
    }
    r.skipBlanks();
    if (!r.atEnd()) {
        if (!readTime(r, time))
            return std::nullopt;
        r.skipBlanks();
    }
    if (!r.atEnd() || (!haveDate && r.mark() == start))
        return std::nullopt;
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02d %02d:%02d:%02d", date.year, date.month,
                  date.day, time.hour, time.minute, time.second);
    return std::string(buffer);
}

} // namespace engine::jet
