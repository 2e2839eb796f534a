// Order statistics and moments of data: MEDIAN, MODE, LARGE, SMALL,
// PERCENTILE, QUARTILE, RANK, KURT, SKEW, PERCENTRANK, TRIMMEAN, and their
// later kin (.EXC, RANK.AVG, MODE.MULT, SKEW.P).

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
        c.evaluator.step(xs.size() - i);
    }
    if (bestCount < 2)
        return Value::err(ErrNA);
    return Value::num(best);
}

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

// PERCENTILE.EXC and QUARTILE.EXC: rank p(n + 1), which must fall within
// the data.
Value exclusivePercentile(const std::vector<double> &xs, double p)
{
    const double pos = p * double(xs.size() + 1);
    if (xs.empty() || pos < 1 || pos > double(xs.size()))
        return Value::err(ErrNum);
    const size_t lo = size_t(std::floor(pos)) - 1;
    const double frac = pos - std::floor(pos);
    if (lo + 1 >= xs.size())
        return Value::num(xs[lo]);
    return Value::num(xs[lo] + frac * (xs[lo + 1] - xs[lo]));
}

Value fnPercentileExc(Call &c)
{
    std::vector<double> xs;
    Value e = sortedNumbers(c, 0, 1, xs);
    if (e.isError())
        return e;
    SD_NUMBER(c, 1, p);
    if (p <= 0 || p >= 1)
        return Value::err(ErrNum);
    return exclusivePercentile(xs, p);
}

Value fnQuartileExc(Call &c)
{
    std::vector<double> xs;
    Value e = sortedNumbers(c, 0, 1, xs);
    if (e.isError())
        return e;
    SD_NUMBER(c, 1, q);
    q = std::trunc(q);
    if (q <= 0 || q >= 4)
        return Value::err(ErrNum);
    return exclusivePercentile(xs, q / 4);
}

// RANK.AVG: tied values share the average of the ranks they take.
Value fnRankAvg(Call &c)
{
    SD_NUMBER(c, 0, x);
    std::vector<double> xs;
    if (!c.arg(1).isRef())
        return Value::err(ErrValue);
    if (uint8_t e = collectNumbers(c, 1, 2, Collect::Numbers, xs))
        return Value::err(e);
    double order = 0;
    if (c.count() > 2 && !c.isEmpty(2))
        if (uint8_t e = c.number(2, order))
            return Value::err(e);
    double before = 0, equal = 0;
    for (double v : xs) {
        if (v == x)
            ++equal;
        else if (order == 0 ? v > x : v < x)
            ++before;
    }
    if (equal == 0)
        return Value::err(ErrNA);
    return Value::num(before + (equal + 1) / 2);
}

// MODE.MULT: every value seen most often (at least twice), in the order of
// their first appearance, as a column.
Value fnModeMult(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    std::vector<size_t> counts(xs.size(), 0);
    size_t best = 1;
    for (size_t i = 0; i < xs.size(); ++i) {
        c.evaluator.step(xs.size() - i);
        for (size_t j = i; j < xs.size(); ++j)
            counts[i] += xs[j] == xs[i];
        best = std::max(best, counts[i]);
    }
    if (best < 2)
        return Value::err(ErrNA);
    ArrayData out;
    out.cols = 1;
    for (size_t i = 0; i < xs.size(); ++i) {
        if (counts[i] != best)
            continue;
        bool seen = false;
        for (size_t j = 0; j < i && !seen; ++j)
            seen = xs[j] == xs[i];
        if (!seen)
            out.items.push_back(Value::num(xs[i]));
    }
    out.rows = uint32_t(out.items.size());
    return Value::arr(std::move(out));
}

// ---- moments and ranks over data ------------------------------------------------

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

// SKEW.P: the skewness of a population.
Value fnSkewP(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = collectNumbers(c, 0, c.count(), Collect::Numbers, xs))
        return Value::err(e);
    const double n = double(xs.size());
    if (n < 1)
        return Value::err(ErrDiv0);
    double mean = 0;
    for (double x : xs)
        mean += x;
    mean /= n;
    double m2 = 0, m3 = 0;
    for (double x : xs) {
        m2 += (x - mean) * (x - mean);
        m3 += (x - mean) * (x - mean) * (x - mean);
    }
    m2 /= n, m3 /= n;
    if (m2 == 0)
        return Value::err(ErrDiv0);
    return Value::num(m3 / std::pow(m2, 1.5));
}

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

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows orderFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "RANK", 216, 2, 3, "VRV", 0, fnRank },
        { "MEDIAN", 227, 1, N, "R", 0, fnMedian },
        { "KURT", 322, 1, N, "R", 0, fnKurt },
        { "SKEW", 323, 1, N, "R", 0, fnSkew },
        { "LARGE", 325, 2, 2, "RV", 0, fnLarge },
        { "SMALL", 326, 2, 2, "RV", 0, fnSmall },
        { "QUARTILE", 327, 2, 2, "RV", 0, fnQuartile },
        { "PERCENTILE", 328, 2, 2, "RV", 0, fnPercentile },
        { "PERCENTRANK", 329, 2, 3, "RV", 0, fnPercentRank },
        { "MODE", 330, 1, N, "A", 0, fnMode },
        { "TRIMMEAN", 331, 2, 2, "RV", 0, fnTrimMean },
        { "MODE.SNGL", -1, 1, N, "A", 0, fnMode },
        { "PERCENTILE.INC", -1, 2, 2, "RV", 0, fnPercentile },
        { "QUARTILE.INC", -1, 2, 2, "RV", 0, fnQuartile },
        { "RANK.EQ", -1, 2, 3, "VRV", 0, fnRank },
        { "PERCENTRANK.EXC", -1, 2, 3, "RV", 0, fnPercentRank },
        { "PERCENTRANK.INC", -1, 2, 3, "RV", 0, fnPercentRank },
        { "PERCENTILE.EXC", -1, 2, 2, "RV", 0, fnPercentileExc },
        { "QUARTILE.EXC", -1, 2, 2, "RV", 0, fnQuartileExc },
        { "RANK.AVG", -1, 2, 3, "VRV", 0, fnRankAvg },
        { "MODE.MULT", -1, 1, N, "A", 0, fnModeMult },
        { "SKEW.P", -1, 1, N, "R", 0, fnSkewP },
    };
    return rows;
}

} // namespace sd::formula
