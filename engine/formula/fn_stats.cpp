// Aggregates and statistics: SUM and its kin, the criteria functions,
// SUBTOTAL, SUMPRODUCT, order statistics and simple regression.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

Value numbersOr(Call &c, Collect mode, std::vector<double> &xs)
{
    if (uint8_t e = collectNumbers(c, 0, c.count(), mode, xs))
        return Value::err(e);
    return Value();
}

double sum(const std::vector<double> &xs)
{
    double s = 0;
    for (double x : xs)
        s += x;
    return s;
}

// Sample (n-1) or population variance; -1 when undefined.
double variance(const std::vector<double> &xs, bool sample)
{
    const size_t n = xs.size();
    if (n == 0 || (sample && n < 2))
        return -1;
    const double mean = sum(xs) / double(n);
    double ss = 0;
    for (double x : xs)
        ss += (x - mean) * (x - mean);
    return ss / double(sample ? n - 1 : n);
}

} // namespace

Value aggregate(const std::vector<double> &xs, int fn)
{
    switch (fn) {
    case 1: // AVERAGE
        if (xs.empty())
            return Value::err(ErrDiv0);
        return Value::num(sum(xs) / double(xs.size()));
    case 2: // COUNT
    case 3: // COUNTA
        return Value::num(double(xs.size()));
    case 4: // MAX
        return Value::num(xs.empty() ? 0 : *std::max_element(xs.begin(), xs.end()));
    case 5: // MIN
        return Value::num(xs.empty() ? 0 : *std::min_element(xs.begin(), xs.end()));
    case 6: { // PRODUCT
        double p = xs.empty() ? 0 : 1;
        for (double x : xs)
            p *= x;
        return Value::num(p);
    }
    case 7:
    case 8:
    case 10:
    case 11: {
        const double v = variance(xs, fn == 7 || fn == 10);
        if (v < 0)
            return Value::err(ErrDiv0);
        return Value::num(fn <= 8 ? std::sqrt(v) : v);
    }
    case 9:
        return Value::num(sum(xs));
    }
    return Value::err(ErrValue);
}

namespace {

Value withNumbers(Call &c, Collect mode, int fn)
{
    std::vector<double> xs;
    Value e = numbersOr(c, mode, xs);
    if (e.isError())
        return e;
    return aggregate(xs, fn);
}

Value fnSum(Call &c)
{
    double s = 0;
    for (int i = 0; i < c.count(); ++i) {
        const Value &v = c.arg(i);
        if (v.isRef() || v.isArray()) {
            uint8_t error = 0;
            c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
                if (x.type == ValueType::Number)
                    s += x.number;
                else if (x.isError() && !error)
                    error = x.error;
            });
            if (error)
                return Value::err(error);
            continue;
        }
        double d = 0;
        if (uint8_t e = toNumber(v, d, c.evaluator.date1904()))
            return Value::err(e);
        s += d;
    }
    return Value::num(s);
}

Value fnAverage(Call &c)
{
    return withNumbers(c, Collect::Numbers, 1);
}
Value fnAverageA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 1);
}
Value fnMax(Call &c)
{
    return withNumbers(c, Collect::Numbers, 4);
}
Value fnMin(Call &c)
{
    return withNumbers(c, Collect::Numbers, 5);
}
Value fnMaxA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 4);
}
Value fnMinA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 5);
}
Value fnProduct(Call &c)
{
    return withNumbers(c, Collect::Numbers, 6);
}
Value fnStdev(Call &c)
{
    return withNumbers(c, Collect::Numbers, 7);
}
Value fnStdevP(Call &c)
{
    return withNumbers(c, Collect::Numbers, 8);
}
Value fnVar(Call &c)
{
    return withNumbers(c, Collect::Numbers, 10);
}
Value fnVarP(Call &c)
{
    return withNumbers(c, Collect::Numbers, 11);
}
Value fnStdevA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 7);
}
Value fnStdevPA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 8);
}
Value fnVarA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 10);
}
Value fnVarPA(Call &c)
{
    return withNumbers(c, Collect::NumbersA, 11);
}

Value fnSumSq(Call &c)
{
    std::vector<double> xs;
    Value e = numbersOr(c, Collect::Numbers, xs);
    if (e.isError())
        return e;
    double s = 0;
    for (double x : xs)
        s += x * x;
    return Value::num(s);
}

