#pragma once

// The workbook model shared by the .xlsx and .xls readers, the displayed-text
// renderer and the CSV writer. Readers fill it; nothing above the engine sees
// file-format details.

#include "io/error.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sd {

class SheetStream;

// Largest sheet any format allows (the .xlsx grid); readers enforce their own.
constexpr uint32_t kMaxRows = 1048576;
constexpr uint32_t kMaxColumns = 16384;

enum class SheetKind : uint8_t { Worksheet, Chart, Dialog, Macro, Module };
enum class SheetState : uint8_t { Visible, Hidden, VeryHidden };

enum class CellType : uint8_t {
    Blank, // recorded with a format only: counts for the used range, shows as empty
    Number, // number (dates and times are numbers with a date format)
    Text, // index into Workbook::strings
    Bool, // number is 0 or 1
    Error, // number holds the error code (see ErrorCode below)
};

// Cell error values, numbered as BIFF stores them.
enum CellError : uint8_t {
    ErrNull = 0x00,
    ErrDiv0 = 0x07,
    ErrValue = 0x0F,
    ErrRef = 0x17,
    ErrName = 0x1D,
    ErrNum = 0x24,
    ErrNA = 0x2A,
    ErrGettingData = 0x2B,
    // Errors of later versions, which only .xlsx files hold; numbered on
    // from #GETTING_DATA in the order ERROR.TYPE counts them (9 to 14).
    ErrSpill = 0x2C,
    ErrConnect = 0x2D,
    ErrBlocked = 0x2E,
    ErrUnknown = 0x2F,
    ErrField = 0x30,
    ErrCalc = 0x31,
};
const char *cellErrorText(uint8_t code); // "#DIV/0!" ..., "#N/A" for unknown codes

// One recorded cell. 0-based row and column; xf indexes Workbook::xfs.
struct Cell
{
    uint32_t row = 0;
    uint32_t col = 0;
    uint32_t xf = 0;
    CellType type = CellType::Blank;
    uint32_t text = 0; // Text: index into Workbook::strings
    double number = 0.0; // Number, Bool (0/1), Error (code)
};

struct CellRange
{
    uint32_t firstRow = 0, firstCol = 0, lastRow = 0, lastCol = 0; // inclusive, 0-based
    uint32_t rows() const { return lastRow - firstRow + 1; }
    uint32_t columns() const { return lastCol - firstCol + 1; }
};

// A run of rows or of columns, inclusive and 0-based; empty until added to.
struct Span
{
    uint32_t first = UINT32_MAX, last = 0;
    bool empty() const { return first > last; }
    void add(uint32_t from, uint32_t to)
    {
        first = std::min(first, from);
        last = std::max(last, to);
    }
};

// The column ranges a sheet describes (.xls COLINFO, xlsx <col>), reduced
// to the columns they add to the used range (Sheet::usedRange() gives the
// rule and the files that show it). A range that runs to the grid's last
// column carries the format of the whole width; a range that ends inside
// the grid counts when its format differs from that one, when it is hidden
// with a width above zero, or when it belongs to an outline group. Holds a
// few numbers however many ranges and formats the file has.
class ColumnRanges
{
public:
    // wholeWidthXf: the format of the whole width when no range runs to the
    // grid's end (the default cell format).
    explicit ColumnRanges(uint32_t wholeWidthXf)
        : m_wholeWidthXf(wholeWidthXf)
    {
    }
    // Columns first..last (0-based, first <= last); hiddenOrGrouped: hidden
    // with a width above zero, or in an outline group; toGridEnd: the range
    // runs to the grid's last column.
    void add(uint32_t first, uint32_t last, uint32_t xf, bool hiddenOrGrouped, bool toGridEnd);
    // The columns that widen the used range; empty when none do.
    Span counted() const;

private:
    // A column that a range of format `xf` reaches.
    struct Reach
    {
        uint32_t column = 0, xf = 0;
        bool set = false;
    };
    // Keeps, of the ranges ending inside the grid, the two furthest reaches
    // of two different formats, so that one format (the whole width's,
    // known only at the end) can be left out.
    static void reach(Reach (&best)[2], uint32_t column, uint32_t xf, bool lower);
    static const Reach *furthest(const Reach (&best)[2], uint32_t exceptXf);

    Reach m_first[2], m_last[2]; // lowest first column, highest last column
    Span m_hidden; // ranges ending inside the grid, hidden (with a width) or grouped
    uint32_t m_wholeWidthXf;
};

