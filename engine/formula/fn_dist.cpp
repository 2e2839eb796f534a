// Probability distributions and the statistics built on them: the
// incomplete gamma and beta functions, their inverses by bisection, and
// the distribution functions of both generations of names.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace sd::formula {

// Regularized lower incomplete gamma P(a, x).
double gammaP(double a, double x)
{
    if (x <= 0)
        return 0;
    const double lead = std::exp(a * std::log(x) - x - std::lgamma(a));
    if (x < a + 1) {
        double sum = 1 / a, term = sum;
        for (int n = 1; n < 1000; ++n) {
            term *= x / (a + n);
            sum += term;
            if (std::fabs(term) < std::fabs(sum) * 1e-16)
                break;
        }
        return sum * lead;
    }
    // Continued fraction for Q, by Lentz's method.
    double b = x + 1 - a, c = 1e300, d = 1 / b, h = d;
    for (int i = 1; i < 1000; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        if (std::fabs(d) < 1e-300)
            d = 1e-300;
        c = b + an / c;
        if (std::fabs(c) < 1e-300)
            c = 1e-300;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-16)
            break;
    }
    return 1 - lead * h;
}

namespace {

double betaContinuedFraction(double a, double b, double x)
{
    double c = 1, d = 1 - (a + b) * x / (a + 1);
    if (std::fabs(d) < 1e-300)
        d = 1e-300;
    d = 1 / d;
    double h = d;
    for (int m = 1; m < 1000; ++m) {
        const int m2 = 2 * m;
        double aa = m * (b - m) * x / ((a + m2 - 1) * (a + m2));
        d = 1 + aa * d;
        if (std::fabs(d) < 1e-300)
            d = 1e-300;
        c = 1 + aa / c;
        if (std::fabs(c) < 1e-300)
            c = 1e-300;
        d = 1 / d;
        h *= d * c;
        aa = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
        d = 1 + aa * d;
        if (std::fabs(d) < 1e-300)
            d = 1e-300;
        c = 1 + aa / c;
        if (std::fabs(c) < 1e-300)
            c = 1e-300;
        d = 1 / d;
        const double delta = d * c;
        h *= delta;
        if (std::fabs(delta - 1) < 1e-16)
            break;
    }
    return h;
}

} // namespace

// Regularized incomplete beta I_x(a, b).
double betaI(double a, double b, double x)
{
    if (x <= 0)
        return 0;
    if (x >= 1)
        return 1;
    const double front = std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b)
                                  + a * std::log(x) + b * std::log(1 - x));
    if (x < (a + 1) / (a + b + 2))
        return front * betaContinuedFraction(a, b, x) / a;
    return 1 - front * betaContinuedFraction(b, a, 1 - x) / b;
}

