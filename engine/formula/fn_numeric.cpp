// Numeric functions of the later versions: numbers in any base and Roman
// numerals read back, combinations with repetition, the reciprocal
// trigonometric and hyperbolic functions, GAMMA and the normal density,
// bit operations and the error function.

#include "formula/fn_p.h"

#include <cmath>

namespace sd::formula {

namespace {

constexpr double kTwo27 = 134217728.0; // trigonometric arguments must stay below 2^27
constexpr double kTwo48 = 281474976710656.0; // bit functions: up to 2^48 - 1
constexpr double kTwo53 = 9007199254740992.0; // BASE: up to 2^53 - 1

// ---- bases and numerals ---------------------------------------------------

Value fnBase(Call &c)
{
    double n = 0, radix = 0, minLength = 0;
    SD_ARGS(&n, &radix, &minLength);
    n = std::trunc(n), radix = std::trunc(radix), minLength = std::trunc(minLength);
    if (n < 0 || n >= kTwo53 || radix < 2 || radix > 36 || minLength < 0 || minLength > 255)
        return Value::err(ErrNum);
    std::string digits;
    do {
        const int d = int(std::fmod(n, radix));
        digits.insert(digits.begin(), char(d < 10 ? '0' + d : 'A' + d - 10));
        n = std::floor(n / radix);
    } while (n > 0);
    if (digits.size() < size_t(minLength))
        digits.insert(0, size_t(minLength) - digits.size(), '0');
    return Value::str(digits);
}

Value fnDecimal(Call &c)
{
    SD_TEXT(c, 0, text);
    SD_NUMBER(c, 1, radix);
    radix = std::trunc(radix);
    if (radix < 2 || radix > 36 || text.size() > 255)
        return Value::err(ErrNum);
    double v = 0;
    for (char ch : text) {
        const int lower = ch | 0x20;
        const int d = ch >= '0' && ch <= '9' ? ch - '0'
            : lower >= 'a' && lower <= 'z'   ? lower - 'a' + 10
                                             : 99;
        if (d >= radix)
            return Value::err(ErrNum);
        v = v * radix + d;
    }
    if (v >= kTwo53)
        return Value::err(ErrNum);
    return Value::num(v);
}

// Roman numerals in any order: a letter before a larger one subtracts.
Value fnArabic(Call &c)
{
    SD_TEXT(c, 0, text);
    const size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
    text = a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
    if (text.size() > 255)
        return Value::err(ErrValue);
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        negative = true;
        text.erase(0, 1);
        if (text.empty())
            return Value::err(ErrValue);
    }
    auto value = [](char ch) {
        switch (ch | 0x20) {
        case 'i':
            return 1;
        case 'v':
            return 5;
        case 'x':
            return 10;
        case 'l':
            return 50;
        case 'c':
            return 100;
        case 'd':
            return 500;
        case 'm':
            return 1000;
        }
        return 0;
    };
    double total = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const int v = value(text[i]);
        if (v == 0)
            return Value::err(ErrValue);
        const int next = i + 1 < text.size() ? value(text[i + 1]) : 0;
        total += next > v ? -v : v;
    }
    return Value::num(negative ? -total : total);
}

// ---- combinations -----------------------------------------------------------

Value fnCombinA(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, k);
    n = std::trunc(n), k = std::trunc(k);
    if (n < 0 || k < 0 || n < k)
        return Value::err(ErrNum);
    if (n == 0)
        return Value::num(1);
    // COMBIN(n + k - 1, k)
    const double top = n + k - 1;
    const double r = std::min(k, top - k);
    if (r > 1000)
        return Value::num(std::round(
            std::exp(std::lgamma(top + 1) - std::lgamma(r + 1) - std::lgamma(top - r + 1))));
    double out = 1;
    for (int i = 1; i <= int(r); ++i)
        out = out * (top - r + i) / i;
    const double v = std::round(out);
    return std::isfinite(v) ? Value::num(v) : Value::err(ErrNum);
}

Value fnPermutationA(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, k);
    n = std::trunc(n), k = std::trunc(k);
    if (n < 0 || k < 0)
        return Value::err(ErrNum);
    const double v = std::pow(n, k);
    return std::isfinite(v) ? Value::num(v) : Value::err(ErrNum);
}

// ---- trigonometry ---------------------------------------------------------

// f(x) for |x| < limit; #DIV/0! where the function's denominator is zero.
Value reciprocal(Call &c, double (*f)(double), double limit, bool zeroDivides)
{
    SD_NUMBER(c, 0, x);
    if (!(std::fabs(x) < limit))
        return Value::err(ErrNum);
    const double d = f(x);
    if (d == 0 || (zeroDivides && x == 0))
        return Value::err(ErrDiv0);
    return Value::num(1 / d);
}

Value fnCsc(Call &c)
{
    return reciprocal(
        c, [](double x) { return std::sin(x); }, kTwo27, true);
}
Value fnSec(Call &c)
{
    return reciprocal(
        c, [](double x) { return std::cos(x); }, kTwo27, false);
}
Value fnCot(Call &c)
{
    return reciprocal(
        c, [](double x) { return std::tan(x); }, kTwo27, true);
}
Value fnCsch(Call &c)
{
    return reciprocal(
        c, [](double x) { return std::sinh(x); }, kTwo27, true);
}
Value fnSech(Call &c)
{
    SD_NUMBER(c, 0, x);
    if (!(std::fabs(x) < kTwo27))
        return Value::err(ErrNum);
    const double ch = std::cosh(x);
    return Value::num(std::isfinite(ch) ? 1 / ch : 0.0);
}
Value fnCoth(Call &c)
{
    return reciprocal(
        c, [](double x) { return std::tanh(x); }, kTwo27, true);
}