// A formula as the file stores it, kept (unparsed) so that it can be
// recalculated where the application would recalculate it.
struct CellFormula
{
    enum Flags : uint8_t {
        Tokens = 1, // BIFF parsed-expression tokens; otherwise A1 text
        Cached = 2, // the cell holds the result the file stored
        Array = 4, // one cell of an array formula over `range`
        Volatile = 8, // calls a function the application recalculates on every load
        Biff5 = 16, // tokens in the BIFF5/7 layout
        Dynamic = 32, // Array: a dynamic array, whose result spills to its own size
    };
    static constexpr uint32_t kNone = UINT32_MAX;
    uint32_t row = 0, col = 0;
    uint32_t anchorRow = 0, anchorCol = 0; // the cell the text or tokens were written for
    uint32_t data = kNone; // Sheet::formulaData: the text or tokens (shared by a shared formula)
    uint32_t extra = kNone; // Sheet::formulaData: BIFF data after the tokens
    uint8_t flags = 0;
    CellRange range; // Array: the whole array
};

struct Sheet
{
    std::vector<Cell> cells; // readers append in file order; finish() sorts
    std::vector<CellFormula> formulas; // formula cells, in file order
    std::vector<std::string> formulaData; // their texts and tokens
    bool finished = false;
    bool calculated = false; // recalculation (if any) has run
    // The rectangle that merged areas and commented cells add to the used
    // range without holding a value (see widen()); valid when hasExtent.
    CellRange extent;
    bool hasExtent = false;
    // Workbook::strings from firstString up to endString were added while
    // this sheet loaded (its inline text); set by Workbook::sheet().
    size_t firstString = 0, endString = 0;
    // The rows the file records (an .xls ROW record, an xlsx <row>
    // element), with or without cells, and the columns its column ranges
    // add (ColumnRanges::counted()): each widens the used range along its
    // own axis only.
    Span formattedRows, formattedColumns;
    // Hidden rows as runs of rows (first, last), in the order the file
    // gives them, and the filter of the sheet: while `filtering` (the sheet
    // shows a filter's result), the hidden rows inside `filterRows` (all of
    // them when it is empty) are hidden by the filter. Formulas tell the two
    // apart (SUBTOTAL); the CSV writes hidden rows like any other.
    std::vector<std::pair<uint32_t, uint32_t>> hiddenRows;
    Span filterRows;
    bool filtering = false;
    // Set (by the CSV writer) only while the sheet is read to be streamed:
    // a reader that streams hands its cells over in batches instead of
    // keeping them (core/sheetstream.h).
    SheetStream *stream = nullptr;

    // Sorts cells row-major and drops earlier duplicates of the same cell
    // (the later record wins, as in the application).
    void finish();
    // Smallest rectangle holding every cell, the extent, every recorded
    // row and every counted column. Rows alone make no range: a sheet
    // without any column is A1:A1, and one with columns but no row spans
    // row 1. See model.cpp for the rule and the files that show it.
    CellRange usedRange() const;
    // The same with the rows and columns of the cells given as spans
    // instead of read from `cells`.
    CellRange usedRange(Span cellRows, Span cellColumns) const;
    // Widens the used range to (row, col) without recording a cell: a merged
    // area's or a comment's corner. Costs no memory however often it is
    // called, and a real cell at that place keeps its value.
    void widen(uint32_t row, uint32_t col);
    // The cell at (row, col), or nullptr. Needs finish().
    const Cell *find(uint32_t row, uint32_t col) const;
    // Records a hidden row (joined to the run before it when adjacent).
    void hideRow(uint32_t row);
    // 0 shown, 1 hidden, 2 hidden by the filter. Needs finish().
    int rowState(uint32_t row) const;
};

// One entry of the cell-format table (xlsx cellXfs, BIFF XF records).
struct Xf
{
    uint16_t numFmtId = 0;
    bool quotePrefix = false;
};

struct SheetInfo
{
    std::string name; // UTF-8
    SheetKind kind = SheetKind::Worksheet;
    SheetState state = SheetState::Visible;
};

class Workbook;

// A defined name: its text (xlsx) or parsed-expression tokens (.xls).
struct DefinedName
{
    std::string name; // UTF-8; built-in names as "_xlnm.Print_Area"
    int scope = -1; // sheet index, -1 for the workbook
    std::string data; // A1 text or tokens
    std::string extra; // BIFF: data after the tokens
    bool tokens = false;
    bool biff5 = false;
};

// A table (an .xlsx table part, a list object): where it lies and what its
// columns are called, for the structured references of formulas
// (Table1[Amount]).
struct TableInfo
{
    std::string name; // as formulas call it (the displayName)
    int sheet = -1;
    CellRange ref; // header rows, data and totals rows
    uint32_t headerRows = 1, totalsRows = 0;
    std::vector<std::string> columns; // left to right
};

// BIFF: one EXTERNSHEET entry; first/last are sheet indexes when the entry
// points into this workbook, -1 otherwise.
struct ExternSheet
{
    int supbook = -1;
    int first = -1, last = -1;
};

