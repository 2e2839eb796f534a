#pragma once

// A parsed formula: a compact expression tree in flat vectors, shared by the
// A1-text parser and the parsed-expression (BIFF token) decoder. Relative
// references are stored as offsets from the cell the formula was written for
// (its anchor), so one parse serves every cell of a shared formula.

#include "formula/value.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sd::formula {

enum class NodeKind : uint8_t {
    Number, // numbers[payload]
    Text, // strings[payload]
    Bool, // payload 0/1
    Error, // payload: CellError code
    Missing, // an omitted argument, as in IF(A1,,2)
    Ref, // refs[payload]
    Name, // names[payload]
    Array, // arrays[payload]
    Unary, // op, one child
    Binary, // op, two children
    Call, // function id (see functions.h) in payload; children are the arguments
    Unknown, // a call of a function the engine does not know: strings[payload] is its name
    Unsupported, // something the engine cannot evaluate: strings[payload] says what
};

enum class Op : uint8_t {
    Add,
    Sub,
    Mul,
    Div,
    Pow,
    Concat,
    Lt,
    Le,
    Eq,
    Ge,
    Gt,
    Ne,
    Range, // ':'
    Union, // ','
    Intersect, // ' '
    Neg,
    Plus,
    Percent,
};

// One reference as written. A relative row or column holds the offset from
// the anchor cell; an absolute one holds the index itself.
struct RefSpec
{
    enum Flags : uint8_t {
        Row1Rel = 1,
        Col1Rel = 2,
        Row2Rel = 4,
        Col2Rel = 8,
        RefError = 16, // #REF! (a deleted reference)
    };
    int32_t row1 = 0, col1 = 0, row2 = 0, col2 = 0; // an area; a cell has row2 == row1 etc.
    int16_t sheet1 = -1, sheet2 = -1; // -1: the formula's own sheet
    uint8_t flags = 0;
};

// A defined name as used: its text and, when written Sheet1!Name, the sheet.
struct NameRef
{
    std::string name;
    int16_t sheet = -1;
};

struct Node
{
    NodeKind kind = NodeKind::Number;
    Op op = Op::Add;
    uint16_t argc = 0;
    uint32_t first = 0; // children: Formula::children[first .. first + argc)
    uint32_t payload = 0;
};

struct Formula
{
    std::vector<Node> nodes;
    std::vector<uint32_t> children;
    std::vector<double> numbers;
    std::vector<std::string> strings;
    std::vector<RefSpec> refs;
    std::vector<NameRef> names;
    std::vector<ArrayData> arrays;
    uint32_t root = 0;
    bool isVolatile = false; // calls NOW, RAND, OFFSET, INDIRECT ...
    std::string error; // why parsing failed; nodes is then empty

    bool ok() const { return error.empty() && !nodes.empty(); }
    const Node &node(uint32_t i) const { return nodes[i]; }
    uint32_t child(const Node &n, uint32_t i) const { return children[n.first + i]; }
};

// Tells the parsers what the workbook's sheets and names are.
class ParseContext
{
public:
    virtual ~ParseContext() = default;
    // Index of a sheet by name (case-insensitive), or -1.
    virtual int sheetIndex(std::string_view name) const = 0;
    // BIFF: the sheets an EXTERNSHEET entry points at; false for another
    // workbook or a bad index.
    virtual bool externSheet(int index, int &first, int &last) const
    {
        (void)index, (void)first, (void)last;
        return false;
    }
    // BIFF: a NAME record by its 1-based index (ptgName), with its sheet scope
    // (-1 global); false for a bad index.
    virtual bool definedName(int index, NameRef &out) const
    {
        (void)index, (void)out;
        return false;
    }
    // BIFF: an external name (ptgNameX) as text, e.g. an add-in function's
    // name; empty when unknown.
    virtual std::string externName(int sheetIndex, int nameIndex) const
    {
        (void)sheetIndex, (void)nameIndex;
        return {};
    }
    // A table by name (case-insensitive), and the table a cell lies in; for
    // structured references (Table1[Amount], [@Amount]). nullptr when none.
    virtual const TableInfo *table(std::string_view name) const
    {
        (void)name;
        return nullptr;
    }
    virtual const TableInfo *tableAt(int sheet, uint32_t row, uint32_t col) const
    {
        (void)sheet, (void)row, (void)col;
        return nullptr;
    }
};

// Parses A1 formula text as the xlsx format stores it (no leading '=').
// `anchorRow`/`anchorCol` is the cell the text was written for, on `sheet`
// (-1 when unknown: structured references without a table name, which
// mean the formula's own table, are then not evaluated).
Formula parseFormula(std::string_view text, const ParseContext &context, uint32_t anchorRow,
                     uint32_t anchorCol, int sheet = -1);

// Decodes BIFF8 parsed-expression tokens (the rgce of FORMULA, SHRFMLA, ARRAY,
// NAME records). `extra` holds the data that follows the tokens (array
// constants). Relative references of ordinary tokens are turned into offsets
// from the anchor; ptgRefN/ptgAreaN (shared formulas) are offsets already.
// `sharedTokens` tells that ptgRef/ptgArea carry offsets too (names).
struct TokenOptions
{
    bool biff5 = false; // BIFF5/7 layout of references and strings
    int codepage = 1252; // BIFF5 byte strings
};
Formula decodeTokens(const uint8_t *tokens, size_t size, const uint8_t *extra, size_t extraSize,
                     const ParseContext &context, uint32_t anchorRow, uint32_t anchorCol,
                     const TokenOptions &options = {});

// Where a BIFF formula's ptgExp/ptgTbl points (the first token decides).
// Returns true and the row/column of the shared formula's or array's cell.
bool tokensPointAt(const uint8_t *tokens, size_t size, uint32_t &row, uint32_t &col);

// Writes a parsed formula back as A1 text (for debugging and tests).
std::string formulaText(const Formula &f, uint32_t anchorRow, uint32_t anchorCol);

} // namespace sd::formula
