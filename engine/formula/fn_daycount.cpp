// Day counts of the securities functions and YEARFRAC, by basis: 0 US
// (NASD) 30/360, 1 actual/actual, 2 actual/360, 3 actual/365, 4 European
// 30/360.

#include "formula/fn_p.h"

#include "core/serialdate.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

struct Day
{
    int y = 0, m = 0, d = 0;
};

Day dayOf(double serial, bool date1904)
{
    Day t;
    serialDayToDate(int64_t(std::floor(serial)), date1904, t.y, t.m, t.d);
    return t;
}

bool lastOfFebruary(const Day &t)
{
    return t.m == 2 && t.d == daysInMonth(t.y, 2);
}

// 30/360 days from x to y (x <= y): the US method moves the last day of
// February and the 31st to the 30th as YEARFRAC's basis 0 does; the
// European one makes every 31st a 30th.
double days360(Day x, Day y, bool european)
{
    if (european) {
        x.d = std::min(x.d, 30);
        y.d = std::min(y.d, 30);
    } else {
        const bool febX = lastOfFebruary(x), febY = lastOfFebruary(y);
        if (febX && febY)
            y.d = 30;
        if (febX)
            x.d = 30;
        if (y.d == 31 && x.d >= 30)
            y.d = 30;
        if (x.d == 31)
            x.d = 30;
    }
    return (y.y - x.y) * 360.0 + (y.m - x.m) * 30.0 + (y.d - x.d);
}

// Actual/actual: the days over the average length of the years spanned;
// within a year (or less than a year across two), that year's length, 366
// when a 29 February falls within the span.
double actualYears(double a, double b, const Day &x, const Day &y)
{
    double yearDays;
    if (x.y == y.y) {
        yearDays = isLeapYear(x.y) ? 366 : 365;
    } else if (y.y - x.y == 1 && (y.m < x.m || (y.m == x.m && y.d <= x.d))) {
        const bool feb29 = (isLeapYear(x.y) && x.m < 3)
            || (isLeapYear(y.y) && (y.m > 2 || (y.m == 2 && y.d == 29)));
        yearDays = feb29 ? 366 : 365;
    } else {
        double total = 0;
        for (int yy = x.y; yy <= y.y; ++yy)
            total += isLeapYear(yy) ? 366 : 365;
        yearDays = total / (y.y - x.y + 1);
    }
    return (b - a) / yearDays;
}

} // namespace

double basisDays(double a, double b, int basis, bool date1904)
{
    if (basis == 0 || basis == 4) {
        const double sign = a <= b ? 1 : -1;
        if (a > b)
            std::swap(a, b);
        return sign * days360(dayOf(a, date1904), dayOf(b, date1904), basis == 4);
    }
    return std::floor(b) - std::floor(a);
}

double yearFraction(double a, double b, int basis, bool date1904)
{
    a = std::floor(a), b = std::floor(b);
    if (a > b)
        std::swap(a, b);
    switch (basis) {
    case 0:
    case 4:
        return basisDays(a, b, basis, date1904) / 360;
    case 1:
        return actualYears(a, b, dayOf(a, date1904), dayOf(b, date1904));
    case 2:
        return (b - a) / 360;
    default:
        return (b - a) / 365;
    }
}

} // namespace sd::formula
