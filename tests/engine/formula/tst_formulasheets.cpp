// Formulas over small sheets laid out in the grid files themselves
// (data/sheets/*.tsv), evaluated through the workbook model's own cell
// source as the readers fill it: hidden and filtered rows, criteria blocks,
// cells holding "" and the like, which the shared fixture of tst_formula
// does not have. A file's lines:
//
//   A1<TAB>content          a cell: a number, TRUE/FALSE, an error, =formula,
//                           'text (text that would read as something else),
//                           nan (a number stored with every exponent bit
//                           set), or any other text
//   !hidden<TAB>5           row 5 is hidden
//   !filter<TAB>1:9         the sheet shows a filter over rows 1 to 9 (its
//                           hidden rows there are hidden by the filter)
//   H1<TAB>formula<TAB>expected   a formula evaluated in H1 over that sheet
//
// Each file is one sheet; every check sees all of its cells.

#include "core/model.h"
#include "formula/evaluator.h"
#include "formula/workbookcalc.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cmath>

using namespace sd;
using namespace sd::formula;

namespace {

bool cellAddress(const QString &text, uint32_t &row, uint32_t &col)
{
    int i = 0;
    col = 0;
    while (i < text.size() && text[i].isLetter())
        col = col * 26 + uint32_t(text[i++].toUpper().unicode() - 'A' + 1);
    bool ok = false;
    const uint32_t r = text.mid(i).toUInt(&ok);
    if (i == 0 || !ok || r == 0)
        return false;
    row = r - 1;
    col -= 1;
    return true;
}

Value constant(const QString &text)
{
    if (text.startsWith('\''))
        return Value::str(text.mid(1).toStdString());
    if (text == "TRUE" || text == "FALSE")
        return Value::boolean(text == "TRUE");
    const uint8_t e = errorFromText(text.toStdString());
    if (e != 0xFF)
        return Value::err(e);
    bool ok = false;
    const double d = text.toDouble(&ok);
    return ok ? Value::num(d) : Value::str(text.toStdString());
}

struct Layout
{
    struct Entry
    {
        uint32_t row, col;
        QString content;
    };
    std::vector<Entry> cells;
    std::vector<uint32_t> hidden;
    Span filter;
    bool filtering = false;
};

void addFormula(Sheet &sheet, uint32_t row, uint32_t col, const std::string &text)
{
    CellFormula f;
    f.row = f.anchorRow = row;
    f.col = f.anchorCol = col;
    f.data = uint32_t(sheet.formulaData.size());
    sheet.formulaData.push_back(text);
    sheet.formulas.push_back(f);
}

// The workbook model of a layout with one more formula, as a reader leaves it.
std::unique_ptr<Workbook> build(const Layout &layout, uint32_t row, uint32_t col,
                                const std::string &formula)
{
    auto book = std::make_unique<Workbook>();
    book->sheets.push_back({ "Sheet1", SheetKind::Worksheet, SheetState::Visible });
    auto sheet = std::make_unique<Sheet>();
    for (const Layout::Entry &e : layout.cells) {
        Cell c;
        c.row = e.row;
        c.col = e.col;
        if (e.content.startsWith('=')) {
            addFormula(*sheet, e.row, e.col, e.content.mid(1).toStdString());
        } else if (e.content == "nan") { // a NUMBER record's NaN bit pattern
            c.type = CellType::Number;
            c.number = std::nan("");
        } else {
            storeValue(*book, constant(e.content), c);
        }
        sheet->cells.push_back(c);
    }
    Cell c;
    c.row = row;
    c.col = col;
    sheet->cells.push_back(c);
    addFormula(*sheet, row, col, formula);
    for (uint32_t r : layout.hidden)
        sheet->hideRow(r);
    sheet->filterRows = layout.filter;
    sheet->filtering = layout.filtering;
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

} // namespace

class TestFormulaSheets : public QObject
{
    Q_OBJECT

private slots:
    void grid_data();
    void grid();
};

Q_DECLARE_METATYPE(Layout)

void TestFormulaSheets::grid_data()
{
    QTest::addColumn<Layout>("layout");
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("expected");
    const QDir dir(QStringLiteral(SHEETDRAIN_TEST_DATA "/sheets"));
    const QStringList files = dir.entryList({ "*.tsv" }, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        Layout layout;
        struct Check
        {
            QString tag, cell, formula, expected;
        };
        std::vector<Check> checks;
        int line = 0;
        while (!f.atEnd()) {
            const QString text = QString::fromUtf8(f.readLine()).chopped(1);
            ++line;
            if (text.isEmpty() || text.startsWith("//"))
                continue;
            const QStringList cols = text.split('\t');
            const QString where = name + ":" + QString::number(line);
            QVERIFY2(cols.size() == 2 || cols.size() == 3, qPrintable(where));
            uint32_t row = 0, col = 0;
            if (cols[0] == "!hidden") {
                layout.hidden.push_back(cols[1].toUInt() - 1);
            } else if (cols[0] == "!filter") {
                layout.filtering = true;
                layout.filter.add(cols[1].section(':', 0, 0).toUInt() - 1,
                                  cols[1].section(':', 1, 1).toUInt() - 1);
            } else {
                QVERIFY2(cellAddress(cols[0], row, col), qPrintable(where));
                if (cols.size() == 2)
                    layout.cells.push_back({ row, col, cols[1] });
                else
                    checks.push_back({ where, cols[0], cols[1], cols[2] });
            }
        }
        for (const Check &c : checks)
            QTest::newRow(qPrintable(c.tag)) << layout << c.cell << c.formula << c.expected;
    }
}

void TestFormulaSheets::grid()
{
    QFETCH(Layout, layout);
    QFETCH(QString, cell);
    QFETCH(QString, formula);
    QFETCH(QString, expected);
    uint32_t row = 0, col = 0;
    QVERIFY(cellAddress(cell, row, col));
    std::unique_ptr<Workbook> book = build(layout, row, col, formula.toStdString());
    WorkbookSource source(*book);
    EvalOptions options;
    options.clock = 1600000000;
    Evaluator ev(source, options);
    const CellResult r = ev.result(0, row, col);
    QVERIFY2(r.status == EvalStatus::Computed, r.reason.c_str());
    QCOMPARE(display(r.value), expected);
}

QTEST_GUILESS_MAIN(TestFormulaSheets)
#include "tst_formulasheets.moc"
