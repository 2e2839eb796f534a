// Order statistics and moments of data: MEDIAN, MODE, LARGE, SMALL,
// PERCENTILE, QUARTILE, RANK, KURT, SKEW, PERCENTRANK, TRIMMEAN, and their
// later kin (.EXC, RANK.AVG, MODE.MULT, SKEW.P).

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

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

// MODE's numbers: those of ranges and arrays, whose other values are left
// out; but a value given directly, or through a reference to one cell, must
// be a number (a logical value given directly counts, one in a cell does
// not, as in ranges): text, even "1", and a blank cell are
// #VALUE! (the application's results in poi/FormulaEvalTestData_Copy.xlsx,
// EverythingTests G936:M936: MODE(B8,"1",2,3) and MODE(B9,2,D7) over an
// empty D7 are #VALUE!). The first error in argument order wins.
uint8_t modeNumbers(Call &c, std::vector<double> &xs)
{
    for (int i = 0; i < c.count(); ++i) {
        Value v = c.arg(i);
        const bool oneCell = v.isRef() && v.areaCount() == 1 && v.area.isCell();
        if (oneCell)
            v = c.evaluator.cell(v.area.sheet, v.area.row1, v.area.col1);
        if (v.isRef() || v.isArray()) {
            if (uint8_t e = collectNumbers(c, i, i + 1, Collect::Numbers, xs))
                return e;
        } else if (v.isError()) {
            return v.error;
        } else if (v.type == ValueType::Number || (v.type == ValueType::Bool && !oneCell)) {
            xs.push_back(v.number);
        } else if (v.type != ValueType::Bool) {
            return ErrValue;
        }
    }
    return 0;
}

Value fnMode(Call &c)
{
    std::vector<double> xs;
    if (uint8_t e = modeNumbers(c, xs))
        return Value::err(e);
    // The value seen most often; among equals, the one that comes first.
    std::unordered_map<double, size_t> counts;
    c.evaluator.step(xs.size());
    for (double x : xs)
        ++counts[x == 0 ? 0.0 : x];
    double best = 0;
    size_t bestCount = 1;
    for (double x : xs) {
        const size_t n = counts[x == 0 ? 0.0 : x];
        if (n > bestCount)
            best = x, bestCount = n;
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
    if (uint8_t e = modeNumbers(c, xs))
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

// ---- AGGREGATE --------------------------------------------------------------

// What AGGREGATE gathers: the numbers, and how many values COUNTA counts.
struct Gathered
{
    std::vector<double> numbers;
    double values = 0;
    uint8_t error = 0;
};

// Gathers one argument. Cells holding SUBTOTAL or AGGREGATE are left out
// of references when `skipNested`; error values when `skipErrors`. Rows
// hidden by the user or a filter are not known to the model, so options 1,
// 3, 5 and 7 leave out what the others do.
void gather(Call &c, const Value &v, bool skipNested, bool skipErrors, Gathered &g)
{
    auto take = [&](const Value &x) {
        if (x.isError()) {
            if (!skipErrors && !g.error)
                g.error = x.error;
            return;
        }
        g.values += 1;
        if (x.type == ValueType::Number)
            g.numbers.push_back(x.number);
    };
    if (v.isRef()) {
        for (size_t k = 0; k < v.areaCount(); ++k) {
            const Area &a = v.areaAt(k);
            c.evaluator.visit(Value::ref(a), [&](const Value &x, uint32_t r, uint32_t col) {
                if (!skipNested || !c.evaluator.isSubtotal(a.sheet, a.row1 + r, a.col1 + col))
                    take(x);
            });
        }
    } else if (v.isArray()) {
        c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) { take(x); });
    } else if (v.type != ValueType::Blank) {
        take(v);
    }
}

// Functions 12 to 19 of AGGREGATE over sorted numbers; `k` for 14 to 19.
Value orderAggregate(int fn, std::vector<double> &xs, double k)
{
    if (fn == 13) {
        // The value seen most often; of several, the one seen first.
        std::unordered_map<double, size_t> counts;
        size_t most = 1;
        for (double x : xs)
            most = std::max(most, ++counts[x]);
        for (double x : xs)
            if (most > 1 && counts[x] == most)
                return Value::num(x);
        return Value::err(ErrNA);
    }
    std::sort(xs.begin(), xs.end());
    switch (fn) {
    case 12:
        return xs.empty() ? Value::err(ErrNum) : Value::num(percentile(xs, 0.5));
    case 14:
    case 15:
        k = std::ceil(k);
        if (xs.empty() || k < 1 || k > double(xs.size()))
            return Value::err(ErrNum);
        return Value::num(fn == 14 ? xs[xs.size() - size_t(k)] : xs[size_t(k) - 1]);
    case 16:
    case 17:
        if (fn == 17)
            k = std::trunc(k) / 4;
        if (xs.empty() || k < 0 || k > 1)
            return Value::err(ErrNum);
        return Value::num(percentile(xs, k));
    case 18:
        return k <= 0 || k >= 1 ? Value::err(ErrNum) : exclusivePercentile(xs, k);
    default:
        k = std::trunc(k);
        return k <= 0 || k >= 4 ? Value::err(ErrNum) : exclusivePercentile(xs, k / 4);
    }
}

// AGGREGATE(function, options, ref1, ...) for functions 1 to 13,
// AGGREGATE(function, options, array, k) for 14 to 19. An array argument
// that is computed leaves nothing out but errors.
Value fnAggregate(Call &c)
{
    SD_NUMBER(c, 0, f);
    double o = 0;
    if (!c.isEmpty(1))
        if (uint8_t e = c.number(1, o))
            return Value::err(e);
    const int fn = int(std::trunc(f)), options = int(std::trunc(o));
    if (fn < 1 || fn > 19 || options < 0 || options > 7)
        return Value::err(ErrValue);
    const bool skipNested = options <= 3;
    const bool skipErrors = options == 2 || options == 3 || options >= 6;
    Gathered g;
    double k = 0;
    if (fn <= 13) {
        for (int i = 2; i < c.count(); ++i)
            gather(c, c.arg(i), skipNested, skipErrors, g);
    } else {
        if (c.count() != 4)
            return Value::err(ErrValue);
        Ctx inner = c.ctx;
        inner.array = true;
        const Value v = c.evaluator.eval(c.formula(), c.argNode(2), inner);
        gather(c, v, skipNested, skipErrors, g);
        if (uint8_t e = c.number(3, k))
            return Value::err(e);
    }
    if (g.error)
        return Value::err(g.error);
    if (fn == 3)
        return Value::num(g.values);
    if (fn <= 11)
        return aggregate(g.numbers, fn);
    return orderAggregate(fn, g.numbers, k);
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
        { "AGGREGATE", -1, 3, N, "VVR", 0, fnAggregate },
    };
    return rows;
}

} // namespace sd::formula
