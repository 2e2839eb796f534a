#include "memorysource.h"

namespace sd::formula {

int MemorySource::addSheet(const std::string &name)
{
    m_sheets.push_back({ name, {} });
    return int(m_sheets.size()) - 1;
}

MemorySource::Cell &MemorySource::cell(int sheet, uint32_t row, uint32_t col)
{
    return m_sheets[size_t(sheet)].cells[{ row, col }];
}

void MemorySource::set(int sheet, uint32_t row, uint32_t col, Value v)
{
    Cell &c = cell(sheet, row, col);
    c.value = std::move(v);
    c.formula = FormulaSource();
}

void MemorySource::setFormula(int sheet, uint32_t row, uint32_t col, const std::string &text)
{
    Cell &c = cell(sheet, row, col);
    c.text = text;
    c.value = Value();
    c.formula = FormulaSource();
    c.formula.kind = FormulaSource::Kind::Text;
    c.formula.data = c.text;
    c.formula.anchorRow = row;
    c.formula.anchorCol = col;
}

void MemorySource::setFormula(int sheet, uint32_t row, uint32_t col, const std::string &text,
                              Value cached)
{
    setFormula(sheet, row, col, text);
    Cell &c = cell(sheet, row, col);
    c.value = std::move(cached);
    c.formula.cached = true;
}

void MemorySource::setArrayFormula(int sheet, const CellRange &range, const std::string &text)
{
    Cell &top = cell(sheet, range.firstRow, range.firstCol);
    top.text = text;
    for (uint32_t r = range.firstRow; r <= range.lastRow; ++r) {
        for (uint32_t c = range.firstCol; c <= range.lastCol; ++c) {
            Cell &x = cell(sheet, r, c);
            x.value = Value();
            x.formula = FormulaSource();
            x.formula.kind = FormulaSource::Kind::Text;
            x.formula.anchorRow = range.firstRow;
            x.formula.anchorCol = range.firstCol;
            x.formula.array = true;
            x.formula.arrayRange = range;
            x.formula.key = &top;
        }
    }
    for (uint32_t r = range.firstRow; r <= range.lastRow; ++r)
        for (uint32_t c = range.firstCol; c <= range.lastCol; ++c)
            cell(sheet, r, c).formula.data = top.text;
}

void MemorySource::setDynamicArrayFormula(int sheet, const CellRange &range,
                                          const std::string &text)
{
    setArrayFormula(sheet, range, text);
    for (uint32_t r = range.firstRow; r <= range.lastRow; ++r)
        for (uint32_t c = range.firstCol; c <= range.lastCol; ++c)
            cell(sheet, r, c).formula.dynamic = true;
}

void MemorySource::dynamicAnchors(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size())
        return;
    for (const auto &[rc, c] : m_sheets[size_t(sheet)].cells)
        if (c.formula.dynamic && rc.first == c.formula.arrayRange.firstRow
            && rc.second == c.formula.arrayRange.firstCol)
            out.push_back(rc);
}

const TableInfo *MemorySource::table(std::string_view name) const
{
    for (const TableInfo &t : m_tables)
        if (compareText(t.name, name) == 0)
            return &t;
    return nullptr;
}

const TableInfo *MemorySource::tableAt(int sheet, uint32_t row, uint32_t col) const
{
    for (const TableInfo &t : m_tables)
        if (t.sheet == sheet && row >= t.ref.firstRow && row <= t.ref.lastRow
            && col >= t.ref.firstCol && col <= t.ref.lastCol)
            return &t;
    return nullptr;
}

void MemorySource::setSharedFormula(int sheet, uint32_t row, uint32_t col, const std::string *text,
                                    uint32_t anchorRow, uint32_t anchorCol)
{
    Cell &c = cell(sheet, row, col);
    c.value = Value();
    c.formula = FormulaSource();
    c.formula.kind = FormulaSource::Kind::Text;
    c.formula.data = *text;
    c.formula.anchorRow = anchorRow;
    c.formula.anchorCol = anchorCol;
    c.formula.key = text;
}