Value fnDevSq(Call &c)
{
    std::vector<double> xs;
    Value e = numbersOr(c, Collect::Numbers, xs);
    if (e.isError())
        return e;
    const double v = variance(xs, false);
    return v < 0 ? Value::err(ErrNum) : Value::num(v * double(xs.size()));
}

Value fnAveDev(Call &c)
{
    std::vector<double> xs;
    Value e = numbersOr(c, Collect::Numbers, xs);
    if (e.isError())
        return e;
    if (xs.empty())
        return Value::err(ErrNum);
    const double mean = sum(xs) / double(xs.size());
    double s = 0;
    for (double x : xs)
        s += std::fabs(x - mean);
    return Value::num(s / double(xs.size()));
}

Value fnGeoMean(Call &c)
{
    std::vector<double> xs;
    Value e = numbersOr(c, Collect::Numbers, xs);
    if (e.isError())
        return e;
    if (xs.empty())
        return Value::err(ErrNum);
    double s = 0;
    for (double x : xs) {
        if (x <= 0)
            return Value::err(ErrNum);
        s += std::log(x);
    }
    return Value::num(std::exp(s / double(xs.size())));
}

Value fnHarMean(Call &c)
{
    std::vector<double> xs;
    Value e = numbersOr(c, Collect::Numbers, xs);
    if (e.isError())
        return e;
    if (xs.empty())
        return Value::err(ErrNum);
    double s = 0;
    for (double x : xs) {
        if (x <= 0)
            return Value::err(ErrNum);
        s += 1 / x;
    }
    return Value::num(double(xs.size()) / s);
}

Value fnCount(Call &c)
{
    double n = 0;
    for (int i = 0; i < c.count(); ++i) {
        const Value &v = c.arg(i);
        if (v.isRef() || v.isArray()) {
            c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
                if (x.type == ValueType::Number)
                    ++n;
            });
        } else if (v.type == ValueType::Number || v.type == ValueType::Bool
                   || (v.type == ValueType::Blank && c.isEmpty(i))) {
            ++n;
        } else if (v.type == ValueType::Text) {
            double d;
            if (parseNumberText(v.text, d, c.evaluator.date1904()))
                ++n;
        }
    }
    return Value::num(n);
}

Value fnCountA(Call &c)
{
    double n = 0;
    for (int i = 0; i < c.count(); ++i) {
        const Value &v = c.arg(i);
        if (v.isRef() || v.isArray())
            c.evaluator.visit(v, [&](const Value &, uint32_t, uint32_t) { ++n; });
        else if (v.type != ValueType::Blank || c.isEmpty(i))
            ++n;
    }
    return Value::num(n);
}

Value fnCountBlank(Call &c)
{
    const Value &v = c.arg(0);
    if (!v.isRef()) {
        if (v.isArray())
            return Value::err(ErrValue);
        return Value::num(v.type == ValueType::Blank
                          || (v.type == ValueType::Text && v.text.empty()));
    }
    double filled = 0;
    c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
        if (!(x.type == ValueType::Text && x.text.empty()))
            ++filled;
    });
    double total = 0;
    for (size_t i = 0; i < v.areaCount(); ++i)
        total += double(v.areaAt(i).cellCount());
    return Value::num(total - filled);
}

// ---- criteria -------------------------------------------------------------

// Walks the positions of criteria ranges (all of one shape) and calls `hit`
// with the position where every criterion matches. Positions beyond every
// range's recorded cells are all blank: they are counted, not walked.
Value criteriaWalk(Call &c, const std::vector<std::pair<int, int>> &pairs,
                   const std::function<void(uint32_t r, uint32_t col)> &hit, double *blankHits)
{
    std::vector<Grid> grids;
    std::vector<Criterion> crits;
    uint32_t rows = 0, cols = 0, usedRows = 0, usedCols = 0;
    for (const auto &p : pairs) {
        grids.emplace_back(c.evaluator, c.arg(p.first));
        if (!grids.back().ok())
            return Value::err(grids.back().error());
        Value crit = c.scalar(p.second);
        crits.emplace_back(crit, c.evaluator.date1904());
        const Grid &g = grids.back();
        if (grids.size() == 1) {
            rows = g.rows(), cols = g.cols();
        } else if (g.rows() != rows || g.cols() != cols) {
            return Value::err(ErrValue);
        }
        usedRows = std::max(usedRows, g.usedRows());
        usedCols = std::max(usedCols, g.usedCols());
    }
    for (uint32_t r = 0; r < usedRows; ++r) {
        for (uint32_t col = 0; col < usedCols; ++col) {
            c.evaluator.step();
            bool all = true;
            for (size_t i = 0; i < grids.size() && all; ++i)
                all = crits[i].matches(grids[i].at(r, col));
            if (all)
                hit(r, col);
        }
    }
    if (blankHits) {
        bool all = true;
        for (const Criterion &k : crits)
            all = all && k.matchesBlank();
        const double total = double(rows) * double(cols);
        *blankHits = all ? total - double(usedRows) * double(usedCols) : 0;
    }
    return Value();
}

