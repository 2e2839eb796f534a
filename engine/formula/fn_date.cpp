// Date and time functions over serial numbers in the workbook's date system.

#include "formula/fn_p.h"

#include "core/serialdate.h"

#include <cmath>

namespace sd::formula {

namespace {

struct Ymd
{
    int y = 0, m = 0, d = 0;
};

uint8_t dateArg(Call &c, int i, double &serial, Ymd *ymd = nullptr)
{
    if (uint8_t e = c.number(i, serial))
        return e;
    serial = std::floor(serial);
    Ymd t;
    if (!serialToDate(serial, c.evaluator.date1904(), t.y, t.m, t.d))
        return ErrNum;
    if (ymd)
        *ymd = t;
    return 0;
}

// Serial in the 1900 system's weekday count (serial 1 is a Sunday there).
double weekdayBase(double serial, bool date1904)
{
    return date1904 ? serial + kSerial1904Offset : serial;
}

// YEAR, MONTH, DAY: one field of the first argument's date.
Value datePart(Call &c, int Ymd::*field)
{
    double s;
    Ymd t;
    if (uint8_t e = dateArg(c, 0, s, &t))
        return Value::err(e);
    return Value::num(t.*field);
}

Value secondsPart(Call &c, int which)
{
    SD_NUMBER(c, 0, v);
    if (v < 0)
        return Value::err(ErrNum);
    const double frac = v - std::floor(v);
    long s = long(std::floor(frac * 86400 + 0.5)) % 86400;
    if (which == 0)
        return Value::num(double(s / 3600));
    if (which == 1)
        return Value::num(double((s / 60) % 60));
    return Value::num(double(s % 60));
}

Value fnDate(Call &c)
{
    SD_NUMBER(c, 0, y);
    SD_NUMBER(c, 1, m);
    SD_NUMBER(c, 2, d);
    y = std::trunc(y), m = std::trunc(m), d = std::trunc(d);
    if (y < 1900 && !c.evaluator.date1904())
        y += 1900;
    else if (y < 1904 && c.evaluator.date1904())
        y += 1900;
    if (y < 1900 || y > 9999 || std::fabs(m) > 1e6 || std::fabs(d) > 1e8)
        return Value::err(ErrNum);
    const double serial = dateToSerial(int(y), int(m), int(d), c.evaluator.date1904());
    if (serial < 0 || serial > kLastSerialDay1900)
        return Value::err(ErrNum);
    return Value::num(serial);
}

Value fnTime(Call &c)
{
    SD_NUMBER(c, 0, h);
    SD_NUMBER(c, 1, m);
    SD_NUMBER(c, 2, s);
    const double total = std::trunc(h) * 3600 + std::trunc(m) * 60 + std::trunc(s);
    if (total < 0 || h > 32767 || m > 32767 || s > 32767)
        return Value::err(ErrNum);
    return Value::num(std::fmod(total, 86400) / 86400);
}

Value fnYear(Call &c)
{
    return datePart(c, &Ymd::y);
}

Value fnMonth(Call &c)
{
    return datePart(c, &Ymd::m);
}

Value fnDay(Call &c)
{
    return datePart(c, &Ymd::d);
}

Value fnHour(Call &c)
{
    return secondsPart(c, 0);
}
Value fnMinute(Call &c)
{
    return secondsPart(c, 1);
}
Value fnSecond(Call &c)
{
    return secondsPart(c, 2);
}

Value fnWeekday(Call &c)
{
    double s;
    if (uint8_t e = dateArg(c, 0, s))
        return Value::err(e);
    double type = 1;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, type))
            return Value::err(e);
    const int sunday0 = int(std::fmod(weekdayBase(s, c.evaluator.date1904()) + 6, 7)); // 0 = Sunday
    switch (int(type)) {
    case 1:
        return Value::num(sunday0 + 1);
    case 2:
        return Value::num((sunday0 + 6) % 7 + 1);
    case 3:
        return Value::num((sunday0 + 6) % 7);
    default:
        if (type >= 11 && type <= 17) {
            const int first = (int(type) - 10) % 7; // 11 Monday .. 17 Sunday (as Sunday0)
            return Value::num((sunday0 - first + 7) % 7 + 1);
        }
        return Value::err(ErrNum);
    }
}

Value fnNow(Call &c)
{
    return Value::num(c.evaluator.now());
}

Value fnToday(Call &c)
{
    return Value::num(std::floor(c.evaluator.now()));
}

