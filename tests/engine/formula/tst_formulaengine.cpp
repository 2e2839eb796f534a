// The formula engine's machinery: recalculation policy, dependency order
// without deep recursion, cycles, shared and array formulas, parsed-token
// decoding, bounds against hostile input, the pinned clock and random seed.

#include "formula/ast.h"
#include "formula/evaluator.h"
#include "formula/functions.h"
#include "memorysource.h"

#include <QtTest>

#include <cstring>
#include <string>

using namespace sd::formula;

namespace {

double number(const Value &v)
{
    return v.type == ValueType::Number ? v.number : -12345.678;
}

// Little-endian token bytes.
struct Tokens
{
    std::string b;
    Tokens &u8(int v)
    {
        b += char(v);
        return *this;
    }
    Tokens &u16(int v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
    Tokens &num(double d)
    {
        unsigned char raw[8];
        std::memcpy(raw, &d, 8);
        for (unsigned char c : raw)
            u8(c);
        return *this;
    }
};

class Sheets final : public ParseContext
{
public:
    int sheetIndex(std::string_view name) const override
    {
        return name == "Sheet1" ? 0 : name == "Two" ? 1 : -1;
    }
    bool externSheet(int index, int &first, int &last) const override
    {
        if (index == 0)
            return first = last = 1, true;
        if (index == 1)
            return first = 0, last = 1, true;
        return false; // another workbook
    }
    bool definedName(int index, NameRef &out) const override
    {
        if (index != 1)
            return false;
        out.name = "Rate";
        return true;
    }
    std::string externName(int, int index) const override
    {
        return index == 1 ? "_xlfn.IFERROR" : index == 2 ? "EOMONTH" : "";
    }
};

} // namespace

class TestFormulaEngine : public QObject
{
    Q_OBJECT

private slots:
    void longChainWithoutRecursion();
    void cycleKeepsCachedValues();
    void onlyUncachedAndVolatileRecalculate();
    void fullCalculationRecalculatesAll();
    void unknownFunctionKeepsCacheOrNames();
    void sharedFormulaParsedOnce();
    void arrayFormulaSpreads();
    void aggregateLeavesOutNestedTotals();
    void dynamicArraysSpill();
    void structuredReferences_data();
    void structuredReferences();
    void pinnedClockAndSeed();
    void implicitIntersection();
    void hostileText_data();
    void hostileText();
    void stepLimitBoundsWork();
    void relativeReferencesWrap();
    void tokens_data();
    void tokens();
    void tokensRejectTruncation();
    void textRoundTrip_data();
    void textRoundTrip();
};

void TestFormulaEngine::longChainWithoutRecursion()
{
    // A2 = A1 + 1, ..., A100000: evaluating the last cell must not recurse per cell.
    MemorySource s;
    s.addSheet("Sheet1");
    s.set(0, 0, 0, Value::num(1));
    const std::string text = "A1+1";
    for (uint32_t r = 1; r < 100000; ++r)
        s.setSharedFormula(0, r, 0, &text, 1, 0);
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 99999, 0)), 100000.0);
    // Summing the chain reuses what was computed.
    s.setFormula(0, 0, 1, "SUM(A:A)");
    Evaluator ev2(s);
    QCOMPARE(number(ev2.value(0, 0, 1)), 100000.0 * 100001 / 2);
}

void TestFormulaEngine::cycleKeepsCachedValues()
{
    MemorySource s;
    s.addSheet("Sheet1");
    s.setFormula(0, 0, 0, "B1+1", Value::num(7));
    s.setFormula(0, 0, 1, "A1+1", Value::num(8));
    s.setFormula(0, 0, 2, "A1*2"); // reads the cycle: uses A1's kept value
    EvalOptions o;
    o.recalculateAll = true;
    Evaluator ev(s, o);
    const CellResult a = ev.result(0, 0, 0);
    QCOMPARE(int(a.status), int(EvalStatus::Circular));
    QCOMPARE(number(a.value), 7.0);
    QCOMPARE(number(ev.value(0, 0, 1)), 8.0);
    QCOMPARE(number(ev.value(0, 0, 2)), 14.0);
    // A cell that refers to itself, found through a range.
    MemorySource t;
    t.addSheet("Sheet1");
    t.set(0, 0, 0, Value::num(1));
    t.setFormula(0, 5, 0, "SUM(A1:A10)", Value::num(3));
    Evaluator ev2(t, o);
    QCOMPARE(number(ev2.value(0, 5, 0)), 3.0);
}