// The cell of `target` at a criteria position (the target range takes the
// criteria range's shape from its top-left cell).
Value cellAt(Call &c, const Value &target, uint32_t r, uint32_t col)
{
    if (target.isRef()) {
        const Area &a = target.area;
        if (a.row1 + r >= c.evaluator.source().maxRows()
            || a.col1 + col >= c.evaluator.source().maxColumns())
            return Value();
        return c.evaluator.cell(a.sheet, a.row1 + r, a.col1 + col);
    }
    if (target.isArray()) {
        const ArrayData &d = *target.array;
        return r < d.rows && col < d.cols ? d.at(r, col) : Value();
    }
    return Value();
}

// SUMIF/AVERAGEIF (one criterion, optional target), 'S' forms (target
// first, then pairs). `kind`: 0 sum, 1 average, 2 max, 3 min, 4 count.
Value criteriaAggregate(Call &c, int kind, bool multi)
{
    std::vector<std::pair<int, int>> pairs;
    Value target;
    if (multi) {
        const int first = kind == 4 ? 0 : 1;
        if ((c.count() - first) % 2 != 0)
            return Value::err(ErrValue);
        for (int i = first; i < c.count(); i += 2)
            pairs.emplace_back(i, i + 1);
        if (kind != 4)
            target = c.arg(0);
    } else {
        pairs.emplace_back(0, 1);
        target = c.count() > 2 && !c.isEmpty(2) ? c.arg(2) : c.arg(0);
    }
    if (kind != 4 && target.isError())
        return target;
    if (kind != 4 && target.isRef() && target.areaCount() != 1)
        return Value::err(ErrValue);
    if (multi && kind != 4) {
        // The 'S' forms want the target in the criteria ranges' shape.
        const Value &first = c.arg(1);
        const Grid t(c.evaluator, target), k(c.evaluator, first);
        if (t.ok() && k.ok() && (t.rows() != k.rows() || t.cols() != k.cols()))
            return Value::err(ErrValue);
    }
    double total = 0, count = 0;
    double best = kind == 2 ? -HUGE_VAL : HUGE_VAL;
    uint8_t error = 0;
    double blanks = 0;
    Value r = criteriaWalk(
        c, pairs,
        [&](uint32_t row, uint32_t col) {
            if (kind == 4) {
                ++count;
                return;
            }
            const Value v = cellAt(c, target, row, col);
            if (v.isError()) {
                if (!error)
                    error = v.error;
            } else if (v.type == ValueType::Number) {
                total += v.number;
                ++count;
                best = kind == 2 ? std::max(best, v.number) : std::min(best, v.number);
            }
        },
        kind == 4 ? &blanks : nullptr);
    if (r.isError())
        return r;
    if (error)
        return Value::err(error);
    switch (kind) {
    case 0:
        return Value::num(total);
    case 1:
        return count == 0 ? Value::err(ErrDiv0) : Value::num(total / count);
    case 2:
    case 3:
        return Value::num(count == 0 ? 0 : best);
    default:
        return Value::num(count + blanks);
    }
}

Value fnSumIf(Call &c)
{
    return criteriaAggregate(c, 0, false);
}
Value fnAverageIf(Call &c)
{
    return criteriaAggregate(c, 1, false);
}
Value fnCountIf(Call &c)
{
    return criteriaAggregate(c, 4, true);
}
Value fnSumIfs(Call &c)
{
    return criteriaAggregate(c, 0, true);
}
Value fnAverageIfs(Call &c)
{
    return criteriaAggregate(c, 1, true);
}
Value fnMaxIfs(Call &c)
{
    return criteriaAggregate(c, 2, true);
}
Value fnMinIfs(Call &c)
{
    return criteriaAggregate(c, 3, true);
}
Value fnCountIfs(Call &c)
{
    return criteriaAggregate(c, 4, true);
}

// ---- SUBTOTAL, SUMPRODUCT ----------------------------------------------------