Value addMonths(Call &c, bool endOfMonth)
{
    double s;
    Ymd t;
    if (uint8_t e = dateArg(c, 0, s, &t))
        return Value::err(e);
    SD_NUMBER(c, 1, months);
    months = std::trunc(months);
    if (std::fabs(months) > 120000)
        return Value::err(ErrNum);
    int total = t.y * 12 + (t.m - 1) + int(months);
    int y = total / 12, m = total % 12 + 1;
    if (y < 1900 || y > 9999)
        return Value::err(ErrNum);
    const int d = endOfMonth ? daysInMonth(y, m) : std::min(t.d, daysInMonth(y, m));
    const double r = dateToSerial(y, m, d, c.evaluator.date1904());
    if (r < 0)
        return Value::err(ErrNum);
    return Value::num(r);
}

Value fnEdate(Call &c)
{
    return addMonths(c, false);
}
Value fnEomonth(Call &c)
{
    return addMonths(c, true);
}

Value fnDatedif(Call &c)
{
    double a, b;
    Ymd x, y;
    if (uint8_t e = dateArg(c, 0, a, &x))
        return Value::err(e);
    if (uint8_t e = dateArg(c, 1, b, &y))
        return Value::err(e);
    SD_TEXT(c, 2, unit);
    if (a > b)
        return Value::err(ErrNum);
    const std::string u = upperText(unit);
    int months = (y.y - x.y) * 12 + (y.m - x.m) - (y.d < x.d ? 1 : 0);
    if (u == "D")
        return Value::num(b - a);
    if (u == "M")
        return Value::num(months);
    if (u == "Y")
        return Value::num(months / 12);
    if (u == "YM")
        return Value::num(months % 12);
    if (u == "MD") {
        int d = y.d - x.d;
        if (d < 0) {
            const int pm = y.m == 1 ? 12 : y.m - 1;
            d += daysInMonth(y.m == 1 ? y.y - 1 : y.y, pm);
        }
        return Value::num(d);
    }
    if (u == "YD") {
        int yy = y.y;
        if (y.m < x.m || (y.m == x.m && y.d < x.d))
            --yy;
        const double start
            = dateToSerial(yy, x.m, std::min(x.d, daysInMonth(yy, x.m)), c.evaluator.date1904());
        return Value::num(b - start);
    }
    return Value::err(ErrNum);
}

Value fnDateValue(Call &c)
{
    SD_TEXT(c, 0, s);
    double d = 0;
    if (!parseNumberText(s, d, c.evaluator.date1904()) || d < 1)
        return Value::err(ErrValue);
    return Value::num(std::floor(d));
}

Value fnTimeValue(Call &c)
{
    SD_TEXT(c, 0, s);
    double d = 0;
    if (!parseNumberText(s, d, c.evaluator.date1904()) || d < 0)
        return Value::err(ErrValue);
    return Value::num(d - std::floor(d));
}

Value fnDays(Call &c)
{
    double a, b;
    if (uint8_t e = dateArg(c, 0, a))
        return Value::err(e);
    if (uint8_t e = dateArg(c, 1, b))
        return Value::err(e);
    return Value::num(a - b);
}

Value fnDays360(Call &c)
{
    double a, b;
    Ymd x, y;
    if (uint8_t e = dateArg(c, 0, a, &x))
        return Value::err(e);
    if (uint8_t e = dateArg(c, 1, b, &y))
        return Value::err(e);
    bool european = false;
    if (c.count() > 2)
        if (uint8_t e = c.boolean(2, european))
            return Value::err(e);
    if (european) {
        x.d = std::min(x.d, 30);
        y.d = std::min(y.d, 30);
    } else {
        const bool xLastFeb = x.m == 2 && x.d == daysInMonth(x.y, 2);
        if (xLastFeb || x.d == 31)
            x.d = 30;
        if (y.d == 31 && x.d >= 30)
            y.d = 30;
    }
    return Value::num((y.y - x.y) * 360.0 + (y.m - x.m) * 30.0 + (y.d - x.d));
}

// Serial numbers of the holidays argument.
uint8_t holidays(Call &c, int i, std::vector<double> &out)
{
    if (c.count() <= i)
        return 0;
    const Value &v = c.arg(i);
    if (v.isError())
        return v.error;
    uint8_t error = 0;
    c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
        double d = 0;
        if (uint8_t e = toNumber(x, d, c.evaluator.date1904()))
            error = error ? error : e;
        out.push_back(std::floor(d));
    });
    return error;
}

// Weekend days as bits, Sunday first (bit 0) to Saturday (bit 6).
constexpr uint8_t kSaturdaySunday = 0x41;

bool workday(double serial, const std::vector<double> &hol, bool date1904,
             uint8_t weekend = kSaturdaySunday)
{
    const int wd = int(std::fmod(weekdayBase(serial, date1904) + 6, 7)); // 0 Sunday
    if (weekend & (1 << wd))
        return false;
    for (double h : hol)
        if (h == serial)
            return false;
    return true;
}

