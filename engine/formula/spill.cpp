// Dynamic array formulas: the result takes its own size from the anchor
// cell. Cells of the range the file recorded that the result no longer
// reaches are empty (not #N/A as in an array formula of fixed size); a
// result that reaches further spills into the cells beyond when they are
// empty, and shows #SPILL! in its anchor (the rest empty) when one of them
// holds a value or a formula.

#include "formula/evaluator_p.h"

#include <algorithm>

namespace sd::formula {

bool EvaluatorPrivate::spillBlocked(uint64_t anchor, const Entry &e, const ArrayData &a)
{
    auto known = m_spillBlocked.find(anchor);
    if (known != m_spillBlocked.end())
        return known->second;
    const int sheet = int(anchor >> 34);
    const CellRange &recorded = e.src.arrayRange;
    bool blocked = false;
    for (uint32_t r = 0; r < a.rows && !blocked; ++r) {
        for (uint32_t c = 0; c < a.cols && !blocked; ++c) {
            const uint64_t row = uint64_t(recorded.firstRow) + r;
            const uint64_t col = uint64_t(recorded.firstCol) + c;
            if (row <= recorded.lastRow && col <= recorded.lastCol)
                continue;
            step();
            if (row >= m_maxRows || col >= m_maxCols) {
                blocked = true;
                break;
            }
            blocked = entry(sheet, uint32_t(row), uint32_t(col)) != nullptr
                || m_source.value(sheet, uint32_t(row), uint32_t(col)).type != ValueType::Blank;
        }
    }
    m_spillBlocked.emplace(anchor, blocked);
    return blocked;
}

Value EvaluatorPrivate::dynamicElement(uint64_t anchor, Entry &e, uint32_t row, uint32_t col)
{
    const ArrayData &a = *m_arrays.at(anchor);
    const uint32_t r = row - e.src.arrayRange.firstRow, c = col - e.src.arrayRange.firstCol;
    Entry *first = entry(anchor);
    if (spillBlocked(anchor, first ? *first : e, a))
        return r == 0 && c == 0 ? Value::err(ErrSpill) : Value();
    if (r >= a.rows || c >= a.cols)
        return Value();
    return a.at(r, c);
}

const std::vector<std::pair<uint32_t, uint32_t>> &EvaluatorPrivate::dynamicAnchors(int sheet)
{
    auto it = m_dynamicAnchors.find(sheet);
    if (it == m_dynamicAnchors.end()) {
        std::vector<std::pair<uint32_t, uint32_t>> anchors;
        m_source.dynamicAnchors(sheet, anchors);
        it = m_dynamicAnchors.emplace(sheet, std::move(anchors)).first;
    }
    return it->second;
}

bool EvaluatorPrivate::spilledValue(int sheet, uint32_t row, uint32_t col, Value &out)
{
    for (const auto &[ar, ac] : dynamicAnchors(sheet)) {
        if (ar > row || ac > col)
            continue;
        const uint64_t k = key(sheet, ar, ac);
        Entry *a = entry(k);
        if (!a || !a->src.dynamic || !recalc(*a, k))
            continue; // a cached result keeps the range the file recorded
        const CellRange &recorded = a->src.arrayRange;
        if (row <= recorded.lastRow && col <= recorded.lastCol)
            continue;
        if (a->state == State::Active)
            continue; // the formula reads where it would spill: no spill yet
        if (a->state != State::Done) {
            m_need.push_back(k);
            throw NeedCells();
        }
        auto it = m_arrays.find(k);
        if (it == m_arrays.end() || a->status != EvalStatus::Computed)
            continue;
        const ArrayData &data = *it->second;
        if (row - ar >= data.rows || col - ac >= data.cols || spillBlocked(k, *a, data))
            continue;
        out = data.at(row - ar, col - ac);
        return true;
    }
    return false;
}

void EvaluatorPrivate::spilledCellsIn(int sheet, const CellRange &range,
                                      std::vector<SpilledCell> &out)
{
    for (const auto &[ar, ac] : dynamicAnchors(sheet)) {
        if (ar > range.lastRow || ac > range.lastCol)
            continue;
        const uint64_t k = key(sheet, ar, ac);
        Entry *a = entry(k);
        if (!a || !a->src.dynamic || !recalc(*a, k) || a->state == State::Active)
            continue;
        if (a->state != State::Done) {
            m_need.push_back(k);
            throw NeedCells();
        }
        auto it = m_arrays.find(k);
        if (it == m_arrays.end() || a->status != EvalStatus::Computed
            || spillBlocked(k, *a, *it->second))
            continue;
        const ArrayData &data = *it->second;
        const CellRange &recorded = a->src.arrayRange;
        const uint32_t r1 = std::max(ar, range.firstRow), c1 = std::max(ac, range.firstCol);
        const uint32_t r2 = std::min<uint64_t>(uint64_t(ar) + data.rows - 1, range.lastRow);
        const uint32_t c2 = std::min<uint64_t>(uint64_t(ac) + data.cols - 1, range.lastCol);
        for (uint32_t r = r1; r <= r2 && r1 <= r2; ++r)
            for (uint32_t c = c1; c <= c2 && c1 <= c2; ++c) {
                if (r <= recorded.lastRow && c <= recorded.lastCol)
                    continue;
                step();
                const Value &v = data.at(r - ar, c - ac);
                if (v.type != ValueType::Blank)
                    out.push_back({ r, c, v });
            }
    }
}

bool EvaluatorPrivate::spillRange(int sheet, uint32_t row, uint32_t col, Area &out)
{
    const uint64_t k = key(sheet, row, col);
    Entry *e = entry(k);
    if (!e || !e->src.dynamic || e->src.arrayRange.firstRow != row
        || e->src.arrayRange.firstCol != col)
        return false;
    const CellRange &recorded = e->src.arrayRange;
    out.sheet = out.lastSheet = sheet;
    out.row1 = row, out.col1 = col;
    out.row2 = recorded.lastRow, out.col2 = recorded.lastCol;
    if (!recalc(*e, k))
        return true;
    cell(sheet, row, col); // computes the anchor first
    auto it = m_arrays.find(k);
    if (it != m_arrays.end() && !spillBlocked(k, *e, *it->second)) {
        out.row2 = row + it->second->rows - 1;
        out.col2 = col + it->second->cols - 1;
    }
    return true;
}

std::shared_ptr<const ArrayData> EvaluatorPrivate::spilledArray(int sheet, uint32_t row,
                                                                uint32_t col)
{
    const uint64_t k = key(sheet, row, col);
    Entry *e = entry(k);
    if (!e || !e->src.dynamic || e->state != State::Done || e->status != EvalStatus::Computed)
        return nullptr;
    auto it = m_arrays.find(k);
    if (it == m_arrays.end() || spillBlocked(k, *e, *it->second))
        return nullptr;
    return it->second;
}

} // namespace sd::formula
