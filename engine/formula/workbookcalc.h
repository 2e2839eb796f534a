#pragma once

// Recalculation of a workbook read by one of the readers: the cell source
// over the workbook model, and the calculator the readers install.

#include "core/model.h"
#include "formula/evaluator.h"

#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace sd::formula {

// The workbook model as a cell source. Sheets are read (not recalculated)
// on first use.
class WorkbookSource final : public CellSource
{
public:
    explicit WorkbookSource(Workbook &book);

    int sheetIndex(std::string_view name) const override;
    bool externSheet(int index, int &first, int &last) const override;
    bool definedName(int index, NameRef &out) const override;
    std::string externName(int sheetIndex, int nameIndex) const override;
    const TableInfo *table(std::string_view name) const override;
    const TableInfo *tableAt(int sheet, uint32_t row, uint32_t col) const override;

    int sheetCount() const override { return int(m_book.sheets.size()); }
    std::string sheetName(int sheet) const override;
    bool date1904() const override { return m_book.date1904; }
    uint32_t maxRows() const override { return m_book.gridRows; }
    uint32_t maxColumns() const override { return m_book.gridColumns; }
    Value value(int sheet, uint32_t row, uint32_t col) override;
    void cellsIn(int sheet, const CellRange &area,
                 const std::function<void(uint32_t, uint32_t, const Value &)> &visit) override;
    bool extent(int sheet, CellRange &out) override;
    FormulaSource formula(int sheet, uint32_t row, uint32_t col) override;
    void formulaCells(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out) override;
    bool name(std::string_view name, int sheet, FormulaSource &out) override;
    void dynamicAnchors(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out) override;
    int rowState(int sheet, uint32_t row) override;

    // A cell's stored value as the engine sees it.
    Value cellValue(const Cell &c) const;

private:
    struct SheetData
    {
        const Sheet *sheet = nullptr;
        bool extentKnown = false, hasExtent = false;
        CellRange extent;
        std::unordered_map<uint64_t, uint32_t> formulaAt; // (row, col) -> index in formulas
    };
    SheetData *data(int sheet);

    Workbook &m_book;
    std::vector<SheetData> m_sheets;
    bool m_volatileNames = false; // a defined name calls a volatile function
    std::unordered_map<std::string, const TableInfo *> m_tablesByName; // upper case
    std::unordered_map<int, std::vector<const TableInfo *>> m_tablesBySheet;
};

// Quick scans for readers: whether formula text or BIFF tokens may call a
// function the table flags Volatile (NOW, TODAY, RAND, OFFSET, INDIRECT ...).
// They err on the side of yes.
bool textLooksVolatile(std::string_view text);
bool tokensLookVolatile(std::string_view tokens);

// Installs the calculator on a workbook: after each sheet is read, its
// formulas are recalculated where the application would recalculate them
// (no cached result, a full calculation asked for on load, volatile
// functions and what depends on them).
void installCalculator(Workbook &book);

// Writes a computed value into a cell of the model (text into book.strings).
void storeValue(Workbook &book, const Value &v, Cell &cell);

} // namespace sd::formula
