#include "xlsx/xlsxsheetparser.h"

#include "core/serialdate.h"

// ISO 8601 dates of "d" cells, as serial numbers.

namespace sd {

namespace {

bool readDigits(std::string_view &s, size_t count, unsigned &value)
{
    if (s.size() < count)
        return false;
    value = 0;
    for (size_t i = 0; i < count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        value = value * 10 + unsigned(s[i] - '0');
    }
    s.remove_prefix(count);
    return true;
}

} // namespace

bool isoDateToSerial(std::string_view s, bool date1904, double &serial)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    double days = 0;
    bool haveDate = false;
    unsigned y = 0, mo = 0, d = 0;
    if (s.size() >= 10 && s[4] == '-') {
        if (!readDigits(s, 4, y) || s.empty() || s[0] != '-')
            return false;
        s.remove_prefix(1);
        if (!readDigits(s, 2, mo) || s.empty() || s[0] != '-')
            return false;
        s.remove_prefix(1);
        if (!readDigits(s, 2, d) || mo < 1 || mo > 12 || d < 1 || d > 31)
            return false;
        haveDate = true;
        if (!s.empty() && (s[0] == 'T' || s[0] == 't' || s[0] == ' '))
            s.remove_prefix(1);
    }
    double fraction = 0;
    if (!s.empty() && s[0] >= '0' && s[0] <= '9') {
        unsigned h = 0, mi = 0, sec = 0;
        if (!readDigits(s, 2, h) || s.empty() || s[0] != ':')
            return false;
        s.remove_prefix(1);
        if (!readDigits(s, 2, mi))
            return false;
        double frac = 0;
        if (!s.empty() && s[0] == ':') {
            s.remove_prefix(1);
            if (!readDigits(s, 2, sec))
                return false;
            if (!s.empty() && s[0] == '.') {
                s.remove_prefix(1);
                double scale = 0.1;
                while (!s.empty() && s[0] >= '0' && s[0] <= '9') {
                    frac += (s[0] - '0') * scale;
                    scale /= 10;
                    s.remove_prefix(1);
                }
            }
        }
        if (h > 24 || mi > 59 || sec > 60)
            return false;
        fraction = (h * 3600.0 + mi * 60.0 + sec + frac) / 86400.0;
    } else if (!haveDate) {
        return false;
    }
    // A zone suffix is accepted and ignored: cells hold local wall time.
    if (!s.empty()
        && (s == "Z" || s == "z" || ((s[0] == '+' || s[0] == '-') && s.size() == 6 && s[3] == ':')))
        s = {};
    if (!s.empty())
        return false;
    if (haveDate)
        days = dateToSerial(int(y), int(mo), int(d), date1904);
    serial = days + fraction;
    return true;
}

} // namespace sd