Value fnNetworkDays(Call &c)
{
    double a, b;
    if (uint8_t e = dateArg(c, 0, a))
        return Value::err(e);
    if (uint8_t e = dateArg(c, 1, b))
        return Value::err(e);
    std::vector<double> hol;
    if (uint8_t e = holidays(c, 2, hol))
        return Value::err(e);
    const double sign = a <= b ? 1 : -1;
    if (a > b)
        std::swap(a, b);
    double n = 0;
    c.evaluator.step(uint64_t(b - a) + 1);
    for (double d = a; d <= b; ++d)
        n += workday(d, hol, c.evaluator.date1904());
    return Value::num(sign * n);
}

Value fnWorkday(Call &c)
{
    double a;
    if (uint8_t e = dateArg(c, 0, a))
        return Value::err(e);
    SD_NUMBER(c, 1, days);
    days = std::trunc(days);
    std::vector<double> hol;
    if (uint8_t e = holidays(c, 2, hol))
        return Value::err(e);
    const double dir = days < 0 ? -1 : 1;
    c.evaluator.step(uint64_t(std::fabs(days) * 1.5) + 1);
    double d = a;
    for (double left = std::fabs(days); left > 0;) {
        d += dir;
        if (d < 0 || d > kLastSerialDay1900)
            return Value::err(ErrNum);
        if (workday(d, hol, c.evaluator.date1904()))
            --left;
    }
    return Value::num(d);
}

// The weekend argument of NETWORKDAYS.INTL and WORKDAY.INTL: 1 to 7 for two
// days (Saturday and Sunday, Sunday and Monday, ... Friday and Saturday),
// 11 to 17 for one (Sunday ... Saturday), or seven 0/1 characters from
// Monday to Sunday, 1 for a day off.
uint8_t weekendArg(Call &c, int i, uint8_t &mask)
{
    mask = kSaturdaySunday;
    if (c.count() <= i || c.isEmpty(i))
        return 0;
    const Value v = c.scalar(i);
    if (v.isError())
        return v.error;
    if (v.type == ValueType::Text) {
        if (v.text.size() != 7)
            return ErrValue;
        mask = 0;
        for (int d = 0; d < 7; ++d) {
            if (v.text[size_t(d)] != '0' && v.text[size_t(d)] != '1')
                return ErrValue;
            if (v.text[size_t(d)] == '1')
                mask |= uint8_t(1 << ((d + 1) % 7));
        }
        return 0;
    }
    double n = 0;
    if (uint8_t e = toNumber(v, n, c.evaluator.date1904()))
        return e;
    n = std::trunc(n);
    if (n >= 1 && n <= 7) {
        const int first = (int(n) + 5) % 7; // 1: Saturday, 2: Sunday ...
        mask = uint8_t((1 << first) | (1 << ((first + 1) % 7)));
    } else if (n >= 11 && n <= 17) {
        mask = uint8_t(1 << (int(n) - 11));
    } else {
        return ErrNum;
    }
    return 0;
}

Value fnNetworkDaysIntl(Call &c)
{
    double a, b;
    if (uint8_t e = dateArg(c, 0, a))
        return Value::err(e);
    if (uint8_t e = dateArg(c, 1, b))
        return Value::err(e);
    uint8_t weekend = 0;
    if (uint8_t e = weekendArg(c, 2, weekend))
        return Value::err(e);
    std::vector<double> hol;
    if (uint8_t e = holidays(c, 3, hol))
        return Value::err(e);
    const double sign = a <= b ? 1 : -1;
    if (a > b)
        std::swap(a, b);
    double n = 0;
    c.evaluator.step(uint64_t(b - a) + 1);
    for (double d = a; d <= b; ++d)
        n += workday(d, hol, c.evaluator.date1904(), weekend);
    return Value::num(sign * n);
}

Value fnWorkdayIntl(Call &c)
{
    double a;
    if (uint8_t e = dateArg(c, 0, a))
        return Value::err(e);
    SD_NUMBER(c, 1, days);
    days = std::trunc(days);
    uint8_t weekend = 0;
    if (uint8_t e = weekendArg(c, 2, weekend))
        return Value::err(e);
    if (weekend == 0x7F)
        return Value::err(ErrValue); // no working day at all
    std::vector<double> hol;
    if (uint8_t e = holidays(c, 3, hol))
        return Value::err(e);
    const double dir = days < 0 ? -1 : 1;
    c.evaluator.step(uint64_t(std::fabs(days) * 7) + 1);
    double d = a;
    for (double left = std::fabs(days); left > 0;) {
        d += dir;
        if (d < 0 || d > kLastSerialDay1900)
            return Value::err(ErrNum);
        if (workday(d, hol, c.evaluator.date1904(), weekend))
            --left;
    }
    return Value::num(d);
}

