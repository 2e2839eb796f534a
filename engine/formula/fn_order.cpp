// Order statistics, the normal distribution and financial functions.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

Value sortedNumbers(Call &c, int first, int last, std::vector<double> &xs)
{
    if (uint8_t e = collectNumbers(c, first, last, Collect::Numbers, xs))
        return Value::err(e);
    std::sort(xs.begin(), xs.end());
    return Value();
}

double percentile(const std::vector<double> &xs, double p)
{
    const double pos = p * double(xs.size() - 1);
    const size_t lo = size_t(std::floor(pos));
    const double frac = pos - double(lo);
    if (lo + 1 >= xs.size())
        return xs[lo];
    return xs[lo] + frac * (xs[lo + 1] - xs[lo]);
}

} // namespace

Value fnMedian(Call &c)
{
    std::vector<double> xs;
    Value e = sortedNumbers(c, 0, c.count(), xs);
    if (e.isError())
        return e;
    if (xs.empty())
        return Value::err(ErrNum);
    return Value::num(percentile(xs, 0.5));
}

Value fnMode(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    // The value seen most often; among equals, the one that comes first.
    double best = 0;
    size_t bestCount = 1;
    for (size_t i = 0; i < xs.size(); ++i) {
        size_t n = 0;
        for (size_t j = i; j < xs.size(); ++j)
            n += xs[j] == xs[i];
        if (n > bestCount)
            best = xs[i], bestCount = n;
        c.engine.step(xs.size() - i);
    }
    if (bestCount < 2)
        return Value::err(ErrNA);
    return Value::num(best);
}

namespace {

Value kth(Call &c, bool largest)
{
    std::vector<double> xs;
    Value e = sortedNumbers(c, 0, 1, xs);
    if (e.isError())
        return e;
    SD_NUMBER(c, 1, k);
    k = std::ceil(k);
    if (xs.empty() || k < 1 || k > double(xs.size()))
        return Value::err(ErrNum);
    return Value::num(largest ? xs[xs.size() - size_t(k)] : xs[size_t(k) - 1]);
}

} // namespace

Value fnLarge(Call &c)
{
    return kth(c, true);
}
Value fnSmall(Call &c)
{
    return kth(c, false);
}

Value fnPercentile(Call &c)
{
    std::vector<double> xs;
    Value e = sortedNumbers(c, 0, 1, xs);
    if (e.isError())
        return e;
    SD_NUMBER(c, 1, p);
    if (xs.empty() || p < 0 || p > 1)
        return Value::err(ErrNum);
    return Value::num(percentile(xs, p));
}

Value fnQuartile(Call &c)
{
    std::vector<double> xs;
    Value e = sortedNumbers(c, 0, 1, xs);
    if (e.isError())
        return e;
    SD_NUMBER(c, 1, q);
    q = std::trunc(q);
    if (xs.empty() || q < 0 || q > 4)
        return Value::err(ErrNum);
    return Value::num(percentile(xs, q / 4));
}

Value fnRank(Call &c)
{
    SD_NUMBER(c, 0, x);
    std::vector<double> xs;
    if (!c.arg(1).isRef())
        return Value::err(ErrValue);
    if (uint8_t e = collectNumbers(c, 1, 2, Collect::Numbers, xs))
        return Value::err(e);
    double order = 0;
    if (c.count() > 2)
        if (uint8_t e = c.number(2, order))
            return Value::err(e);
    double rank = 1;
    bool found = false;
    for (double v : xs) {
        if (v == x)
            found = true;
        else if (order == 0 ? v > x : v < x)
            ++rank;
    }
    return found ? Value::num(rank) : Value::err(ErrNA);
}

// ---- normal distribution ----------------------------------------------------