// SUBTOTAL, as the function reference describes it: 1-11 leave out the
// rows a filter hides, 101-111 every hidden row; other subtotals inside the
// ranges are left out, so nested ones count once; a 3-D reference is
// #VALUE!. Each argument must be a reference: an error value given is that
// error (SUBTOTAL(2,#REF!) is #REF!), anything else #VALUE!. Error cells:
// COUNT leaves them out, COUNTA counts them, the others give the first one
// met, in argument order.
Value fnSubtotal(Call &c)
{
    SD_NUMBER(c, 0, f);
    int fn = int(std::trunc(f));
    const bool skipHidden = fn > 100;
    if (fn > 100)
        fn -= 100;
    if (fn < 1 || fn > 11)
        return Value::err(ErrValue);
    std::vector<double> xs;
    uint8_t error = 0;
    for (int i = 1; i < c.count() && !error; ++i) {
        const Value &v = c.arg(i);
        if (v.isError())
            return v;
        if (!v.isRef())
            return Value::err(ErrValue);
        for (size_t k = 0; k < v.areaCount() && !error; ++k) {
            const Area &a = v.areaAt(k);
            if (a.sheet != a.lastSheet)
                return Value::err(ErrValue);
            c.evaluator.visit(Value::ref(a), [&](const Value &x, uint32_t r, uint32_t col) {
                if (error)
                    return;
                const int state = c.evaluator.source().rowState(a.sheet, a.row1 + r);
                if (state == 2 || (state == 1 && skipHidden))
                    return;
                if (c.evaluator.isSubtotal(a.sheet, a.row1 + r, a.col1 + col))
                    return;
                if (x.type == ValueType::Number)
                    xs.push_back(x.number);
                else if (fn == 3)
                    xs.push_back(0);
                else if (x.isError() && fn != 2)
                    error = x.error;
            });
        }
    }
    if (error)
        return Value::err(error);
    return aggregate(xs, fn);
}

// SUMPRODUCT leaves out what is not a number inside ranges and arrays, but
// a single value (given directly or through a reference to one cell) that
// is text is #VALUE! (the application's results in poi/
// FormulaEvalTestData_Copy.xlsx, EverythingTests J1328: SUMPRODUCT(G1330:
// G1330,I1330:I1330) over the text "4" and the number 2).
Value fnSumProduct(Call &c)
{
    std::vector<ArrayData> arrays;
    for (int i = 0; i < c.count(); ++i) {
        Value v = c.arg(i);
        if (v.isRef() && v.areaCount() == 1 && v.area.isCell())
            v = c.evaluator.cell(v.area.sheet, v.area.row1, v.area.col1);
        if (v.isError())
            return v;
        if (v.type == ValueType::Text)
            return Value::err(ErrValue);
        arrays.push_back(c.evaluator.toArray(v));
        if (arrays.back().rows != arrays[0].rows || arrays.back().cols != arrays[0].cols)
            return Value::err(ErrValue);
    }
    double s = 0;
    const size_t n = arrays[0].items.size();
    for (size_t k = 0; k < n; ++k) {
        double p = 1;
        for (const ArrayData &a : arrays) {
            const Value &x = a.items[k];
            if (x.isError())
                return x;
            p *= x.type == ValueType::Number ? x.number : 0;
        }
        s += p;
    }
    return Value::num(s);
}

// Pairs of numbers at the same positions of two arrays (both numeric).
Value pairs(Call &c, std::vector<double> &xs, std::vector<double> &ys, bool sameShape)
{
    const Value &a = c.arg(0), &b = c.arg(1);
    if (a.isError())
        return a;
    if (b.isError())
        return b;
    const ArrayData x = c.evaluator.toArray(a), y = c.evaluator.toArray(b);
    if (x.items.size() != y.items.size() || (sameShape && (x.rows != y.rows || x.cols != y.cols)))
        return Value::err(ErrNA);
    for (size_t i = 0; i < x.items.size(); ++i) {
        if (x.items[i].isError())
            return x.items[i];
        if (y.items[i].isError())
            return y.items[i];
        if (x.items[i].type == ValueType::Number && y.items[i].type == ValueType::Number) {
            xs.push_back(x.items[i].number);
            ys.push_back(y.items[i].number);
        }
    }
    return Value();
}

