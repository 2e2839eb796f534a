// Financial functions: the time value of money (PV, FV, PMT, NPER, RATE,
// IPMT, PPMT, CUMIPMT, CUMPRINC), cash flows (NPV, IRR, MIRR, FVSCHEDULE),
// depreciation (SLN, SYD, DDB, DB), interest rates and fractional dollars.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

// ---- time value of money -------------------------------------------------

struct Tvm
{
    double rate = 0, nper = 0, pmt = 0, pv = 0, fv = 0, type = 0;
};

// Reads arguments in the given order ('r' rate, 'n' nper, 'p' pmt, 'v' pv,
// 'f' fv, 't' type, '-' one read elsewhere); those beyond the call's count
// stay 0.
uint8_t readTvm(Call &c, const char *order, Tvm &t)
{
    for (int i = 0; order[i]; ++i) {
        if (i >= c.count())
            break;
        double *slot = nullptr;
        switch (order[i]) {
        case 'r':
            slot = &t.rate;
            break;
        case 'n':
            slot = &t.nper;
            break;
        case 'p':
            slot = &t.pmt;
            break;
        case 'v':
            slot = &t.pv;
            break;
        case 'f':
            slot = &t.fv;
            break;
        case 't':
            slot = &t.type;
            break;
        default:
            continue;
        }
        if (uint8_t e = c.number(i, *slot))
            return e;
    }
    t.type = t.type != 0 ? 1 : 0;
    return 0;
}

// IPMT and PPMT: rate, period, nper, pv, fv, type; the period must lie
// within the term.
uint8_t readPeriodTvm(Call &c, Tvm &t, double &per)
{
    if (uint8_t e = c.number(1, per))
        return e;
    if (uint8_t e = readTvm(c, "r-nvft", t))
        return e;
    return per < 1 || per > t.nper ? ErrNum : 0;
}

double payment(const Tvm &t)
{
    if (t.rate == 0)
        return -(t.pv + t.fv) / t.nper;
    const double f = std::pow(1 + t.rate, t.nper);
    return -(t.rate * (t.pv * f + t.fv)) / ((1 + t.rate * t.type) * (f - 1));
}

double futureValue(const Tvm &t)
{
    if (t.rate == 0)
        return -(t.pv + t.pmt * t.nper);
    // The growth of the payments, ((1+r)^n - 1)/r, is formed first: the
    // application's rounding (poi/FormulaEvalTestData_Copy.xlsx,
    // FinanceLibTests H19:H20 agree to the last bit this way).
    const double f = std::pow(1 + t.rate, t.nper);
    return -(t.pv * f + t.pmt * (1 + t.rate * t.type) * ((f - 1) / t.rate));
}

double interestPart(const Tvm &t, double per)
{
    const double pmt = payment(t);
    Tvm before = t;
    before.nper = per - 1;
    before.pmt = pmt;
    double ipmt = -futureValue(before) * t.rate;
    if (t.type == 1) {
        if (per == 1)
            return 0;
        ipmt /= 1 + t.rate;
    }
    return -ipmt;
}

Value fnPmt(Call &c)
{
    Tvm t;
    if (uint8_t e = readTvm(c, "rnvft", t))
        return Value::err(e);
    if (t.nper == 0)
        return Value::err(ErrNum);
    return Value::num(payment(t));
}

Value fnFv(Call &c)
{
    Tvm t;
    if (uint8_t e = readTvm(c, "rnpvt", t))
        return Value::err(e);
    return Value::num(futureValue(t));
}

Value fnPv(Call &c)
{
    Tvm t;
    if (uint8_t e = readTvm(c, "rnpft", t))
        return Value::err(e);
    if (t.rate == 0)
        return Value::num(-(t.fv + t.pmt * t.nper));
    const double f = std::pow(1 + t.rate, t.nper);
    return Value::num(-(t.fv + t.pmt * (1 + t.rate * t.type) * (f - 1) / t.rate) / f);
}

