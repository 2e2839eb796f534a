// Range scans over sparse sheets: every kind of range consumer (aggregates,
// counts, criteria, arrays, lookups) reads exactly the cells of its range
// when rows are empty, hold cells only left or only right of the range, or
// end before the range does. Each row of data/sparse/ranges.tsv is evaluated
// through the workbook model's own cell source (the one the readers use)
// and through the in-memory one, which must agree; and whole workbooks that
// recalculate on load over such ranges are read as the converter reads them.

#include "core/model.h"
#include "formula/evaluator.h"
#include "formula/workbookcalc.h"
#include "memorysource.h"
#include "xlsx/xlsxreader.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include "../xlsx/zipbuilder.h"

using namespace sd;
using namespace sd::formula;

namespace {

struct FixtureCell
{
    uint32_t row, col;
    Value value;
};

// The sheet that data/sparse/ranges.tsv describes.
std::vector<FixtureCell> sparseCells()
{
    return {
        { 0, 0, Value::num(1000) }, { 0, 2, Value::num(5) },  { 0, 6, Value::num(3000) },
        { 1, 0, Value::num(1) },    { 2, 0, Value::num(2) },  { 4, 6, Value::num(4) },
        { 5, 1, Value::num(8) },    { 5, 2, Value::num(10) }, { 5, 4, Value::str("x") },
        { 5, 5, Value::num(16) },   { 6, 0, Value::num(32) }, { 7, 3, Value::num(20) },
        { 7, 7, Value::num(64) },
    };
}

constexpr uint32_t kFormulaRow = 0, kFormulaCol = 25; // Z1

// A workbook model holding the fixture and one formula in Z1 (without a
// cached result), as a reader leaves it.
std::unique_ptr<Workbook> modelBook(const std::string &formula, bool array)
{
    auto book = std::make_unique<Workbook>();
    book->sheets.push_back({ "Sheet1", SheetKind::Worksheet, SheetState::Visible });
    auto sheet = std::make_unique<Sheet>();
    for (const FixtureCell &f : sparseCells()) {
        Cell c;
        c.row = f.row;
        c.col = f.col;
        storeValue(*book, f.value, c);
        sheet->cells.push_back(c);
    }
    Cell z;
    z.row = kFormulaRow;
    z.col = kFormulaCol;
    sheet->cells.push_back(z);
    CellFormula cf;
    cf.row = cf.anchorRow = kFormulaRow;
    cf.col = cf.anchorCol = kFormulaCol;
    cf.data = 0;
    sheet->formulaData.push_back(formula);
    if (array) {
        cf.flags |= CellFormula::Array;
        cf.range = { kFormulaRow, kFormulaCol, kFormulaRow, kFormulaCol };
    }
    sheet->formulas.push_back(cf);
    sheet->endString = book->strings.size();
    sheet->finish();
    book->loaded.push_back(std::move(sheet));
    return book;
}

QString display(const Value &v)
{
    if (v.isError())
        return QString::fromLatin1(errorText(v.error));
    std::string s;
    toText(v, s);
    return QString::fromStdString(s);
}

CellResult evaluate(CellSource &source)
{
    Evaluator ev(source);
    return ev.result(0, kFormulaRow, kFormulaCol);
}

QString cellText(const Workbook &book, const Sheet &s, uint32_t row, uint32_t col)
{
    const Cell *c = s.find(row, col);
    if (!c || c->type == CellType::Blank)
        return QStringLiteral("(blank)");
    if (c->type == CellType::Text)
        return QString::fromStdString(book.strings[c->text]);
    if (c->type == CellType::Error)
        return QString::fromLatin1(cellErrorText(uint8_t(c->number)));
    return QString::number(c->number, 'g', 15);
}

} // namespace

class TestRangeScan : public QObject
{
    Q_OBJECT

private slots:
    void sparse_data();
    void sparse();
    void recalculatedOnLoad_data();
    void recalculatedOnLoad();
};

