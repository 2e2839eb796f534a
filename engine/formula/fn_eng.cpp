// Engineering functions: COMPLEX, Bessel functions, base conversions,
// DELTA and GESTEP.

#include "formula/fn_p.h"

#include <cmath>

namespace sd::formula {

namespace {

Value fnComplex(Call &c)
{
    double re = 0, im = 0;
    SD_ARGS(&re, &im);
    std::string suffix = "i";
    if (c.count() > 2 && !c.isEmpty(2)) {
        if (uint8_t e = c.text(2, suffix))
            return Value::err(e);
        if (suffix.empty())
            suffix = "i";
        if (suffix != "i" && suffix != "j")
            return Value::err(ErrValue);
    }
    if (im == 0)
        return Value::str(numberToText(re));
    std::string out = re != 0 ? numberToText(re) : std::string();
    if (im == 1)
        out += (re != 0 ? "+" : "") + suffix;
    else if (im == -1)
        out += "-" + suffix;
    else
        out += (im > 0 && re != 0 ? "+" : "") + numberToText(im) + suffix;
    return Value::str(out);
}

// Power series of the Bessel functions I_n and J_n of integer order.
double besselSeries(double x, int n, bool modified)
{
    const double half = x / 2;
    double term = std::pow(half, n) / std::tgamma(n + 1.0);
    double sum = term;
    for (int k = 1; k < 500; ++k) {
        term *= (modified ? 1 : -1) * half * half / (double(k) * (k + n));
        sum += term;
        if (std::fabs(term) < std::fabs(sum) * 1e-17)
            break;
    }
    return sum;
}

Value fnBesselI(Call &c)
{
    double x = 0, n = 0;
    SD_ARGS(&x, &n);
    n = std::trunc(n);
    if (n < 0 || n > 100)
        return Value::err(ErrNum);
    return Value::num(besselSeries(x, int(n), true));
}

Value fnBesselJ(Call &c)
{
    double x = 0, n = 0;
    SD_ARGS(&x, &n);
    n = std::trunc(n);
    if (n < 0 || n > 100)
        return Value::err(ErrNum);
    if (std::fabs(x) > 30)
        throw Unsupported { "BESSELJ of a large argument" };
    return Value::num(besselSeries(x, int(n), false));
}

// ---- base conversions -------------------------------------------------------------

// Reads a number written in `base` with up to 10 digits, the tenth digit's
// top bit being the sign (two's complement over 10 digits).
bool fromBase(const std::string &text, int base, double &out)
{
    if (text.size() > 10)
        return false;
    double v = 0;
    for (char ch : text) {
        int d = ch >= '0' && ch <= '9'                 ? ch - '0'
            : (ch | 0x20) >= 'a' && (ch | 0x20) <= 'f' ? (ch | 0x20) - 'a' + 10
                                                       : 99;
        if (d >= base)
            return false;
        v = v * base + d;
    }
    const double full = std::pow(double(base), 10);
    if (text.size() == 10 && v >= full / 2)
        v -= full;
    out = v;
    return true;
}

Value toBase(double v, int base, double places, bool havePlaces)
{
    const double full = std::pow(double(base), 10);
    if (v < -full / 2 || v >= full / 2)
        return Value::err(ErrNum);
    v = std::trunc(v);
    const bool negative = v < 0;
    if (negative)
        v += full;
    std::string digits;
    do {
        const int d = int(std::fmod(v, base));
        digits.insert(digits.begin(), char(d < 10 ? '0' + d : 'A' + d - 10));
        v = std::floor(v / base);
    } while (v > 0);
    if (negative)
        return Value::str(digits);
    if (havePlaces) {
        places = std::trunc(places);
        if (places < double(digits.size()) || places > 10)
            return Value::err(ErrNum);
        digits.insert(0, size_t(places) - digits.size(), '0');
    }
    return Value::str(digits);
}

Value convert(Call &c, int from, int to)
{
    double v = 0;
    if (from == 10) {
        if (uint8_t e = c.number(0, v))
            return Value::err(e);
    } else {
        const Value x = c.scalar(0);
        if (x.isError())
            return x;
        std::string text;
        if (x.type == ValueType::Number)
            text = numberToText(x.number);
        else if (uint8_t e = toText(x, text))
            return Value::err(e);
        if (!fromBase(text, from, v))
            return Value::err(ErrNum);
    }
    if (to == 10)
        return Value::num(v);
    double places = 0;
    const bool havePlaces = c.count() > 1 && !c.isEmpty(1);
    if (havePlaces)
        if (uint8_t e = c.number(1, places))
            return Value::err(e);
    const double limit = to == 2 ? 512 : to == 8 ? 536870912 : 549755813888.0;
    if (v < -limit || v >= limit)
        return Value::err(ErrNum);
    return toBase(v, to, places, havePlaces);
}

Value fnBin2Dec(Call &c)
{
    return convert(c, 2, 10);
}
Value fnBin2Hex(Call &c)
{
    return convert(c, 2, 16);
}
Value fnBin2Oct(Call &c)
{
    return convert(c, 2, 8);
}
Value fnDec2Bin(Call &c)
{
    return convert(c, 10, 2);
}
Value fnDec2Hex(Call &c)
{
    return convert(c, 10, 16);
}
Value fnDec2Oct(Call &c)
{
    return convert(c, 10, 8);
}
Value fnHex2Bin(Call &c)
{
    return convert(c, 16, 2);
}
Value fnHex2Dec(Call &c)
{
    return convert(c, 16, 10);
}
Value fnHex2Oct(Call &c)
{
    return convert(c, 16, 8);
}
Value fnOct2Bin(Call &c)
{
    return convert(c, 8, 2);
}
Value fnOct2Dec(Call &c)
{
    return convert(c, 8, 10);
}
Value fnOct2Hex(Call &c)
{
    return convert(c, 8, 16);
}

Value fnDelta(Call &c)
{
    double a = 0, b = 0;
    SD_ARGS(&a, &b);
    return Value::num(a == b ? 1 : 0);
}

Value fnGeStep(Call &c)
{
    double n = 0, step = 0;
    SD_ARGS(&n, &step);
    return Value::num(n >= step ? 1 : 0);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows engineeringFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "BESSELI", -1, 2, 2, "V", E, fnBesselI },
        { "BESSELJ", -1, 2, 2, "V", E, fnBesselJ },
        { "COMPLEX", -1, 2, 3, "V", E, fnComplex },
        { "BIN2DEC", -1, 1, 1, "V", E, fnBin2Dec },
        { "BIN2HEX", -1, 1, 2, "V", E, fnBin2Hex },
        { "BIN2OCT", -1, 1, 2, "V", E, fnBin2Oct },
        { "DEC2BIN", -1, 1, 2, "V", E, fnDec2Bin },
        { "DEC2HEX", -1, 1, 2, "V", E, fnDec2Hex },
        { "DEC2OCT", -1, 1, 2, "V", E, fnDec2Oct },
        { "HEX2BIN", -1, 1, 2, "V", E, fnHex2Bin },
        { "HEX2DEC", -1, 1, 1, "V", E, fnHex2Dec },
        { "HEX2OCT", -1, 1, 2, "V", E, fnHex2Oct },
        { "OCT2BIN", -1, 1, 2, "V", E, fnOct2Bin },
        { "OCT2DEC", -1, 1, 1, "V", E, fnOct2Dec },
        { "OCT2HEX", -1, 1, 2, "V", E, fnOct2Hex },
        { "DELTA", -1, 1, 2, "V", E, fnDelta },
        { "GESTEP", -1, 1, 2, "V", E, fnGeStep },
        // Known, not evaluated: a call keeps the cell's cached value.
        { "BESSELK", -1, 2, 2, "V", E, nullptr },
        { "BESSELY", -1, 2, 2, "V", E, nullptr },
        { "CONVERT", -1, 3, 3, "V", E, nullptr },
        { "IMABS", -1, 1, 1, "V", E, nullptr },
        { "IMAGINARY", -1, 1, 1, "V", E, nullptr },
        { "IMARGUMENT", -1, 1, 1, "V", E, nullptr },
        { "IMCONJUGATE", -1, 1, 1, "V", E, nullptr },
        { "IMCOS", -1, 1, 1, "V", E, nullptr },
        { "IMDIV", -1, 2, 2, "V", E, nullptr },
        { "IMEXP", -1, 1, 1, "V", E, nullptr },
        { "IMLN", -1, 1, 1, "V", E, nullptr },
        { "IMLOG10", -1, 1, 1, "V", E, nullptr },
        { "IMLOG2", -1, 1, 1, "V", E, nullptr },
        { "IMPOWER", -1, 2, 2, "V", E, nullptr },
        { "IMPRODUCT", -1, 1, N, "R", 0, nullptr },
        { "IMREAL", -1, 1, 1, "V", E, nullptr },
        { "IMSIN", -1, 1, 1, "V", E, nullptr },
        { "IMSQRT", -1, 1, 1, "V", E, nullptr },
        { "IMSUB", -1, 2, 2, "V", E, nullptr },
        { "IMSUM", -1, 1, N, "R", 0, nullptr },
    };
    return rows;
}

} // namespace sd::formula
