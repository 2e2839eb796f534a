// Array functions: least-squares fits (LINEST, LOGEST, TREND, GROWTH),
// matrix arithmetic, FREQUENCY and UNIQUE.

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

using Matrix = std::vector<std::vector<double>>;

// A numeric matrix from an argument; false when an element is not a number.
bool numericMatrix(Call &c, int i, Matrix &m, uint8_t &error)
{
    const Value &v = c.arg(i);
    if (v.isError()) {
        error = v.error;
        return false;
    }
    const ArrayData a = c.evaluator.toArray(v);
    m.assign(a.rows, std::vector<double>(a.cols));
    for (uint32_t r = 0; r < a.rows; ++r) {
        for (uint32_t k = 0; k < a.cols; ++k) {
            const Value &x = a.at(r, k);
            if (x.isError()) {
                error = x.error;
                return false;
            }
            if (x.type != ValueType::Number) {
                error = ErrValue;
                return false;
            }
            m[r][k] = x.number;
        }
    }
    return true;
}

// Solves A x = b by Gaussian elimination with partial pivoting.
bool solve(Matrix a, std::vector<double> b, std::vector<double> &x)
{
    const size_t n = b.size();
    for (size_t col = 0; col < n; ++col) {
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (std::fabs(a[pivot][col]) < 1e-300)
            return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (size_t r = 0; r < n; ++r) {
            if (r == col)
                continue;
            const double f = a[r][col] / a[col][col];
            for (size_t k = col; k < n; ++k)
                a[r][k] -= f * a[col][k];
            b[r] -= f * b[col];
        }
    }
    x.resize(n);
    for (size_t i = 0; i < n; ++i)
        x[i] = b[i] / a[i][i];
    return true;
}

struct Fit
{
    std::vector<double> coef; // per x variable, in the order of the x columns
    double intercept = 0;
    bool constant = true;
    std::vector<double> y; // as fitted (logarithms for LOGEST)
    Matrix normal; // X'X, the constant's column last
};

// y as a vector, x as observations x variables; `log` fits ln(y).
Value leastSquares(Call &c, bool log, int constArg, Fit &fit, Matrix &xs, size_t &vars)
{
    Matrix ym;
    uint8_t error = 0;
    if (!numericMatrix(c, 0, ym, error))
        return Value::err(error);
    std::vector<double> y;
    const bool yColumn = ym.size() > 1 || (ym.size() == 1 && ym[0].size() == 1);
    for (const auto &row : ym)
        for (double v : row)
            y.push_back(v);
    const size_t n = y.size();
    if (n == 0)
        return Value::err(ErrValue);
    if (log) {
        for (double &v : y) {
            if (v <= 0)
                return Value::err(ErrNum);
            v = std::log(v);
        }
    }
    xs.clear();
    if (c.count() > 1 && !c.isEmpty(1)) {
        Matrix xm;
        if (!numericMatrix(c, 1, xm, error))
            return Value::err(error);
        const size_t rows = xm.size(), cols = rows ? xm[0].size() : 0;
        if (yColumn && rows == n) {
            xs = xm;
        } else if (!yColumn && cols == n) {
            xs.assign(n, std::vector<double>(rows));
            for (size_t r = 0; r < rows; ++r)
                for (size_t k = 0; k < n; ++k)
                    xs[k][r] = xm[r][k];
        } else if (rows * cols == n) {
            xs.assign(n, std::vector<double>(1));
            size_t i = 0;
            for (const auto &row : xm)
                for (double v : row)
                    xs[i++][0] = v;
        } else {
            return Value::err(ErrRef);
        }
    } else {
        xs.assign(n, std::vector<double>(1));
        for (size_t i = 0; i < n; ++i)
            xs[i][0] = double(i + 1);
    }
    vars = xs.empty() ? 0 : xs[0].size();
    bool constant = true;
    if (c.count() > constArg && !c.isEmpty(constArg))
        c.boolean(constArg, constant);
    // Normal equations over [x..., 1].
    const size_t k = vars + (constant ? 1 : 0);
    Matrix a(k, std::vector<double>(k, 0));
    std::vector<double> b(k, 0), beta;
    for (size_t i = 0; i < n; ++i) {
        std::vector<double> row = xs[i];
        if (constant)
            row.push_back(1);
        for (size_t p = 0; p < k; ++p) {
            b[p] += row[p] * y[i];
            for (size_t q = 0; q < k; ++q)
                a[p][q] += row[p] * row[q];
        }
    }
    if (!solve(a, b, beta))
        return Value::err(ErrNum);
    fit.coef.assign(beta.begin(), beta.begin() + long(vars));
    fit.intercept = constant ? beta[vars] : 0;
    fit.constant = constant;
    fit.y = std::move(y);
    fit.normal = std::move(a);
    return Value();
}

