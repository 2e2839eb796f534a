// Mathematical functions.

#include "formula/fn_p.h"

#include <cmath>
#include <numeric>

namespace sd::formula {

namespace {

Value unary(Call &c, double (*f)(double), bool (*domain)(double) = nullptr)
{
    SD_NUMBER(c, 0, x);
    if (domain && !domain(x))
        return Value::err(ErrNum);
    return Value::num(f(x));
}

bool positive(double x)
{
    return x > 0;
}

bool nonNegative(double x)
{
    return x >= 0;
}

bool unit(double x)
{
    return x >= -1 && x <= 1;
}

// Quotient rounded to 15 digits, so that 0.3/0.1 counts as 3 steps.
double steps(double n, double s)
{
    return round15(n / s);
}

Value fnAbs(Call &c)
{
    return unary(c, std::fabs);
}
Value fnSqrt(Call &c)
{
    return unary(c, std::sqrt, nonNegative);
}
Value fnExp(Call &c)
{
    return unary(c, std::exp);
}
Value fnLn(Call &c)
{
    return unary(c, std::log, positive);
}
Value fnLog10(Call &c)
{
    return unary(c, std::log10, positive);
}
// SIN, COS and TAN reduce their argument by multiples of pi/2 the way the
// application does, with pi held to 64 bits (extended precision) rather
// than exactly: near a multiple of pi/2 the result is what that pi gives,
// SIN(PI()) 1.22514845490862E-16 and not the 1.22464679914735E-16 of the
// true pi (the application's results in poi/43623.xls C5 and C9, poi/
// 47813.xlsx, sheet Numbers, columns B and C). The 64-bit pi/2 is held as
// the double nearest pi/2 plus a short remainder, so the reduction is the
// same on every machine.
double reduceQuarterTurns(double x, int &quadrant)
{
    constexpr double halfPiHigh = 0x1.921fb54442d18p+0; // M_PI / 2
    constexpr double halfPiLow = 0x1.1a8p-54; // the rest of pi/2 rounded to 64 bits
    const double k = std::nearbyint(x / halfPiHigh);
    quadrant = int(std::fmod(std::fmod(k, 4) + 4, 4));
    return std::fma(-k, halfPiHigh, x) - k * halfPiLow;
}

double excelSin(double x)
{
    int q = 0;
    const double r = reduceQuarterTurns(x, q);
    return q == 0 ? std::sin(r) : q == 1 ? std::cos(r) : q == 2 ? -std::sin(r) : -std::cos(r);
}

double excelCos(double x)
{
    int q = 0;
    const double r = reduceQuarterTurns(x, q);
    return q == 0 ? std::cos(r) : q == 1 ? -std::sin(r) : q == 2 ? -std::cos(r) : std::sin(r);
}

double excelTan(double x)
{
    int q = 0;
    const double r = reduceQuarterTurns(x, q);
    return q % 2 == 0 ? std::tan(r) : -1 / std::tan(r);
}

Value fnSin(Call &c)
{
    return unary(c, excelSin);
}
Value fnCos(Call &c)
{
    return unary(c, excelCos);
}
Value fnTan(Call &c)
{
    return unary(c, excelTan);
}
Value fnAtan(Call &c)
{
    return unary(c, std::atan);
}
Value fnAsin(Call &c)
{
    return unary(c, std::asin, unit);
}
Value fnAcos(Call &c)
{
    return unary(c, std::acos, unit);
}
Value fnSinh(Call &c)
{
    return unary(c, std::sinh);
}
Value fnCosh(Call &c)
{
    return unary(c, std::cosh);
}
Value fnTanh(Call &c)
{
    return unary(c, std::tanh);
}
Value fnAsinh(Call &c)
{
    return unary(c, std::asinh);
}
Value fnAcosh(Call &c)
{
    return unary(c, std::acosh, [](double x) { return x >= 1; });
}
Value fnAtanh(Call &c)
{
    return unary(c, std::atanh, [](double x) { return x > -1 && x < 1; });
}
Value fnInt(Call &c)
{
    return unary(c, std::floor);
}
Value fnRadians(Call &c)
{
    return unary(c, [](double x) { return x * M_PI / 180; });
}
Value fnDegrees(Call &c)
{
    return unary(c, [](double x) { return x * 180 / M_PI; });
}
Value fnSign(Call &c)
{
    return unary(c, [](double x) { return x > 0 ? 1.0 : x < 0 ? -1.0 : 0.0; });
}
Value fnGammaLn(Call &c)
{
    return unary(c, std::lgamma, positive);
}

Value fnPi(Call &)
{
    return Value::num(M_PI);
}

Value fnAtan2(Call &c)
{
    SD_NUMBER(c, 0, x);
    SD_NUMBER(c, 1, y);
    if (x == 0 && y == 0)
        return Value::err(ErrDiv0);
    return Value::num(std::atan2(y, x));
}

Value fnLog(Call &c)
{
    SD_NUMBER(c, 0, x);
    double base = 10;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, base))
            return Value::err(e);
    if (x <= 0 || base <= 0)
        return Value::err(ErrNum);
    if (base == 1)
        return Value::err(ErrDiv0);
    return Value::num(std::log(x) / std::log(base));
}

