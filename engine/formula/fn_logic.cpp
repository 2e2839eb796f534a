// Logical and information functions.

#include "formula/fn_p.h"

#include <cmath>

namespace sd::formula {

namespace {

Value fnTrue(Call &)
{
    return Value::boolean(true);
}
Value fnFalse(Call &)
{
    return Value::boolean(false);
}
Value fnNA(Call &)
{
    return Value::err(ErrNA);
}

Value fnIf(Call &c)
{
    Value cond = c.arg(0);
    if (cond.isRef())
        cond = c.evaluator.deref(cond, c.ctx);
    if (cond.isArray()) {
        // Element by element: both branches are needed.
        std::vector<Value> args { cond };
        for (int i = 1; i < 3; ++i) {
            Value v = i < c.count() ? c.evaluator.deref(c.arg(i), c.ctx)
                                    : (i == 2 ? Value::boolean(false) : Value::num(0));
            args.push_back(v);
        }
        return c.evaluator.lift(args, [](const std::vector<Value> &s) {
            bool b = false;
            if (uint8_t e = toBool(s[0], b))
                return Value::err(e);
            const Value &v = b ? s[1] : s[2];
            return v.type == ValueType::Blank ? Value::num(0) : v;
        });
    }
    bool b = false;
    if (uint8_t e = toBool(cond, b))
        return Value::err(e);
    const int branch = b ? 1 : 2;
    if (branch >= c.count())
        return Value::boolean(false);
    if (c.isEmpty(branch))
        return Value::num(0);
    return c.arg(branch);
}

Value ifError(Call &c, bool onlyNA)
{
    const Value v = c.arg(0);
    auto caught = [onlyNA](const Value &x) { return x.isError() && (!onlyNA || x.error == ErrNA); };
    if (v.isArray()) {
        const Value alt = c.arg(1);
        std::vector<Value> args { v, alt };
        return c.evaluator.lift(args, [&](const std::vector<Value> &s) {
            return caught(s[0]) ? (s[1].type == ValueType::Blank ? Value::num(0) : s[1]) : s[0];
        });
    }
    if (!caught(v))
        return v;
    if (c.isEmpty(1))
        return Value::num(0);
    return c.arg(1);
}

// Booleans of the arguments for AND/OR/XOR; `fold` sees each one.
Value logical(Call &c, const std::function<void(bool)> &fold)
{
    bool any = false;
    for (int i = 0; i < c.count(); ++i) {
        const Value &v = c.arg(i);
        if (v.isRef() || v.isArray()) {
            uint8_t error = 0;
            c.evaluator.visit(v, [&](const Value &x, uint32_t, uint32_t) {
                if (x.isError()) {
                    if (!error)
                        error = x.error;
                } else if (x.type == ValueType::Number || x.type == ValueType::Bool) {
                    fold(x.number != 0);
                    any = true;
                }
            });
            if (error)
                return Value::err(error);
            continue;
        }
        bool b = false;
        if (v.type == ValueType::Blank && !c.isEmpty(i))
            continue;
        if (uint8_t e = toBool(v, b))
            return Value::err(e);
        fold(b);
        any = true;
    }
    return any ? Value() : Value::err(ErrValue);
}

Value fnIfError(Call &c)
{
    return ifError(c, false);
}
Value fnIfNA(Call &c)
{
    return ifError(c, true);
}

Value fnIfs(Call &c)
{
    if (c.count() % 2 != 0)
        return Value::err(ErrNA);
    for (int i = 0; i < c.count(); i += 2) {
        bool b = false;
        if (uint8_t e = c.boolean(i, b))
            return Value::err(e);
        if (b)
            return c.isEmpty(i + 1) ? Value::num(0) : c.scalar(i + 1);
    }
    return Value::err(ErrNA);
}

Value fnSwitch(Call &c)
{
    const Value v = c.scalar(0);
    if (v.isError())
        return v;
    int i = 1;
    for (; i + 1 < c.count(); i += 2) {
        const Value k = c.scalar(i);
        if (k.isError())
            return k;
        if (k.type == v.type && compareValues(k, v) == 0)
            return c.scalar(i + 1);
    }
    if (i < c.count())
        return c.scalar(i);
    return Value::err(ErrNA);
}

Value fnAnd(Call &c)
{
    bool all = true;
    Value r = logical(c, [&](bool b) { all = all && b; });
    return r.isError() ? r : Value::boolean(all);
}

Value fnOr(Call &c)
{
    bool any = false;
    Value r = logical(c, [&](bool b) { any = any || b; });
    return r.isError() ? r : Value::boolean(any);
}

Value fnXor(Call &c)
{
    bool odd = false;
    Value r = logical(c, [&](bool b) { odd = odd != b; });
    return r.isError() ? r : Value::boolean(odd);
}

Value fnNot(Call &c)
{
    bool b = false;
    if (uint8_t e = c.boolean(0, b))
        return Value::err(e);
    return Value::boolean(!b);
}

// ---- IS functions -----------------------------------------------------------

Value fnIsBlank(Call &c)
{
    return Value::boolean(c.scalar(0).type == ValueType::Blank);
}
Value fnIsError(Call &c)
{
    return Value::boolean(c.scalar(0).isError());
}
Value fnIsNA(Call &c)
{
    const Value v = c.scalar(0);
    return Value::boolean(v.isError() && v.error == ErrNA);
}
Value fnIsErr(Call &c)
{
    const Value v = c.scalar(0);
    return Value::boolean(v.isError() && v.error != ErrNA);
}
Value fnIsText(Call &c)
{
    return Value::boolean(c.scalar(0).type == ValueType::Text);
}
Value fnIsNonText(Call &c)
{
    return Value::boolean(c.scalar(0).type != ValueType::Text);
}
Value fnIsNumber(Call &c)
{
    return Value::boolean(c.scalar(0).type == ValueType::Number);
}
Value fnIsLogical(Call &c)
{
    return Value::boolean(c.scalar(0).type == ValueType::Bool);
}
Value fnIsRef(Call &c)
{
    return Value::boolean(c.arg(0).isRef());
}

// T and N take a reference and read its first cell, however large the
// range and wherever the formula stands (the application's results in
// poi/FormulaEvalTestData_Copy.xlsx, EverythingTests M1352:O1352:
// T(H12:J12) over the number 545 in H12 is "").
Value firstValue(Call &c)
{
    const Value &v = c.arg(0);
    if (v.isRef())
        return c.evaluator.cell(v.area.sheet, v.area.row1, v.area.col1);
    if (v.isArray())
        return v.array->items.empty() ? Value::err(ErrValue) : v.array->items[0];
    return v;
}

Value fnN(Call &c)
{
    const Value v = firstValue(c);
    if (v.isError())
        return v;
    return Value::num(v.type == ValueType::Number || v.type == ValueType::Bool ? v.number : 0);
}

Value fnT(Call &c)
{
    const Value v = firstValue(c);
    if (v.isError())
        return v;
    return Value::str(v.type == ValueType::Text ? v.text : std::string());
}

Value fnErrorType(Call &c)
{
    const Value v = c.scalar(0);
    if (!v.isError())
        return Value::err(ErrNA);
    switch (v.error) {
    case kErrNull:
        return Value::num(1);
    case ErrDiv0:
        return Value::num(2);
    case ErrValue:
        return Value::num(3);
    case ErrRef:
        return Value::num(4);
    case ErrName:
        return Value::num(5);
    case ErrNum:
        return Value::num(6);
    case ErrNA:
        return Value::num(7);
    default:
        // #GETTING_DATA (8) and the later errors, numbered on in order.
        return Value::num(
            8 + (v.error >= ErrGettingData && v.error <= ErrCalc ? v.error - ErrGettingData : 0));
    }
}

Value fnType(Call &c)
{
    Value v = c.arg(0);
    if (v.isRef()) {
        if (v.areaCount() > 1 || !v.area.isCell())
            return Value::num(16);
        v = c.evaluator.cell(v.area.sheet, v.area.row1, v.area.col1);
    }
    switch (v.type) {
    case ValueType::Text:
        return Value::num(2);
    case ValueType::Bool:
        return Value::num(4);
    case ValueType::Error:
        return Value::num(16);
    case ValueType::Array:
        return Value::num(64);
    default:
        return Value::num(1);
    }
}

Value fnCell(Call &c)
{
    SD_TEXT(c, 0, what);
    const std::string kind = lowerText(what);
    Value ref = c.count() > 1 ? c.arg(1) : Value();
    if (c.count() < 2 || !ref.isRef())
        throw Unsupported { "CELL without a reference" };
    const Area &a = ref.area;
    if (kind == "row")
        return Value::num(a.row1 + 1);
    if (kind == "col")
        return Value::num(a.col1 + 1);
    if (kind == "contents")
        return c.evaluator.cell(a.sheet, a.row1, a.col1);
    if (kind == "type") {
        const Value v = c.evaluator.cell(a.sheet, a.row1, a.col1);
        return Value::str(v.type == ValueType::Blank ? "b" : v.type == ValueType::Text ? "l" : "v");
    }
    if (kind == "address") {
        std::string col;
        for (uint32_t n = a.col1 + 1; n > 0; n = (n - 1) / 26)
            col.insert(col.begin(), char('A' + (n - 1) % 26));
        return Value::str("$" + col + "$" + std::to_string(a.row1 + 1));
    }
    throw Unsupported { "CELL(\"" + what + "\")" };
}

Value fnInfo(Call &c)
{
    SD_TEXT(c, 0, what);
    throw Unsupported { "INFO(\"" + what + "\")" };
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows logicalFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "IF", 1, 1, 3, "VRR", R, fnIf },
        { "ISNA", 2, 1, 1, "V", E, fnIsNA },
        { "ISERROR", 3, 1, 1, "V", E, fnIsError },
        { "NA", 10, 0, 0, "V", 0, fnNA },
        { "TRUE", 34, 0, 0, "V", 0, fnTrue },
        { "FALSE", 35, 0, 0, "V", 0, fnFalse },
        { "AND", 36, 1, N, "R", 0, fnAnd },
        { "OR", 37, 1, N, "R", 0, fnOr },
        { "NOT", 38, 1, 1, "V", E, fnNot },
        { "TYPE", 86, 1, 1, "R", 0, fnType },
        { "ISREF", 105, 1, 1, "R", 0, fnIsRef },
        { "CELL", 125, 1, 2, "VR", V, fnCell },
        { "ISERR", 126, 1, 1, "V", E, fnIsErr },
        { "ISTEXT", 127, 1, 1, "V", E, fnIsText },
        { "ISNUMBER", 128, 1, 1, "V", E, fnIsNumber },
        { "ISBLANK", 129, 1, 1, "V", E, fnIsBlank },
        { "T", 130, 1, 1, "R", E, fnT },
        { "N", 131, 1, 1, "R", E, fnN },
        { "ISNONTEXT", 190, 1, 1, "V", E, fnIsNonText },
        { "ISLOGICAL", 198, 1, 1, "V", E, fnIsLogical },
        { "INFO", 244, 1, 1, "V", V, fnInfo },
        { "ERROR.TYPE", 261, 1, 1, "V", E, fnErrorType },
        { "IFERROR", -1, 2, 2, "VV", 0, fnIfError },
        { "IFNA", -1, 2, 2, "VV", 0, fnIfNA },
        { "IFS", -1, 2, N, "V", 0, fnIfs },
        { "SWITCH", -1, 3, N, "V", 0, fnSwitch },
        { "XOR", -1, 1, N, "R", 0, fnXor },
    };
    return rows;
}

} // namespace sd::formula