void TestFormulaEngine::onlyUncachedAndVolatileRecalculate()
{
    MemorySource s;
    s.addSheet("Sheet1");
    s.set(0, 0, 0, Value::num(2));
    s.setFormula(0, 0, 1, "A1*10", Value::num(99)); // stale cache stands
    s.setFormula(0, 0, 2, "A1*10"); // no cache: computed
    s.setFormula(0, 0, 3, "RAND()", Value::num(5)); // volatile
    s.setFormula(0, 0, 4, "D1*0+1", Value::num(42)); // depends on a volatile cell
    s.setFormula(0, 0, 5, "B1+1", Value::num(100)); // depends on a stale cache only
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 0, 1)), 99.0);
    QCOMPARE(number(ev.value(0, 0, 2)), 20.0);
    QVERIFY(ev.recalculates(0, 0, 3));
    QVERIFY(number(ev.value(0, 0, 3)) < 1.0);
    QCOMPARE(number(ev.value(0, 0, 4)), 1.0);
    QVERIFY(!ev.recalculates(0, 0, 5));
    QCOMPARE(number(ev.value(0, 0, 5)), 100.0);
}

void TestFormulaEngine::fullCalculationRecalculatesAll()
{
    MemorySource s;
    s.addSheet("Sheet1");
    s.set(0, 0, 0, Value::num(2));
    s.setFormula(0, 0, 1, "A1*10", Value::num(0)); // a writer that leaves 0 behind
    EvalOptions o;
    o.recalculateAll = true;
    Evaluator ev(s, o);
    QCOMPARE(number(ev.value(0, 0, 1)), 20.0);
}

void TestFormulaEngine::unknownFunctionKeepsCacheOrNames()
{
    MemorySource s;
    s.addSheet("Sheet1");
    s.setFormula(0, 0, 0, "NOSUCHFUNCTION(1)", Value::str("kept"));
    s.setFormula(0, 1, 0, "NOSUCHFUNCTION(1)");
    s.setFormula(0, 2, 0, "CUBEVALUE(\"x\")", Value::num(-2)); // known, not evaluated
    s.setFormula(0, 3, 0, "[1]Sheet1!A1", Value::num(4)); // another workbook
    s.setFormula(0, 4, 0, "SUM(", Value::num(6)); // cannot be parsed
    s.setFormula(0, 5, 0, "_xlfn.CUBESETCOUNT(1)"); // the application has it: no #NAME?
    s.setFormula(0, 6, 0, "_xlfn.STOCKHISTORY(1)"); // a later function this engine lacks
    s.setFormula(0, 7, 0, "_xludf.MINE(1)"); // a user's function
    s.defineName("MYLAMBDA", "_xlfn.LAMBDA(_xlpm.x,_xlpm.x+1)");
    s.setFormula(0, 8, 0, "MYLAMBDA(1)"); // a name the workbook defines
    EvalOptions o;
    o.recalculateAll = true;
    Evaluator ev(s, o);
    QCOMPARE(QString::fromStdString(ev.value(0, 0, 0).text), QString("kept"));
    const CellResult none = ev.result(0, 1, 0);
    QVERIFY(none.value.isError() && none.value.error == sd::ErrName);
    QCOMPARE(int(none.status), int(EvalStatus::Unsupported));
    QCOMPARE(number(ev.value(0, 2, 0)), -2.0);
    QCOMPARE(number(ev.value(0, 3, 0)), 4.0);
    const CellResult bad = ev.result(0, 4, 0);
    QCOMPARE(number(bad.value), 6.0);
    QVERIFY(!bad.reason.empty());
    for (uint32_t row : { 5, 6 }) {
        const CellResult known = ev.result(0, row, 0);
        QCOMPARE(int(known.status), int(EvalStatus::Unsupported));
        QVERIFY(!known.value.isError());
    }
    QCOMPARE(int(ev.value(0, 7, 0).error), int(sd::ErrName));
    QVERIFY(!ev.value(0, 8, 0).isError());
}

void TestFormulaEngine::sharedFormulaParsedOnce()
{
    // B1:B3 share "A1*2" written for B1; each cell reads its own row.
    MemorySource s;
    s.addSheet("Sheet1");
    const std::string text = "A1*2+$A$1";
    for (uint32_t r = 0; r < 3; ++r) {
        s.set(0, r, 0, Value::num(r + 1));
        s.setSharedFormula(0, r, 1, &text, 0, 1);
    }
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 0, 1)), 3.0);
    QCOMPARE(number(ev.value(0, 2, 1)), 7.0);
}