Value fnIsoWeekNum(Call &c)
{
    double s;
    Ymd t;
    if (uint8_t e = dateArg(c, 0, s, &t))
        return Value::err(e);
    const bool d1904 = c.evaluator.date1904();
    const int wd = (int(std::fmod(weekdayBase(s, d1904) + 6, 7)) + 6) % 7; // 0 Monday
    const double thursday = s - wd + 3;
    // The first days of the date system may belong to the last week of the
    // year before it (365 days long, 1899 or 1903).
    const double first = d1904 ? 0 : 1;
    if (thursday < first)
        return Value::num(std::floor((thursday - (first - 365)) / 7) + 1);
    Ymd th;
    serialToDate(thursday, d1904, th.y, th.m, th.d);
    const double jan1 = dateToSerial(th.y, 1, 1, d1904);
    return Value::num(std::floor((thursday - jan1) / 7) + 1);
}

Value fnWeekNum(Call &c)
{
    double s;
    Ymd t;
    if (uint8_t e = dateArg(c, 0, s, &t))
        return Value::err(e);
    double type = 1;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, type))
            return Value::err(e);
    if (type == 21)
        return fnIsoWeekNum(c);
    int first; // weekday (0 Sunday) that starts a week
    if (type == 1 || type == 17)
        first = 0;
    else if (type == 2 || type == 11)
        first = 1;
    else if (type >= 12 && type <= 16)
        first = int(type) - 10;
    else
        return Value::err(ErrNum);
    const bool d1904 = c.evaluator.date1904();
    const double jan1 = dateToSerial(t.y, 1, 1, d1904);
    const int wdJan1 = int(std::fmod(weekdayBase(jan1, d1904) + 6, 7));
    const int offset = (wdJan1 - first + 7) % 7;
    return Value::num(std::floor((s - jan1 + offset) / 7) + 1);
}

Value fnYearFrac(Call &c)
{
    double a, b;
    if (uint8_t e = dateArg(c, 0, a))
        return Value::err(e);
    if (uint8_t e = dateArg(c, 1, b))
        return Value::err(e);
    double basis = 0;
    if (c.count() > 2)
        if (uint8_t e = c.number(2, basis))
            return Value::err(e);
    basis = std::trunc(basis);
    if (basis < 0 || basis > 4)
        return Value::err(ErrNum);
    return Value::num(yearFraction(a, b, int(basis), c.evaluator.date1904()));
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows dateFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "DATE", 65, 3, 3, "V", E, fnDate },
        { "TIME", 66, 3, 3, "V", E, fnTime },
        { "DAY", 67, 1, 1, "V", E, fnDay },
        { "MONTH", 68, 1, 1, "V", E, fnMonth },
        { "YEAR", 69, 1, 1, "V", E, fnYear },
        { "WEEKDAY", 70, 1, 2, "V", E, fnWeekday },
        { "HOUR", 71, 1, 1, "V", E, fnHour },
        { "MINUTE", 72, 1, 1, "V", E, fnMinute },
        { "SECOND", 73, 1, 1, "V", E, fnSecond },
        { "NOW", 74, 0, 0, "V", V, fnNow },
        { "DATEVALUE", 140, 1, 1, "V", E, fnDateValue },
        { "TIMEVALUE", 141, 1, 1, "V", E, fnTimeValue },
        { "DAYS360", 220, 2, 3, "V", E, fnDays360 },
        { "TODAY", 221, 0, 0, "V", V, fnToday },
        { "DATEDIF", 351, 3, 3, "V", E, fnDatedif },
        { "EDATE", -1, 2, 2, "V", E, fnEdate },
        { "EOMONTH", -1, 2, 2, "V", E, fnEomonth },
        { "NETWORKDAYS", -1, 2, 3, "VVR", 0, fnNetworkDays },
        { "WORKDAY", -1, 2, 3, "VVR", 0, fnWorkday },
        { "DAYS", -1, 2, 2, "V", E, fnDays },
        { "WEEKNUM", -1, 1, 2, "V", E, fnWeekNum },
        { "ISOWEEKNUM", -1, 1, 1, "V", E, fnIsoWeekNum },
        { "YEARFRAC", -1, 2, 3, "V", E, fnYearFrac },
        { "NETWORKDAYS.INTL", -1, 2, 4, "VVVR", 0, fnNetworkDaysIntl },
        { "WORKDAY.INTL", -1, 2, 4, "VVVR", 0, fnWorkdayIntl },
        // Known, not evaluated: a call keeps the cell's cached value.
        { "DATESTRING", 352, 1, 1, "V", E, nullptr },
    };
    return rows;
}

} // namespace sd::formula
