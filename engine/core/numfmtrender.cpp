#include "core/numfmt.h"
#include "core/numfmt_p.h"
#include "core/numfmtsection_p.h"
#include "core/serialdate.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace sd {

namespace {

// Dates and times that cannot be shown (negative, past 9999-12-31) fill the
// 255-character column with this many '#'.
constexpr int kUnshowableWidth = 255;
// A section's digit, fraction and exponent groups hold at most this many places.
constexpr int kMaxPlaces = 30;
// Integers up to this size are exact in a double (below 2^53).
constexpr double kExactInteger = 9e15;
// Buddhist era years run 543 ahead of the Gregorian.
constexpr int kBuddhistEraOffset = 543;

const char *const kMonthNames[12]
    = { "January", "February", "March",     "April",   "May",      "June",
        "July",    "August",   "September", "October", "November", "December" };
const char *const kDayNames[7]
    = { "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday" };
// The Chinese morning and afternoon markers "上午", "下午".
constexpr char kChineseAm[] = "\xE4\xB8\x8A\xE5\x8D\x88";
constexpr char kChinesePm[] = "\xE4\xB8\x8B\xE5\x8D\x88";

void appendUnsigned(uint64_t v, std::string &out)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendPadded(uint64_t v, int width, std::string &out)
{
    if (v < 100 && width <= 2) { // the common case of dates and times
        if (v >= 10 || width == 2)
            out += char('0' + v / 10);
        out += char('0' + v % 10);
        return;
    }
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    for (int k = int(r.ptr - buf); k < width; ++k)
        out += '0';
    out.append(buf, r.ptr);
}

void appendUnshowable(std::string &out)
{
    out.append(size_t(kUnshowableWidth), '#');
}

// Spreads the integer digits over the integer placeholders, right to left:
// the leftmost placeholder takes any digits left over, and placeholders
// without a digit show '0', a space ('?') or nothing ('#'). Literals between
// placeholders ("000-00-0000") stay where they are.
struct IntegerFill
{
    const char *digits = ""; // significant integer digits, most significant first
    int length = 0;
    int places = 0; // integer placeholders in the section
    bool thousands = false;

    // Appends what placeholder `index` (0 = leftmost) shows.
    void append(int index, char placeholder, std::string &out) const
    {
        const int fromRight = places - 1 - index;
        if (fromRight < 0)
            return; // more placeholders than counted: nothing to show
        if (index == 0 && length > places) {
            // The leftmost placeholder takes every digit that does not fit.
            for (int j = 0; j <= length - places; ++j)
                appendDigit(digits[j], length - 1 - j, out);
            return;
        }
        if (fromRight < length) {
            appendDigit(digits[length - 1 - fromRight], fromRight, out);
            return;
        }
        if (placeholder == '0')
            appendDigit('0', fromRight, out);
        else if (placeholder == '?')
            out += thousands && fromRight > 0 && fromRight % 3 == 0 ? "  " : " ";
    }

    void appendDigit(char d, int position, std::string &out) const
    {
        out += d;
        if (thousands && position > 0 && position % 3 == 0)
            out += ',';
    }
};

// Fast rounding of small values: up to kFastPlaces decimals, results below
// kFastLimit, unless within kFastMargin of a tie.
constexpr int kFastPlaces = 9;
constexpr double kFastLimit = 1e9;
constexpr double kFastMargin = 1e-5;
constexpr double kPowersOfTen[kFastPlaces + 1]
    = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9 };

// The integer and decimal digits of |v| rounded to `decimals` places.
struct FixedDigits
{
    char integer[400];
    int intLength = 0;
    char decimals[kMaxPlaces + 1];
    int decLength = 0;