void TestFormulaEngine::arrayFormulaSpreads()
{
    MemorySource s;
    s.addSheet("Sheet1");
    for (uint32_t r = 0; r < 3; ++r)
        s.set(0, r, 0, Value::num(r + 1));
    s.setArrayFormula(0, { 0, 1, 3, 1 }, "A1:A3*10"); // B1:B4, one row too many
    s.setArrayFormula(0, { 0, 2, 0, 2 }, "SUM(IF(A1:A3>1,A1:A3))");
    s.setArrayFormula(0, { 0, 3, 0, 3 }, "SUM(LEN({\"ab\",\"c\"}))");
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 0, 1)), 10.0);
    QCOMPARE(number(ev.value(0, 2, 1)), 30.0);
    QCOMPARE(int(ev.value(0, 3, 1).error), int(sd::ErrNA));
    QCOMPARE(number(ev.value(0, 0, 2)), 5.0);
    QCOMPARE(number(ev.value(0, 0, 3)), 3.0);
}

void TestFormulaEngine::aggregateLeavesOutNestedTotals()
{
    // Options 0 to 3 leave out cells that hold SUBTOTAL or AGGREGATE (the
    // function reference); 4 to 7 count them, as does a computed array.
    MemorySource s;
    s.addSheet("Sheet1");
    s.set(0, 0, 0, Value::num(5));
    s.set(0, 1, 0, Value::num(7));
    s.setFormula(0, 2, 0, "SUBTOTAL(9,A1:A2)");
    s.setFormula(0, 3, 0, "AGGREGATE(9,5,A1:A2)");
    s.setFormula(0, 0, 1, "AGGREGATE(9,0,A1:A4)");
    s.setFormula(0, 1, 1, "AGGREGATE(9,4,A1:A4)");
    s.setFormula(0, 2, 1, "AGGREGATE(14,2,A1:A4,1)");
    s.setFormula(0, 3, 1, "AGGREGATE(14,2,A1:A4*1,1)");
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 0, 1)), 12.0);
    QCOMPARE(number(ev.value(0, 1, 1)), 36.0);
    QCOMPARE(number(ev.value(0, 2, 1)), 7.0);
    QCOMPARE(number(ev.value(0, 3, 1)), 12.0);
}

void TestFormulaEngine::dynamicArraysSpill()
{
    // A dynamic array fills the range the file recorded as far as its result
    // reaches (the rest empty, not #N/A), spills into empty cells beyond it,
    // and shows #SPILL! in its anchor when a cell beyond holds something.
    MemorySource s;
    s.addSheet("Sheet1");
    s.setDynamicArrayFormula(0, { 0, 0, 4, 0 }, "SEQUENCE(3)"); // A1:A5
    s.setDynamicArrayFormula(0, { 0, 1, 0, 1 }, "SEQUENCE(3)"); // B1, B2:B3 empty
    s.setFormula(0, 0, 2, "B2+B3");
    s.setDynamicArrayFormula(0, { 0, 3, 0, 3 }, "SEQUENCE(3)"); // D1; D2 holds a value
    s.set(0, 1, 3, Value::str("x"));
    s.setArrayFormula(0, { 0, 4, 3, 4 }, "SEQUENCE(3)"); // E1:E4, fixed size
    s.setFormula(0, 0, 5, "SUM(_xlfn.ANCHORARRAY(B1))"); // B1#
    s.setFormula(0, 1, 5, "ROWS(_xlfn.ANCHORARRAY(A1))");
    s.setFormula(0, 2, 5, "_xlfn.ANCHORARRAY(C1)");
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 0, 5)), 6.0);
    QCOMPARE(number(ev.value(0, 1, 5)), 3.0);
    QCOMPARE(int(ev.value(0, 2, 5).error), int(sd::ErrRef));
    QCOMPARE(number(ev.value(0, 2, 0)), 3.0);
    QCOMPARE(int(ev.result(0, 3, 0).value.type), int(ValueType::Blank));
    QCOMPARE(number(ev.value(0, 0, 1)), 1.0);
    QCOMPARE(number(ev.value(0, 0, 2)), 5.0);
    const auto spilled = ev.spilledArray(0, 0, 1);
    QVERIFY(spilled && spilled->rows == 3);
    QCOMPARE(int(ev.value(0, 0, 3).error), int(sd::ErrSpill));
    QVERIFY(!ev.spilledArray(0, 0, 3));
    QCOMPARE(int(ev.value(0, 3, 4).error), int(sd::ErrNA));
}

