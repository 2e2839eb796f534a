#pragma once

// Internals of the evaluator shared by its source files and the function
// implementations.

#include "formula/ast.h"
#include "formula/evaluator.h"
#include "formula/functions.h"
#include "formula/value.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

namespace sd {
class NumberFormat;
}

namespace sd::formula {

// Where an expression is evaluated: the formula's cell (the base of relative
// references and implicit intersection) and whether ranges are taken as
// arrays (array formulas, array arguments) or intersected.
struct Ctx
{
    int sheet = 0;
    uint32_t row = 0, col = 0;
    bool array = false;
};

// Thrown while evaluating: the cells in EvaluatorPrivate::m_need must be
// computed first.
struct NeedCells
{
};
// Thrown for what the evaluator cannot evaluate; the cell keeps its cached value.
struct Unsupported
{
    std::string reason;
    bool unknownFunction = false;
};
// Thrown when a cell being computed is read again: a circular reference.
struct Circular
{
    uint64_t key;
};
struct OutOfSteps
{
};

using CellVisitor = std::function<void(const Value &v, uint32_t row, uint32_t col)>;

// The evaluator behind Evaluator's interface: the memo of every formula
// cell's state, the work stack that computes them in dependency order, and
// the evaluation of expression nodes for the function implementations.
class EvaluatorPrivate
{
public:
    EvaluatorPrivate(CellSource &source, const EvalOptions &options);
    ~EvaluatorPrivate();

    // ---- driver (evaluator.cpp) ----
    CellResult result(int sheet, uint32_t row, uint32_t col);
    bool recalculates(int sheet, uint32_t row, uint32_t col);

    // ---- expression nodes (evalnodes.cpp; cell() in evaluator.cpp) ----
    Value eval(const Formula &f, uint32_t node, const Ctx &ctx);
    // A value as a single argument: references intersected with the cell
    // (or, in array context, turned into arrays).
    Value deref(const Value &v, const Ctx &ctx);
    Value intersect(const Value &ref, const Ctx &ctx);
    // The recalculated value of one cell (blank when empty).
    Value cell(int sheet, uint32_t row, uint32_t col);
    // Non-blank cells of a reference, row by row within each area.
    void visit(const Value &ref, const CellVisitor &f);
    // A reference, array or scalar as an array (bounded in size).
    ArrayData toArray(const Value &v);
    // The values of a one-sheet area, read once and kept (lookups read the
    // same table many times); nullptr when the area is too large to keep.
    std::shared_ptr<const ArrayData> areaValues(const Area &a);
    void step(uint64_t n = 1)
    {
        m_steps += n;
        if (m_steps > m_options.stepLimit)
            throw OutOfSteps();
    }

    // ---- operators (operators.cpp) ----
    Value unaryOp(Op op, const Value &v);
    // `snap`: the operation is the formula's last, and an addition or
    // subtraction there whose result lies within rounding noise of zero
    // gives 0 (the application's correction for binary fractions: 0.5-0.4-0.1
    // is 0, while 1*(0.5-0.4-0.1) is -2.78E-17 and (C22-1)/(C22+1) keeps its
    // tiny quotient).
    Value binaryOp(Op op, const Value &a, const Value &b, bool snap = false);
    Value referenceOp(Op op, const Value &a, const Value &b);
    // Applies a scalar function element by element over array arguments.
    Value lift(std::vector<Value> &args, const std::function<Value(const std::vector<Value> &)> &f);

    // ---- what functions ask of the workbook (evaluator.cpp) ----
    // True when the cell holds a formula that calls SUBTOTAL (which other
    // subtotals leave out).
    bool isSubtotal(int sheet, uint32_t row, uint32_t col);
    // The formula of a cell evaluated as though it stood `down` rows lower
    // (a database function's computed criterion, written for the first row
    // of the database, applied to each); false when the cell holds none.
    bool formulaMovedDown(int sheet, uint32_t row, uint32_t col, uint32_t down, Value &out);
    // A number format by its code, parsed once.
    const NumberFormat &format(const std::string &code);

    // ---- LET's names (evalnodes.cpp) ----
    // Binds a name for the rest of the innermost LET; names are looked up
    // before defined names, the last bound first.
    void bindLocal(const std::string &name, Value v);
    size_t localCount() const { return m_locals.size(); }
    void dropLocals(size_t keep) { m_locals.resize(keep); }

    CellSource &source() { return m_source; }
    bool date1904() const { return m_date1904; }
    double now(); // serial date-time of the clock, local time
    double random(); // [0, 1)
    uint64_t steps() const { return m_steps; }

private:
    enum class State : uint8_t { Fresh, Pending, Active, Done };
    struct Entry
    {
        FormulaSource src;
        State state = State::Fresh;
        int8_t recalc = -1; // -1 not yet decided
        EvalStatus status = EvalStatus::Cached;
        Value value;
        std::string reason;
    };
    struct SheetIndex
    {
        bool built = false;
        std::map<uint32_t, std::vector<uint32_t>> rowsByColumn; // formula cells
    };
    struct ParsedName
    {
        std::shared_ptr<Formula> formula;
    };

    static uint64_t key(int sheet, uint32_t row, uint32_t col)
    {
        return (uint64_t(uint32_t(sheet)) << 34) | (uint64_t(row) << 14) | col;
    }
    Entry *entry(int sheet, uint32_t row, uint32_t col);
    Entry *entry(uint64_t k);
    void buildIndex(int sheet);
    bool recalc(Entry &e, uint64_t k);
    void run(uint64_t k);
    void prescan(uint64_t k, Entry &e, std::vector<uint64_t> &pushed);
    Value compute(uint64_t k, Entry &e);
    void settle(Entry &e, EvalStatus status, std::string reason, bool unknownFunction = false);
    std::shared_ptr<Formula> parsed(const FormulaSource &src, int sheet);
    Value arrayElement(uint64_t k, Entry &e, const Formula &f, int sheet, uint32_t row,
                       uint32_t col);