// SUMXMY2, SUMX2MY2, SUMX2PY2: the arrays pair their elements in row order
// whatever their shapes, as long as they hold as many (a column of three
// with a row of three); no pair of numbers is #DIV/0! (the application's
// results in poi/FormulaEvalTestData_Copy.xlsx, EverythingTests rows 1336,
// 1340 and 1344).
Value sumOfPairs(Call &c, int kind)
{
    std::vector<double> xs, ys;
    Value e = pairs(c, xs, ys, false);
    if (e.isError())
        return e;
    if (xs.empty())
        return Value::err(ErrDiv0);
    double s = 0;
    for (size_t i = 0; i < xs.size(); ++i) {
        const double x = xs[i], y = ys[i];
        s += kind == 0 ? (x - y) * (x - y) : kind == 1 ? x * x - y * y : x * x + y * y;
    }
    return Value::num(s);
}

struct Fit
{
    double n = 0, mx = 0, my = 0, sxx = 0, syy = 0, sxy = 0;
};

Value fit(Call &c, Fit &f, int xArg, int yArg)
{
    (void)xArg, (void)yArg;
    std::vector<double> ys, xs;
    Value e = pairs(c, ys, xs, false); // argument 0 is known_y's
    if (e.isError())
        return e;
    f.n = double(xs.size());
    if (f.n == 0)
        return Value::err(ErrDiv0);
    for (size_t i = 0; i < xs.size(); ++i)
        f.mx += xs[i], f.my += ys[i];
    f.mx /= f.n, f.my /= f.n;
    for (size_t i = 0; i < xs.size(); ++i) {
        f.sxx += (xs[i] - f.mx) * (xs[i] - f.mx);
        f.syy += (ys[i] - f.my) * (ys[i] - f.my);
        f.sxy += (xs[i] - f.mx) * (ys[i] - f.my);
    }
    return Value();
}

Value fnSumXMY2(Call &c)
{
    return sumOfPairs(c, 0);
}
Value fnSumX2MY2(Call &c)
{
    return sumOfPairs(c, 1);
}
Value fnSumX2PY2(Call &c)
{
    return sumOfPairs(c, 2);
}

Value fnSlope(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    return f.sxx == 0 ? Value::err(ErrDiv0) : Value::num(f.sxy / f.sxx);
}

Value fnIntercept(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    return f.sxx == 0 ? Value::err(ErrDiv0) : Value::num(f.my - f.sxy / f.sxx * f.mx);
}

Value fnCorrel(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    if (f.sxx == 0 || f.syy == 0)
        return Value::err(ErrDiv0);
    return Value::num(f.sxy / std::sqrt(f.sxx * f.syy));
}

Value fnRsq(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    if (f.sxx == 0 || f.syy == 0)
        return Value::err(ErrDiv0);
    return Value::num(f.sxy * f.sxy / (f.sxx * f.syy));
}

Value fnSteyx(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    if (f.n < 3 || f.sxx == 0)
        return Value::err(ErrDiv0);
    return Value::num(std::sqrt((f.syy - f.sxy * f.sxy / f.sxx) / (f.n - 2)));
}

Value fnCovar(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    return Value::num(f.sxy / f.n);
}

Value fnCovarianceS(Call &c)
{
    Fit f;
    Value e = fit(c, f, 1, 0);
    if (e.isError())
        return e;
    if (f.n < 2)
        return Value::err(ErrDiv0);
    return Value::num(f.sxy / (f.n - 1));
}