Value fnNper(Call &c)
{
    Tvm t;
    if (uint8_t e = readTvm(c, "rpvft", t))
        return Value::err(e);
    if (t.rate == 0) {
        if (t.pmt == 0)
            return Value::err(ErrNum);
        return Value::num(-(t.pv + t.fv) / t.pmt);
    }
    const double k = t.pmt * (1 + t.rate * t.type) / t.rate;
    const double num = k - t.fv, den = t.pv + k;
    if (num / den <= 0)
        return Value::err(ErrNum);
    return Value::num(std::log(num / den) / std::log(1 + t.rate));
}

Value fnIpmt(Call &c)
{
    Tvm t;
    double per = 0;
    if (uint8_t e = readPeriodTvm(c, t, per))
        return Value::err(e);
    return Value::num(interestPart(t, per));
}

Value fnPpmt(Call &c)
{
    Tvm t;
    double per = 0;
    if (uint8_t e = readPeriodTvm(c, t, per))
        return Value::err(e);
    return Value::num(payment(t) - interestPart(t, per));
}

Value fnRate(Call &c)
{
    Tvm t;
    if (uint8_t e = readTvm(c, "npvft", t))
        return Value::err(e);
    double guess = 0.1;
    if (c.count() > 5)
        if (uint8_t e = c.number(5, guess))
            return Value::err(e);
    double r = guess;
    for (int i = 0; i < 100; ++i) {
        auto f = [&](double rate) {
            Tvm x = t;
            x.rate = rate;
            x.fv = 0;
            return futureValue(x) - t.fv;
        };
        const double y = f(r), h = 1e-7 * std::max(1.0, std::fabs(r));
        const double dy = (f(r + h) - y) / h;
        if (dy == 0 || !std::isfinite(dy))
            break;
        const double next = r - y / dy;
        if (std::fabs(next - r) < 1e-12) {
            return Value::num(next);
        }
        r = next;
    }
    return Value::err(ErrNum);
}

Value fnNpv(Call &c)
{
    SD_NUMBER(c, 0, rate);
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 1, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    double s = 0, f = 1;
    for (double x : xs) {
        f *= 1 + rate;
        s += x / f;
    }
    return Value::num(s);
}

Value fnIrr(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, 1, Collect::Numbers, xs))
        return Value::err(e);
    double r = 0.1;
    if (c.count() > 1)
        if (uint8_t e = c.number(1, r))
            return Value::err(e);
    for (int i = 0; i < 100; ++i) {
        double f = 0, df = 0, k = 1;
        for (size_t j = 0; j < xs.size(); ++j) {
            f += xs[j] / k;
            df -= double(j) * xs[j] / (k * (1 + r));
            k *= 1 + r;
        }
        if (df == 0)
            break;
        const double next = r - f / df;
        if (std::fabs(next - r) < 1e-12)
            return Value::num(next);
        r = next;
    }
    return Value::err(ErrNum);
}

Value fnSln(Call &c)
{
    SD_NUMBER(c, 0, cost);
    SD_NUMBER(c, 1, salvage);
    SD_NUMBER(c, 2, life);
    if (life == 0)
        return Value::err(ErrDiv0);
    return Value::num((cost - salvage) / life);
}

Value fnSyd(Call &c)
{
    SD_NUMBER(c, 0, cost);
    SD_NUMBER(c, 1, salvage);
    SD_NUMBER(c, 2, life);
    SD_NUMBER(c, 3, per);
    if (life <= 0 || per <= 0 || per > life)
        return Value::err(ErrNum);
    return Value::num((cost - salvage) * (life - per + 1) * 2 / (life * (life + 1)));
}

Value fnDdb(Call &c)
{
    SD_NUMBER(c, 0, cost);
    SD_NUMBER(c, 1, salvage);
    SD_NUMBER(c, 2, life);
    SD_NUMBER(c, 3, period);
    double factor = 2;
    if (c.count() > 4)
        if (uint8_t e = c.number(4, factor))
            return Value::err(e);
    if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || period > life || factor <= 0)
        return Value::err(ErrNum);
    double value = cost, dep = 0;
    if (period > 1e6)
        return Value::err(ErrNum);
    for (int p = 1; p <= int(std::ceil(period)); ++p) {
        dep = std::min(value * factor / life, std::max(0.0, value - salvage));
        value -= dep;
    }
    return Value::num(dep);
}