void MemorySource::setTokens(int sheet, uint32_t row, uint32_t col, std::string tokens,
                             std::string extra)
{
    Cell &c = cell(sheet, row, col);
    c.text = std::move(tokens);
    c.extra = std::move(extra);
    c.value = Value();
    c.formula = FormulaSource();
    c.formula.kind = FormulaSource::Kind::Tokens;
    c.formula.data = c.text;
    c.formula.extra = c.extra;
    c.formula.anchorRow = row;
    c.formula.anchorCol = col;
}

void MemorySource::defineName(const std::string &name, const std::string &text, int scope)
{
    m_names.push_back({ name, text, scope });
}

int MemorySource::sheetIndex(std::string_view name) const
{
    for (size_t i = 0; i < m_sheets.size(); ++i)
        if (compareText(m_sheets[i].name, name) == 0)
            return int(i);
    return -1;
}

std::string MemorySource::sheetName(int sheet) const
{
    return sheet >= 0 && size_t(sheet) < m_sheets.size() ? m_sheets[size_t(sheet)].name
                                                         : std::string();
}

Value MemorySource::value(int sheet, uint32_t row, uint32_t col)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size())
        return Value();
    const auto &cells = m_sheets[size_t(sheet)].cells;
    auto it = cells.find({ row, col });
    return it == cells.end() ? Value() : it->second.value;
}

void MemorySource::cellsIn(int sheet, const CellRange &area,
                           const std::function<void(uint32_t, uint32_t, const Value &)> &visit)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size())
        return;
    const auto &cells = m_sheets[size_t(sheet)].cells;
    for (auto it = cells.lower_bound({ area.firstRow, 0 });
         it != cells.end() && it->first.first <= area.lastRow; ++it) {
        if (it->first.second >= area.firstCol && it->first.second <= area.lastCol)
            visit(it->first.first, it->first.second, it->second.value);
    }
}

bool MemorySource::extent(int sheet, CellRange &out)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size() || m_sheets[size_t(sheet)].cells.empty())
        return false;
    const auto &cells = m_sheets[size_t(sheet)].cells;
    out.firstRow = cells.begin()->first.first;
    out.lastRow = cells.rbegin()->first.first;
    out.firstCol = out.lastCol = cells.begin()->first.second;
    for (const auto &c : cells) {
        out.firstCol = std::min(out.firstCol, c.first.second);
        out.lastCol = std::max(out.lastCol, c.first.second);
    }
    return true;
}

FormulaSource MemorySource::formula(int sheet, uint32_t row, uint32_t col)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size())
        return {};
    const auto &cells = m_sheets[size_t(sheet)].cells;
    auto it = cells.find({ row, col });
    return it == cells.end() ? FormulaSource() : it->second.formula;
}

void MemorySource::formulaCells(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out)
{
    if (sheet < 0 || size_t(sheet) >= m_sheets.size())
        return;
    for (const auto &c : m_sheets[size_t(sheet)].cells)
        if (c.second.formula.kind != FormulaSource::Kind::None)
            out.push_back(c.first);
}

int MemorySource::rowState(int sheet, uint32_t row)
{
    auto it = m_rowStates.find({ sheet, row });
    return it == m_rowStates.end() ? 0 : it->second;
}

bool MemorySource::name(std::string_view name, int sheet, FormulaSource &out)
{
    const Name *global = nullptr;
    for (const Name &n : m_names) {
        if (compareText(n.name, name) != 0)
            continue;
        if (n.scope == sheet) {
            global = &n;
            break;
        }
        if (n.scope < 0 && !global)
            global = &n;
    }
    if (!global)
        return false;
    out = FormulaSource();
    out.kind = FormulaSource::Kind::Text;
    out.data = global->text;
    return true;
}

} // namespace sd::formula