Value fnPower(Call &c)
{
    return c.evaluator.binaryOp(Op::Pow, c.scalar(0), c.scalar(1));
}

Value fnMod(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, d);
    if (d == 0)
        return Value::err(ErrDiv0);
    double r = n - d * std::floor(n / d);
    if (approxEqual(r, d) || std::fabs(r) < std::fabs(d) * 1e-15)
        r = 0;
    return Value::num(r);
}

Value fnQuotient(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, d);
    if (d == 0)
        return Value::err(ErrDiv0);
    return Value::num(std::trunc(round15(n / d)));
}

Value fnRound(Call &c)
{
    SD_NUMBER(c, 0, x);
    SD_NUMBER(c, 1, d);
    return Value::num(roundDigits(x, d, 0));
}

Value fnRoundUp(Call &c)
{
    SD_NUMBER(c, 0, x);
    SD_NUMBER(c, 1, d);
    return Value::num(roundDigits(x, d, 1));
}

Value fnRoundDown(Call &c)
{
    SD_NUMBER(c, 0, x);
    SD_NUMBER(c, 1, d);
    return Value::num(roundDigits(x, d, -1));
}

Value fnTrunc(Call &c)
{
    SD_NUMBER(c, 0, x);
    double d = 0;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, d))
            return Value::err(e);
    return Value::num(roundDigits(x, d, -1));
}

Value fnCeiling(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, s);
    if (n == 0 || s == 0)
        return Value::num(0);
    if (n > 0 && s < 0)
        return Value::err(ErrNum);
    if (n < 0 && s < 0)
        return Value::num(-std::ceil(steps(-n, -s)) * -s);
    return Value::num(std::ceil(steps(n, s)) * s);
}

Value fnFloor(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, s);
    if (n == 0)
        return Value::num(0);
    if (s == 0)
        return Value::err(ErrDiv0);
    if (n > 0 && s < 0)
        return Value::err(ErrNum);
    if (n < 0 && s < 0)
        return Value::num(-std::floor(steps(-n, -s)) * -s);
    return Value::num(std::floor(steps(n, s)) * s);
}

Value ceilingFloor(Call &c, bool ceiling, bool precise)
{
    SD_NUMBER(c, 0, n);
    double s = 1, mode = 0;
    if (c.count() > 1 && !c.isEmpty(1))
        if (uint8_t e = c.number(1, s))
            return Value::err(e);
    if (!precise && c.count() > 2)
        if (uint8_t e = c.number(2, mode))
            return Value::err(e);
    s = std::fabs(s);
    if (s == 0 || n == 0)
        return Value::num(0);
    const double q = steps(n, s);
    double r;
    if (n < 0 && mode != 0)
        r = ceiling ? std::floor(q) : std::ceil(q); // away from / towards zero
    else
        r = ceiling ? std::ceil(q) : std::floor(q);
    return Value::num(r * s);
}

