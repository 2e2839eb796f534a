// Probability distributions and the statistics built on them: the
// incomplete gamma and beta functions, their inverses by bisection, and
// the distribution functions of both generations of names.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>
#include <functional>

namespace sd::formula {

namespace {

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

double tLeft(double t, double df)
{
    const double tail = 0.5 * betaI(df / 2, 0.5, df / (df + t * t));
    return t < 0 ? tail : 1 - tail;
}

double fLeft(double x, double d1, double d2)
{
    return x <= 0 ? 0 : betaI(d1 / 2, d2 / 2, d1 * x / (d1 * x + d2));
}

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

// Reads arguments as numbers; returns the first error.
uint8_t numbers(Call &c, std::initializer_list<double *> out)
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

bool flag(Call &c, int i, bool fallback)
{
    bool b = fallback;
    if (i < c.count())
        c.boolean(i, b);
    return b;
}

} // namespace

#define SD_ARGS(...)                                                                               \
    if (uint8_t e_ = numbers(c, { __VA_ARGS__ }))                                                  \
        return Value::err(e_);

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
        c.engine.step();
        s += pmf(j);
    }
    return Value::num(std::min(1.0, s));
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
        c.engine.step();
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

Value fnHypgeomDist(Call &c)
{
    double s = 0, n = 0, m = 0, total = 0;
    SD_ARGS(&s, &n, &m, &total);
    s = std::trunc(s), n = std::trunc(n), m = std::trunc(m), total = std::trunc(total);
    if (s < std::max(0.0, n - total + m) || s > std::min(n, m) || n > total || m > total
        || total <= 0)
        return Value::err(ErrNum);
    auto pmf = [&](double k) { return choose(m, k) * choose(total - m, n - k) / choose(total, n); };
    if (!flag(c, 4, false))
        return Value::num(pmf(s));
    double sum = 0;
    for (double k = std::max(0.0, n - total + m); k <= s; ++k) {
        c.engine.step();
        sum += pmf(k);
    }
    return Value::num(sum);
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

// ---- moments and ranks over data ------------------------------------------------

namespace {

Value moments(Call &c, bool kurtosis)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    const double n = double(xs.size());
    if (n < (kurtosis ? 4 : 3))
        return Value::err(ErrDiv0);
    double mean = 0;
    for (double x : xs)
        mean += x;
    mean /= n;
    double ss = 0;
    for (double x : xs)
        ss += (x - mean) * (x - mean);
    const double sd = std::sqrt(ss / (n - 1));
    if (sd == 0)
        return Value::err(ErrDiv0);
    double s = 0;
    for (double x : xs)
        s += std::pow((x - mean) / sd, kurtosis ? 4 : 3);
    if (kurtosis)
        return Value::num(n * (n + 1) / ((n - 1) * (n - 2) * (n - 3)) * s
                          - 3 * (n - 1) * (n - 1) / ((n - 2) * (n - 3)));
    return Value::num(n / ((n - 1) * (n - 2)) * s);
}

} // namespace

Value fnKurt(Call &c)
{
    return moments(c, true);
}
Value fnSkew(Call &c)
{
    return moments(c, false);
}

Value fnPercentRank(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, 1, Collect::Numbers, xs))
        return Value::err(e);
    double x = 0, digits = 3;
    if (uint8_t e = c.number(1, x))
        return Value::err(e);
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, digits))
            return Value::err(e);
    digits = std::trunc(digits);
    if (xs.empty() || digits < 1)
        return Value::err(ErrNum);
    std::sort(xs.begin(), xs.end());
    const bool exclusive = std::string(c.info.name) == "PERCENTRANK.EXC";
    const double n = double(xs.size());
    if (x < xs.front() || x > xs.back())
        return Value::err(ErrNA);
    double rank = 0;
    size_t i = 0;
    while (i < xs.size() && xs[i] < x)
        ++i;
    if (i < xs.size() && xs[i] == x) {
        rank = double(i);
    } else {
        rank = double(i - 1) + (x - xs[i - 1]) / (xs[i] - xs[i - 1]);
    }
    double r = exclusive ? (rank + 1) / (n + 1) : (n == 1 ? 1 : rank / (n - 1));
    const double scale = std::pow(10.0, digits);
    return Value::num(std::floor(round15(r * scale)) / scale);
}

Value fnTrimMean(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, 1, Collect::Numbers, xs))
        return Value::err(e);
    double percent = 0;
    if (uint8_t e = c.number(1, percent))
        return Value::err(e);
    if (xs.empty() || percent < 0 || percent >= 1)
        return Value::err(ErrNum);
    std::sort(xs.begin(), xs.end());
    const size_t drop = size_t(std::floor(double(xs.size()) * percent / 2));
    double s = 0;
    for (size_t i = drop; i < xs.size() - drop; ++i)
        s += xs[i];
    return Value::num(s / double(xs.size() - 2 * drop));
}

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

} // namespace sd::formula