// Rows 2-5 of LINEST/LOGEST with statistics: standard errors; r-squared
// and the standard error of y; F and the degrees of freedom; the regression
// and residual sums of squares. Cells without a figure hold #N/A.
void statistics(const Fit &fit, const Matrix &xs, size_t vars, ArrayData &out)
{
    const size_t n = fit.y.size(), k = vars + (fit.constant ? 1 : 0);
    double mean = 0, ssResid = 0, ssReg = 0;
    for (double v : fit.y)
        mean += v;
    mean /= double(n);
    for (size_t i = 0; i < n; ++i) {
        double p = fit.intercept;
        for (size_t j = 0; j < vars; ++j)
            p += fit.coef[j] * xs[i][j];
        ssResid += (fit.y[i] - p) * (fit.y[i] - p);
        ssReg += fit.constant ? (p - mean) * (p - mean) : p * p;
    }
    const double df = double(n) - double(k);
    const double sey = df > 0 ? std::sqrt(ssResid / df) : 0;
    const Value na = Value::err(ErrNA);
    auto num = [](double v) { return std::isfinite(v) ? Value::num(v) : Value::err(ErrNum); };
    // Standard errors from the diagonal of (X'X)^-1.
    std::vector<double> se(k, 0);
    for (size_t j = 0; j < k; ++j) {
        std::vector<double> e(k, 0), x;
        e[j] = 1;
        if (solve(fit.normal, e, x))
            se[j] = sey * std::sqrt(std::fabs(x[j]));
    }
    for (size_t j = vars; j-- > 0;)
        out.items.push_back(num(se[j]));
    out.items.push_back(fit.constant ? num(se[vars]) : na);
    auto row = [&](double a, double b) {
        out.items.push_back(num(a));
        out.items.push_back(num(b));
        for (size_t j = 2; j < vars + 1; ++j)
            out.items.push_back(na);
    };
    row(ssReg / (ssReg + ssResid), sey);
    row(df > 0 && ssResid > 0 ? (ssReg / double(vars)) / (ssResid / df) : HUGE_VAL, df);
    row(ssReg, ssResid);
}

Value coefficients(Call &c, bool log)
{
    Fit fit;
    Matrix xs;
    size_t vars = 0;
    Value e = leastSquares(c, log, 2, fit, xs, vars);
    if (e.isError())
        return e;
    bool stats = false;
    if (c.count() > 3 && !c.isEmpty(3))
        c.boolean(3, stats);
    ArrayData out;
    out.rows = stats ? 5 : 1;
    out.cols = uint32_t(vars + 1);
    for (size_t i = vars; i-- > 0;)
        out.items.push_back(Value::num(log ? std::exp(fit.coef[i]) : fit.coef[i]));
    out.items.push_back(Value::num(log ? std::exp(fit.intercept) : fit.intercept));
    if (stats)
        statistics(fit, xs, vars, out);
    return Value::arr(std::move(out));
}

