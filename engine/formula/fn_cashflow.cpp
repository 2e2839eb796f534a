// Cash flows on dates (XNPV, XIRR), variable declining balance depreciation
// (VDB) and the growth functions PDURATION and RRI.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

// ---- cash flows on dates --------------------------------------------------

// The numbers of an array argument in order; any other value is #VALUE!.
uint8_t readSeries(Call &c, int i, std::vector<double> &out)
{
    const Value &v = c.arg(i);
    if (v.isError())
        return v.error;
    const ArrayData a = c.evaluator.toArray(v);
    for (const Value &x : a.items) {
        if (x.isError())
            return x.error;
        if (x.type != ValueType::Number)
            return ErrValue;
        out.push_back(x.number);
    }
    return 0;
}

// Values and dates of XNPV and XIRR: as many of each, dates whole days and
// none before the first. Returns 0 or an error code.
uint8_t readFlows(Call &c, int values, int dates, std::vector<double> &v, std::vector<double> &d)
{
    if (uint8_t e = readSeries(c, values, v))
        return e;
    if (uint8_t e = readSeries(c, dates, d))
        return e;
    if (v.size() != d.size() || v.empty())
        return ErrNum;
    for (double &x : d) {
        x = std::trunc(x);
        if (x < 0 || x >= 2958466)
            return ErrNum;
        if (x < d[0])
            return ErrNum;
    }
    return 0;
}

double xnpv(double rate, const std::vector<double> &v, const std::vector<double> &d)
{
    double sum = 0;
    for (size_t i = 0; i < v.size(); ++i)
        sum += v[i] / std::pow(1 + rate, (d[i] - d[0]) / 365);
    return sum;
}

double xnpvSlope(double rate, const std::vector<double> &v, const std::vector<double> &d)
{
    double sum = 0;
    for (size_t i = 0; i < v.size(); ++i) {
        const double t = (d[i] - d[0]) / 365;
        sum -= t * v[i] / std::pow(1 + rate, t + 1);
    }
    return sum;
}

Value fnXnpv(Call &c)
{
    SD_NUMBER(c, 0, rate);
    std::vector<double> v, d;
    if (uint8_t e = readFlows(c, 1, 2, v, d))
        return Value::err(e);
    if (rate <= -1)
        return Value::err(ErrNum);
    const double r = xnpv(rate, v, d);
    return std::isfinite(r) ? Value::num(r) : Value::err(ErrNum);
}

// Newton's method from the guess, as the application iterates (up to 100
// steps, to a relative change below 1e-10).
Value fnXirr(Call &c)
{
    std::vector<double> v, d;
    if (uint8_t e = readFlows(c, 0, 1, v, d))
        return Value::err(e);
    double rate = 0.1;
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, rate))
            return Value::err(e);
    if (rate <= -1)
        return Value::err(ErrNum);
    const bool positive = std::any_of(v.begin(), v.end(), [](double x) { return x > 0; });
    const bool negative = std::any_of(v.begin(), v.end(), [](double x) { return x < 0; });
    if (!positive || !negative)
        return Value::err(ErrNum);
    for (int i = 0; i < 100; ++i) {
        c.evaluator.step(v.size());
        const double f = xnpv(rate, v, d), slope = xnpvSlope(rate, v, d);
        if (!std::isfinite(f) || !std::isfinite(slope) || slope == 0)
            return Value::err(ErrNum);
        double next = rate - f / slope;
        if (next <= -1)
            next = (rate - 1) / 2; // stay where the flows are defined
        if (std::fabs(next - rate) <= 1e-10 * std::max(1.0, std::fabs(next)))
            return Value::num(next);
        rate = next;
    }
    return Value::err(ErrNum);
}

// ---- variable declining balance -------------------------------------------

// Declining balance depreciation of one whole period (1-based).
double decliningPeriod(double cost, double salvage, double life, double period, double factor)
{
    double rate = factor / life;
    double before;
    if (rate >= 1) {
        rate = 1;
        before = period == 1 ? cost : 0;
    } else {
        before = cost * std::pow(1 - rate, period - 1);
    }
    const double after = cost * std::pow(1 - rate, period);
    const double d = after < salvage ? before - salvage : before - after;
    return std::max(d, 0.0);
}