Value fnCeilingMath(Call &c)
{
    return ceilingFloor(c, true, false);
}
Value fnFloorMath(Call &c)
{
    return ceilingFloor(c, false, false);
}
Value fnCeilingPrecise(Call &c)
{
    return ceilingFloor(c, true, true);
}
Value fnFloorPrecise(Call &c)
{
    return ceilingFloor(c, false, true);
}

Value fnMround(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, m);
    if (m == 0 || n == 0)
        return Value::num(0);
    if ((n > 0) != (m > 0))
        return Value::err(ErrNum);
    const double q = steps(n, m);
    return Value::num(std::floor(std::fabs(q) + 0.5) * std::fabs(m) * (n < 0 ? -1 : 1));
}

Value fnEven(Call &c)
{
    SD_NUMBER(c, 0, x);
    const double a = std::ceil(round15(std::fabs(x)) / 2) * 2;
    return Value::num(x < 0 ? -a : a);
}

Value fnOdd(Call &c)
{
    SD_NUMBER(c, 0, x);
    double a = std::ceil(round15(std::fabs(x)));
    if (std::fmod(a, 2) == 0)
        a += 1;
    return Value::num(x < 0 ? -a : a);
}

Value fnFact(Call &c)
{
    SD_NUMBER(c, 0, x);
    x = std::trunc(x);
    if (x < 0 || x > 170)
        return Value::err(ErrNum);
    double r = 1;
    for (int i = 2; i <= int(x); ++i)
        r *= i;
    return Value::num(r);
}

Value fnCombin(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, k);
    n = std::trunc(n), k = std::trunc(k);
    if (n < 0 || k < 0 || k > n)
        return Value::err(ErrNum);
    k = std::min(k, n - k);
    if (k > 1000) // far beyond a double's range unless n is close to k
        return Value::num(
            std::round(std::exp(std::lgamma(n + 1) - std::lgamma(k + 1) - std::lgamma(n - k + 1))));
    double r = 1;
    for (int i = 1; i <= int(k); ++i)
        r = r * (n - k + i) / i;
    return Value::num(std::round(r));
}

Value fnPermut(Call &c)
{
    SD_NUMBER(c, 0, n);
    SD_NUMBER(c, 1, k);
    n = std::trunc(n), k = std::trunc(k);
    if (n <= 0 || k < 0 || k > n)
        return Value::err(ErrNum);
    if (k > 1000)
        return Value::num(std::exp(std::lgamma(n + 1) - std::lgamma(n - k + 1)));
    double r = 1;
    for (int i = 0; i < int(k); ++i)
        r *= n - i;
    return Value::num(r);
}

Value fnRand(Call &c)
{
    return Value::num(c.evaluator.random());
}

Value fnRandBetween(Call &c)
{
    SD_NUMBER(c, 0, lo);
    SD_NUMBER(c, 1, hi);
    lo = std::ceil(lo), hi = std::floor(hi);
    if (lo > hi)
        return Value::err(ErrNum);
    return Value::num(lo + std::floor(c.evaluator.random() * (hi - lo + 1)));
}

Value fnIsEven(Call &c)
{
    SD_NUMBER(c, 0, x);
    return Value::boolean(std::fmod(std::trunc(x), 2) == 0);
}

Value fnIsOdd(Call &c)
{
    SD_NUMBER(c, 0, x);
    return Value::boolean(std::fmod(std::trunc(x), 2) != 0);
}

Value gcdLcm(Call &c, bool lcm)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    double acc = lcm ? 1 : 0;
    for (double x : xs) {
        x = std::trunc(x);
        if (x < 0 || x >= 9007199254740992.0)
            return Value::err(ErrNum);
        const uint64_t a = uint64_t(acc), b = uint64_t(x);
        if (lcm) {
            if (b == 0)
                return Value::num(0);
            acc = double(a / std::gcd(a, b)) * double(b);
        } else {
            acc = double(std::gcd(a, b));
        }
    }
    return Value::num(acc);
}

Value fnGcd(Call &c)
{
    return gcdLcm(c, false);
}
Value fnLcm(Call &c)
{
    return gcdLcm(c, true);
}