void TestRangeScan::sparse_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("expected");
    QFile f(QStringLiteral(SHEETDRAIN_TEST_DATA "/sparse/ranges.tsv"));
    QVERIFY(f.open(QIODevice::ReadOnly));
    int line = 0;
    while (!f.atEnd()) {
        const QString text = QString::fromUtf8(f.readLine()).chopped(1);
        ++line;
        if (text.isEmpty() || text.startsWith("//"))
            continue;
        const int tab = text.indexOf('\t');
        QVERIFY2(tab > 0, qPrintable("ranges.tsv:" + QString::number(line)));
        const QByteArray tag = ("ranges.tsv:" + QString::number(line)).toUtf8();
        QTest::newRow(tag.constData()) << text.left(tab) << text.mid(tab + 1);
    }
}

void TestRangeScan::sparse()
{
    QFETCH(QString, formula);
    QFETCH(QString, expected);
    const bool array = formula.startsWith('{') && formula.endsWith('}');
    const std::string text = (array ? formula.mid(1, formula.size() - 2) : formula).toStdString();

    std::unique_ptr<Workbook> book = modelBook(text, array);
    WorkbookSource model(*book);
    const CellResult fromModel = evaluate(model);
    QVERIFY2(fromModel.status == EvalStatus::Computed, fromModel.reason.c_str());
    QCOMPARE(display(fromModel.value), expected);

    MemorySource memory;
    memory.addSheet("Sheet1");
    for (const FixtureCell &c : sparseCells())
        memory.set(0, c.row, c.col, c.value);
    if (array)
        memory.setArrayFormula(0, { kFormulaRow, kFormulaCol, kFormulaRow, kFormulaCol }, text);
    else
        memory.setFormula(0, kFormulaRow, kFormulaCol, text);
    const CellResult fromMemory = evaluate(memory);
    QVERIFY2(fromMemory.status == EvalStatus::Computed, fromMemory.reason.c_str());
    QCOMPARE(display(fromMemory.value), expected);
}

void TestRangeScan::recalculatedOnLoad_data()
{
    // Formulas in column A over column B that is empty or sparse, in a
    // workbook that asks for a full calculation on load; each row of the
    // sheet holds a cell left of the range read (the formula cell itself).
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QStringList>("expected"); // A1, A2, A3
    auto arr
        = [](const char *text) { return QString("<f t=\"array\" ref=\"A1:A3\">%1</f>").arg(text); };
    QTest::newRow("array LEN over empty cells")
        << QString("<row r=\"1\"><c r=\"A1\">%1</c></row><row r=\"2\"><c r=\"A2\"/></row>"
                   "<row r=\"3\"><c r=\"A3\"/></row>")
               .arg(arr("LEN(B1:B3)"))
        << QStringList { "0", "0", "0" };
    QTest::newRow("array over a sparse column")
        << QString("<row r=\"1\"><c r=\"A1\">%1</c></row><row r=\"2\"><c r=\"A2\"/>"
                   "<c r=\"B2\" t=\"inlineStr\"><is><t>abc</t></is></c></row>"
                   "<row r=\"3\"><c r=\"A3\"/></row>")
               .arg(arr("LEN(B1:B3)"))
        << QStringList { "0", "3", "0" };
    QTest::newRow("SUMPRODUCT and SUMIFS")
        << QString("<row r=\"1\"><c r=\"A1\"><f>SUMPRODUCT(B1:B3,C1:C3)</f></c></row>"
                   "<row r=\"2\"><c r=\"A2\"><f>SUMIFS(C1:C3,B1:B3,\"&gt;0\")</f></c>"
                   "<c r=\"C2\"><v>4</v></c></row>"
                   "<row r=\"3\"><c r=\"A3\"><f>COUNT(B1:C3)</f></c></row>")
        << QStringList { "0", "0", "1" };
}

void TestRangeScan::recalculatedOnLoad()
{
    QFETCH(QString, rows);
    QFETCH(QStringList, expected);
    const std::string sheet
        = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
          "<sheetData>"
        + rows.toStdString() + "</sheetData></worksheet>";
    const std::string bytes = sdtest::minimalXlsx(
        { sheet }, {}, {}, "<calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/>");
    Error e;
    std::unique_ptr<Workbook> book = openXlsxBuffer(bytes.data(), bytes.size(), &e);
    QVERIFY2(book, e.description().c_str());
    const Sheet *s = book->sheet(0);
    QVERIFY(s);
    for (uint32_t r = 0; r < 3; ++r)
        QCOMPARE(cellText(*book, *s, r, 0), expected[int(r)]);
}

QTEST_GUILESS_MAIN(TestRangeScan)
#include "tst_rangescan.moc"
