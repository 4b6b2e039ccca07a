#include "report/utc_time.h"

namespace zl::report {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

unsigned DaysInMonth(int64_t y, unsigned m) {
    static const unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return m == 2 && leap ? 29 : kDays[m - 1];
}

// n digits at text[at] as a number; false when they are not all digits.
bool Digits(std::string_view text, size_t at, size_t n, unsigned& value) {
    if (at + n > text.size()) return false;
    value = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
    }
    return true;
}

bool Parse(std::string_view t, int64_t& ms, bool shortened) {
    unsigned y, mo, d, h = 0, mi = 0, s = 0, frac = 0;
    if (!Digits(t, 0, 4, y) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2, mo) || t[7] != '-' ||
        !Digits(t, 8, 2, d))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > DaysInMonth(y, mo)) return false;
    size_t i = 10;
    const bool dateOnly = t.size() == 10;
    if (!dateOnly || !shortened) {
        if (i + 6 > t.size() || t[i] != 'T' || !Digits(t, i + 1, 2, h) || t[i + 3] != ':' || !Digits(t, i + 4, 2, mi))
            return false;
        i += 6;
        const bool seconds = i < t.size() && t[i] == ':';
        if (!seconds && !shortened) return false;
        if (seconds) {
            if (!Digits(t, i + 1, 2, s)) return false;
            i += 3;
            if (i < t.size() && t[i] == '.') {
                size_t n = 0;
                for (++i; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i, ++n)
                    if (n < 3) frac = frac * 10 + static_cast<unsigned>(t[i] - '0');
                if (n == 0 || n > 9) return false;
                for (; n < 3; ++n) frac *= 10;
            }
        }
        if (h > 23 || mi > 59 || s > 59) return false;
        const bool zulu = i < t.size() && t[i] == 'Z';
        if (!zulu && !shortened) return false;
        i += zulu;
        if (i != t.size()) return false;
    }
    ms = ((DaysFromCivil(y, mo, d) * 24 + h) * 60 + mi) * 60000 + s * 1000 + frac;
    return true;
}

}  // namespace

bool ParseRecordTime(std::string_view text, int64_t& ms) { return Parse(text, ms, false); }

bool ParseUserTime(std::string_view text, int64_t& ms) { return Parse(text, ms, true); }

}  // namespace zl::report