    void set(double v, int places)
    {
        intLength = 0;
        decLength = places;
        for (int k = 0; k < places; ++k)
            decimals[k] = '0';
        if (v <= 0)
            return;
        if (places <= kFastPlaces && v < kFastLimit / kPowersOfTen[places]) {
            // Small values whose rounding is clear-cut: v differs from its
            // 15-digit form by far less than kFastMargin of the last place.
            const double x = v * kPowersOfTen[places];
            const double floor = std::floor(x);
            const double frac = x - floor;
            if (std::fabs(frac - 0.5) > kFastMargin) {
                uint64_t r = uint64_t(floor) + (frac > 0.5 ? 1 : 0);
                for (int k = places - 1; k >= 0; --k) {
                    decimals[k] = char('0' + r % 10);
                    r /= 10;
                }
                if (r > 0) {
                    char buf[24];
                    auto end = std::to_chars(buf, buf + sizeof buf, r).ptr;
                    intLength = int(end - buf);
                    std::memcpy(integer, buf, size_t(intLength));
                }
                return;
            }
        }
        Digits d;
        if (!d.fromDouble(v))
            return;
        d.roundTo(d.exp + 1 + places);
        if (d.count == 0)
            return;
        for (int p = d.exp; p >= 0 && intLength < int(sizeof integer); --p) {
            const int idx = d.exp - p;
            integer[intLength++] = char('0' + (idx < d.count ? d.digit[idx] : 0));
        }
        for (int k = 0; k < places; ++k) {
            const int idx = d.exp + 1 + k;
            if (idx >= 0 && idx < d.count)
                decimals[k] = char('0' + d.digit[idx]);
        }
    }
};

} // namespace

void renderPlain(const FormatSection &sec, double v, std::string &out)
{
    FixedDigits fd;
    fd.set(v, std::min(sec.fracPlaces, kMaxPlaces));
    IntegerFill fill;
    fill.digits = fd.integer;
    fill.length = fd.intLength;
    fill.places = sec.intPlaces;
    fill.thousands = sec.thousands;
    // Decimal placeholders past the last non-zero digit: '#' shows nothing, '?' a space.
    int lastNonZero = -1;
    for (int k = 0; k < fd.decLength; ++k)
        if (fd.decimals[k] != '0')
            lastNonZero = k;
    int intIndex = 0, decIndex = 0;
    bool generalDone = false;
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Digit:
            if (t.n == 0) {
                fill.append(intIndex++, t.ch, out);
            } else if (decIndex < kMaxPlaces) {
                const int k = decIndex++;
                if (k <= lastNonZero || t.ch == '0')
                    out += fd.decimals[k];
                else if (t.ch == '?')
                    out += ' ';
            }
            break;
        case Tok::Point:
            // Without integer placeholders the integer digits still show.
            if (sec.intPlaces == 0)
                out.append(fd.integer, size_t(fd.intLength));
            out += '.';
            break;
        case Tok::Percent:
            out += '%';
            break;
        case Tok::General:
            if (!generalDone)
                appendGeneral(v, out);
            generalDone = true;
            break;
        default:
            break;
        }
    }
}

namespace {

// The digits of |v| in a scientific section: integer and decimal digits of
// the mantissa, and the power of ten.
struct Scientific
{
    int exp10 = 0;
    char intDigits[kMaxPlaces + 2] = {};
    int intLength = 0;
    char decDigits[kMaxPlaces + 1] = {};
};

Scientific scientificDigits(const FormatSection &sec, double v)
{
    Scientific sc;
    int &exp10 = sc.exp10;
    char *intDigits = sc.intDigits;
    int &intLength = sc.intLength;
    char *decDigits = sc.decDigits;
    const int fracPlaces = std::min(sec.fracPlaces, kMaxPlaces);
    const int intPlaces = std::min(sec.intPlaces, kMaxPlaces);
    for (int k = 0; k < fracPlaces; ++k)
        decDigits[k] = '0';
    Digits d;
    if (v > 0 && d.fromDouble(v)) {
        for (int pass = 0; pass < 2; ++pass) {
            Digits r = d;
            const int lead = r.exp;
            int e;
            if (sec.engineering) {
                const int period = intPlaces;
                e = lead >= 0 ? lead / period * period : -((-lead + period - 1) / period) * period;
            } else {
                e = lead - std::max(intPlaces - 1, -1);
                if (intPlaces == 0)
                    e = lead + 1;
            }
            const int intCount = lead - e + 1; // digits left of the point
            r.roundTo(intCount + fracPlaces);
            if (r.exp != lead && pass == 0) {
                d = r; // rounding carried into a new leading digit
                continue;
            }
            exp10 = e;
            intLength = 0;
            for (int k = 0; k < intCount && intLength < kMaxPlaces + 1; ++k)
                intDigits[intLength++] = char('0' + (k < r.count ? r.digit[k] : 0));
            for (int k = 0; k < fracPlaces; ++k) {
                const int idx = intCount + k;
                decDigits[k] = char('0' + (idx >= 0 && idx < r.count ? r.digit[idx] : 0));
            }
            break;
        }
    }
    return sc;
}

} // namespace

