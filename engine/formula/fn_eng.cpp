// Engineering and financial odds and ends: COMPLEX, Bessel functions, base
// conversions, DELTA/GESTEP, FVSCHEDULE, cumulative payments, MIRR, DB,
// fractional dollars, ASC/DBCS.

#include "formula/fn_p.h"

#include <QString>

#include <cmath>

namespace sd::formula {

namespace {

uint8_t args(Call &c, std::initializer_list<double *> out)
{
    int i = 0;
    for (double *slot : out) {
        if (i < c.count() && !c.isEmpty(i))
            if (uint8_t e = c.number(i, *slot))
                return e;
        ++i;
    }
    return 0;
}

#define SD_ARGS(...)                                                                               \
    if (uint8_t e_ = args(c, { __VA_ARGS__ }))                                                     \
        return Value::err(e_);

} // namespace

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

namespace {

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

} // namespace

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

namespace {

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

} // namespace

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

// ---- money --------------------------------------------------------------------------

Value fnDollarDe(Call &c)
{
    double v = 0, f = 0;
    SD_ARGS(&v, &f);
    f = std::trunc(f);
    if (f < 0)
        return Value::err(ErrNum);
    if (f == 0)
        return Value::err(ErrDiv0);
    const double whole = std::trunc(v);
    const double digits = std::ceil(std::log10(f));
    return Value::num(whole + round15((v - whole) * std::pow(10.0, digits)) / f);
}

Value fnDollarFr(Call &c)
{
    double v = 0, f = 0;
    SD_ARGS(&v, &f);
    f = std::trunc(f);
    if (f < 0)
        return Value::err(ErrNum);
    if (f == 0)
        return Value::err(ErrDiv0);
    const double whole = std::trunc(v);
    const double digits = std::ceil(std::log10(f));
    return Value::num(whole + round15((v - whole) * f) / std::pow(10.0, digits));
}

Value fnFvSchedule(Call &c)
{
    double principal = 0;
    SD_ARGS(&principal);
    const Value &rates = c.arg(1);
    if (rates.isError())
        return rates;
    uint8_t error = 0;
    c.engine.visit(rates, [&](const Value &x, uint32_t, uint32_t) {
        double r = 0;
        if (uint8_t e = toNumber(x, r))
            error = error ? error : e;
        principal *= 1 + r;
    });
    return error ? Value::err(error) : Value::num(principal);
}

namespace {

Value cumulative(Call &c, bool principalPart)
{
    double rate = 0, nper = 0, pv = 0, start = 0, end = 0, type = 0;
    SD_ARGS(&rate, &nper, &pv, &start, &end, &type);
    start = std::trunc(start), end = std::trunc(end);
    if (rate <= 0 || nper <= 0 || pv <= 0 || start < 1 || end < start || end > nper
        || (type != 0 && type != 1))
        return Value::err(ErrNum);
    const double f = std::pow(1 + rate, nper);
    const double pmt = -rate * pv * f / ((1 + rate * type) * (f - 1));
    double interest = 0, principal = 0;
    for (double per = start; per <= end; ++per) {
        c.engine.step();
        // Balance before this payment.
        const double k = per - 1;
        const double fk = std::pow(1 + rate, k);
        double balance = pv * fk + pmt * (1 + rate * type) * (fk - 1) / rate;
        double ipmt = (type == 1 && per == 1) ? 0 : -balance * rate;
        if (type == 1 && per > 1)
            ipmt /= 1 + rate;
        interest += ipmt;
        principal += pmt - ipmt;
    }
    return Value::num(principalPart ? principal : interest);
}

} // namespace

Value fnCumIpmt(Call &c)
{
    return cumulative(c, false);
}
Value fnCumPrinc(Call &c)
{
    return cumulative(c, true);
}

Value fnMirr(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, 1, Collect::Numbers, xs))
        return Value::err(e);
    double finance = 0, reinvest = 0;
    if (uint8_t e = c.number(1, finance))
        return Value::err(e);
    if (uint8_t e = c.number(2, reinvest))
        return Value::err(e);
    const double n = double(xs.size());
    double pos = 0, neg = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
        if (xs[i] > 0)
            pos += xs[i] * std::pow(1 + reinvest, n - 1 - double(i));
        else
            neg += xs[i] / std::pow(1 + finance, double(i));
    }
    if (pos == 0 || neg == 0)
        return Value::err(ErrDiv0);
    return Value::num(std::pow(-pos / neg, 1 / (n - 1)) - 1);
}

Value fnDb(Call &c)
{
    double cost = 0, salvage = 0, life = 0, period = 0, month = 12;
    SD_ARGS(&cost, &salvage, &life, &period, &month);
    period = std::trunc(period), month = std::trunc(month);
    if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || month < 1 || month > 12
        || period > life + (month < 12 ? 1 : 0))
        return Value::err(ErrNum);
    const double rate = cost == 0 ? 0 : roundDigits(1 - std::pow(salvage / cost, 1 / life), 3, 0);
    double total = 0, dep = 0;
    for (double p = 1; p <= period; ++p) {
        c.engine.step();
        if (p == 1)
            dep = cost * rate * month / 12;
        else if (p == life + 1)
            dep = (cost - total) * rate * (12 - month) / 12;
        else
            dep = (cost - total) * rate;
        total += dep;
    }
    return Value::num(dep);
}

// ---- full- and half-width letters --------------------------------------------------

namespace {

Value width(Call &c, bool toHalf)
{
    SD_TEXT(c, 0, s);
    QString t = QString::fromUtf8(s.data(), int(s.size()));
    for (QChar &ch : t) {
        const ushort u = ch.unicode();
        if (toHalf) {
            if (u >= 0xFF01 && u <= 0xFF5E)
                ch = QChar(ushort(u - 0xFEE0));
            else if (u == 0x3000)
                ch = QChar(' ');
        } else {
            if (u >= 0x21 && u <= 0x7E)
                ch = QChar(ushort(u + 0xFEE0));
            else if (u == ' ')
                ch = QChar(0x3000);
        }
    }
    return Value::str(t.toStdString());
}

} // namespace

Value fnAsc(Call &c)
{
    return width(c, true);
}
Value fnDbcs(Call &c)
{
    return width(c, false);
}

} // namespace sd::formula