// Recalculates formula cells after a sheet is read. Installed by the
// readers; the formula engine implements it.
class SheetCalculator
{
public:
    virtual ~SheetCalculator() = default;
    virtual void calculate(Workbook &book, int sheetIndex, Sheet &sheet) = 0;
    // Whether calculate() could change anything in the sheet (or note
    // anything in the workbook); false promises that it would return at
    // once. Looks at the sheet's formulas only, never at its cells.
    virtual bool needsCalculation(Workbook &book, int sheetIndex, const Sheet &sheet)
    {
        (void)book, (void)sheetIndex, (void)sheet;
        return true;
    }
    // A loaded sheet is about to be dropped: forget what points into it.
    virtual void forget() = 0;
};

// Implemented by each reader: fills one sheet's cells on demand.
class SheetLoader
{
public:
    virtual ~SheetLoader() = default;
    virtual Error loadSheet(Workbook &book, int sheetIndex, Sheet &out) = 0;
    // Whether loadSheet() honours Sheet::stream (hands the cells over in
    // batches while it reads).
    virtual bool streams() const { return false; }
    // About how many bytes of the file's data the sheet is (its part
    // inflated, its records); UINT64_MAX when the loader cannot tell.
    virtual uint64_t sheetBytes(int sheetIndex) const
    {
        (void)sheetIndex;
        return UINT64_MAX;
    }
    // The work (bytes inflated or read) counted so far against the loader's
    // bounds on a whole workbook, and giving some of it back: a reading
    // whose cells were thrown away, the sheet being read again, counts once.
    virtual uint64_t readingCost() const { return 0; }
    virtual void refundReading(uint64_t cost) { (void)cost; }
};

class Workbook
{
public:
    // Same as openWorkbook() (open/openworkbook.h), which defines it: the
    // model itself knows no file format.
    static std::unique_ptr<Workbook> open(const std::string &path, Error *error);

    std::vector<SheetInfo> sheets; // every sheet, workbook order
    bool date1904 = false;
    std::vector<Xf> xfs; // empty: every cell uses General
    std::unordered_map<int, std::string> numFmts; // custom format codes by id (UTF-8)
    // Text of Text cells (UTF-8): the shared strings, then the text of the
    // loaded sheets. A deque, so that growing it never copies every string
    // at once (a vector of millions of strings would briefly hold two).
    std::deque<std::string> strings;
    std::string path;

    // Loads sheet `index` (all kinds) on first use; nullptr with *error set
    // when it cannot be read. The returned sheet is finished.
    const Sheet *sheet(int index, Error *error = nullptr);

    // Index into `sheets` of the n-th worksheet (0-based n), or -1.
    int worksheetIndex(int n) const;
    int worksheetCount() const;

    // Format code that cell formatting uses for an xf index (built-in or custom).
    const Xf &xf(uint32_t index) const;

    // The sheet as read, before any recalculation (for the calculator).
    Sheet *rawSheet(int index, Error *error = nullptr);

    // Formulas: what recalculation needs besides the sheets.
    bool fullCalcOnLoad = false; // xlsx calcPr: recalculate every formula on load
    // xlsx calcPr calcId: the calculation engine that last calculated the
    // workbook; 0 when the file does not say.
    uint32_t calcEngine = 0;
    bool macros = false; // the package holds a VBA project
    uint32_t gridRows = kMaxRows, gridColumns = kMaxColumns; // the format's grid
    std::vector<DefinedName> names; // BIFF: in NAME record order (ptgName counts from 1)
    std::vector<ExternSheet> externSheets; // BIFF8 EXTERNSHEET
    std::vector<std::vector<std::string>> externNames; // BIFF8: per SUPBOOK, its EXTERNNAMEs
    std::vector<TableInfo> tables; // .xlsx tables of every sheet
    std::unique_ptr<SheetCalculator> calculator;
    // Formulas that kept their cached value for want of support, with the
    // reason ("Sheet1!B3: unknown function FOO"); for diagnostics, capped.
    std::vector<std::string> calcNotes;

    // Drops the cells of a loaded sheet, and its text when that is the last
    // text added; the next sheet() reads it again. Keeps memory to one sheet
    // when sheets are used one at a time.
    void unloadSheet(int index);

    // Bytes of CSV written from this workbook so far, against the bound
    // kMaxWorkbookCsvBytes (io/limits.h).
    uint64_t csvBytesWritten = 0;

    std::unique_ptr<SheetLoader> loader;
    std::vector<std::unique_ptr<Sheet>> loaded; // parallel to `sheets`

private:
    // Whether a sheet that holds text of its own from `stringIndex` on is
    // loaded.
    bool loadedSince(size_t stringIndex) const;
};

} // namespace sd