void renderExponent(const FormatSection &sec, double v, std::string &out)
{
    const Scientific sc = scientificDigits(sec, v);
    const int exp10 = sc.exp10;
    const char *intDigits = sc.intDigits;
    const int intLength = sc.intLength;
    const char *decDigits = sc.decDigits;
    const int fracPlaces = std::min(sec.fracPlaces, kMaxPlaces);
    // Leading zeros of the mantissa are not digits.
    int skip = 0;
    while (skip < intLength && intDigits[skip] == '0')
        ++skip;
    IntegerFill fill;
    fill.digits = intDigits + skip;
    fill.length = intLength - skip;
    // Every integer placeholder takes part in the fill, also past the
    // kMaxPlaces that the exponent arithmetic looks at.
    fill.places = sec.intPlaces;
    fill.thousands = false;
    int lastNonZero = -1;
    for (int k = 0; k < fracPlaces; ++k)
        if (decDigits[k] != '0')
            lastNonZero = k;
    // The exponent shows at least as many digits as it has '0' placeholders.
    int expZeros = 0;
    for (const Token &t : sec.tokens) {
        if (t.kind == Tok::Digit && t.n == 2 && t.ch == '0')
            ++expZeros;
    }
    int intIndex = 0, decIndex = 0;
    bool exponentDone = false;
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            out += t.text;
            break;
        case Tok::Point:
            out += '.';
            break;
        case Tok::Percent:
            out += '%';
            break;
        case Tok::Exponent:
            out += 'E';
            if (exp10 < 0)
                out += '-';
            else if (t.ch == '+')
                out += '+';
            break;
        case Tok::Digit:
            if (t.n == 0) {
                fill.append(intIndex++, t.ch, out);
            } else if (t.n == 1) {
                if (decIndex < fracPlaces) {
                    const int k = decIndex++;
                    if (k <= lastNonZero || t.ch == '0')
                        out += decDigits[k];
                    else if (t.ch == '?')
                        out += ' ';
                }
            } else if (!exponentDone) {
                exponentDone = true;
                appendPadded(uint64_t(exp10 < 0 ? -int64_t(exp10) : exp10), expZeros, out);
            }
            break;
        default:
            break;
        }
    }
}

namespace {

// Best rational approximation with a denominator of at most maxDen
// (continued fractions, as the application does).
void approximate(double x, int64_t maxDen, int64_t &num, int64_t &den)
{
    // Keep numerators exact: a denominator that would make the numerator
    // pass kExactInteger is not considered. The recurrence runs in double, so
    // a candidate that is thrown away may overflow nothing.
    if (x * double(maxDen) > kExactInteger)
        maxDen = std::max<int64_t>(1, int64_t(kExactInteger / std::max(x, 1.0)));
    double p0 = 0, p1 = 1, q0 = 1, q1 = 0;
    double b = x;
    double p = 0, q = 1;
    for (int iter = 0; iter < 64 && q1 < double(maxDen); ++iter) {
        const double a = std::floor(b);
        p = a * p1 + p0;
        q = a * q1 + q0;
        if (b - a < 0.00000005)
            break;
        b = 1 / (b - a);
        p0 = p1;
        p1 = p;
        q0 = q1;
        q1 = q;
    }
    if (q > double(maxDen)) {
        if (q1 > double(maxDen)) {
            q = q0;
            p = p0;
        } else {
            q = q1;
            p = p1;
        }
    }
    num = int64_t(p);
    den = std::max<int64_t>(1, int64_t(q));
}

} // namespace

