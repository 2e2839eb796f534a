// Text to number, the way a typed entry becomes a number: plain numbers with
// grouping, currency, percent and parentheses, and dates and times in the
// US-English forms the application accepts.

#include "formula/value.h"

#include "core/serialdate.h"

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace sd::formula {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

std::string_view trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

// [(] [sign] [$] digits[,ddd]... [.digits] [E[sign]digits] [)] [%]...
bool parsePlain(std::string_view s, double &out)
{
    size_t i = 0;
    bool negative = false, paren = false, sign = false, currency = false;
    auto take = [&](char c) {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    };
    paren = take('(');
    for (int k = 0; k < 2; ++k) {
        if (!sign && i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negative = s[i] == '-';
            sign = true;
            ++i;
        } else if (!currency && take('$')) {
            currency = true;
        }
    }
    if (paren && sign)
        return false;
    std::string buf;
    int digits = 0, run = 0;
    bool grouped = false;
    while (i < s.size()) {
        if (isDigit(s[i])) {
            buf += s[i++];
            ++digits;
            ++run;
        } else if (s[i] == ',' && digits > 0 && (!grouped || run == 3)) {
            grouped = true;
            run = 0;
            ++i;
        } else {
            break;
        }
    }
    if (grouped && run != 3)
        return false;
    if (take('.')) {
        buf += '.';
        while (i < s.size() && isDigit(s[i])) {
            buf += s[i++];
            ++digits;
        }
    }
    if (digits == 0)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        std::string e = "e";
        if (j < s.size() && (s[j] == '+' || s[j] == '-'))
            e += s[j++];
        if (j >= s.size() || !isDigit(s[j]))
            return false;
        while (j < s.size() && isDigit(s[j]))
            e += s[j++];
        buf += e;
        i = j;
    }
    if (paren && !take(')'))
        return false;
    int percent = 0;
    while (i < s.size() && s[i] == '%') {
        ++percent;
        ++i;
    }
    if (!currency && take('$'))
        currency = true;
    if (i != s.size())
        return false;
    double v = std::strtod(buf.c_str(), nullptr);
    while (percent-- > 0)
        v /= 100;
    if (!std::isfinite(v))
        return false;
    out = negative || paren ? -v : v;
    return true;
}

struct Field
{
    bool month = false; // a month name
    int value = 0;
    int width = 0; // digits written
};

int monthFromName(std::string_view w)
{
    static const char *const names[]
        = { "january", "february", "march",     "april",   "may",      "june",
            "july",    "august",   "september", "october", "november", "december" };
    if (w.size() < 3)
        return 0;
    for (int m = 0; m < 12; ++m) {
        std::string_view n(names[m]);
        if (w.size() > n.size())
            continue;
        if (compareText(w, n.substr(0, w.size())) == 0
            && (w.size() == 3 || w.size() == n.size() || (m == 8 && w.size() == 4)))
            return m + 1;
    }
    return 0;
}

int currentYear()
{
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    std::time_t t
        = epoch && *epoch ? std::time_t(std::strtoll(epoch, nullptr, 10)) : std::time(nullptr);
    std::tm tm {};
    gmtime_r(&t, &tm);
    return tm.tm_year + 1900;
}

bool makeDate(int y, int yWidth, int m, int d, bool date1904, double &out)
{
    if (yWidth <= 2 && y < 100)
        y += y < 30 ? 2000 : 1900;
    // A typed 29 February 1900 is the 1900 system's day 60.
    const int lastDay = m >= 1 && m <= 12 ? daysInMonth(y, m) + (y == 1900 && m == 2) : 0;
    if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1 || d > lastDay)
        return false;
    out = dateToSerial(y, m, d, date1904);
    return out >= 0;
}

bool parseDateFields(const std::vector<Field> &f, bool date1904, double &out)
{
    if (f.size() == 3) {
        if (!f[0].month && !f[1].month && !f[2].month) {
            if (f[0].width >= 3)
                return makeDate(f[0].value, f[0].width, f[1].value, f[2].value, date1904, out);
            return makeDate(f[2].value, f[2].width, f[0].value, f[1].value, date1904, out);
        }
        if (f[1].month && !f[0].month && !f[2].month)
            return makeDate(f[2].value, f[2].width, f[1].value, f[0].value, date1904, out);
        if (f[0].month && !f[1].month && !f[2].month)
            return makeDate(f[2].value, f[2].width, f[0].value, f[1].value, date1904, out);
        return false;
    }
    if (f.size() == 2) {
        const int year = currentYear();
        if (f[1].month && !f[0].month)
            return makeDate(year, 4, f[1].value, f[0].value, date1904, out);
        if (f[0].month && !f[1].month) {
            if (f[1].value > 31 || f[1].width >= 3)
                return makeDate(f[1].value, f[1].width, f[0].value, 1, date1904, out);
            return makeDate(year, 4, f[0].value, f[1].value, date1904, out);
        }
        if (!f[0].month && !f[1].month && f[0].value >= 1 && f[0].value <= 12) {
            if (f[1].value > 31 || f[1].width >= 3)
                return makeDate(f[1].value, f[1].width, f[0].value, 1, date1904, out);
            return makeDate(year, 4, f[0].value, f[1].value, date1904, out);
        }
    }
    return false;
}

