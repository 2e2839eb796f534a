#pragma once

// Serial dates: the day numbers of the application's two date systems and
// the civil (proleptic Gregorian) dates they stand for. The 1900 system
// counts from 1900-01-01 as day 1 and keeps a 29 February 1900 that never
// was (day 60), as the first spreadsheet programs did; the 1904 system
// counts from 1904-01-01 as day 0.

#include <cstdint>

namespace sd {

// The last serial day of each date system: 9999-12-31.
constexpr int64_t kLastSerialDay1900 = 2958465;
constexpr int64_t kLastSerialDay1904 = 2957003;
constexpr int64_t kSecondsPerDay = 86400;
// A day's serial in the 1904 system plus this is its serial in the 1900
// system (1904-01-01 is day 1462 there).
constexpr int64_t kSerial1904Offset = 1462;

// Gregorian leap years, and the days of a month (1 to 12).
constexpr bool isLeapYear(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}
int daysInMonth(int y, int m);

// Days from 1970-01-01 of a proleptic Gregorian date, and back (Howard
// Hinnant's algorithms). daysFromCivil takes a month of 1 to 12; the day
// counts on linearly (0 or 32 are the days beside the month).
constexpr int64_t daysFromCivil(int64_t y, int64_t m, int64_t d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}
void civilFromDays(int64_t days, int &y, int &m, int &d);

// The civil date of a serial day: in the 1900 system day 0 is 1900-01-00
// and day 60 is 1900-02-29. Any day maps; callers bound it.
void serialDayToDate(int64_t day, bool date1904, int &y, int &m, int &d);
// The date of a serial number (its day part): false below 0 and from
// kLastSerialDay1900 + 1 on, in either date system.
bool serialToDate(double serial, bool date1904, int &y, int &m, int &d);
// The serial day of a civil date. The month is normalised first (13 is
// January of the next year, 0 December of the one before) and the day then
// counts on linearly from the first of that month, so DATE(1900,2,29) is
// day 60 and a day of 0 is the last of the month before.
double dateToSerial(int y, int m, int d, bool date1904);

} // namespace sd