namespace {

// A value split for a fraction section: whole part (when the section has
// one), numerator and denominator; or, from 10^15 on, the whole number alone
// as digit text.
struct Fraction
{
    int64_t whole = 0, num = 0, den = 1;
    char hugeText[320] = {};
    int hugeLength = 0;
};

void splitFraction(const FormatSection &sec, double v, Fraction &p)
{
    int64_t &whole = p.whole, &num = p.num, &den = p.den;
    double f = v;
    // From 10^15 on a double holds no fraction worth showing, and the integer
    // arithmetic below would overflow: such a value shows as a whole number
    // (15 significant digits, as the application keeps) with no fraction.
    char *hugeText = p.hugeText;
    int &hugeLength = p.hugeLength;
    // An improper fraction with a fixed denominator scales the whole value.
    const double scale = !sec.mixedFraction && sec.fixedDenominator > 0 ? sec.fixedDenominator : 1;
    if (!(std::fabs(v) * scale < 1e15)) {
        if (std::isfinite(v)) {
            // "d.dddddddddddddde+XX": 15 digits, then zeros up to the exponent.
            char digits[40];
            std::snprintf(digits, sizeof digits, "%.14e", std::fabs(v));
            const int exponent = std::atoi(std::strchr(digits, 'e') + 1);
            if (exponent >= 0 && exponent < int(sizeof p.hugeText) - 1) {
                for (int i = 0; i <= exponent; ++i) {
                    const int k = i == 0 ? 0 : i + 1; // skip the decimal point
                    hugeText[i] = i < 15 ? digits[k] : '0';
                }
                hugeLength = exponent + 1;
            }
        }
        if (hugeLength <= 0 || hugeLength >= int(sizeof p.hugeText)) {
            hugeText[0] = '0';
            hugeLength = 1;
        }
        f = 0;
    } else if (sec.mixedFraction) {
        whole = int64_t(std::floor(v));
        f = v - double(whole);
    }
    if (hugeLength > 0) {
        num = 0;
        den = 1;
    } else if (sec.fixedDenominator > 0) {
        den = sec.fixedDenominator;
        num = int64_t(std::llround(f * double(den)));
    } else {
        int64_t maxDen = 1;
        for (int k = 0; k < std::max(sec.denPlaces, 1); ++k)
            maxDen *= 10;
        approximate(f, maxDen - 1, num, den);
    }
    if (sec.mixedFraction && num >= den && den > 0) {
        whole += num / den;
        num %= den;
    }
}

// The digit texts a fraction section fills its placeholders from.
struct FractionText
{
    IntegerFill fill;
    const char *numText = nullptr;
    int numLength = 0;
    const char *denText = nullptr;
    int denLength = 0;
    bool blank = false; // a whole number: the fraction shows as spaces
};

void writeFraction(const FormatSection &sec, const FractionText &ft, std::string &out)
{
    const IntegerFill &fill = ft.fill;
    const char *numText = ft.numText;
    const int numLength = ft.numLength;
    const char *denText = ft.denText;
    const int denLength = ft.denLength;
    const bool blank = ft.blank;
    int intIndex = 0, numIndex = 0, denIndex = 0;
    for (const Token &t : sec.tokens) {
        switch (t.kind) {
        case Tok::Literal:
            // Literals between the numerator and the denominator stay.
            out += t.text;
            break;
        case Tok::Percent:
            out += '%';
            break;
        case Tok::Slash:
            if (blank) {
                out.append(t.text.size(), ' ');
            } else {
                out += '/';
                if (sec.fixedDenominator > 0)
                    out.append(denText, size_t(denLength));
            }
            break;
        case Tok::Digit:
            if (t.n == 0) {
                fill.append(intIndex++, t.ch, out);
            } else if (t.n == 1) {
                const int k = numIndex++;
                const int fromRight = sec.numPlaces - 1 - k;
                if (blank) {
                    out += ' ';
                } else if (fromRight < 0) {
                    // more numerator placeholders than counted: nothing to show
                } else if (k == 0 && numLength > sec.numPlaces) {
                    out.append(numText, size_t(numLength - sec.numPlaces + 1));
                } else if (fromRight < numLength) {
                    out += numText[numLength - 1 - fromRight];
                } else {
                    out += t.ch == '0' ? "0" : t.ch == '?' ? " " : "";
                }
            } else if (sec.fixedDenominator == 0) {
                const int k = denIndex++;
                if (blank) {
                    out += ' ';
                } else if (k < denLength) {
                    out += denText[k];
                    if (k == sec.denPlaces - 1 && denLength > sec.denPlaces)
                        out.append(denText + k + 1, size_t(denLength - sec.denPlaces));
                } else {
                    out += t.ch == '0' ? "0" : t.ch == '?' ? " " : "";
                }
            }
            break;
        default:
            break;
        }
    }
}

} // namespace

