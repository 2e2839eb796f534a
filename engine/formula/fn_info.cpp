// Information about cells and sheets: ISFORMULA, FORMULATEXT, SHEET and
// SHEETS.

#include "formula/fn_p.h"

namespace sd::formula {

namespace {

// The formula cell a reference argument points at: its top-left cell.
bool referencedCell(Call &c, int i, Value &error, int &sheet, uint32_t &row, uint32_t &col)
{
    const Value &v = c.arg(i);
    if (v.isError()) {
        error = v;
        return false;
    }
    if (!v.isRef()) {
        error = Value::err(ErrValue);
        return false;
    }
    sheet = v.area.sheet;
    row = v.area.row1;
    col = v.area.col1;
    return true;
}

Value fnIsFormula(Call &c)
{
    Value error;
    int sheet = 0;
    uint32_t row = 0, col = 0;
    if (!referencedCell(c, 0, error, sheet, row, col))
        return error;
    return Value::boolean(c.evaluator.source().formula(sheet, row, col).kind
                          != FormulaSource::Kind::None);
}

// The text as the formula bar shows it: the prefixes that mark functions of
// later versions (_xlfn., _xlws.) and LET's names (_xlpm.) left out.
std::string shownFormula(std::string_view text)
{
    std::string out = "=";
    out.reserve(text.size() + 1);
    for (size_t i = 0; i < text.size();) {
        const char ch = text[i];
        if (ch == '"' || ch == '\'') {
            const size_t close = text.find(ch, i + 1);
            const size_t end = close == std::string_view::npos ? text.size() : close + 1;
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        bool prefix = false;
        for (const char *p : { "_xlfn.", "_xlws.", "_xlpm." }) {
            const std::string_view s(p);
            if (text.size() - i >= s.size() && compareText(text.substr(i, s.size()), s) == 0) {
                i += s.size();
                prefix = true;
                break;
            }
        }
        if (!prefix)
            out += text[i++];
    }
    return out;
}

Value fnFormulaText(Call &c)
{
    Value error;
    int sheet = 0;
    uint32_t row = 0, col = 0;
    if (!referencedCell(c, 0, error, sheet, row, col))
        return error;
    const FormulaSource src = c.evaluator.source().formula(sheet, row, col);
    if (src.kind == FormulaSource::Kind::None)
        return Value::err(ErrNA);
    // Only text written for this very cell is shown as it stands; shared
    // formulas and BIFF tokens would have to be written out anew.
    if (src.kind != FormulaSource::Kind::Text || src.array || src.anchorRow != row
        || src.anchorCol != col)
        throw Unsupported { "FORMULATEXT of a shared, array or .xls formula" };
    std::string text = shownFormula(src.data);
    if (text.size() > kMaxFormulaText)
        return Value::err(ErrNA);
    return Value::str(std::move(text));
}

Value fnSheet(Call &c)
{
    if (c.count() == 0 || c.isEmpty(0))
        return Value::num(c.ctx.sheet + 1);
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    if (v.isRef())
        return Value::num(v.area.sheet + 1);
    if (v.type == ValueType::Text) {
        const int index = c.evaluator.source().sheetIndex(v.text);
        return index < 0 ? Value::err(ErrNA) : Value::num(index + 1);
    }
    return Value::err(ErrNA);
}

Value fnSheets(Call &c)
{
    if (c.count() == 0 || c.isEmpty(0))
        return Value::num(c.evaluator.source().sheetCount());
    const Value &v = c.arg(0);
    if (v.isError())
        return v;
    if (!v.isRef())
        return Value::err(ErrRef);
    int first = v.area.sheet, last = v.area.lastSheet;
    for (size_t i = 1; i < v.areaCount(); ++i) {
        first = std::min(first, v.areaAt(i).sheet);
        last = std::max(last, v.areaAt(i).lastSheet);
    }
    return Value::num(last - first + 1);
}

} // namespace

// ---- rows of the function table --------------------------------------------

FunctionRows informationFunctions()
{
    using namespace rowflags;
    static const FunctionInfo rows[] = {
        { "ISFORMULA", -1, 1, 1, "R", 0, fnIsFormula },
        { "FORMULATEXT", -1, 1, 1, "R", 0, fnFormulaText },
        { "SHEET", -1, 0, 1, "R", 0, fnSheet },
        { "SHEETS", -1, 0, 1, "R", 0, fnSheets },
    };
    return rows;
}

} // namespace sd::formula
