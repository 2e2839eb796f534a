// Operators: arithmetic, comparison and concatenation over scalars and,
// element by element, over arrays; the reference operators ':' ',' ' '.

#include "formula/evaluator_p.h"

#include <algorithm>
#include <cmath>

namespace sd::formula {

bool approxEqual(double a, double b)
{
    if (a == b)
        return true;
    const double d = std::fabs(a - b);
    return d < std::fabs(a) * 3.552713678800501e-15 && d < std::fabs(b) * 3.552713678800501e-15;
}

double approxAdd(double a, double b)
{
    if (((a < 0 && b > 0) || (a > 0 && b < 0)) && approxEqual(a, -b))
        return 0;
    return a + b;
}

int compareValues(const Value &x, const Value &y)
{
    auto rank = [](ValueType t) {
        return t == ValueType::Number ? 0 : t == ValueType::Text ? 1 : 2;
    };
    Value a = x, b = y;
    if (a.type == ValueType::Blank && b.type == ValueType::Blank)
        return 0;
    auto fill = [](Value &blank, const Value &other) {
        if (other.type == ValueType::Number)
            blank = Value::num(0);
        else if (other.type == ValueType::Text)
            blank = Value::str(std::string());
        else
            blank = Value::boolean(false);
    };
    if (a.type == ValueType::Blank)
        fill(a, b);
    if (b.type == ValueType::Blank)
        fill(b, a);
    const int ra = rank(a.type), rb = rank(b.type);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    if (a.type == ValueType::Text)
        return compareText(a.text, b.text);
    if (a.type == ValueType::Number && approxEqual(a.number, b.number))
        return 0;
    return a.number < b.number ? -1 : a.number > b.number ? 1 : 0;
}

namespace {

// `snap`: the formula's last operation, whose sum within rounding noise of
// zero is zero (see EvaluatorPrivate::binaryOp).
Value arithmetic(Op op, const Value &a, const Value &b, bool date1904, bool snap)
{
    double x = 0, y = 0;
    if (uint8_t e = toNumber(a, x, date1904))
        return Value::err(e);
    if (uint8_t e = toNumber(b, y, date1904))
        return Value::err(e);
    switch (op) {
    case Op::Add:
        return Value::num(snap ? approxAdd(x, y) : x + y);
    case Op::Sub:
        return Value::num(snap ? approxAdd(x, -y) : x - y);
    case Op::Mul:
        return Value::num(x * y);
    case Op::Div:
        if (y == 0)
            return Value::err(ErrDiv0);
        return Value::num(x / y);
    case Op::Pow: {
        if (x == 0 && y == 0)
            return Value::err(ErrNum);
        if (x == 0 && y < 0)
            return Value::err(ErrDiv0);
        if (x < 0 && y != std::floor(y)) {
            // Odd roots of negative numbers are allowed: (-8)^(1/3) is -2.
            const double inv = 1 / y;
            if (std::fabs(inv - std::round(inv)) < 1e-10 && std::fmod(std::round(inv), 2) != 0)
                return Value::num(-std::pow(-x, y));
            return Value::err(ErrNum);
        }
        return Value::num(std::pow(x, y));
    }
    default:
        return Value::err(ErrValue);
    }
}

Value scalarBinary(Op op, const Value &a, const Value &b, bool date1904, bool snap)
{
    if (a.isError())
        return a;
    if (b.isError())
        return b;
    switch (op) {
    case Op::Concat: {
        std::string x, y;
        toText(a, x);
        toText(b, y);
        return Value::str(x + y);
    }
    case Op::Lt:
        return Value::boolean(compareValues(a, b) < 0);
    case Op::Le:
        return Value::boolean(compareValues(a, b) <= 0);
    case Op::Eq:
        return Value::boolean(compareValues(a, b) == 0);
    case Op::Ge:
        return Value::boolean(compareValues(a, b) >= 0);
    case Op::Gt:
        return Value::boolean(compareValues(a, b) > 0);
    case Op::Ne:
        return Value::boolean(compareValues(a, b) != 0);
    default:
        return arithmetic(op, a, b, date1904, snap);
    }
}

} // namespace

Value EvaluatorPrivate::lift(std::vector<Value> &args,
                             const std::function<Value(const std::vector<Value> &)> &f)
{
    uint32_t rows = 1, cols = 1;
    for (const Value &v : args) {
        if (v.isArray()) {
            rows = std::max(rows, v.array->rows);
            cols = std::max(cols, v.array->cols);
        }
    }
    if (size_t(rows) * cols > kMaxArrayCells)
        throw Unsupported { "array too large" };
    ArrayData out;
    out.rows = rows;
    out.cols = cols;
    out.items.reserve(size_t(rows) * cols);
    std::vector<Value> one(args.size());
    for (uint32_t r = 0; r < rows; ++r) {
        for (uint32_t c = 0; c < cols; ++c) {
            step();
            bool outside = false;
            for (size_t i = 0; i < args.size(); ++i) {
                if (!args[i].isArray()) {
                    one[i] = args[i];
                    continue;
                }
                const ArrayData &a = *args[i].array;
                const uint32_t rr = a.rows == 1 ? 0 : r, cc = a.cols == 1 ? 0 : c;
                if (rr >= a.rows || cc >= a.cols) {
                    outside = true;
                    break;
                }
                one[i] = a.at(rr, cc);
            }
            out.items.push_back(outside ? Value::err(ErrNA) : f(one));
        }
    }
    return Value::arr(std::move(out));
}

Value EvaluatorPrivate::unaryOp(Op op, const Value &v)
{
    if (v.isArray()) {
        std::vector<Value> args { v };
        return lift(args, [&](const std::vector<Value> &s) { return unaryOp(op, s[0]); });
    }
    if (v.isError())
        return v;
    if (op == Op::Plus)
        return v.type == ValueType::Blank ? Value::num(0) : v;
    double x = 0;
    if (uint8_t e = toNumber(v, x, m_date1904))
        return Value::err(e);
    return Value::num(op == Op::Neg ? -x : x / 100);
}

Value EvaluatorPrivate::binaryOp(Op op, const Value &a, const Value &b, bool snap)
{
    if (a.isArray() || b.isArray()) {
        std::vector<Value> args { a, b };
        return lift(args, [&](const std::vector<Value> &s) {
            return scalarBinary(op, s[0], s[1], m_date1904, snap);
        });
    }
    return scalarBinary(op, a, b, m_date1904, snap);
}

Value EvaluatorPrivate::referenceOp(Op op, const Value &a, const Value &b)
{
    if (a.isError())
        return a;
    if (b.isError())
        return b;
    if (!a.isRef() || !b.isRef())
        return Value::err(ErrValue);
    if (op == Op::Union) {
        Value out = a;
        auto more = std::make_shared<std::vector<Area>>();
        if (a.more)
            *more = *a.more;
        for (size_t i = 0; i < b.areaCount(); ++i)
            more->push_back(b.areaAt(i));
        out.more = std::move(more);
        return out;
    }
    if (a.areaCount() != 1 || b.areaCount() != 1)
        return Value::err(ErrValue);
    const Area &x = a.area, &y = b.area;
    if (x.sheet != y.sheet || x.lastSheet != y.lastSheet)
        return Value::err(ErrValue);
    Area r = x;
    if (op == Op::Range) {
        r.row1 = std::min(x.row1, y.row1), r.row2 = std::max(x.row2, y.row2);
        r.col1 = std::min(x.col1, y.col1), r.col2 = std::max(x.col2, y.col2);
        return Value::ref(r);
    }
    r.row1 = std::max(x.row1, y.row1), r.row2 = std::min(x.row2, y.row2);
    r.col1 = std::max(x.col1, y.col1), r.col2 = std::min(x.col2, y.col2);
    if (r.row1 > r.row2 || r.col1 > r.col2)
        return Value::err(ErrNull);
    return Value::ref(r);
}

} // namespace sd::formula
