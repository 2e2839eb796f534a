// Database functions: DSUM and its kin over the rows of `database` (first
// row: labels) whose fields match the criteria block (labels, then one row
// per alternative).

#include "formula/fn_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

namespace {

// What DSUM and its kin make of the matching rows' values.
Value databaseResult(int kind, const std::vector<double> &xs, const std::vector<Value> &got,
                     double counted)
{
    switch (kind) {
    case 0: {
        double s = 0;
        for (double x : xs)
            s += x;
        return Value::num(s);
    }
    case 1:
    case 2:
        return Value::num(counted);
    case 3:
        if (xs.empty())
            return Value::err(ErrDiv0);
        {
            double s = 0;
            for (double x : xs)
                s += x;
            return Value::num(s / double(xs.size()));
        }
    case 4:
        return Value::num(xs.empty() ? 0 : *std::min_element(xs.begin(), xs.end()));
    case 5:
        return Value::num(xs.empty() ? 0 : *std::max_element(xs.begin(), xs.end()));
    case 6: {
        double p = xs.empty() ? 0 : 1;
        for (double x : xs)
            p *= x;
        return Value::num(p);
    }
    case 11:
        if (got.empty())
            return Value::err(ErrValue);
        return got.size() > 1 ? Value::err(ErrNum) : got[0];
    default: { // 7 DSTDEV, 8 DSTDEVP, 9 DVAR, 10 DVARP
        const bool sample = kind == 7 || kind == 9;
        const double n = double(xs.size());
        if (n < (sample ? 2 : 1))
            return Value::err(ErrDiv0);
        double mean = 0, ss = 0;
        for (double x : xs)
            mean += x;
        mean /= n;
        for (double x : xs)
            ss += (x - mean) * (x - mean);
        const double var = ss / (sample ? n - 1 : n);
        return Value::num(kind <= 8 ? std::sqrt(var) : var);
    }
    }
}

// A criterion under a label that is none of the database's: a formula
// written for the database's first row, which a row matches when the
// formula, moved down to that row, is TRUE (the application's "criteria
// created as the result of a formula"). A blank cell there sets no
// condition; a constant is #VALUE!.
uint8_t computedCriterion(Call &c, const Grid &crit, uint32_t cr, uint32_t k, uint32_t dbRow,
                          bool &matches)
{
    if (crit.isRef()) {
        const Area &a = crit.area();
        Value got;
        if (c.evaluator.formulaMovedDown(a.sheet, a.row1 + cr, a.col1 + k, dbRow - 1, got)) {
            bool b = false;
            matches = !got.isError() && toBool(got, b) == 0 && b;
            return 0;
        }
    }
    return crit.at(cr, k).type == ValueType::Blank ? 0 : uint8_t(ErrValue);
}

Value database(Call &c, int kind)
{
    Grid db(c.evaluator, c.arg(0));
    Grid crit(c.evaluator, c.arg(2));
    if (!db.ok())
        return Value::err(db.error());
    if (!crit.ok())
        return Value::err(crit.error());
    const Value field = c.scalar(1);
    long column = -1;
    if (field.type == ValueType::Number) {
        const double n = std::trunc(field.number);
        column = n >= 1 && n <= double(db.cols()) ? long(n) - 1 : n < 1 ? -1 : long(db.cols());
    } else if (field.type == ValueType::Text) {
        for (uint32_t k = 0; k < db.cols(); ++k)
            if (compareText(db.at(0, k).text, field.text) == 0
                && db.at(0, k).type == ValueType::Text)
                column = long(k);
    } else if (!(kind == 1 && field.type == ValueType::Blank)) {
        return Value::err(ErrValue);
    }
    if (column >= long(db.cols()) || (column < 0 && !(kind == 1 && field.type == ValueType::Blank)))
        return Value::err(ErrValue);
    // Criteria columns matched to database columns.
    std::vector<long> critCol(crit.cols(), -1);
    for (uint32_t k = 0; k < crit.cols(); ++k)
        for (uint32_t j = 0; j < db.cols(); ++j)
            if (crit.at(0, k).type == ValueType::Text && db.at(0, j).type == ValueType::Text
                && compareText(crit.at(0, k).text, db.at(0, j).text) == 0)
                critCol[k] = long(j);
    std::vector<double> xs;
    std::vector<Value> got; // DGET
    double counted = 0;
    for (uint32_t r = 1; r < db.usedRows(); ++r) {
        bool any = false;
        for (uint32_t cr = 1; cr < crit.rows() && !any; ++cr) {
            bool all = true;
            for (uint32_t k = 0; k < crit.cols() && all; ++k) {
                if (critCol[k] < 0) {
                    const uint8_t e = computedCriterion(c, crit, cr, k, r, all);
                    if (e)
                        return Value::err(e);
                    continue;
                }
                const Value cv = crit.at(cr, k);
                if (cv.type == ValueType::Blank)
                    continue;
                all = Criterion(cv, c.evaluator.date1904(), true)
                          .matches(db.at(r, uint32_t(critCol[k])));
            }
            any = all;
        }
        if (!any)
            continue;
        const Value v = column >= 0 ? db.at(r, uint32_t(column)) : Value::num(0);
        if (kind == 11)
            got.push_back(v);
        if (kind == 1 && column < 0)
            ++counted;
        else if (kind == 2 ? v.type != ValueType::Blank : v.type == ValueType::Number)
            xs.push_back(v.number), ++counted;
    }
    return databaseResult(kind, xs, got, counted);
}

Value fnDSum(Call &c)
{
    return database(c, 0);
}
Value fnDCount(Call &c)
{
    return database(c, 1);
}
Value fnDCountA(Call &c)
{
    return database(c, 2);
}
Value fnDAverage(Call &c)
{
    return database(c, 3);
}
Value fnDMin(Call &c)
{
    return database(c, 4);
}
Value fnDMax(Call &c)
{
    return database(c, 5);
}
Value fnDProduct(Call &c)
{
    return database(c, 6);
}
Value fnDStdev(Call &c)
{
    return database(c, 7);
}
Value fnDStdevP(Call &c)
{
    return database(c, 8);
}
Value fnDVar(Call &c)
{
    return database(c, 9);
}
Value fnDVarP(Call &c)
{
    return database(c, 10);
}
Value fnDGet(Call &c)
{
    return database(c, 11);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows databaseFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "DCOUNT", 40, 3, 3, "RRR", 0, fnDCount },
        { "DSUM", 41, 3, 3, "RRR", 0, fnDSum },
        { "DAVERAGE", 42, 3, 3, "RRR", 0, fnDAverage },
        { "DMIN", 43, 3, 3, "RRR", 0, fnDMin },
        { "DMAX", 44, 3, 3, "RRR", 0, fnDMax },
        { "DSTDEV", 45, 3, 3, "RRR", 0, fnDStdev },
        { "DVAR", 47, 3, 3, "RRR", 0, fnDVar },
        { "DPRODUCT", 189, 3, 3, "RRR", 0, fnDProduct },
        { "DSTDEVP", 195, 3, 3, "RRR", 0, fnDStdevP },
        { "DVARP", 196, 3, 3, "RRR", 0, fnDVarP },
        { "DCOUNTA", 199, 3, 3, "RRR", 0, fnDCountA },
        { "DGET", 235, 3, 3, "RRR", 0, fnDGet },
    };
    return rows;
}

} // namespace sd::formula