Value predictions(Call &c, bool log)
{
    Fit fit;
    size_t vars = 0;
    // TREND(known_y, known_x, new_x, const): the fit reads arguments 0, 1
    // and the constant flag, which here is argument 3.
    Matrix fitX;
    {
        Value e = leastSquares(c, log, 3, fit, fitX, vars);
        if (e.isError())
            return e;
    }
    Matrix nx;
    uint8_t error = 0;
    ArrayData shape;
    if (c.count() > 2 && !c.isEmpty(2)) {
        if (!numericMatrix(c, 2, nx, error))
            return Value::err(error);
        shape = c.evaluator.toArray(c.arg(2));
    } else {
        nx = fitX;
        shape = c.evaluator.toArray(c.arg(c.count() > 1 && !c.isEmpty(1) ? 1 : 0));
    }
    ArrayData out;
    auto predict = [&](const std::vector<double> &x) {
        double v = fit.intercept;
        for (size_t i = 0; i < vars && i < x.size(); ++i)
            v += fit.coef[i] * x[i];
        return Value::num(log ? std::exp(v) : v);
    };
    if (vars == 1) {
        out.rows = shape.rows, out.cols = shape.cols;
        for (const Value &x : shape.items)
            out.items.push_back(x.type == ValueType::Number ? predict({ x.number })
                                                            : Value::err(ErrValue));
    } else {
        out.rows = uint32_t(nx.size()), out.cols = 1;
        for (const auto &row : nx)
            out.items.push_back(predict(row));
    }
    return Value::arr(std::move(out));
}

Value fnLinest(Call &c)
{
    return coefficients(c, false);
}
Value fnLogest(Call &c)
{
    return coefficients(c, true);
}
Value fnTrend(Call &c)
{
    return predictions(c, false);
}
Value fnGrowth(Call &c)
{
    return predictions(c, true);
}

Value fnMmult(Call &c)
{
    Matrix a, b;
    uint8_t error = 0;
    if (!numericMatrix(c, 0, a, error) || !numericMatrix(c, 1, b, error))
        return Value::err(error);
    if (a.empty() || b.empty() || a[0].size() != b.size())
        return Value::err(ErrValue);
    ArrayData out;
    out.rows = uint32_t(a.size());
    out.cols = uint32_t(b[0].size());
    if (double(out.rows) * out.cols * b.size() > 1e8)
        throw Unsupported { "matrix too large" };
    for (size_t r = 0; r < a.size(); ++r)
        for (size_t k = 0; k < b[0].size(); ++k) {
            c.evaluator.step(b.size());
            double s = 0;
            for (size_t i = 0; i < b.size(); ++i)
                s += a[r][i] * b[i][k];
            out.items.push_back(Value::num(s));
        }
    return Value::arr(std::move(out));
}

Value fnMdeterm(Call &c)
{
    Matrix a;
    uint8_t error = 0;
    if (!numericMatrix(c, 0, a, error))
        return Value::err(error);
    const size_t n = a.size();
    if (n == 0 || a[0].size() != n || n > 1000)
        return Value::err(ErrValue);
    double det = 1;
    for (size_t col = 0; col < n; ++col) {
        c.evaluator.step(n * n);
        size_t pivot = col;
        for (size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r][col]) > std::fabs(a[pivot][col]))
                pivot = r;
        if (a[pivot][col] == 0)
            return Value::num(0);
        if (pivot != col) {
            std::swap(a[col], a[pivot]);
            det = -det;
        }
        det *= a[col][col];
        for (size_t r = col + 1; r < n; ++r) {
            const double f = a[r][col] / a[col][col];
            for (size_t k = col; k < n; ++k)
                a[r][k] -= f * a[col][k];
        }
    }
    return Value::num(det);
}

Value fnMunit(Call &c)
{
    SD_NUMBER(c, 0, n);
    n = std::trunc(n);
    if (n < 1)
        return Value::err(ErrValue);
    if (n * n > double(kMaxArrayCells))
        throw Unsupported { "array too large" };
    ArrayData out;
    out.rows = out.cols = uint32_t(n);
    out.items.assign(size_t(n * n), Value::num(0));
    for (uint32_t i = 0; i < out.rows; ++i)
        out.items[size_t(i) * out.cols + i] = Value::num(1);
    return Value::arr(std::move(out));
}

Value fnMinverse(Call &c)
{
    Matrix a;
    uint8_t error = 0;
    if (!numericMatrix(c, 0, a, error))
        return Value::err(error);
    const size_t n = a.size();
    if (n == 0 || a[0].size() != n || n > 1000)
        return Value::err(ErrValue);
    ArrayData out;
    out.rows = out.cols = uint32_t(n);
    out.items.resize(n * n);
    for (size_t k = 0; k < n; ++k) {
        c.evaluator.step(n * n * n);
        std::vector<double> e(n, 0), x;
        e[k] = 1;
        if (!solve(a, e, x))
            return Value::err(ErrNum);
        for (size_t r = 0; r < n; ++r)
            out.items[r * n + k] = Value::num(x[r]);
    }
    return Value::arr(std::move(out));
}