// ROMAN's forms: 0 classic, 1 to 3 more concise, 4 simplified (TRUE is 0,
// FALSE 4). For a digit 4 or 9 of a place, a form may write the subtracted
// numeral up to `form` places lower, as long as the pair still fits the
// rest of the number: ROMAN(499,1) is "LDVLIV", (499,2) "XDIX", (499,3)
// "VDIV", (499,4) "ID", as the function reference shows.
std::string roman(int n, int form)
{
    static const char letters[] = { 'M', 'D', 'C', 'L', 'X', 'V', 'I' };
    static const int values[] = { 1000, 500, 100, 50, 10, 5, 1 };
    constexpr int last = 6;
    std::string out;
    for (int place = 0; place <= last; place += 2) { // M, C, X, I
        const int digit = n / values[place];
        if (digit % 5 == 4) {
            // Subtract from the next five or ten: IV, IX, XL, XC, CD, CM ...
            const int big = digit == 4 ? place - 1 : place - 2;
            int small = place;
            for (int steps = 0; steps < form && small < last; ++steps) {
                if (values[big] - values[small + 1] > n)
                    break;
                ++small;
            }
            out += letters[small];
            out += letters[big];
            n += values[small] - values[big];
        } else {
            if (digit > 4)
                out += letters[place - 1];
            out.append(size_t(digit % 5), letters[place]);
            n %= values[place];
        }
    }
    return out;
}

Value fnRoman(Call &c)
{
    SD_NUMBER(c, 0, x);
    x = std::trunc(x);
    if (x < 0 || x > 3999)
        return Value::err(ErrValue);
    int form = 0;
    if (c.count() > 1 && !c.isEmpty(1)) {
        const Value f = c.scalar(1);
        if (f.isError())
            return f;
        if (f.type == ValueType::Bool) {
            form = f.number != 0 ? 0 : 4;
        } else {
            SD_NUMBER(c, 1, d);
            d = std::trunc(d);
            if (d < 0 || d > 4)
                return Value::err(ErrValue);
            form = int(d);
        }
    }
    return Value::str(roman(int(x), form));
}

// ---- analysis functions ---------------------------------------------------

Value fnFactDouble(Call &c)
{
    double n = 0;
    SD_ARGS(&n);
    n = std::trunc(n);
    if (n < -1 || n > 300)
        return Value::err(ErrNum);
    double r = 1;
    for (double k = n; k > 1; k -= 2)
        r *= k;
    return Value::num(r);
}

Value fnMultinomial(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    double total = 0, logDen = 0;
    for (double x : xs) {
        x = std::trunc(x);
        if (x < 0)
            return Value::err(ErrNum);
        total += x;
        logDen += std::lgamma(x + 1);
    }
    return Value::num(std::round(std::exp(std::lgamma(total + 1) - logDen)));
}

Value fnSqrtPi(Call &c)
{
    double x = 0;
    SD_ARGS(&x);
    if (x < 0)
        return Value::err(ErrNum);
    return Value::num(std::sqrt(x * M_PI));
}

