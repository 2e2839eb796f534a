#pragma once

// The formula evaluator: computes the cells of a workbook that need it, on
// demand, memoised, in dependency order, over an abstract cell source.

#include "formula/ast.h"
#include "formula/value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sd::formula {

// How a cell's formula is stored, as the evaluator asks for it.
struct FormulaSource
{
    enum class Kind : uint8_t { None, Text, Tokens };
    Kind kind = Kind::None;
    std::string_view data; // A1 text, or BIFF tokens
    std::string_view extra; // BIFF: the data after the tokens (array constants)
    uint32_t anchorRow = 0, anchorCol = 0; // the cell the text or tokens were written for
    // Cells that share one formula (a shared formula, an array formula) give
    // the same key, so it is parsed once; nullptr parses per cell.
    const void *key = nullptr;
    bool array = false; // part of an array formula over arrayRange (anchored at its top-left)
    // A dynamic array: arrayRange is where its result spilled when the file
    // was saved; the result takes its own size (see arrayElement()).
    bool dynamic = false;
    CellRange arrayRange;
    bool cached = false; // the cell holds a result computed by the last application that saved it
    bool mayBeVolatile = true; // false: the reader's scan found no volatile call
    bool biff5 = false;
};

// What the evaluator needs of a workbook. Sheet indexes are workbook order.
class CellSource : public ParseContext
{
public:
    virtual int sheetCount() const = 0;
    virtual std::string sheetName(int sheet) const = 0;
    virtual bool date1904() const = 0;
    // Grid size: relative references wrap around at these bounds.
    virtual uint32_t maxRows() const { return kMaxRows; }
    virtual uint32_t maxColumns() const { return kMaxColumns; }
    // The stored value of a cell: a constant, or a formula's cached result
    // (Blank when it has none).
    virtual Value value(int sheet, uint32_t row, uint32_t col) = 0;
    // Visits every recorded cell of `area` on `sheet` (blank records and every
    // formula cell included), row by row.
    virtual void
    cellsIn(int sheet, const CellRange &area,
            const std::function<void(uint32_t row, uint32_t col, const Value &)> &visit)
        = 0;
    // Smallest rectangle holding the sheet's cells; false for an empty sheet.
    virtual bool extent(int sheet, CellRange &out) = 0;
    // The formula of a cell; Kind::None when it holds none.
    virtual FormulaSource formula(int sheet, uint32_t row, uint32_t col) = 0;
    // Every formula cell of a sheet (row, column), in any order.
    virtual void formulaCells(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out) = 0;
    // A defined name visible from `sheet` (its sheet-level names first, then
    // the workbook's); false when there is none.
    virtual bool name(std::string_view name, int sheet, FormulaSource &out) = 0;
    // The anchors (top-left cells) of the sheet's dynamic array formulas.
    virtual void dynamicAnchors(int sheet, std::vector<std::pair<uint32_t, uint32_t>> &out)
    {
        (void)sheet, (void)out;
    }
    // Whether a row is shown (0), hidden (1) or hidden by the sheet's filter
    // (2), for SUBTOTAL.
    virtual int rowState(int sheet, uint32_t row)
    {
        (void)sheet, (void)row;
        return 0;
    }
};

struct EvalOptions
{
    // Recalculate every formula (the oracle, and workbooks that ask for a
    // full calculation on load). Otherwise only formulas without a cached
    // result, volatile ones and those that depend on them.
    bool recalculateAll = false;
    // Unix time for NOW and TODAY; SOURCE_DATE_EPOCH or the current time when 0.
    int64_t clock = 0;
    double utcOffsetSeconds = 0; // local time = UTC + offset
    uint64_t randomSeed = 0; // RAND; 0 takes one from the clock
    uint64_t stepLimit = kMaxEvaluationSteps; // bound on the work of one workbook
    // Volatile formulas keep their cached results (comparing with a file's
    // results, whose clock and random numbers cannot be repeated).
    bool keepVolatile = false;
};

// Why a formula cell kept its cached value (or showed none).
enum class EvalStatus : uint8_t {
    Cached, // not recalculated: the cached value stands
    Computed,
    ParseError, // the formula could not be parsed
    Unsupported, // an unknown function, an external or table reference ...
    Circular, // part of a circular reference
    StepLimit, // the evaluation budget ran out
};

struct CellResult
{
    Value value;
    EvalStatus status = EvalStatus::Cached;
    std::string reason; // for ParseError and Unsupported
};

class EvaluatorPrivate;

class Evaluator
{
public:
    Evaluator(CellSource &source, const EvalOptions &options = {});
    ~Evaluator();
    Evaluator(const Evaluator &) = delete;
    Evaluator &operator=(const Evaluator &) = delete;

    // The value a cell shows after recalculation: its computed result where
    // the cell is recalculated, otherwise the stored value.
    Value value(int sheet, uint32_t row, uint32_t col);
    // The same with the reason, for formula cells.
    CellResult result(int sheet, uint32_t row, uint32_t col);
    // True when the cell's formula is recalculated under the options.
    bool recalculates(int sheet, uint32_t row, uint32_t col);
    // Steps spent so far (for benchmarks).
    uint64_t steps() const;
    // The result of the dynamic array formula anchored at the cell, when it
    // was computed and spills (blanks shown as 0); nullptr otherwise.
    std::shared_ptr<const ArrayData> spilledArray(int sheet, uint32_t row, uint32_t col);

private:
    std::unique_ptr<EvaluatorPrivate> m_d;
};

// Unix time for NOW/TODAY: SOURCE_DATE_EPOCH when set, else the current time.
int64_t clockNow();

} // namespace sd::formula