void renderFraction(const FormatSection &sec, double v, std::string &out)
{
    Fraction p;
    splitFraction(sec, v, p);
    const int64_t whole = p.whole, num = p.num, den = p.den;
    const char *hugeText = p.hugeText;
    const int hugeLength = p.hugeLength;
    char wholeText[24];
    int wholeLength = 0;
    if (hugeLength > 0) {
        // filled from hugeText below
    } else if (whole > 0) {
        auto r = std::to_chars(wholeText, wholeText + sizeof wholeText, uint64_t(whole));
        wholeLength = int(r.ptr - wholeText);
    } else if (num == 0) {
        wholeText[0] = '0';
        wholeLength = 1;
    }
    IntegerFill fill;
    fill.digits = hugeLength > 0 ? hugeText : wholeText;
    fill.length = hugeLength > 0 ? hugeLength : wholeLength;
    fill.places = sec.intPlaces;

    char numBuffer[24], denText[24];
    auto rn = std::to_chars(numBuffer, numBuffer + sizeof numBuffer, uint64_t(num));
    auto rd = std::to_chars(denText, denText + sizeof denText, uint64_t(den));
    const char *numText = numBuffer;
    int numLength = int(rn.ptr - numBuffer);
    const int denLength = int(rd.ptr - denText);
    if (hugeLength > 0 && !sec.mixedFraction) {
        // Without a whole-number part the value stands over a denominator of 1.
        numText = hugeText;
        numLength = hugeLength;
        fill.length = 0;
    }
    // A whole number hides the fraction behind spaces of its width.
    FractionText ft;
    ft.fill = fill;
    ft.numText = numText;
    ft.numLength = numLength;
    ft.denText = denText;
    ft.denLength = denLength;
    ft.blank = sec.mixedFraction && num == 0;
    writeFraction(sec, ft, out);
}

namespace {

struct DateParts
{
    int year = 1900, month = 1, day = 0, weekday = 6;
    int hour = 0, minute = 0, second = 0;
    int64_t subSecond = 0;
    int64_t ticks = 0; // total, in units of 10^-subDigits seconds
    int64_t ticksPerSecond = 1;
};

bool splitSerial(double v, bool date1904, int subDigits, DateParts &p)
{
    if (!(v >= 0))
        return false;
    int64_t perSecond = 1;
    for (int k = 0; k < subDigits; ++k)
        perSecond *= 10;
    const double limit = double((date1904 ? kLastSerialDay1904 : kLastSerialDay1900) + 1);
    if (v >= limit)
        return false;
    const int64_t perDay = kSecondsPerDay * perSecond;
    const int64_t ticks = std::llround(v * double(perDay));
    const int64_t day = ticks / perDay;
    if (day > (date1904 ? kLastSerialDay1904 : kLastSerialDay1900))
        return false;
    int64_t rest = ticks % perDay;
    p.ticks = ticks;
    p.ticksPerSecond = perSecond;
    p.subSecond = rest % perSecond;
    rest /= perSecond;
    p.second = int(rest % 60);
    p.minute = int(rest / 60 % 60);
    p.hour = int(rest / 3600);
    serialDayToDate(day, date1904, p.year, p.month, p.day);
    p.weekday = int((day + (date1904 ? 5 : 6)) % 7);
    return true;
}

} // namespace