void TestFormulaEngine::structuredReferences_data()
{
    // Table "Sales" over B2:E6 of Sheet1: a header row, three data rows and
    // a totals row; the formula is in E4, the Calc column of the second
    // data row. A ' escapes [ ] # and ' in a column name.
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("expected");
    QTest::newRow("column") << "SUM(Sales[Amount])"
                            << "60";
    QTest::newRow("all") << "SUM(Sales[[#All],[Amount]])"
                         << "120";
    QTest::newRow("totals") << "Sales[[#Totals],[Amount]]"
                            << "60";
    QTest::newRow("headers") << "Sales[[#Headers],[Region]]"
                             << "Region";
    QTest::newRow("data rows") << "ROWS(Sales[#Data])"
                               << "3";
    QTest::newRow("data columns") << "COLUMNS(Sales[#Data])"
                                  << "4";
    QTest::newRow("table name alone") << "ROWS(Sales)"
                                      << "3";
    QTest::newRow("all rows") << "ROWS(Sales[#All])"
                              << "5";
    QTest::newRow("headers and data") << "ROWS(Sales[[#Headers],[#Data],[Amount]])"
                                      << "4";
    QTest::newRow("data and totals") << "ROWS(Sales[[#Data],[#Totals],[Amount]])"
                                     << "4";
    QTest::newRow("column range, escapes") << "SUM(Sales[[Amount]:[Unit''s '[Price']]])"
                                           << "67.5";
    QTest::newRow("this row, @") << "Sales[@Amount]"
                                 << "20";
    QTest::newRow("this row, keyword") << "Sales[[#This Row],[Amount]]"
                                       << "20";
    QTest::newRow("this row, bracketed") << "Sales[@[Unit''s '[Price']]]"
                                         << "2.5";
    QTest::newRow("unqualified") << "[@Amount]*2"
                                 << "40";
    QTest::newRow("unqualified column") << "SUM([Amount])"
                                        << "60";
    QTest::newRow("case of names") << "SUM(sales[AMOUNT])"
                                   << "60";
    QTest::newRow("criteria") << "COUNTIF(Sales[Region],\"East\")"
                              << "2";
    QTest::newRow("indirect") << "SUM(INDIRECT(\"Sales[Amount]\"))"
                              << "60";
    QTest::newRow("unknown column") << "Sales[[#Headers],[Nope]]"
                                    << "#REF!";
    QTest::newRow("other sheet") << "SUM(Sheet2!A1,Sales[Amount])"
                                 << "61";
}

void TestFormulaEngine::structuredReferences()
{
    QFETCH(QString, formula);
    QFETCH(QString, expected);
    MemorySource s;
    s.addSheet("Sheet1");
    s.addSheet("Sheet2");
    s.set(1, 0, 0, Value::num(1));
    const char *header[] = { "Region", "Amount", "Unit's [Price]", "Calc" };
    for (uint32_t c = 0; c < 4; ++c)
        s.set(0, 1, 1 + c, Value::str(header[c]));
    const char *region[] = { "East", "West", "East" };
    for (uint32_t r = 0; r < 3; ++r) {
        s.set(0, 2 + r, 1, Value::str(region[r]));
        s.set(0, 2 + r, 2, Value::num(10.0 * (r + 1)));
        s.set(0, 2 + r, 3, Value::num(1.5 + r));
    }
    s.set(0, 5, 1, Value::str("Total"));
    s.set(0, 5, 2, Value::num(60));
    sd::TableInfo t;
    t.name = "Sales";
    t.sheet = 0;
    t.ref = { 1, 1, 5, 4 };
    t.totalsRows = 1;
    t.columns = { "Region", "Amount", "Unit's [Price]", "Calc" };
    s.addTable(t);
    s.setFormula(0, 3, 4, formula.toStdString());
    Evaluator ev(s);
    const CellResult r = ev.result(0, 3, 4);
    QCOMPARE(int(r.status), int(EvalStatus::Computed));
    std::string shown;
    if (r.value.isError())
        shown = errorText(r.value.error);
    else
        toText(r.value, shown);
    QCOMPARE(QString::fromStdString(shown), expected);
}

