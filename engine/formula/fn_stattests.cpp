// Statistical tests over two data sets: the chi-squared test of
// independence, Student's t-test, the F-test of variances, and PROB.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

// An argument as an array; an error argument is that error.
Value arrayArg(Call &c, int i, ArrayData &out)
{
    const Value &v = c.arg(i);
    if (v.isError())
        return v;
    out = c.evaluator.toArray(v);
    return Value();
}

// The numbers of an array in order (other values left out); the first error
// met, if any.
uint8_t numbersOf(const ArrayData &a, std::vector<double> &out)
{
    for (const Value &x : a.items) {
        if (x.isError())
            return x.error;
        if (x.type == ValueType::Number)
            out.push_back(x.number);
    }
    return 0;
}

void meanAndSquares(const std::vector<double> &xs, double &mean, double &ss)
{
    mean = 0, ss = 0;
    for (double x : xs)
        mean += x;
    mean /= double(xs.size());
    for (double x : xs)
        ss += (x - mean) * (x - mean);
}

Value fnChiTest(Call &c)
{
    ArrayData actual, expected;
    Value e = arrayArg(c, 0, actual);
    if (!e.isError())
        e = arrayArg(c, 1, expected);
    if (e.isError())
        return e;
    if (actual.rows != expected.rows || actual.cols != expected.cols || actual.items.size() < 2)
        return Value::err(ErrNA);
    double chi = 0;
    for (size_t i = 0; i < actual.items.size(); ++i) {
        const Value &a = actual.items[i], &x = expected.items[i];
        if (a.isError())
            return a;
        if (x.isError())
            return x;
        if (a.type != ValueType::Number || x.type != ValueType::Number)
            continue;
        if (x.number == 0)
            return Value::err(ErrDiv0);
        chi += (a.number - x.number) * (a.number - x.number) / x.number;
    }
    const double df = actual.rows > 1 && actual.cols > 1
        ? double(actual.rows - 1) * double(actual.cols - 1)
        : double(actual.items.size() - 1);
    return Value::num(1 - gammaP(df / 2, chi / 2));
}

Value fnFTest(Call &c)
{
    ArrayData a, b;
    Value e = arrayArg(c, 0, a);
    if (!e.isError())
        e = arrayArg(c, 1, b);
    if (e.isError())
        return e;
    std::vector<double> xs, ys;
    if (uint8_t err = numbersOf(a, xs))
        return Value::err(err);
    if (uint8_t err = numbersOf(b, ys))
        return Value::err(err);
    if (xs.size() < 2 || ys.size() < 2)
        return Value::err(ErrDiv0);
    double mx, sx, my, sy;
    meanAndSquares(xs, mx, sx);
    meanAndSquares(ys, my, sy);
    const double d1 = double(xs.size() - 1), d2 = double(ys.size() - 1);
    if (sx == 0 || sy == 0)
        return Value::err(ErrDiv0);
    const double left = fLeft((sx / d1) / (sy / d2), d1, d2);
    return Value::num(2 * std::min(left, 1 - left));
}

// TTEST(array1, array2, tails, type): type 1 paired, 2 equal variances,
// 3 unequal variances (Welch).
Value fnTTest(Call &c)
{
    ArrayData a, b;
    Value e = arrayArg(c, 0, a);
    if (!e.isError())
        e = arrayArg(c, 1, b);
    if (e.isError())
        return e;
    SD_NUMBER(c, 2, tails);
    SD_NUMBER(c, 3, type);
    tails = std::trunc(tails), type = std::trunc(type);
    if ((tails != 1 && tails != 2) || type < 1 || type > 3)
        return Value::err(ErrNum);
    std::vector<double> xs, ys;
    double t = 0, df = 0;
    if (type == 1) {
        if (a.items.size() != b.items.size())
            return Value::err(ErrNA);
        std::vector<double> diffs;
        for (size_t i = 0; i < a.items.size(); ++i) {
            const Value &x = a.items[i], &y = b.items[i];
            if (x.isError())
                return x;
            if (y.isError())
                return y;
            if (x.type == ValueType::Number && y.type == ValueType::Number)
                diffs.push_back(x.number - y.number);
        }
        if (diffs.size() < 2)
            return Value::err(ErrDiv0);
        double mean, ss;
        meanAndSquares(diffs, mean, ss);
        const double n = double(diffs.size());
        if (ss == 0)
            return Value::err(ErrDiv0);
        t = mean / std::sqrt(ss / (n - 1) / n);
        df = n - 1;
    } else {
        if (uint8_t err = numbersOf(a, xs))
            return Value::err(err);
        if (uint8_t err = numbersOf(b, ys))
            return Value::err(err);
        if (xs.size() < 2 || ys.size() < 2)
            return Value::err(ErrDiv0);
        double mx, sx, my, sy;
        meanAndSquares(xs, mx, sx);
        meanAndSquares(ys, my, sy);
        const double n1 = double(xs.size()), n2 = double(ys.size());
        if (type == 2) {
            df = n1 + n2 - 2;
            const double pooled = (sx + sy) / df;
            const double se = std::sqrt(pooled * (1 / n1 + 1 / n2));
            if (se == 0)
                return Value::err(ErrDiv0);
            t = (mx - my) / se;
        } else {
            const double v1 = sx / (n1 - 1) / n1, v2 = sy / (n2 - 1) / n2;
            if (v1 + v2 == 0)
                return Value::err(ErrDiv0);
            t = (mx - my) / std::sqrt(v1 + v2);
            df = (v1 + v2) * (v1 + v2) / (v1 * v1 / (n1 - 1) + v2 * v2 / (n2 - 1));
        }
    }
    return Value::num(tails * (1 - tLeft(std::fabs(t), df)));
}

// PROB(x_range, prob_range, lower, [upper]): the probabilities of the
// values from lower to upper (just lower when upper is left out).
Value fnProb(Call &c)
{
    ArrayData xs, ps;
    Value e = arrayArg(c, 0, xs);
    if (!e.isError())
        e = arrayArg(c, 1, ps);
    if (e.isError())
        return e;
    SD_NUMBER(c, 2, lower);
    double upper = lower;
    if (c.count() > 3 && !c.isEmpty(3))
        if (uint8_t err = c.number(3, upper))
            return Value::err(err);
    if (xs.items.size() != ps.items.size())
        return Value::err(ErrNA);
    double total = 0, sum = 0;
    for (size_t i = 0; i < xs.items.size(); ++i) {
        const Value &x = xs.items[i], &p = ps.items[i];
        if (x.isError())
            return x;
        if (p.isError())
            return p;
        if (p.type != ValueType::Number)
            continue;
        if (p.number <= 0 || p.number > 1)
            return Value::err(ErrNum);
        total += p.number;
        if (x.type == ValueType::Number && x.number >= lower && x.number <= upper)
            sum += p.number;
    }
    if (std::fabs(total - 1) > 1e-9)
        return Value::err(ErrNum);
    return Value::num(sum);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows statisticalTestFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "CHITEST", 306, 2, 2, "A", 0, fnChiTest },   { "FTEST", 310, 2, 2, "A", 0, fnFTest },
        { "TTEST", 316, 4, 4, "AAV", 0, fnTTest },     { "PROB", 317, 3, 4, "AAV", 0, fnProb },
        { "CHISQ.TEST", -1, 2, 2, "A", 0, fnChiTest }, { "F.TEST", -1, 2, 2, "A", 0, fnFTest },
        { "T.TEST", -1, 4, 4, "AAV", 0, fnTTest },
    };
    return rows;
}

} // namespace sd::formula