namespace {

// Appends a year, month or day token.
void appendCalendarToken(const Token &t, const DateParts &p, std::string &out)
{
    switch (t.kind) {
    case Tok::Year: {
        const int year = p.year + (t.ch == 'b' ? kBuddhistEraOffset : 0);
        if (t.n == 2)
            appendPadded(uint64_t(year % 100), 2, out);
        else
            appendPadded(uint64_t(year), 4, out);
        break;
    }
    case Tok::Month:
        switch (t.n) {
        case 1:
            appendUnsigned(uint64_t(p.month), out);
            break;
        case 2:
            appendPadded(uint64_t(p.month), 2, out);
            break;
        case 3:
            out.append(kMonthNames[p.month - 1], 3);
            break;
        case 5:
            out += kMonthNames[p.month - 1][0];
            break;
        default:
            out += kMonthNames[p.month - 1];
            break;
        }
        break;
    case Tok::Day:
        switch (t.n) {
        case 1:
            appendUnsigned(uint64_t(p.day), out);
            break;
        case 2:
            appendPadded(uint64_t(p.day), 2, out);
            break;
        case 3:
            out.append(kDayNames[p.weekday], 3);
            break;
        default:
            out += kDayNames[p.weekday];
            break;
        }
        break;
    default:
        break;
    }
}

// Appends an hour, minute, second, elapsed-count or AM/PM token.
void appendClockToken(const FormatSection &sec, const Token &t, const DateParts &p,
                      std::string &out)
{
    switch (t.kind) {
    case Tok::Hour: {
        int h = p.hour;
        if (sec.twelveHour) {
            h %= 12;
            if (h == 0)
                h = 12;
        }
        appendPadded(uint64_t(h), t.n, out);
        break;
    }
    case Tok::Minute:
        appendPadded(uint64_t(p.minute), t.n, out);
        break;
    case Tok::Second:
        appendPadded(uint64_t(p.second), t.n, out);
        break;
    case Tok::SubSecond: {
        out += '.';
        int64_t sub = p.subSecond;
        for (int k = t.n; k < sec.subSecondDigits; ++k)
            sub /= 10;
        appendPadded(uint64_t(sub), t.n, out);
        break;
    }
    case Tok::Elapsed: {
        const int64_t seconds = p.ticks / p.ticksPerSecond;
        const int64_t value = t.ch == 'h' ? seconds / 3600 : t.ch == 'm' ? seconds / 60 : seconds;
        appendPadded(uint64_t(value), t.n, out);
        break;
    }
    case Tok::AmPm: {
        const bool pm = p.hour >= 12;
        switch (t.ch) {
        case 'A':
            out += pm ? "PM" : "AM";
            break;
        case 'P':
            out += pm ? 'P' : 'A';
            break;
        case 'p':
            out += pm ? 'p' : 'a';
            break;
        default:
            out += pm ? kChinesePm : kChineseAm;
            break;
        }
        break;
    }
    default:
        break;
    }
}

} // namespace

void renderDate(const FormatSection &sec, double v, bool date1904, std::string &out)
{
    DateParts p;
    if (!splitSerial(v, date1904, sec.subSecondDigits, p)) {
        appendUnshowable(out);
        return;
    }
    for (const Token &t : sec.tokens) {
        const size_t from = out.size();
        if (t.kind == Tok::Literal)
            out += t.text;
        else if (t.kind == Tok::Year || t.kind == Tok::Month || t.kind == Tok::Day)
            appendCalendarToken(t, p, out);
        else
            appendClockToken(sec, t, p, out);
        // Chinese numerals: names of months and days, AM/PM and eras stay.
        const bool named = (t.kind == Tok::Month || t.kind == Tok::Day) && t.n > 2;
        if (sec.numerals.active() && t.kind != Tok::Literal && t.kind != Tok::AmPm
            && t.kind != Tok::Era && !named)
            dateFieldToNumerals(out, from, t.kind == Tok::Year || t.kind == Tok::SubSecond,
                                sec.numerals);
    }
}

} // namespace sd