void TestFormulaEngine::pinnedClockAndSeed()
{
    MemorySource s;
    s.addSheet("Sheet1");
    s.setFormula(0, 0, 0, "NOW()");
    s.setFormula(0, 1, 0, "RAND()");
    EvalOptions o;
    o.clock = 1600000000; // 2020-09-13 12:26:40 UTC
    o.randomSeed = 42;
    Evaluator a(s, o), b(s, o);
    QCOMPARE(number(a.value(0, 0, 0)), 44087 + (12 * 3600 + 26 * 60 + 40) / 86400.0);
    QCOMPARE(number(a.value(0, 1, 0)), number(b.value(0, 1, 0)));
    // SOURCE_DATE_EPOCH pins the clock when the caller gives none.
    qputenv("SOURCE_DATE_EPOCH", "86400");
    EvalOptions pinned;
    Evaluator c(s, pinned);
    QCOMPARE(number(c.value(0, 0, 0)), 25570.0);
    qunsetenv("SOURCE_DATE_EPOCH");
}

void TestFormulaEngine::implicitIntersection()
{
    // A range where one value is wanted meets the formula's row, its column,
    // or (a block on another sheet) both.
    MemorySource s;
    s.addSheet("Sheet1");
    s.addSheet("Other");
    for (uint32_t r = 0; r < 3; ++r)
        for (uint32_t c = 0; c < 3; ++c)
            s.set(1, r, c, Value::num(10.0 * r + c));
    s.setFormula(0, 1, 1, "Other!A1:C3");
    s.setFormula(0, 2, 5, "Other!A1:A3+1");
    s.setFormula(0, 7, 0, "Other!A1:C1*2");
    s.setFormula(0, 7, 1, "Other!A1:C1*2");
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 1, 1)), 11.0);
    QCOMPARE(number(ev.value(0, 2, 5)), 21.0);
    QCOMPARE(number(ev.value(0, 7, 0)), 0.0);
    QCOMPARE(number(ev.value(0, 7, 1)), 2.0);
}

void TestFormulaEngine::hostileText_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("deep parentheses") << QString(100000, '(') + "1" + QString(100000, ')');
    QTest::newRow("deep unary") << QString(100000, '-') + "1";
    QTest::newRow("long sum") << "1" + QString("+1").repeated(20000);
    QTest::newRow("nested calls") << QString("ABS(").repeated(5000) + "1" + QString(5000, ')');
    QTest::newRow("many arguments") << "SUM(" + QString("1,").repeated(300) + "1)";
    QTest::newRow("unterminated") << "\"abc";
    QTest::newRow("huge array") << "{" + QString("1,").repeated(70000) + "1}";
    QTest::newRow("bad sheet") << "'unterminated!A1";
}

void TestFormulaEngine::hostileText()
{
    QFETCH(QString, text);
    MemorySource s;
    s.addSheet("Sheet1");
    s.setFormula(0, 0, 0, text.toStdString(), Value::num(1));
    EvalOptions o;
    o.recalculateAll = true;
    Evaluator ev(s, o);
    const CellResult r = ev.result(0, 0, 0);
    QCOMPARE(int(r.status), int(EvalStatus::Unsupported));
    QCOMPARE(number(r.value), 1.0);
}

void TestFormulaEngine::stepLimitBoundsWork()
{
    // Each of 200 cells sums a 100 000-cell column of formulas: far beyond the
    // budget given; evaluation stops and the cells keep their caches.
    MemorySource s;
    s.addSheet("Sheet1");
    const std::string one = "1";
    for (uint32_t r = 0; r < 100000; ++r)
        s.setSharedFormula(0, r, 0, &one, r, 0);
    const std::string total = "SUM($A:$A)+ROW()";
    for (uint32_t r = 0; r < 200; ++r) {
        s.setFormula(0, r, 1, total, Value::num(-1));
    }
    EvalOptions o;
    o.recalculateAll = true;
    o.stepLimit = 2'000'000;
    Evaluator ev(s, o);
    int computed = 0;
    for (uint32_t r = 0; r < 200; ++r) {
        const CellResult c = ev.result(0, r, 1);
        if (c.status == EvalStatus::Computed)
            ++computed;
        else
            QCOMPARE(number(c.value), -1.0);
    }
    QVERIFY(computed < 200);
    QVERIFY(ev.steps() <= o.stepLimit + 1);
}