Value fnAcot(Call &c)
{
    SD_NUMBER(c, 0, x);
    return Value::num(M_PI / 2 - std::atan(x));
}

Value fnAcoth(Call &c)
{
    SD_NUMBER(c, 0, x);
    if (!(std::fabs(x) > 1))
        return Value::err(ErrNum);
    return Value::num(0.5 * std::log((x + 1) / (x - 1)));
}

// ---- special functions ----------------------------------------------------

Value fnGamma(Call &c)
{
    SD_NUMBER(c, 0, x);
    if (x <= 0 && x == std::floor(x))
        return Value::err(ErrNum);
    const double g = std::tgamma(x);
    if (!std::isfinite(g))
        return Value::err(ErrNum);
    return Value::num(g);
}

Value fnPhi(Call &c)
{
    SD_NUMBER(c, 0, x);
    return Value::num(std::exp(-x * x / 2) / std::sqrt(2 * M_PI));
}

Value fnGauss(Call &c)
{
    SD_NUMBER(c, 0, z);
    return Value::num(0.5 * std::erf(z / std::sqrt(2.0)));
}

Value fnErf(Call &c)
{
    SD_NUMBER(c, 0, lower);
    if (c.count() < 2 || c.isEmpty(1))
        return Value::num(std::erf(lower));
    SD_NUMBER(c, 1, upper);
    return Value::num(std::erf(upper) - std::erf(lower));
}

Value fnErfPrecise(Call &c)
{
    SD_NUMBER(c, 0, x);
    return Value::num(std::erf(x));
}

Value fnErfc(Call &c)
{
    SD_NUMBER(c, 0, x);
    return Value::num(std::erfc(x));
}

// ---- bits -----------------------------------------------------------------

// A bit function's operand: a whole number from 0 to 2^48 - 1.
uint8_t bitOperand(Call &c, int i, uint64_t &out)
{
    double v = 0;
    if (uint8_t e = c.number(i, v))
        return e;
    if (v < 0 || v >= kTwo48 || v != std::floor(v))
        return ErrNum;
    out = uint64_t(v);
    return 0;
}

Value bitwise(Call &c, uint64_t (*op)(uint64_t, uint64_t))
{
    uint64_t a = 0, b = 0;
    if (uint8_t e = bitOperand(c, 0, a))
        return Value::err(e);
    if (uint8_t e = bitOperand(c, 1, b))
        return Value::err(e);
    return Value::num(double(op(a, b)));
}

Value fnBitAnd(Call &c)
{
    return bitwise(c, [](uint64_t a, uint64_t b) { return a & b; });
}
Value fnBitOr(Call &c)
{
    return bitwise(c, [](uint64_t a, uint64_t b) { return a | b; });
}
Value fnBitXor(Call &c)
{
    return bitwise(c, [](uint64_t a, uint64_t b) { return a ^ b; });
}

Value shift(Call &c, bool left)
{
    uint64_t n = 0;
    if (uint8_t e = bitOperand(c, 0, n))
        return Value::err(e);
    SD_NUMBER(c, 1, by);
    by = std::trunc(by);
    if (std::fabs(by) > 53)
        return Value::err(ErrNum);
    if (!left)
        by = -by;
    if (by < 0)
        return Value::num(double(n >> int(-by)));
    const double v = double(n) * std::pow(2.0, by);
    if (v >= kTwo48)
        return Value::err(ErrNum);
    return Value::num(v);
}

Value fnBitLShift(Call &c)
{
    return shift(c, true);
}
Value fnBitRShift(Call &c)
{
    return shift(c, false);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows numericFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "BASE", -1, 2, 3, "V", E, fnBase },
        { "DECIMAL", -1, 2, 2, "V", E, fnDecimal },
        { "ARABIC", -1, 1, 1, "V", E, fnArabic },
        { "COMBINA", -1, 2, 2, "V", E, fnCombinA },
        { "PERMUTATIONA", -1, 2, 2, "V", E, fnPermutationA },
        { "CSC", -1, 1, 1, "V", E, fnCsc },
        { "SEC", -1, 1, 1, "V", E, fnSec },
        { "COT", -1, 1, 1, "V", E, fnCot },
        { "ACOT", -1, 1, 1, "V", E, fnAcot },
        { "CSCH", -1, 1, 1, "V", E, fnCsch },
        { "SECH", -1, 1, 1, "V", E, fnSech },
        { "COTH", -1, 1, 1, "V", E, fnCoth },
        { "ACOTH", -1, 1, 1, "V", E, fnAcoth },
        { "GAMMA", -1, 1, 1, "V", E, fnGamma },
        { "PHI", -1, 1, 1, "V", E, fnPhi },
        { "GAUSS", -1, 1, 1, "V", E, fnGauss },
        { "ERF", -1, 1, 2, "V", E, fnErf },
        { "ERF.PRECISE", -1, 1, 1, "V", E, fnErfPrecise },
        { "ERFC", -1, 1, 1, "V", E, fnErfc },
        { "ERFC.PRECISE", -1, 1, 1, "V", E, fnErfc },
        { "BITAND", -1, 2, 2, "V", E, fnBitAnd },
        { "BITOR", -1, 2, 2, "V", E, fnBitOr },
        { "BITXOR", -1, 2, 2, "V", E, fnBitXor },
        { "BITLSHIFT", -1, 2, 2, "V", E, fnBitLShift },
        { "BITRSHIFT", -1, 2, 2, "V", E, fnBitRShift },
    };
    return rows;
}

} // namespace sd::formula