Value fnFrequency(Call &c)
{
    std::vector<double> data, bins;
    if (uint8_t e = collectNumbers(c, 0, 1, Collect::Numbers, data))
        return Value::err(e);
    if (uint8_t e = collectNumbers(c, 1, 2, Collect::Numbers, bins))
        return Value::err(e);
    std::vector<double> sorted = bins;
    std::sort(sorted.begin(), sorted.end());
    ArrayData out;
    out.rows = uint32_t(bins.size() + 1);
    out.cols = 1;
    std::vector<double> counts(bins.size() + 1, 0);
    for (double x : data) {
        c.evaluator.step(bins.size() + 1);
        // The first bin (in the order given) whose upper bound holds x.
        size_t best = bins.size();
        for (size_t i = 0; i < bins.size(); ++i)
            if (x <= bins[i] && (best == bins.size() || bins[i] < bins[best]))
                best = i;
        counts[best] += 1;
    }
    for (double n : counts)
        out.items.push_back(Value::num(n));
    return Value::arr(std::move(out));
}

Value fnUnique(Call &c)
{
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    const ArrayData a = c.evaluator.toArray(v);
    bool byColumn = false, once = false;
    if (c.count() > 1 && !c.isEmpty(1))
        c.boolean(1, byColumn);
    if (c.count() > 2 && !c.isEmpty(2))
        c.boolean(2, once);
    const uint32_t count = byColumn ? a.cols : a.rows;
    const uint32_t width = byColumn ? a.rows : a.cols;
    auto item = [&](uint32_t line, uint32_t k) -> const Value & {
        return byColumn ? a.at(k, line) : a.at(line, k);
    };
    auto same = [&](uint32_t x, uint32_t y) {
        for (uint32_t k = 0; k < width; ++k) {
            const Value &p = item(x, k), &q = item(y, k);
            if (p.type != q.type || compareValues(p, q) != 0)
                return false;
        }
        return true;
    };
    std::vector<uint32_t> keep;
    for (uint32_t i = 0; i < count; ++i) {
        c.evaluator.step(i + 1);
        uint32_t seen = 0;
        for (uint32_t j = 0; j < count; ++j)
            seen += same(i, j);
        bool first = true;
        for (uint32_t j = 0; j < i && first; ++j)
            first = !same(i, j);
        if (first && (!once || seen == 1))
            keep.push_back(i);
    }
    if (keep.empty())
        return Value::err(ErrCalc); // nothing left
    ArrayData out;
    out.rows = byColumn ? width : uint32_t(keep.size());
    out.cols = byColumn ? uint32_t(keep.size()) : width;
    out.items.resize(size_t(out.rows) * out.cols);
    for (size_t i = 0; i < keep.size(); ++i)
        for (uint32_t k = 0; k < width; ++k) {
            const size_t at = byColumn ? size_t(k) * out.cols + i : i * out.cols + k;
            out.items[at] = item(keep[i], k);
        }
    return Value::arr(std::move(out));
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows arrayFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "LINEST", 49, 1, 4, "AAV", 0, fnLinest },
        { "TREND", 50, 1, 4, "AAAV", 0, fnTrend },
        { "LOGEST", 51, 1, 4, "AAV", 0, fnLogest },
        { "GROWTH", 52, 1, 4, "AAAV", 0, fnGrowth },
        { "MDETERM", 163, 1, 1, "A", 0, fnMdeterm },
        { "MINVERSE", 164, 1, 1, "A", 0, fnMinverse },
        { "MUNIT", -1, 1, 1, "V", 0, fnMunit },
        { "MMULT", 165, 2, 2, "A", 0, fnMmult },
        { "FREQUENCY", 252, 2, 2, "A", 0, fnFrequency },
        { "UNIQUE", -1, 1, 3, "AV", 0, fnUnique },
    };
    return rows;
}

} // namespace sd::formula