Value fnForecast(Call &c)
{
    SD_NUMBER(c, 0, x);
    std::vector<double> ys, xs;
    const Value &a = c.arg(1), &b = c.arg(2);
    if (a.isError())
        return a;
    if (b.isError())
        return b;
    const ArrayData y = c.evaluator.toArray(a), xv = c.evaluator.toArray(b);
    if (y.items.size() != xv.items.size())
        return Value::err(ErrNA);
    for (size_t i = 0; i < y.items.size(); ++i)
        if (y.items[i].type == ValueType::Number && xv.items[i].type == ValueType::Number)
            ys.push_back(y.items[i].number), xs.push_back(xv.items[i].number);
    if (xs.empty())
        return Value::err(ErrDiv0);
    double mx = 0, my = 0, sxx = 0, sxy = 0;
    for (size_t i = 0; i < xs.size(); ++i)
        mx += xs[i], my += ys[i];
    mx /= double(xs.size()), my /= double(xs.size());
    for (size_t i = 0; i < xs.size(); ++i)
        sxx += (xs[i] - mx) * (xs[i] - mx), sxy += (xs[i] - mx) * (ys[i] - my);
    if (sxx == 0)
        return Value::err(ErrDiv0);
    const double b1 = sxy / sxx;
    return Value::num(my - b1 * mx + b1 * x);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows statisticalFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "COUNT", 0, 0, N, "R", 0, fnCount },
        { "SUM", 4, 0, N, "R", 0, fnSum },
        { "AVERAGE", 5, 1, N, "R", 0, fnAverage },
        { "MIN", 6, 1, N, "R", 0, fnMin },
        { "MAX", 7, 1, N, "R", 0, fnMax },
        { "STDEV", 12, 1, N, "R", 0, fnStdev },
        { "VAR", 46, 1, N, "R", 0, fnVar },
        { "COUNTA", 169, 0, N, "R", 0, fnCountA },
        { "PRODUCT", 183, 0, N, "R", 0, fnProduct },
        { "STDEVP", 193, 1, N, "R", 0, fnStdevP },
        { "VARP", 194, 1, N, "R", 0, fnVarP },
        { "SUMPRODUCT", 228, 1, N, "A", 0, fnSumProduct },
        { "AVEDEV", 269, 1, N, "R", 0, fnAveDev },
        { "SUMXMY2", 303, 2, 2, "A", 0, fnSumXMY2 },
        { "SUMX2MY2", 304, 2, 2, "A", 0, fnSumX2MY2 },
        { "SUMX2PY2", 305, 2, 2, "A", 0, fnSumX2PY2 },
        { "CORREL", 307, 2, 2, "A", 0, fnCorrel },
        { "COVAR", 308, 2, 2, "A", 0, fnCovar },
        { "FORECAST", 309, 3, 3, "VAA", 0, fnForecast },
        { "INTERCEPT", 311, 2, 2, "A", 0, fnIntercept },
        { "PEARSON", 312, 2, 2, "A", 0, fnCorrel },
        { "RSQ", 313, 2, 2, "A", 0, fnRsq },
        { "STEYX", 314, 2, 2, "A", 0, fnSteyx },
        { "SLOPE", 315, 2, 2, "A", 0, fnSlope },
        { "DEVSQ", 318, 1, N, "R", 0, fnDevSq },
        { "GEOMEAN", 319, 1, N, "R", 0, fnGeoMean },
        { "HARMEAN", 320, 1, N, "R", 0, fnHarMean },
        { "SUMSQ", 321, 0, N, "R", 0, fnSumSq },
        { "SUBTOTAL", 344, 2, N, "VR", 0, fnSubtotal },
        { "SUMIF", 345, 2, 3, "RVR", 0, fnSumIf },
        { "COUNTIF", 346, 2, 2, "RV", 0, fnCountIf },
        { "COUNTBLANK", 347, 1, 1, "R", 0, fnCountBlank },
        { "AVERAGEA", 361, 1, N, "R", 0, fnAverageA },
        { "MAXA", 362, 1, N, "R", 0, fnMaxA },
        { "MINA", 363, 1, N, "R", 0, fnMinA },
        { "STDEVPA", 364, 1, N, "R", 0, fnStdevPA },
        { "VARPA", 365, 1, N, "R", 0, fnVarPA },
        { "STDEVA", 366, 1, N, "R", 0, fnStdevA },
        { "VARA", 367, 1, N, "R", 0, fnVarA },
        { "SUMIFS", -1, 3, N, "R|RV", 0, fnSumIfs },
        { "COUNTIFS", -1, 2, N, "|RV", 0, fnCountIfs },
        { "AVERAGEIF", -1, 2, 3, "RVR", 0, fnAverageIf },
        { "AVERAGEIFS", -1, 3, N, "R|RV", 0, fnAverageIfs },
        { "MAXIFS", -1, 3, N, "R|RV", 0, fnMaxIfs },
        { "MINIFS", -1, 3, N, "R|RV", 0, fnMinIfs },
        { "STDEV.S", -1, 1, N, "R", 0, fnStdev },
        { "STDEV.P", -1, 1, N, "R", 0, fnStdevP },
        { "VAR.S", -1, 1, N, "R", 0, fnVar },
        { "VAR.P", -1, 1, N, "R", 0, fnVarP },
        { "COVARIANCE.P", -1, 2, 2, "A", 0, fnCovar },
        { "COVARIANCE.S", -1, 2, 2, "A", 0, fnCovarianceS },
        { "FORECAST.LINEAR", -1, 3, 3, "VAA", 0, fnForecast },
    };
    return rows;
}

} // namespace sd::formula