Value fnIspmt(Call &c)
{
    SD_NUMBER(c, 0, rate);
    SD_NUMBER(c, 1, per);
    SD_NUMBER(c, 2, nper);
    SD_NUMBER(c, 3, pv);
    if (nper == 0)
        return Value::err(ErrDiv0);
    return Value::num(pv * rate * (per / nper - 1));
}

Value fnEffect(Call &c)
{
    SD_NUMBER(c, 0, rate);
    SD_NUMBER(c, 1, n);
    n = std::trunc(n);
    if (rate <= 0 || n < 1)
        return Value::err(ErrNum);
    return Value::num(std::pow(1 + rate / n, n) - 1);
}

Value fnNominal(Call &c)
{
    SD_NUMBER(c, 0, rate);
    SD_NUMBER(c, 1, n);
    n = std::trunc(n);
    if (rate <= 0 || n < 1)
        return Value::err(ErrNum);
    return Value::num(n * (std::pow(1 + rate, 1 / n) - 1));
}

// ---- rates, cash flows and fractional dollars --------------------------------

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
    c.evaluator.visit(rates, [&](const Value &x, uint32_t, uint32_t) {
        double r = 0;
        if (uint8_t e = toNumber(x, r))
            error = error ? error : e;
        principal *= 1 + r;
    });
    return error ? Value::err(error) : Value::num(principal);
}

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
        c.evaluator.step();
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
        c.evaluator.step();
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

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows financialFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "NPV", 11, 2, N, "VR", 0, fnNpv },
        { "PV", 56, 3, 5, "V", E, fnPv },
        { "FV", 57, 3, 5, "V", E, fnFv },
        { "NPER", 58, 3, 5, "V", E, fnNper },
        { "PMT", 59, 3, 5, "V", E, fnPmt },
        { "RATE", 60, 3, 6, "V", E, fnRate },
        { "MIRR", 61, 3, 3, "AV", 0, fnMirr },
        { "IRR", 62, 1, 2, "AV", 0, fnIrr },
        { "SLN", 142, 3, 3, "V", E, fnSln },
        { "SYD", 143, 4, 4, "V", E, fnSyd },
        { "DDB", 144, 4, 5, "V", E, fnDdb },
        { "IPMT", 167, 4, 6, "V", E, fnIpmt },
        { "PPMT", 168, 4, 6, "V", E, fnPpmt },
        { "DB", 247, 4, 5, "V", E, fnDb },
        { "ISPMT", 350, 4, 4, "V", E, fnIspmt },
        { "FVSCHEDULE", -1, 2, 2, "VA", 0, fnFvSchedule },
        { "CUMIPMT", -1, 6, 6, "V", E, fnCumIpmt },
        { "CUMPRINC", -1, 6, 6, "V", E, fnCumPrinc },
        { "EFFECT", -1, 2, 2, "V", E, fnEffect },
        { "NOMINAL", -1, 2, 2, "V", E, fnNominal },
        { "DOLLARDE", -1, 2, 2, "V", E, fnDollarDe },
        { "DOLLARFR", -1, 2, 2, "V", E, fnDollarFr },
        // Known, not evaluated: a call keeps the cell's cached value.
        { "AMORDEGRC", -1, 6, 7, "V", E, nullptr },
        { "AMORLINC", -1, 6, 7, "V", E, nullptr },
        { "ODDFPRICE", -1, 8, 9, "V", E, nullptr },
        { "ODDFYIELD", -1, 8, 9, "V", E, nullptr },
        { "ODDLPRICE", -1, 7, 8, "V", E, nullptr },
        { "ODDLYIELD", -1, 7, 8, "V", E, nullptr },
        { "EUROCONVERT", -1, 3, 5, "V", E, nullptr },
    };
    return rows;
}

} // namespace sd::formula