// h:mm[:ss[.fff]] [AM|PM], or h AM|PM. `s` is the time part alone.
bool parseTime(std::string_view s, double &out)
{
    size_t i = 0;
    double parts[3] = { 0, 0, 0 };
    int n = 0;
    while (n < 3) {
        if (i >= s.size() || !isDigit(s[i]))
            return false;
        double v = 0;
        while (i < s.size() && isDigit(s[i]))
            v = v * 10 + (s[i++] - '0');
        if (n == 2 && i < s.size() && s[i] == '.') {
            double scale = 0.1;
            for (++i; i < s.size() && isDigit(s[i]); ++i, scale /= 10)
                v += (s[i] - '0') * scale;
        }
        parts[n++] = v;
        if (i < s.size() && s[i] == ':')
            ++i;
        else
            break;
    }
    while (i < s.size() && s[i] == ' ')
        ++i;
    int ampm = 0;
    if (i < s.size()) {
        std::string_view rest = s.substr(i);
        if (compareText(rest, "AM") == 0 || compareText(rest, "A") == 0)
            ampm = 1;
        else if (compareText(rest, "PM") == 0 || compareText(rest, "P") == 0)
            ampm = 2;
        else
            return false;
    }
    if (n == 1 && !ampm)
        return false;
    if (parts[1] >= 60 || parts[2] >= 60)
        return false;
    double h = parts[0];
    if (ampm) {
        if (h > 12)
            return false;
        if (h == 12)
            h = 0;
        if (ampm == 2)
            h += 12;
    } else if (h >= 10000) {
        return false;
    }
    out = (h * 3600 + parts[1] * 60 + parts[2]) / 86400;
    return true;
}

bool parseDateTime(std::string_view s, bool date1904, double &out)
{
    // The time part starts at the first number followed by ':' or AM/PM.
    std::vector<Field> fields;
    size_t i = 0;
    size_t timeStart = s.size();
    char separator = 0;
    while (i < s.size()) {
        const char c = s[i];
        if (c == ' ' || c == ',' || c == '/' || c == '-' || c == '.') {
            if (c != ' ' && c != ',') {
                if (separator && separator != c)
                    return false;
                separator = c;
            }
            ++i;
            continue;
        }
        if (isDigit(c)) {
            size_t j = i;
            int v = 0;
            while (j < s.size() && isDigit(s[j]) && j - i < 6)
                v = v * 10 + (s[j++] - '0');
            size_t k = j;
            while (k < s.size() && s[k] == ' ')
                ++k;
            if (j < s.size()
                && (s[j] == ':'
                    || (k < s.size()
                        && (s[k] == 'a' || s[k] == 'A' || s[k] == 'p' || s[k] == 'P')))) {
                timeStart = i;
                break;
            }
            fields.push_back({ false, v, int(j - i) });
            i = j;
            continue;
        }
        size_t j = i;
        while (j < s.size() && ((s[j] >= 'a' && s[j] <= 'z') || (s[j] >= 'A' && s[j] <= 'Z')))
            ++j;
        const int month = monthFromName(s.substr(i, j - i));
        if (j == i || month == 0)
            return false;
        fields.push_back({ true, month, 0 });
        i = j;
        if (fields.size() > 3)
            return false;
    }
    double date = 0, time = 0;
    if (!fields.empty() && !parseDateFields(fields, date1904, date))
        return false;
    if (timeStart < s.size() && !parseTime(s.substr(timeStart), time))
        return false;
    if (fields.empty() && timeStart >= s.size())
        return false;
    out = date + time;
    return true;
}

} // namespace

bool parseNumberText(std::string_view text, double &out, bool date1904)
{
    const std::string_view s = trimmed(text);
    if (s.empty() || s.size() > 255)
        return false;
    if (parsePlain(s, out))
        return true;
    return parseDateTime(s, date1904, out);
}

} // namespace sd::formula