namespace {

double normCdf(double z)
{
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

// Acklam's rational approximation, refined by one Newton step.
double normInv(double p)
{
    static const double a[]
        = { -3.969683028665376e+01, 2.209460984245205e+02,  -2.759285104469687e+02,
            1.383577518672690e+02,  -3.066479806614716e+01, 2.506628277459239e+00 };
    static const double b[]
        = { -5.447609879822406e+01, 1.615858368580409e+02, -1.556989798598866e+02,
            6.680131188771972e+01, -1.328068155288572e+01 };
    static const double c[]
        = { -7.784894002430293e-03, -3.223964580411365e-01, -2.400758277161838e+00,
            -2.549732539343734e+00, 4.374664141464968e+00,  2.938163982698783e+00 };
    static const double d[] = { 7.784695709041462e-03, 3.224671290700398e-01, 2.445134137142996e+00,
                                3.754408661907416e+00 };
    double x;
    if (p < 0.02425) {
        const double q = std::sqrt(-2 * std::log(p));
        x = (((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5])
            / ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else if (p > 1 - 0.02425) {
        const double q = std::sqrt(-2 * std::log(1 - p));
        x = -(((((c[0] * q + c[1]) * q + c[2]) * q + c[3]) * q + c[4]) * q + c[5])
            / ((((d[0] * q + d[1]) * q + d[2]) * q + d[3]) * q + 1);
    } else {
        const double q = p - 0.5, r = q * q;
        x = (((((a[0] * r + a[1]) * r + a[2]) * r + a[3]) * r + a[4]) * r + a[5]) * q
            / (((((b[0] * r + b[1]) * r + b[2]) * r + b[3]) * r + b[4]) * r + 1);
    }
    const double e = normCdf(x) - p;
    const double u = e * std::sqrt(2 * M_PI) * std::exp(x * x / 2);
    return x - u / (1 + x * u / 2);
}

} // namespace

Value fnNormSDist(Call &c)
{
    SD_NUMBER(c, 0, z);
    return Value::num(normCdf(z));
}

Value fnNormSDist2(Call &c)
{
    SD_NUMBER(c, 0, z);
    bool cumulative = false;
    if (uint8_t e = c.boolean(1, cumulative))
        return Value::err(e);
    return Value::num(cumulative ? normCdf(z) : std::exp(-z * z / 2) / std::sqrt(2 * M_PI));
}

Value fnNormDist(Call &c)
{
    SD_NUMBER(c, 0, x);
    SD_NUMBER(c, 1, mean);
    SD_NUMBER(c, 2, sd);
    bool cumulative = false;
    if (uint8_t e = c.boolean(3, cumulative))
        return Value::err(e);
    if (sd <= 0)
        return Value::err(ErrNum);
    const double z = (x - mean) / sd;
    return Value::num(cumulative ? normCdf(z) : std::exp(-z * z / 2) / (sd * std::sqrt(2 * M_PI)));
}

Value fnNormSInv(Call &c)
{
    SD_NUMBER(c, 0, p);
    if (p <= 0 || p >= 1)
        return Value::err(ErrNum);
    return Value::num(normInv(p));
}

Value fnNormInv(Call &c)
{
    SD_NUMBER(c, 0, p);
    SD_NUMBER(c, 1, mean);
    SD_NUMBER(c, 2, sd);
    if (p <= 0 || p >= 1 || sd <= 0)
        return Value::err(ErrNum);
    return Value::num(mean + sd * normInv(p));
}

Value fnStandardize(Call &c)
{
    SD_NUMBER(c, 0, x);
    SD_NUMBER(c, 1, mean);
    SD_NUMBER(c, 2, sd);
    if (sd <= 0)
        return Value::err(ErrNum);
    return Value::num((x - mean) / sd);
}

// ---- finance ----------------------------------------------------------------

namespace {

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
    const double f = std::pow(1 + t.rate, t.nper);
    return -(t.pv * f + t.pmt * (1 + t.rate * t.type) * (f - 1) / t.rate);
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

} // namespace

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

} // namespace sd::formula