    // ---- dynamic arrays (spill.cpp) ----
public:
    // A dynamic array anchor's result where it spills, or nullptr.
    std::shared_ptr<const ArrayData> spilledArray(int sheet, uint32_t row, uint32_t col);
    // The cells a dynamic array anchored at the cell fills (A1# in the
    // application); false when no dynamic array is anchored there.
    bool spillRange(int sheet, uint32_t row, uint32_t col, Area &out);
    struct SpilledCell
    {
        uint32_t row, col;
        Value value;
    };
    // The cells of `range` that dynamic arrays spill into beyond the ranges
    // their file recorded (their anchors computed first).
    void spilledCellsIn(int sheet, const CellRange &range, std::vector<SpilledCell> &out);

private:
    Value dynamicElement(uint64_t anchor, Entry &e, uint32_t row, uint32_t col);
    bool spillBlocked(uint64_t anchor, const Entry &e, const ArrayData &a);
    // The value a dynamic array spills into an empty cell outside the range
    // its file recorded; false when none does.
    bool spilledValue(int sheet, uint32_t row, uint32_t col, Value &out);
    const std::vector<std::pair<uint32_t, uint32_t>> &dynamicAnchors(int sheet);
    Value callFunction(const Formula &f, const Node &n, const Ctx &ctx);
    Value evalName(const NameRef &ref, const Ctx &ctx);
    bool resolve(const RefSpec &r, const Ctx &ctx, Area &out) const;
    void needFormulasIn(const Area &a);
    void computeVolatile();
    void staticAreas(const Formula &f, const Ctx &ctx, std::vector<Area> &out, int depth);

    CellSource &m_source;
    EvalOptions m_options;
    bool m_date1904 = false;
    uint32_t m_maxRows, m_maxCols;
    std::unordered_map<uint64_t, Entry> m_entries;
    std::vector<SheetIndex> m_index;
    std::unordered_map<const void *, std::shared_ptr<Formula>> m_parsed;
    std::unordered_map<std::string, std::shared_ptr<Formula>> m_names;
    std::unordered_map<uint64_t, std::shared_ptr<const ArrayData>>
        m_arrays; // array formula results by anchor
    std::unordered_map<uint64_t, bool> m_spillBlocked; // dynamic arrays by anchor
    std::map<int, std::vector<std::pair<uint32_t, uint32_t>>> m_dynamicAnchors; // by sheet
    std::unordered_map<std::string, std::unique_ptr<NumberFormat>> m_formats;
    std::map<std::tuple<int, uint32_t, uint32_t, uint32_t, uint32_t>,
             std::shared_ptr<const ArrayData>>
        m_areaCache;
    size_t m_areaCacheCells = 0;
    std::vector<std::pair<std::string, Value>> m_locals; // LET's names, upper case
    std::vector<uint64_t> m_need;
    uint64_t m_steps = 0;
    bool m_exhausted = false;
    bool m_volatileDone = false;
    int m_nameDepth = 0;
    const Formula *m_cellFormula = nullptr; // the formula being computed, whose root may snap
    std::mt19937_64 m_rng;
    double m_now = -1;
};

// The names a LET binds, dropped when it returns (or throws).
class LocalScope
{
public:
    explicit LocalScope(EvaluatorPrivate &e)
        : m_e(e)
        , m_keep(e.localCount())
    {
    }
    ~LocalScope() { m_e.dropLocals(m_keep); }
    LocalScope(const LocalScope &) = delete;
    LocalScope &operator=(const LocalScope &) = delete;

private:
    EvaluatorPrivate &m_e;
    size_t m_keep;
};

// One function call as its implementation sees it.
class Call
{
public:
    Call(EvaluatorPrivate &evaluator, const Formula &f, const Node &node, const Ctx &ctx,
         const FunctionInfo &info);

    EvaluatorPrivate &evaluator;
    const Ctx &ctx;
    const FunctionInfo &info;

    int count() const { return m_count; }
    // Argument i evaluated as its class says (cached). Omitted or empty: Blank.
    const Value &arg(int i);
    // Sets an argument's value (element-wise application).
    void preset(int i, Value v);
    bool isEmpty(int i) const; // written as an empty argument, e.g. f(1,)
    // A scalar argument coerced; 0 on success, else the error code.
    uint8_t number(int i, double &out);
    uint8_t text(int i, std::string &out);
    uint8_t boolean(int i, bool &out);
    // A scalar argument: a reference intersected, an array's first element.
    Value scalar(int i);
    const Formula &formula() const { return m_f; }
    uint32_t argNode(int i) const { return m_f.child(m_node, uint32_t(i)); }

private:
    const Formula &m_f;
    const Node &m_node;
    int m_count;
    std::vector<Value> m_values;
    std::vector<uint8_t> m_done;
};

// Function implementations helpers.
#define SD_NUMBER(call, i, var)                                                                    \
    double var = 0;                                                                                \
    if (uint8_t e_ = (call).number(i, var))                                                        \
        return Value::err(e_);
#define SD_TEXT(call, i, var)                                                                      \
    std::string var;                                                                               \
    if (uint8_t e_ = (call).text(i, var))                                                          \
        return Value::err(e_);

// Excel's comparison of two scalars: <0, 0, >0; errors are not compared.
int compareValues(const Value &a, const Value &b);
// Addition that snaps results within rounding noise of zero to zero (the
// last operation of a formula only).
double approxAdd(double a, double b);
bool approxEqual(double a, double b);

} // namespace sd::formula