Value fnSeriesSum(Call &c)
{
    double x = 0, n = 0, m = 0;
    SD_ARGS(&x, &n, &m);
    std::vector<double> coef;
    if (uint8_t e = collectNumbers(c, 3, 4, Collect::Numbers, coef))
        return Value::err(e);
    double s = 0;
    for (size_t i = 0; i < coef.size(); ++i)
        s += coef[i] * std::pow(x, n + double(i) * m);
    return Value::num(s);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows mathFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "SIN", 15, 1, 1, "V", E, fnSin },
        { "COS", 16, 1, 1, "V", E, fnCos },
        { "TAN", 17, 1, 1, "V", E, fnTan },
        { "ATAN", 18, 1, 1, "V", E, fnAtan },
        { "PI", 19, 0, 0, "V", 0, fnPi },
        { "SQRT", 20, 1, 1, "V", E, fnSqrt },
        { "EXP", 21, 1, 1, "V", E, fnExp },
        { "LN", 22, 1, 1, "V", E, fnLn },
        { "LOG10", 23, 1, 1, "V", E, fnLog10 },
        { "ABS", 24, 1, 1, "V", E, fnAbs },
        { "INT", 25, 1, 1, "V", E, fnInt },
        { "SIGN", 26, 1, 1, "V", E, fnSign },
        { "ROUND", 27, 2, 2, "V", E, fnRound },
        { "MOD", 39, 2, 2, "V", E, fnMod },
        { "RAND", 63, 0, 0, "V", V, fnRand },
        { "ATAN2", 97, 2, 2, "V", E, fnAtan2 },
        { "ASIN", 98, 1, 1, "V", E, fnAsin },
        { "ACOS", 99, 1, 1, "V", E, fnAcos },
        { "LOG", 109, 1, 2, "V", E, fnLog },
        { "FACT", 184, 1, 1, "V", E, fnFact },
        { "TRUNC", 197, 1, 2, "V", E, fnTrunc },
        { "ROUNDUP", 212, 2, 2, "V", E, fnRoundUp },
        { "ROUNDDOWN", 213, 2, 2, "V", E, fnRoundDown },
        { "SINH", 229, 1, 1, "V", E, fnSinh },
        { "COSH", 230, 1, 1, "V", E, fnCosh },
        { "TANH", 231, 1, 1, "V", E, fnTanh },
        { "ASINH", 232, 1, 1, "V", E, fnAsinh },
        { "ACOSH", 233, 1, 1, "V", E, fnAcosh },
        { "ATANH", 234, 1, 1, "V", E, fnAtanh },
        { "GAMMALN", 271, 1, 1, "V", E, fnGammaLn },
        { "COMBIN", 276, 2, 2, "V", E, fnCombin },
        { "EVEN", 279, 1, 1, "V", E, fnEven },
        { "FLOOR", 285, 2, 2, "V", E, fnFloor },
        { "CEILING", 288, 2, 2, "V", E, fnCeiling },
        { "ODD", 298, 1, 1, "V", E, fnOdd },
        { "PERMUT", 299, 2, 2, "V", E, fnPermut },
        { "POWER", 337, 2, 2, "V", E, fnPower },
        { "RADIANS", 342, 1, 1, "V", E, fnRadians },
        { "DEGREES", 343, 1, 1, "V", E, fnDegrees },
        { "ROMAN", 354, 1, 2, "V", E, fnRoman },
        { "RANDBETWEEN", -1, 2, 2, "V", V, fnRandBetween },
        { "MROUND", -1, 2, 2, "V", E, fnMround },
        { "CEILING.MATH", -1, 1, 3, "V", E, fnCeilingMath },
        { "FLOOR.MATH", -1, 1, 3, "V", E, fnFloorMath },
        { "CEILING.PRECISE", -1, 1, 2, "V", E, fnCeilingPrecise },
        { "FLOOR.PRECISE", -1, 1, 2, "V", E, fnFloorPrecise },
        { "ISO.CEILING", -1, 1, 2, "V", E, fnCeilingPrecise },
        { "QUOTIENT", -1, 2, 2, "V", E, fnQuotient },
        { "ISEVEN", -1, 1, 1, "V", E, fnIsEven },
        { "ISODD", -1, 1, 1, "V", E, fnIsOdd },
        { "GCD", -1, 1, N, "R", 0, fnGcd },
        { "LCM", -1, 1, N, "R", 0, fnLcm },
        { "GAMMALN.PRECISE", -1, 1, 1, "V", E, fnGammaLn },
        { "ECMA.CEILING", -1, 2, 2, "V", E, fnCeiling },
        { "FACTDOUBLE", -1, 1, 1, "V", E, fnFactDouble },
        { "MULTINOMIAL", -1, 1, N, "R", 0, fnMultinomial },
        { "SQRTPI", -1, 1, 1, "V", E, fnSqrtPi },
        { "SERIESSUM", -1, 4, 4, "VVVR", 0, fnSeriesSum },
    };
    return rows;
}

} // namespace sd::formula
