#include "core/numfmt.h"
#include "core/numfmt_p.h"

#include <charconv>
#include <cmath>
#include <cstring>

namespace sd {

namespace {

// General shows at most this many characters, not counting a minus sign.
constexpr int kGeneralWidth = 11;
// Significant digits in the scientific form of General.
constexpr int kGeneralSciDigits = 6;
// Integers below this bound fit in kGeneralWidth characters.
constexpr double kGeneralIntegerLimit = 1e11;

void appendUnsigned(uint64_t v, std::string &out)
{
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    out.append(buf, r.ptr);
}

void appendExponent(int exp, std::string &out)
{
    out += 'E';
    out += exp < 0 ? '-' : '+';
    unsigned e = unsigned(exp < 0 ? -exp : exp);
    if (e < 10)
        out += '0';
    appendUnsigned(e, out);
}

// Numbers from 10^-4 up to 10^10 always show in fixed notation, rounded to
// kGeneralWidth - 1 significant digits (9 decimals below 1). Unless the value
// lies within kFastMargin of a tie at that place, rounding it directly gives
// the same digits as rounding its 15-digit form, without generating digits.
constexpr double kFastLow = 1e-4;
constexpr double kFastHigh = 1e10;
constexpr double kFastMargin = 1e-4;
constexpr double kPowers[] = { 1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10 };

bool appendGeneralFast(double v, std::string &out)
{
    if (!(v >= kFastLow && v < kFastHigh))
        return false;
    int e = 0; // floor(log10(v)) for v >= 1
    while (e < 9 && v >= kPowers[e + 1])
        ++e;
    const int decimals = v >= 1 ? kGeneralWidth - 2 - e : kGeneralWidth - 2;
    const double x = v * kPowers[decimals];
    const double floor = std::floor(x);
    const double frac = x - floor;
    if (std::fabs(frac - 0.5) < kFastMargin)
        return false;
    uint64_t r = uint64_t(floor) + (frac > 0.5 ? 1 : 0);
    char digits[24];
    int places = decimals;
    while (places > 0 && r % 10 == 0) { // trailing zeros of the decimals
        r /= 10;
        --places;
    }
    const auto end = std::to_chars(digits, digits + sizeof digits, r).ptr;
    const int length = int(end - digits);
    if (places == 0) {
        out.append(digits, size_t(length));
    } else if (length > places) {
        out.append(digits, size_t(length - places));
        out += '.';
        out.append(digits + length - places, size_t(places));
    } else {
        out += "0.";
        out.append(size_t(places - length), '0');
        out.append(digits, size_t(length));
    }
    return true;
}

} // namespace

bool Digits::fromDouble(double v)
{
    // Callers pass a finite, positive value. The shortest representation
    // that reads back as v is, when it has at most 15 digits, also v rounded
    // to 15 digits (v lies within half an ulp of it, far inside half a unit
    // of the 15th digit), and it is much cheaper to find.
    if (!(v > 0) || !std::isfinite(v))
        return false;
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    if (r.ec != std::errc())
        return false;
    {
        int n = 0;
        for (const char *p = buf; p < r.ptr && *p != 'e'; ++p)
            n += *p >= '0' && *p <= '9';
        if (n > kSignificant)
            r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific,
                              kSignificant - 1);
        if (r.ec != std::errc())
            return false;
    }
    // d.dddddddddddddde[+-]xx
    const char *p = buf;
    count = 0;
    for (; p < r.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            digit[count++] = char(*p - '0');
    }
    int e = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, e);
    exp = e;
    trim();
    return true;
}

void Digits::trim()
{
    while (count > 0 && digit[count - 1] == 0)
        --count;
    if (count == 0)
        exp = 0;
}

void Digits::roundTo(int keep)
{
    if (keep >= count)
        return;
    if (keep < 0) {
        count = 0;
        exp = 0;
        return;
    }
    bool up = digit[keep] >= 5;
    count = keep;
    if (up) {
        int i = keep - 1;
        while (i >= 0 && digit[i] == 9)
            digit[i--] = 0;
        if (i < 0) {
            // 999.. rounds to 1000..: one digit, one place higher.
            digit[0] = 1;
            count = 1;
            ++exp;
        } else {
            ++digit[i];
        }
    } else if (keep == 0) {
        count = 0;
        exp = 0;
        return;
    }
    trim();
}

void Digits::appendFixed(int decimals, std::string &out) const
{
    // Integer part.
    if (exp < 0 || count == 0) {
        out += '0';
    } else {
        for (int i = 0; i <= exp; ++i)
            out += char('0' + (i < count ? digit[i] : 0));
    }
    if (decimals <= 0)
        return;
    out += '.';
    for (int k = 1; k <= decimals; ++k) {
        int i = exp + k; // index of the digit for 10^-k
        out += char('0' + (i >= 0 && i < count ? digit[i] : 0));
    }
}

void appendGeneral(double value, std::string &out)
{
    if (!std::isfinite(value)) {
        out += "#NUM!";
        return;
    }
    if (value == 0) {
        out += '0';
        return;
    }
    if (value < 0) {
        out += '-';
        value = -value;
    }
    if (value < kGeneralIntegerLimit && value == std::floor(value)) {
        appendUnsigned(uint64_t(value), out);
        return;
    }
    if (appendGeneralFast(value, out))
        return;
    appendGeneralDigits(value, out);
}

void appendGeneralDigits(double value, std::string &out)
{
    Digits d;
    d.fromDouble(value);

    // Fixed notation: the digits that fit in the width. For numbers of at
    // least 1 that is width-1 digits (one place goes to the point) and all
    // integer digits; below 1, "0." takes two places.
    Digits fixed = d;
    bool useFixed = false;
    if (d.exp >= 0) {
        if (d.exp < kGeneralWidth) {
            fixed.roundTo(d.exp >= kGeneralWidth - 1 ? kGeneralWidth : kGeneralWidth - 1);
            useFixed = fixed.exp < kGeneralWidth;
        }
    } else {
        // 0.000ddd: the fixed form keeps (width - 1 + exp) significant digits;
        // it is used when it shows as many as the scientific form would.
        int keep = kGeneralWidth - 1 + d.exp;
        Digits sci = d;
        sci.roundTo(kGeneralSciDigits);
        if (keep > 0) {
            fixed.roundTo(keep);
            useFixed = fixed.count > 0 && keep >= sci.count;
        }
    }
    if (useFixed) {
        int decimals = fixed.count - 1 - fixed.exp;
        fixed.appendFixed(decimals, out);
        return;
    }
    Digits sci = d;
    sci.roundTo(kGeneralSciDigits);
    out += char('0' + sci.digit[0]);
    if (sci.count > 1) {
        out += '.';
        for (int i = 1; i < sci.count; ++i)
            out += char('0' + sci.digit[i]);
    }
    appendExponent(sci.exp, out);
}

} // namespace sd
