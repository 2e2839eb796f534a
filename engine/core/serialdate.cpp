#include "core/serialdate.h"

#include <cmath>

namespace sd {

namespace {

// The days before day 1 of each date system, from 1970-01-01: 1899-12-31
// (the 1900 system's day 0) and 1904-01-01 (the 1904 system's day 0).
constexpr int64_t kEpoch1900 = daysFromCivil(1899, 12, 31);
constexpr int64_t kEpoch1904 = daysFromCivil(1904, 1, 1);

} // namespace

int daysInMonth(int y, int m)
{
    static const int days[] = { 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31 };
    return m == 2 && isLeapYear(y) ? 29 : days[m - 1];
}

void civilFromDays(int64_t z, int &y, int &m, int &d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = int(yoe + era * 400 + (m <= 2));
}

void serialDayToDate(int64_t day, bool date1904, int &y, int &m, int &d)
{
    if (date1904) {
        civilFromDays(kEpoch1904 + day, y, m, d);
    } else if (day == 0) {
        y = 1900, m = 1, d = 0;
    } else if (day == 60) {
        y = 1900, m = 2, d = 29;
    } else {
        civilFromDays(kEpoch1900 + (day > 60 ? day - 1 : day), y, m, d);
    }
}

bool serialToDate(double serial, bool date1904, int &y, int &m, int &d)
{
    if (!(serial >= 0) || serial >= double(kLastSerialDay1900 + 1))
        return false;
    serialDayToDate(int64_t(std::floor(serial)), date1904, y, m, d);
    return true;
}

double dateToSerial(int y, int m, int d, bool date1904)
{
    // Normalise the month first; days then count on linearly.
    const int64_t yy = y + (m - 1 >= 0 ? (m - 1) / 12 : -((12 - m) / 12));
    const int64_t mm = ((m - 1) % 12 + 12) % 12 + 1;
    const int64_t first = daysFromCivil(yy, mm, 1);
    if (date1904)
        return double(first - kEpoch1904 + d - 1);
    int64_t serial = first - kEpoch1900;
    // The 1900 system counts a 29 February 1900 that never was.
    if (serial >= 60)
        ++serial;
    return double(serial + d - 1);
}

} // namespace sd
