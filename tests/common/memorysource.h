#pragma once

// A cell source held in memory: sheets of values and A1 formula texts, and
// defined names. For tests and the formula fuzz target; the readers use
// their own (formula/workbookcalc.h).

#include "formula/evaluator.h"

#include <map>
#include <string>
#include <vector>

namespace sd::formula {

class MemorySource final : public CellSource
{
public:
    int addSheet(const std::string &name);
    // A constant.
    void set(int sheet, uint32_t row, uint32_t col, Value v);
    // A formula (A1 text as the xlsx format stores it), with or without a cached result.
    void setFormula(int sheet, uint32_t row, uint32_t col, const std::string &text);
    void setFormula(int sheet, uint32_t row, uint32_t col, const std::string &text, Value cached);
    // An array formula over `range`, written in its top-left cell.
    void setArrayFormula(int sheet, const CellRange &range, const std::string &text);
    // A dynamic array formula that spilled over `range` when it was saved.
    void setDynamicArrayFormula(int sheet, const CellRange &range, const std::string &text);
    // A cell of a shared formula written for (anchorRow, anchorCol).
    void setSharedFormula(int sheet, uint32_t row, uint32_t col, const std::string *text,
                          uint32_t anchorRow, uint32_t anchorCol);
    // BIFF tokens.
    void setTokens(int sheet, uint32_t row, uint32_t col, std::string tokens,
                   std::string extra = {});
    void defineName(const std::string &name, const std::string &text, int scope = -1);
    void addTable(TableInfo t) { m_tables.push_back(std::move(t)); }
    void setDate1904(bool on) { m_date1904 = on; }
    void setGrid(uint32_t rows, uint32_t cols) { m_rows = rows, m_cols = cols; }
    // A row hidden (state 1) or hidden by a filter (2).
    void setRowState(int sheet, uint32_t row, int state) { m_rowStates[{ sheet, row }] = state; }

    // CellSource
    int sheetIndex(std::string_view name) const override;
    int sheetCount() const override { return int(m_sheets.size()); }
    std::string sheetName(int sheet) const override;
    bool date1904() const override { return m_date1904; }
    uint32_t maxRows() const override { return m_rows; }
    uint32_t maxColumns() const override { return m_cols; }
    Value value(int sheet, uint32_t row, uint32_t col) override;
    void cellsIn(int sheet, const CellRange &area,
                 const std::function<void(uint32_t, uint32_t, const Value &)> &visit) override;
    bool extent(int sheet, CellRange &out) override;
    FormulaSource formula(int sheet, uint32_t row, uint32_t col) override;
    void formulaCells(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out) override;
    bool name(std::string_view name, int sheet, FormulaSource &out) override;
    void dynamicAnchors(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out) override;
    const TableInfo *table(std::string_view name) const override;
    const TableInfo *tableAt(int sheet, uint32_t row, uint32_t col) const override;
    int rowState(int sheet, uint32_t row) override;

private:
    struct Cell
    {
        Value value;
        FormulaSource formula;
        std::string text; // owns the formula text or tokens
        std::string extra;
    };
    struct Sheet
    {
        std::string name;
        std::map<std::pair<uint32_t, uint32_t>, Cell> cells; // (row, col)
    };
    struct Name
    {
        std::string name, text;
        int scope;
    };
    Cell &cell(int sheet, uint32_t row, uint32_t col);

    std::vector<Sheet> m_sheets;
    std::vector<Name> m_names;
    std::vector<TableInfo> m_tables;
    std::map<std::pair<int, uint32_t>, int> m_rowStates;
    bool m_date1904 = false;
    uint32_t m_rows = kMaxRows, m_cols = kMaxColumns;
};

} // namespace sd::formula