namespace {

// The x in [lo, hi] where the increasing f(x) reaches p.
double invert(const std::function<double(double)> &f, double p, double lo, double hi)
{
    while (f(hi) < p && hi < 1e300)
        hi *= 2;
    for (int i = 0; i < 300 && hi - lo > 1e-16 * std::max(1.0, std::fabs(hi)); ++i) {
        const double mid = (lo + hi) / 2;
        (f(mid) < p ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

double normCdf(double z)
{
    return 0.5 * std::erfc(-z / std::sqrt(2.0));
}

double normInverse(double p)
{
    return invert([](double z) { return normCdf(z); }, p, -40, 40);
}

} // namespace

double tLeft(double t, double df)
{
    const double tail = 0.5 * betaI(df / 2, 0.5, df / (df + t * t));
    return t < 0 ? tail : 1 - tail;
}

double fLeft(double x, double d1, double d2)
{
    return x <= 0 ? 0 : betaI(d1 / 2, d2 / 2, d1 * x / (d1 * x + d2));
}

namespace {

double logChoose(double n, double k)
{
    return std::lgamma(n + 1) - std::lgamma(k + 1) - std::lgamma(n - k + 1);
}

// Binomial coefficient, exact while it fits a double's integers.
double choose(double n, double k)
{
    k = std::min(k, n - k);
    if (k < 0)
        return 0;
    if (n > 1000)
        return std::exp(logChoose(n, k));
    double r = 1;
    for (double i = 1; i <= k; ++i)
        r = r * (n - k + i) / i;
    return r < 9007199254740992.0 ? std::round(r) : r;
}

bool flag(Call &c, int i, bool fallback)
{
    bool b = fallback;
    if (i < c.count())
        c.boolean(i, b);
    return b;
}

Value fnBinomDist(Call &c)
{
    double k = 0, n = 0, p = 0;
    SD_ARGS(&k, &n, &p);
    k = std::trunc(k), n = std::trunc(n);
    if (k < 0 || k > n || p < 0 || p > 1)
        return Value::err(ErrNum);
    auto pmf = [&](double j) {
        if (p == 0)
            return j == 0 ? 1.0 : 0.0;
        if (p == 1)
            return j == n ? 1.0 : 0.0;
        return choose(n, j) * std::pow(p, j) * std::pow(1 - p, n - j);
    };
    if (!flag(c, 3, false))
        return Value::num(pmf(k));
    double s = 0;
    for (double j = 0; j <= k; ++j) {
        c.evaluator.step();
        s += pmf(j);
    }
    return Value::num(std::min(1.0, s));
}

// BINOM.DIST.RANGE(trials, p, s, [s2]): the probability of s to s2
// successes (just s when s2 is left out).
Value fnBinomDistRange(Call &c)
{
    double n = 0, p = 0, s = 0, s2 = -1;
    SD_ARGS(&n, &p, &s, &s2);
    n = std::trunc(n), s = std::trunc(s);
    s2 = c.count() > 3 && !c.isEmpty(3) ? std::trunc(s2) : s;
    if (n < 0 || p < 0 || p > 1 || s < 0 || s > n || s2 < s || s2 > n)
        return Value::err(ErrNum);
    c.evaluator.step(uint64_t(s2 - s) + 1);
    double sum = 0;
    for (double k = s; k <= s2; ++k)
        sum += choose(n, k) * std::pow(p, k) * std::pow(1 - p, n - k);
    return Value::num(sum);
}

Value fnCritBinom(Call &c)
{
    double n = 0, p = 0, alpha = 0;
    SD_ARGS(&n, &p, &alpha);
    n = std::trunc(n);
    if (n < 0 || p < 0 || p > 1 || alpha <= 0 || alpha >= 1)
        return Value::err(ErrNum);
    double s = 0;
    for (double j = 0; j <= n; ++j) {
        c.evaluator.step();
        s += choose(n, j) * std::pow(p, j) * std::pow(1 - p, n - j);
        if (s >= alpha * (1 - 1e-14))
            return Value::num(j);
    }
    return Value::num(n);
}

Value fnPoisson(Call &c)
{
    double x = 0, mean = 0;
    SD_ARGS(&x, &mean);
    x = std::trunc(x);
    if (x < 0 || mean < 0)
        return Value::err(ErrNum);
    if (!flag(c, 2, false))
        return Value::num(std::exp(x * std::log(mean) - mean - std::lgamma(x + 1)));
    return Value::num(1 - gammaP(x + 1, mean));
}

Value fnExponDist(Call &c)
{
    double x = 0, lambda = 0;
    SD_ARGS(&x, &lambda);
    if (x < 0 || lambda <= 0)
        return Value::err(ErrNum);
    return Value::num(flag(c, 2, false) ? -std::expm1(-lambda * x)
                                        : lambda * std::exp(-lambda * x));
}

Value fnWeibull(Call &c)
{
    double x = 0, alpha = 0, beta = 0;
    SD_ARGS(&x, &alpha, &beta);
    if (x < 0 || alpha <= 0 || beta <= 0)
        return Value::err(ErrNum);
    const double t = std::pow(x / beta, alpha);
    if (flag(c, 3, false))
        return Value::num(-std::expm1(-t));
    return Value::num(alpha / std::pow(beta, alpha) * std::pow(x, alpha - 1) * std::exp(-t));
}

// The probability of k successes in a sample of n from a population of
// `total` holding m successes: C(m,k) C(total-m,n-k) / C(total,n), as one
// product of ratios whose running value is kept as mantissa and exponent,
// since the coefficients alone overflow once the population passes a
// thousand or so (HYPGEOMDIST(500,1000,5000,10000) is 0.0265894299612940).
double hypergeometric(double k, double n, double m, double total)
{
    double mantissa = 1;
    long exponent = 0;
    auto times = [&](double f) {
        int e = 0;
        mantissa = std::frexp(mantissa * f, &e);
        exponent += e;
    };
    for (double i = 0; i < k; ++i)
        times((m - i) / (k - i));
    for (double j = 0; j < n - k; ++j)
        times((total - m - j) / (n - k - j));
    for (double i = 0; i < n; ++i)
        times((n - i) / (total - i));
    return std::ldexp(mantissa, int(std::max(-2000L, std::min(2000L, exponent))));
}

Value fnHypgeomDist(Call &c)
{
    double s = 0, n = 0, m = 0, total = 0;
    SD_ARGS(&s, &n, &m, &total);
    s = std::trunc(s), n = std::trunc(n), m = std::trunc(m), total = std::trunc(total);
    const double lowest = std::max(0.0, n - total + m);
    if (s < lowest || s > std::min(n, m) || n > total || m > total || total <= 0)
        return Value::err(ErrNum);
    c.evaluator.step(uint64_t(3 * n));
    const double at = hypergeometric(s, n, m, total);
    if (!flag(c, 4, false))
        return Value::num(at);
    // The cumulative sum, from k = s down: each term from the one above it,
    // until the terms no longer count.
    double sum = at, term = at;
    for (double k = s; k > lowest; --k) {
        c.evaluator.step();
        const double below = term * k * (total - m - n + k) / ((m - k + 1) * (n - k + 1));
        if (below < term && below < sum * 1e-17)
            break;
        term = below;
        sum += term;
    }
    return Value::num(std::min(sum, 1.0));
}

Value fnNegBinomDist(Call &c)
{
    double f = 0, s = 0, p = 0;
    SD_ARGS(&f, &s, &p);
    f = std::trunc(f), s = std::trunc(s);
    if (f < 0 || s < 1 || p < 0 || p > 1)
        return Value::err(ErrNum);
    auto pmf
        = [&](double k) { return choose(k + s - 1, s - 1) * std::pow(p, s) * std::pow(1 - p, k); };
    if (!flag(c, 3, false))
        return Value::num(pmf(f));
    return Value::num(betaI(s, f + 1, p));
}

Value fnLognormDist(Call &c)
{
    double x = 0, mean = 0, sd = 0;
    SD_ARGS(&x, &mean, &sd);
    if (x <= 0 || sd <= 0)
        return Value::err(ErrNum);
    const double z = (std::log(x) - mean) / sd;
    if (c.count() < 4 || flag(c, 3, true))
        return Value::num(normCdf(z));
    return Value::num(std::exp(-z * z / 2) / (x * sd * std::sqrt(2 * M_PI)));
}

Value fnLogInv(Call &c)
{
    double p = 0, mean = 0, sd = 0;
    SD_ARGS(&p, &mean, &sd);
    if (p <= 0 || p >= 1 || sd <= 0)
        return Value::err(ErrNum);
    return Value::num(std::exp(mean + sd * normInverse(p)));
}

Value fnGammaDist(Call &c)
{
    double x = 0, a = 0, b = 0;
    SD_ARGS(&x, &a, &b);
    if (x < 0 || a <= 0 || b <= 0)
        return Value::err(ErrNum);
    if (flag(c, 3, false))
        return Value::num(gammaP(a, x / b));
    return Value::num(std::exp((a - 1) * std::log(x) - x / b - a * std::log(b) - std::lgamma(a)));
}

Value fnGammaInv(Call &c)
{
    double p = 0, a = 0, b = 0;
    SD_ARGS(&p, &a, &b);
    if (p < 0 || p >= 1 || a <= 0 || b <= 0)
        return Value::err(ErrNum);
    return Value::num(
        invert([&](double x) { return gammaP(a, x / b); }, p, 0, std::max(1.0, a * b * 4)));
}

Value fnBetaDist(Call &c)
{
    // BETADIST(x, a, b, [A], [B]); BETA.DIST(x, a, b, cumulative, [A], [B]).
    const bool newer = c.info.name[4] == '.';
    double x = 0, a = 0, b = 0, lo = 0, hi = 1;
    SD_ARGS(&x, &a, &b);
    const int at = newer ? 4 : 3;
    if (c.count() > at && !c.isEmpty(at))
        if (uint8_t e = c.number(at, lo))
            return Value::err(e);
    if (c.count() > at + 1 && !c.isEmpty(at + 1))
        if (uint8_t e = c.number(at + 1, hi))
            return Value::err(e);
    if (a <= 0 || b <= 0 || x < lo || x > hi || lo == hi)
        return Value::err(ErrNum);
    const double t = (x - lo) / (hi - lo);
    if (!newer || flag(c, 3, true))
        return Value::num(betaI(a, b, t));
    return Value::num(std::exp((a - 1) * std::log(t) + (b - 1) * std::log1p(-t) + std::lgamma(a + b)
                               - std::lgamma(a) - std::lgamma(b))
                      / (hi - lo));
}

Value fnBetaInv(Call &c)
{
    double p = 0, a = 0, b = 0, lo = 0, hi = 1;
    SD_ARGS(&p, &a, &b, &lo, &hi);
    if (p <= 0 || p > 1 || a <= 0 || b <= 0 || lo >= hi)
        return Value::err(ErrNum);
    return Value::num(lo + (hi - lo) * invert([&](double t) { return betaI(a, b, t); }, p, 0, 1));
}

// CHIDIST / CHISQ.DIST.RT (right tail), CHISQ.DIST (left, with cumulative flag).
Value fnChiDist(Call &c)
{
    double x = 0, df = 0;
    SD_ARGS(&x, &df);
    df = std::trunc(df);
    if (x < 0 || df < 1)
        return Value::err(ErrNum);
    const std::string name = c.info.name;
    if (name == "CHISQ.DIST") {
        if (flag(c, 2, true))
            return Value::num(gammaP(df / 2, x / 2));
        return Value::num(std::exp((df / 2 - 1) * std::log(x) - x / 2 - df / 2 * std::log(2.0)
                                   - std::lgamma(df / 2)));
    }
    return Value::num(1 - gammaP(df / 2, x / 2));
}

Value fnChiInv(Call &c)
{
    double p = 0, df = 0;
    SD_ARGS(&p, &df);
    df = std::trunc(df);
    if (p <= 0 || p > 1 || df < 1)
        return Value::err(ErrNum);
    const bool left = std::string(c.info.name) == "CHISQ.INV";
    const double target = left ? p : 1 - p;
    return Value::num(invert([&](double x) { return gammaP(df / 2, x / 2); }, target, 0, df + 10));
}

// TDIST(x, df, tails); T.DIST(x, df, cumulative); T.DIST.2T; T.DIST.RT.
Value fnTDist(Call &c)
{
    double x = 0, df = 0, tails = 1;
    SD_ARGS(&x, &df);
    const std::string name = c.info.name;
    df = std::trunc(df);
    if (df < 1)
        return Value::err(ErrNum);
    if (name == "T.DIST") {
        if (flag(c, 2, true))
            return Value::num(tLeft(x, df));
        return Value::num(std::exp(std::lgamma((df + 1) / 2) - std::lgamma(df / 2))
                          / std::sqrt(df * M_PI) * std::pow(1 + x * x / df, -(df + 1) / 2));
    }
    if (name == "T.DIST.RT")
        return Value::num(1 - tLeft(x, df));
    if (name == "T.DIST.2T")
        tails = 2;
    else if (uint8_t e = c.number(2, tails))
        return Value::err(e);
    tails = std::trunc(tails);
    if (x < 0 || (tails != 1 && tails != 2))
        return Value::err(ErrNum);
    return Value::num(tails * (1 - tLeft(x, df)));
}

// TINV / T.INV.2T (two tails), T.INV (left).
Value fnTInv(Call &c)
{
    double p = 0, df = 0;
    SD_ARGS(&p, &df);
    df = std::trunc(df);
    if (p <= 0 || p > 1 || df < 1)
        return Value::err(ErrNum);
    if (std::string(c.info.name) == "T.INV")
        return Value::num(invert([&](double t) { return tLeft(t, df); }, p, -1e6, 1e6));
    return Value::num(invert([&](double t) { return tLeft(t, df); }, 1 - p / 2, 0, 1e6));
}

// FDIST / F.DIST.RT (right tail), F.DIST (left, with cumulative flag).
Value fnFDist(Call &c)
{
    double x = 0, d1 = 0, d2 = 0;
    SD_ARGS(&x, &d1, &d2);
    d1 = std::trunc(d1), d2 = std::trunc(d2);
    if (x < 0 || d1 < 1 || d2 < 1)
        return Value::err(ErrNum);
    if (std::string(c.info.name) == "F.DIST") {
        if (flag(c, 3, true))
            return Value::num(fLeft(x, d1, d2));
        const double lb = std::lgamma(d1 / 2) + std::lgamma(d2 / 2) - std::lgamma((d1 + d2) / 2);
        return Value::num(std::exp(0.5
                                       * (d1 * std::log(d1 * x) + d2 * std::log(d2)
                                          - (d1 + d2) * std::log(d1 * x + d2))
                                   - lb)
                          / x);
    }
    return Value::num(1 - fLeft(x, d1, d2));
}

Value fnFInv(Call &c)
{
    double p = 0, d1 = 0, d2 = 0;
    SD_ARGS(&p, &d1, &d2);
    d1 = std::trunc(d1), d2 = std::trunc(d2);
    if (p <= 0 || p > 1 || d1 < 1 || d2 < 1)
        return Value::err(ErrNum);
    const double target = std::string(c.info.name) == "F.INV" ? p : 1 - p;
    return Value::num(invert([&](double x) { return fLeft(x, d1, d2); }, target, 0, 100));
}

Value fnConfidence(Call &c)
{
    double alpha = 0, sd = 0, n = 0;
    SD_ARGS(&alpha, &sd, &n);
    n = std::trunc(n);
    if (alpha <= 0 || alpha >= 1 || sd <= 0 || n < 1)
        return Value::err(ErrNum);
    if (std::string(c.info.name) == "CONFIDENCE.T") {
        if (n < 2)
            return Value::err(ErrDiv0);
        const double t = invert([&](double x) { return tLeft(x, n - 1); }, 1 - alpha / 2, 0, 1e6);
        return Value::num(t * sd / std::sqrt(n));
    }
    return Value::num(normInverse(1 - alpha / 2) * sd / std::sqrt(n));
}

Value fnFisher(Call &c)
{
    double x = 0;
    SD_ARGS(&x);
    if (x <= -1 || x >= 1)
        return Value::err(ErrNum);
    return Value::num(0.5 * std::log((1 + x) / (1 - x)));
}

Value fnFisherInv(Call &c)
{
    double y = 0;
    SD_ARGS(&y);
    return Value::num(std::tanh(y));
}

// ---- normal distribution ----------------------------------------------------

// The inverse of normCdf by Acklam's rational approximation, refined by one
// Newton step (NORMSINV, NORMINV; the other distributions invert by
// bisection).
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

// ---- tests on data -----------------------------------------------------------

Value fnZTest(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, 1, Collect::Numbers, xs))
        return Value::err(e);
    double x = 0;
    if (uint8_t e = c.number(1, x))
        return Value::err(e);
    const double n = double(xs.size());
    if (n < 2)
        return Value::err(ErrDiv0);
    double mean = 0;
    for (double v : xs)
        mean += v;
    mean /= n;
    double sigma = 0;
    if (c.count() > 2 && !c.isEmpty(2)) {
        if (uint8_t e = c.number(2, sigma))
            return Value::err(e);
    } else {
        for (double v : xs)
            sigma += (v - mean) * (v - mean);
        sigma = std::sqrt(sigma / (n - 1));
    }
    if (sigma <= 0)
        return Value::err(ErrDiv0);
    return Value::num(1 - normCdf((mean - x) / (sigma / std::sqrt(n))));
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows distributionFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "BETADIST", 270, 3, 5, "V", E, fnBetaDist },
        { "BETAINV", 272, 3, 5, "V", E, fnBetaInv },
        { "BINOMDIST", 273, 4, 4, "V", E, fnBinomDist },
        { "CHIDIST", 274, 2, 2, "V", E, fnChiDist },
        { "CHIINV", 275, 2, 2, "V", E, fnChiInv },
        { "CONFIDENCE", 277, 3, 3, "V", E, fnConfidence },
        { "CRITBINOM", 278, 3, 3, "V", E, fnCritBinom },
        { "EXPONDIST", 280, 3, 3, "V", E, fnExponDist },
        { "FDIST", 281, 3, 3, "V", E, fnFDist },
        { "FINV", 282, 3, 3, "V", E, fnFInv },
        { "FISHER", 283, 1, 1, "V", E, fnFisher },
        { "FISHERINV", 284, 1, 1, "V", E, fnFisherInv },
        { "GAMMADIST", 286, 4, 4, "V", E, fnGammaDist },
        { "GAMMAINV", 287, 3, 3, "V", E, fnGammaInv },
        { "HYPGEOMDIST", 289, 4, 4, "V", E, fnHypgeomDist },
        { "LOGNORMDIST", 290, 3, 3, "V", E, fnLognormDist },
        { "LOGINV", 291, 3, 3, "V", E, fnLogInv },
        { "NEGBINOMDIST", 292, 3, 3, "V", E, fnNegBinomDist },
        { "NORMDIST", 293, 4, 4, "V", E, fnNormDist },
        { "NORMSDIST", 294, 1, 1, "V", E, fnNormSDist },
        { "NORMINV", 295, 3, 3, "V", E, fnNormInv },
        { "NORMSINV", 296, 1, 1, "V", E, fnNormSInv },
        { "STANDARDIZE", 297, 3, 3, "V", E, fnStandardize },
        { "POISSON", 300, 3, 3, "V", E, fnPoisson },
        { "TDIST", 301, 3, 3, "V", E, fnTDist },
        { "WEIBULL", 302, 4, 4, "V", E, fnWeibull },
        { "ZTEST", 324, 2, 3, "RV", 0, fnZTest },
        { "TINV", 332, 2, 2, "V", E, fnTInv },
        { "NORM.DIST", -1, 4, 4, "V", E, fnNormDist },
        { "NORM.S.DIST", -1, 2, 2, "V", E, fnNormSDist2 },
        { "NORM.INV", -1, 3, 3, "V", E, fnNormInv },
        { "NORM.S.INV", -1, 1, 1, "V", E, fnNormSInv },
        { "BETA.DIST", -1, 4, 6, "V", E, fnBetaDist },
        { "BETA.INV", -1, 3, 5, "V", E, fnBetaInv },
        { "BINOM.DIST", -1, 4, 4, "V", E, fnBinomDist },
        { "BINOM.INV", -1, 3, 3, "V", E, fnCritBinom },
        { "BINOM.DIST.RANGE", -1, 3, 4, "V", E, fnBinomDistRange },
        { "CHISQ.DIST", -1, 3, 3, "V", E, fnChiDist },
        { "CHISQ.DIST.RT", -1, 2, 2, "V", E, fnChiDist },
        { "CHISQ.INV", -1, 2, 2, "V", E, fnChiInv },
        { "CHISQ.INV.RT", -1, 2, 2, "V", E, fnChiInv },
        { "CONFIDENCE.NORM", -1, 3, 3, "V", E, fnConfidence },
        { "CONFIDENCE.T", -1, 3, 3, "V", E, fnConfidence },
        { "EXPON.DIST", -1, 3, 3, "V", E, fnExponDist },
        { "F.DIST", -1, 4, 4, "V", E, fnFDist },
        { "F.DIST.RT", -1, 3, 3, "V", E, fnFDist },
        { "F.INV", -1, 3, 3, "V", E, fnFInv },
        { "F.INV.RT", -1, 3, 3, "V", E, fnFInv },
        { "GAMMA.DIST", -1, 4, 4, "V", E, fnGammaDist },
        { "GAMMA.INV", -1, 3, 3, "V", E, fnGammaInv },
        { "HYPGEOM.DIST", -1, 5, 5, "V", E, fnHypgeomDist },
        { "LOGNORM.DIST", -1, 4, 4, "V", E, fnLognormDist },
        { "LOGNORM.INV", -1, 3, 3, "V", E, fnLogInv },
        { "NEGBINOM.DIST", -1, 4, 4, "V", E, fnNegBinomDist },
        { "POISSON.DIST", -1, 3, 3, "V", E, fnPoisson },
        { "T.DIST", -1, 3, 3, "V", E, fnTDist },
        { "T.DIST.2T", -1, 2, 2, "V", E, fnTDist },
        { "T.DIST.RT", -1, 2, 2, "V", E, fnTDist },
        { "T.INV", -1, 2, 2, "V", E, fnTInv },
        { "T.INV.2T", -1, 2, 2, "V", E, fnTInv },
        { "WEIBULL.DIST", -1, 4, 4, "V", E, fnWeibull },
        { "Z.TEST", -1, 2, 3, "RV", 0, fnZTest },
    };
    return rows;
}

} // namespace sd::formula