void TestFormulaEngine::relativeReferencesWrap()
{
    // In a 65536 x 256 grid (BIFF8) a relative reference above row 1 wraps.
    MemorySource s;
    s.addSheet("Sheet1");
    s.setGrid(65536, 256);
    s.set(0, 65535, 0, Value::num(9));
    Tokens t;
    t.u8(0x44).u16(0xFFFF).u16(0xC000); // ptgRefV, row 65535 relative, col 0 relative
    s.setTokens(0, 0, 1, t.b);
    Evaluator ev(s);
    QCOMPARE(number(ev.value(0, 0, 1)), 9.0);
}

void TestFormulaEngine::tokens_data()
{
    QTest::addColumn<QByteArray>("tokens");
    QTest::addColumn<QByteArray>("extra");
    QTest::addColumn<QString>("text");
    auto row = [](const char *name, const Tokens &t, const QString &text, const Tokens &x = {}) {
        QTest::newRow(name) << QByteArray::fromStdString(t.b) << QByteArray::fromStdString(x.b)
                            << text;
    };
    // The formula is written for C3 (row 2, column 2).
    row("int add", Tokens().u8(0x1E).u16(1).u8(0x1E).u16(2).u8(0x03), "(1+2)");
    row("number power neg", Tokens().u8(0x1F).num(2.5).u8(0x13).u8(0x1E).u16(2).u8(0x07),
        "(-2.5^2)");
    row("string concat",
        Tokens().u8(0x17).u8(2).u8(0).u8('h').u8('i').u8(0x17).u8(1).u8(1).u16(0x263A).u8(0x08),
        QString::fromUtf8("(\"hi\"&\"\xE2\x98\xBA\")"));
    row("bool err missing",
        Tokens().u8(0x1D).u8(1).u8(0x1C).u8(0x07).u8(0x16).u8(0x42).u8(3).u16(1),
        "IF(TRUE,#DIV/0!,)");
    row("relative ref", Tokens().u8(0x44).u16(0).u16(0xC000 | 1), "B1");
    row("absolute area", Tokens().u8(0x25).u16(0).u16(4).u16(0).u16(3), "$A$1:$D$5");
    row("refN offsets", Tokens().u8(0x4C).u16(0xFFFF).u16(0xC000 | 0xFF), "B2");
    row("sum attr", Tokens().u8(0x25).u16(0).u16(1).u16(0).u16(0).u8(0x19).u8(0x10).u16(0),
        "SUM($A$1:$A$2)");
    row("funcvar round", Tokens().u8(0x1F).num(1.25).u8(0x1E).u16(1).u8(0x41).u16(27),
        "ROUND(1.25,1)");
    row("if with jumps",
        Tokens()
            .u8(0x1D)
            .u8(0)
            .u8(0x19)
            .u8(0x02)
            .u16(7)
            .u8(0x1E)
            .u16(1)
            .u8(0x19)
            .u8(0x08)
            .u16(9)
            .u8(0x1E)
            .u16(2)
            .u8(0x19)
            .u8(0x08)
            .u16(3)
            .u8(0x42)
            .u8(3)
            .u16(1),
        "IF(FALSE,1,2)");
    row("ref3d", Tokens().u8(0x3A).u16(0).u16(0).u16(0), "[1]!$A$1");
    row("area3d two sheets",
        Tokens().u8(0x3B).u16(1).u16(0).u16(0).u16(0).u16(0).u8(0x42).u8(1).u16(4),
        "SUM([0:1]!$A$1)");
    row("external 3d", Tokens().u8(0x3A).u16(5).u16(0).u16(0), "#UNSUPPORTED(external reference)");
    row("name", Tokens().u8(0x43).u16(1).u16(0), "Rate");
    row("add-in iferror",
        Tokens().u8(0x59).u16(0).u16(1).u16(0).u8(0x1E).u16(1).u8(0x1E).u16(2).u8(0x42).u8(3).u16(
            255),
        "IFERROR(1,2)");
    row("add-in eomonth",
        Tokens().u8(0x59).u16(0).u16(2).u16(0).u8(0x1E).u16(1).u8(0x1E).u16(2).u8(0x42).u8(3).u16(
            255),
        "EOMONTH(1,2)");
    row("array constant", Tokens().u8(0x60).u16(0).u16(0).u16(0).u8(0), "{1,\"ab\";TRUE,#N/A}",
        Tokens()
            .u8(1)
            .u16(1)
            .u8(1)
            .num(1)
            .u8(2)
            .u16(2)
            .u8(0)
            .u8('a')
            .u8('b')
            .u8(4)
            .u8(1)
            .u8(0)
            .u16(0)
            .u16(0)
            .u16(0)
            .u8(0x10)
            .u8(0x2A)
            .u8(0)
            .u16(0)
            .u16(0)
            .u16(0));
    row("mem func",
        Tokens()
            .u8(0x29)
            .u16(7)
            .u8(0x25)
            .u16(0)
            .u16(1)
            .u16(0)
            .u16(0)
            .u8(0x25)
            .u16(0)
            .u16(1)
            .u16(0)
            .u16(0)
            .u8(0x0F),
        "($A$1:$A$2 $A$1:$A$2)");
    row("shared pointer", Tokens().u8(0x01).u16(4).u16(2),
        "#UNSUPPORTED(shared formula reference)");
}