// Depreciation over the first `periods` periods (the last one possibly in
// part) of an asset with `life` periods left, switching to straight line
// when that gives more.
double vdbSpan(Call &c, double cost, double salvage, double life, double left, double periods,
               double factor)
{
    const double end = std::ceil(periods);
    double total = 0, rest = cost - salvage, straight = 0;
    bool switched = false;
    for (double i = 1; i <= end; ++i) {
        c.evaluator.step();
        double term;
        if (!switched) {
            const double ddb = decliningPeriod(cost, salvage, life, i, factor);
            straight = rest / (left - (i - 1));
            if (straight > ddb) {
                term = straight;
                switched = true;
            } else {
                term = ddb;
                rest -= ddb;
            }
        } else {
            term = straight;
        }
        if (i == end)
            term *= periods + 1 - end;
        total += term;
    }
    return total;
}

Value fnVdb(Call &c)
{
    double cost = 0, salvage = 0, life = 0, start = 0, end = 0, factor = 2;
    SD_ARGS(&cost, &salvage, &life, &start, &end, &factor);
    bool noSwitch = false;
    if (c.count() > 6 && !c.isEmpty(6))
        if (uint8_t e = c.boolean(6, noSwitch))
            return Value::err(e);
    if (cost < 0 || salvage < 0 || life <= 0 || start < 0 || end < start || end > life
        || factor <= 0 || salvage > cost)
        return Value::err(ErrNum);
    const double first = std::floor(start), last = std::ceil(end);
    double total = 0;
    if (noSwitch) {
        for (double i = first + 1; i <= last; ++i) {
            c.evaluator.step();
            double term = decliningPeriod(cost, salvage, life, i, factor);
            if (i == first + 1)
                term *= std::min(end, first + 1) - start;
            else if (i == last)
                term *= end + 1 - last;
            total += term;
        }
        return Value::num(total);
    }
    // Whole periods from `first` to `last`, less the parts of the first and
    // last period outside [start, end].
    double part = 0;
    if (start != first) {
        const double value = cost - vdbSpan(c, cost, salvage, life, life, first, factor);
        part += (start - first) * vdbSpan(c, value, salvage, life, life - first, 1, factor);
    }
    if (end != last) {
        const double value = cost - vdbSpan(c, cost, salvage, life, life, last - 1, factor);
        part += (last - end) * vdbSpan(c, value, salvage, life, life - (last - 1), 1, factor);
    }
    const double value = cost - vdbSpan(c, cost, salvage, life, life, first, factor);
    total = vdbSpan(c, value, salvage, life, life - first, last - first, factor);
    return Value::num(total - part);
}

// ---- growth ---------------------------------------------------------------

Value fnPduration(Call &c)
{
    double rate = 0, pv = 0, fv = 0;
    SD_ARGS(&rate, &pv, &fv);
    if (rate <= 0 || pv <= 0 || fv <= 0)
        return Value::err(ErrNum);
    return Value::num((std::log(fv) - std::log(pv)) / std::log1p(rate));
}

Value fnRri(Call &c)
{
    double nper = 0, pv = 0, fv = 0;
    SD_ARGS(&nper, &pv, &fv);
    if (nper <= 0 || pv == 0)
        return Value::err(ErrNum);
    const double r = std::pow(fv / pv, 1 / nper) - 1;
    return std::isfinite(r) ? Value::num(r) : Value::err(ErrNum);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows cashFlowFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "VDB", 222, 5, 7, "V", E, fnVdb },    { "XIRR", -1, 2, 3, "AAV", 0, fnXirr },
        { "XNPV", -1, 3, 3, "VAA", 0, fnXnpv }, { "PDURATION", -1, 3, 3, "V", E, fnPduration },
        { "RRI", -1, 3, 3, "V", E, fnRri },
    };
    return rows;
}

} // namespace sd::formula