void TestFormulaEngine::tokens()
{
    QFETCH(QByteArray, tokens);
    QFETCH(QByteArray, extra);
    QFETCH(QString, text);
    Sheets ctx;
    const Formula f = decodeTokens(
        reinterpret_cast<const uint8_t *>(tokens.constData()), size_t(tokens.size()),
        reinterpret_cast<const uint8_t *>(extra.constData()), size_t(extra.size()), ctx, 2, 2);
    QVERIFY2(f.ok(), f.error.c_str());
    QCOMPARE(QString::fromStdString(formulaText(f, 2, 2)), text);
}

void TestFormulaEngine::tokensRejectTruncation()
{
    // A prefix decodes only where it ends on a token boundary with one operand left.
    Tokens t;
    t.u8(0x3B)
        .u16(1)
        .u16(0)
        .u16(0)
        .u16(0)
        .u16(0)
        .u8(0x17)
        .u8(3)
        .u8(1)
        .u16('a')
        .u16('b')
        .u16('c')
        .u8(0x1F)
        .num(3)
        .u8(0x42)
        .u8(3)
        .u16(1);
    Sheets ctx;
    for (size_t n = 0; n < t.b.size(); ++n) {
        const Formula f
            = decodeTokens(reinterpret_cast<const uint8_t *>(t.b.data()), n, nullptr, 0, ctx, 0, 0);
        QCOMPARE(f.ok(), n == 11);
    }
    const Formula whole = decodeTokens(reinterpret_cast<const uint8_t *>(t.b.data()), t.b.size(),
                                       nullptr, 0, ctx, 0, 0);
    QVERIFY(whole.ok());
}

void TestFormulaEngine::textRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("written");
    QTest::newRow("precedence") << "1+2*3^-2%"
                                << "(1+(2*(3^-2%)))";
    QTest::newRow("sheets") << "'Two'!A1+Sheet1:Two!$B$2"
                            << "([1]!A1+[0:1]!$B$2)";
    QTest::newRow("columns rows") << "SUM(A:B,$3:$4)"
                                  << "SUM(A$1:B$1048576,$A$3:$XFD$4)";
    QTest::newRow("intersect union") << "($A$1:$B$2 $B$1:$C$2,$D$4)"
                                     << "(($A$1:$B$2 $B$1:$C$2),$D$4)";
    QTest::newRow("xlfn") << "_xlfn.CONCAT(\"a\",,1)"
                          << "CONCAT(\"a\",,1)";
    QTest::newRow("comparison chain") << "1<>2=FALSE"
                                      << "((1<>2)=FALSE)";
    QTest::newRow("unknown") << "FOO.BAR(1)"
                             << "FOO.BAR(1)";
    QTest::newRow("table") << "Table1[Col]"
                           << "#UNSUPPORTED(table reference)";
}

void TestFormulaEngine::textRoundTrip()
{
    QFETCH(QString, text);
    QFETCH(QString, written);
    Sheets ctx;
    const Formula f = parseFormula(text.toStdString(), ctx, 0, 0);
    QVERIFY2(f.ok(), f.error.c_str());
    const QString out = QString::fromStdString(formulaText(f, 0, 0));
    QCOMPARE(out, written);
}

QTEST_GUILESS_MAIN(TestFormulaEngine)
#include "tst_formulaengine.moc"
