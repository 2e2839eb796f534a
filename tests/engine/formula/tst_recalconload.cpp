// Recalculation as the readers set it up: which formulas of a workbook are
// recomputed when it opens (no cached result, a full calculation asked for,
// volatile functions and what depends on them), for .xlsx built in memory
// and .xls records built byte by byte.

#include "core/model.h"
#include "xls/xlsreader.h"
#include "xlsx/xlsxreader.h"

#include <QtTest>

#include "../xls/biffbuilder.h"
#include "../xlsx/zipbuilder.h"

using namespace sd;
using namespace biffbuilder;

namespace {

// Displayed value of a cell in a plain form: numbers with up to 15 digits.
QString show(const Workbook &book, const Sheet &s, uint32_t row, uint32_t col)
{
    const Cell *c = s.find(row, col);
    if (!c)
        return QStringLiteral("(none)");
    switch (c->type) {
    case CellType::Number:
        return QString::number(c->number, 'g', 15);
    case CellType::Text:
        return QString::fromStdString(book.strings[c->text]);
    case CellType::Bool:
        return c->number ? "TRUE" : "FALSE";
    case CellType::Error:
        return QString::fromLatin1(cellErrorText(uint8_t(c->number)));
    default:
        return QStringLiteral("(blank)");
    }
}

std::string sheetXml(const std::string &rows)
{
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<sheetData>"
        + rows + "</sheetData></worksheet>";
}

std::unique_ptr<Workbook> openXlsx(const std::vector<std::string> &sheets,
                                   const std::string &wb = {})
{
    const std::string bytes = sdtest::minimalXlsx(sheets, {}, {}, wb);
    Error e;
    auto book = openXlsxBuffer(bytes.data(), bytes.size(), &e);
    if (!book)
        qWarning("%s", e.description().c_str());
    return book;
}

// BIFF8 FORMULA: cell, cached number, tokens.
QByteArray formula(int row, int col, double cached, const QByteArray &tokens)
{
    return rec(0x0006, rcx(row, col) + f64(cached) + u16(0) + u32(0) + u16(tokens.size()) + tokens);
}

const QByteArray kRandTimesZero = u8(0x41) + u16(63) + u8(0x1E) + u16(0) + u8(0x05); // RAND()*0

} // namespace

class TestRecalcOnLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qputenv("SOURCE_DATE_EPOCH", "1600000000"); }
    void cleanupTestCase() { qunsetenv("SOURCE_DATE_EPOCH"); }
    void xlsxUncachedFormulasShowValues();
    void xlsxCachedResultsStand();
    void xlsxFullCalculationOnLoad();
    void xlsxMissingFunctionsAfterOlderEngine_data();
    void xlsxMissingFunctionsAfterOlderEngine();
    void xlsxSharedAndArrayFormulas();
    void xlsxVolatileAndDependents();
    void xlsxNamesAndOtherSheets();
    void xlsxDynamicArrays();
    void xlsxTables();
    void xlsRecords();
    void hiddenAndFilteredRows();
};

void TestRecalcOnLoad::xlsxUncachedFormulasShowValues()
{
    // As libraries write them: formulas without results.
    auto book = openXlsx({ sheetXml("<row r=\"1\"><c r=\"A1\"><v>2</v></c>"
                                    "<c r=\"B1\"><f>A1*3</f></c>"
                                    "<c r=\"C1\" t=\"str\"><f>A1&amp;\"x\"</f></c>"
                                    "<c r=\"D1\"><f>1/0</f></c>"
                                    "<c r=\"E1\"><f>NOSUCHFUNCTION(1)</f></c>"
                                    "<c r=\"F1\"><f>SUM(</f></c></row>") });
    QVERIFY(book);
    const Sheet *s = book->sheet(0);
    QVERIFY(s);
    QCOMPARE(show(*book, *s, 0, 1), QString("6"));
    QCOMPARE(show(*book, *s, 0, 2), QString("2x"));
    QCOMPARE(show(*book, *s, 0, 3), QString("#DIV/0!"));
    QCOMPARE(show(*book, *s, 0, 4), QString("#NAME?"));
    QCOMPARE(show(*book, *s, 0, 5), QString("(blank)")); // cannot be parsed: nothing to show
    QCOMPARE(book->calcNotes.size(), size_t(2));
}

void TestRecalcOnLoad::xlsxCachedResultsStand()
{
    auto book = openXlsx({ sheetXml("<row r=\"1\"><c r=\"A1\"><v>2</v></c>"
                                    "<c r=\"B1\"><f>A1*3</f><v>99</v></c></row>") });
    QVERIFY(book);
    const Sheet *s = book->sheet(0);
    QCOMPARE(show(*book, *s, 0, 1), QString("99"));
}

void TestRecalcOnLoad::xlsxFullCalculationOnLoad()
{
    // XlsxWriter writes 0 as every result and asks for a full calculation.
    auto book = openXlsx({ sheetXml("<row r=\"1\"><c r=\"A1\"><v>2</v></c>"
                                    "<c r=\"B1\"><f>A1*3</f><v>0</v></c></row>") },
                         "<calcPr calcId=\"124519\" fullCalcOnLoad=\"1\"/>");
    QVERIFY(book);
    QVERIFY(book->fullCalcOnLoad);
    QCOMPARE(show(*book, *book->sheet(0), 0, 1), QString("6"));
}

void TestRecalcOnLoad::xlsxMissingFunctionsAfterOlderEngine_data()
{
    QTest::addColumn<QString>("calcPr");
    QTest::addColumn<bool>("macros");
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("shown");
    const QString older = "<calcPr calcId=\"140000\"/>";
    QTest::newRow("older engine") << older << false << "Comment(A1)"
                                  << "#NAME?";
    QTest::newRow("user function prefix") << older << false << "_xludf.Comment(A1)"
                                          << "#NAME?";
    QTest::newRow("inside IF") << older << false << "IF(A1,Mine( A1 ),1)"
                               << "#NAME?";
    QTest::newRow("current engine") << "<calcPr calcId=\"191029\"/>" << false << "Comment(A1)"
                                    << "cached";
    QTest::newRow("engine not recorded") << "" << false << "Comment(A1)"
                                         << "cached";
    QTest::newRow("workbook with macros") << older << true << "Comment(A1)"
                                          << "cached";
    QTest::newRow("add-in era function") << older << false << "ACCRINT(A1,A1,A1,1,1,1)"
                                         << "cached";
    QTest::newRow("table function") << older << false << "SUM(A1)"
                                    << "cached";
    QTest::newRow("later function") << older << false << "_xlfn.NOSUCH(A1)"
                                    << "cached";
    QTest::newRow("name in a string") << older << false << "\"Comment(\"&A1"
                                      << "cached";
    QTest::newRow("quoted sheet") << older << false << "'Mine(1)'!A1"
                                  << "cached";
    QTest::newRow("defined name") << older << false << "Named(A1)"
                                  << "cached";
}

void TestRecalcOnLoad::xlsxMissingFunctionsAfterOlderEngine()
{
    QFETCH(QString, calcPr);
    QFETCH(bool, macros);
    QFETCH(QString, formula);
    QFETCH(QString, shown);
    QString escaped = formula.toHtmlEscaped();
    auto book = openXlsx({ sheetXml("<row r=\"1\"><c r=\"A1\"><v>2</v></c>"
                                    "<c r=\"B1\" t=\"str\"><f>"
                                    + escaped.toStdString() + "</f><v>cached</v></c></row>") },
                         calcPr.toStdString()
                             + "<definedNames><definedName name=\"Named\">1</definedName>"
                               "</definedNames>");
    QVERIFY(book);
    book->macros = macros;
    QCOMPARE(show(*book, *book->sheet(0), 0, 1), shown);
}

void TestRecalcOnLoad::xlsxSharedAndArrayFormulas()
{
    auto book = openXlsx({ sheetXml(
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"shared\" ref=\"B1:B3\" "
        "si=\"0\">A1*2</f></c>"
        "<c r=\"C1\"><f t=\"array\" ref=\"C1:C3\">A1:A3*10</f></c></row>"
        "<row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><f t=\"shared\" si=\"0\"/></c></row>"
        "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><f t=\"shared\" si=\"0\"/></c>"
        "<c r=\"C3\"><v>5</v></c></row>") });
    QVERIFY(book);
    const Sheet *s = book->sheet(0);
    QCOMPARE(show(*book, *s, 0, 1), QString("2"));
    QCOMPARE(show(*book, *s, 2, 1), QString("6"));
    QCOMPARE(show(*book, *s, 0, 2), QString("10"));
    QCOMPARE(show(*book, *s, 1, 2), QString("20")); // no cell in the file: the array's element
    QCOMPARE(show(*book, *s, 2, 2), QString("5")); // the file's result stands
}

void TestRecalcOnLoad::xlsxVolatileAndDependents()
{
    auto book = openXlsx({ sheetXml("<row r=\"1\"><c r=\"A1\"><f>NOW()</f><v>1</v></c>"
                                    "<c r=\"B1\"><f>INT(A1)+1</f><v>5</v></c>"
                                    "<c r=\"C1\"><f>1+1</f><v>7</v></c></row>") });
    QVERIFY(book);
    const Sheet *s = book->sheet(0);
    // SOURCE_DATE_EPOCH 1600000000 is 2020-09-13 12:26:40 UTC.
    QVERIFY(show(*book, *s, 0, 0).startsWith("44087.5"));
    QCOMPARE(show(*book, *s, 0, 1), QString("44088"));
    QCOMPARE(show(*book, *s, 0, 2), QString("7"));
}

void TestRecalcOnLoad::xlsxNamesAndOtherSheets()
{
    // Sheet1 reads a volatile cell of Sheet2 through a name; both recompute.
    auto book
        = openXlsx({ sheetXml("<row r=\"1\"><c r=\"A1\"><v>4</v></c>"
                              "<c r=\"B1\"><f>Rate*A1+Other</f><v>0</v></c></row>"),
                     sheetXml("<row r=\"1\"><c r=\"A1\"><f>RAND()*0+7</f><v>1</v></c></row>") },
                   "<definedNames><definedName name=\"Rate\">0.5</definedName>"
                   "<definedName name=\"Other\">Sheet2!$A$1</definedName></definedNames>");
    QVERIFY(book);
    QCOMPARE(book->names.size(), size_t(2));
    QCOMPARE(show(*book, *book->sheet(0), 0, 1), QString("9"));
    QCOMPARE(show(*book, *book->sheet(1), 0, 0), QString("7"));
}

void TestRecalcOnLoad::xlsxDynamicArrays()
{
    // Cell metadata 1 marks a dynamic array (xl/metadata.xml as the
    // application writes it). Without cached results: A1 spills below the
    // one cell recorded, B1 leaves the recorded B3:B4 empty, C1 meets C2's
    // value; D1:D3 is an array formula of fixed size.
    const std::string metadata
        = "<metadata xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:xda=\"http://schemas.microsoft.com/office/spreadsheetml/2017/dynamicarray\">"
          "<metadataTypes count=\"1\"><metadataType name=\"XLDAPR\" "
          "minSupportedVersion=\"120000\"/></metadataTypes>"
          "<futureMetadata name=\"XLDAPR\" count=\"1\"><bk><extLst><ext "
          "uri=\"{bdbb8cdc-fa1e-496e-a857-3c3f30c029c3}\"><xda:dynamicArrayProperties "
          "fDynamic=\"1\" fCollapsed=\"0\"/></ext></extLst></bk></futureMetadata>"
          "<cellMetadata count=\"1\"><bk><rc t=\"1\" v=\"0\"/></bk></cellMetadata></metadata>";
    const std::string rels
        = "<Relationship Id=\"rMeta\" Type=\"http://schemas.openxmlformats.org/officeDocument/"
          "2006/relationships/sheetMetadata\" Target=\"metadata.xml\"/>";
    const std::string sheet = sheetXml(
        "<row r=\"1\"><c r=\"A1\" cm=\"1\"><f t=\"array\" ref=\"A1\">_xlfn.SEQUENCE(3)</f></c>"
        "<c r=\"B1\" cm=\"1\"><f t=\"array\" ref=\"B1:B4\">_xlfn.SEQUENCE(2)</f></c>"
        "<c r=\"C1\" cm=\"1\"><f t=\"array\" ref=\"C1\">_xlfn.SEQUENCE(2)</f></c>"
        "<c r=\"D1\"><f t=\"array\" ref=\"D1:D3\">{1;2}</f></c></row>"
        "<row r=\"2\"><c r=\"C2\"><v>5</v></c></row>");
    const std::string bytes
        = sdtest::minimalXlsx({ sheet }, {}, {}, {}, { { "xl/metadata.xml", metadata } }, rels);
    Error e;
    auto book = openXlsxBuffer(bytes.data(), bytes.size(), &e);
    QVERIFY2(book, e.description().c_str());
    const Sheet *s = book->sheet(0);
    QVERIFY(s);
    QCOMPARE(show(*book, *s, 2, 0), QString("3"));
    QCOMPARE(show(*book, *s, 1, 1), QString("2"));
    QVERIFY(!s->find(2, 1) || s->find(2, 1)->type == CellType::Blank);
    QCOMPARE(show(*book, *s, 0, 2), QString("#SPILL!"));
    QCOMPARE(show(*book, *s, 1, 2), QString("5"));
    QCOMPARE(show(*book, *s, 2, 3), QString("#N/A"));
}

void TestRecalcOnLoad::xlsxTables()
{
    // A table part reached through the sheet's relationships, as the
    // application writes it; formulas without results refer to it.
    const std::string table
        = "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" "
          "name=\"Table1\" displayName=\"Stock\" ref=\"A1:C4\" totalsRowCount=\"1\">"
          "<autoFilter ref=\"A1:C3\"/><tableColumns count=\"3\"><tableColumn id=\"1\" "
          "name=\"Item\"/><tableColumn id=\"2\" name=\"Qty\"/><tableColumn id=\"3\" "
          "name=\"Twice\"><calculatedColumnFormula>Stock[[#This Row],[Qty]]*2"
          "</calculatedColumnFormula></tableColumn></tableColumns></table>";
    const std::string rels
        = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
          "relationships/table\" Target=\"../tables/table1.xml\"/></Relationships>";
    const std::string sheet
        = sheetXml("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Item</t></is></c>"
                   "<c r=\"B1\" t=\"inlineStr\"><is><t>Qty</t></is></c>"
                   "<c r=\"C1\" t=\"inlineStr\"><is><t>Twice</t></is></c></row>"
                   "<row r=\"2\"><c r=\"B2\"><v>4</v></c><c r=\"C2\"><f>Stock[[#This "
                   "Row],[Qty]]*2</f></c></row>"
                   "<row r=\"3\"><c r=\"B3\"><v>5</v></c><c r=\"C3\"><f>Stock[[#This "
                   "Row],[Qty]]*2</f></c></row>"
                   "<row r=\"4\"><c r=\"B4\"><f>SUBTOTAL(109,Stock[Qty])</f></c>"
                   "<c r=\"E4\"><f>SUM(Stock[Twice])+ROWS(Stock[#All])</f></c></row>");
    const std::string bytes = sdtest::minimalXlsx(
        { sheet }, {}, {}, {},
        { { "xl/worksheets/_rels/sheet1.xml.rels", rels }, { "xl/tables/table1.xml", table } });
    Error e;
    auto book = openXlsxBuffer(bytes.data(), bytes.size(), &e);
    QVERIFY2(book, e.description().c_str());
    QCOMPARE(book->tables.size(), size_t(1));
    const Sheet *s = book->sheet(0);
    QVERIFY(s);
    QCOMPARE(show(*book, *s, 1, 2), QString("8"));
    QCOMPARE(show(*book, *s, 2, 2), QString("10"));
    QCOMPARE(show(*book, *s, 3, 1), QString("9"));
    QCOMPARE(show(*book, *s, 3, 4), QString("22"));
}

void TestRecalcOnLoad::xlsRecords()
{
    // Globals: SUPBOOK of this workbook, an add-in SUPBOOK with EOMONTH,
    // EXTERNSHEET (0: Sheet1, 1: the add-in), NAME Two = 2.
    const QByteArray globals = rec(0x01AE, u16(2) + u16(0x0401)) + rec(0x01AE, u16(1) + u16(0x3A01))
        + rec(0x0023, u16(0) + u32(0) + u8(7) + u8(0) + QByteArray("EOMONTH"))
        + rec(0x0017, u16(2) + u16(0) + u16(0) + u16(0) + u16(1) + u16(0xFFFE) + u16(0xFFFE))
        + rec(0x0018,
              u16(0) + u8(0) + u8(3) + u16(3) + u16(0) + u16(0) + u32(0) + u8(0) + QByteArray("Two")
                  + u8(0x1E) + u16(2));
    const QByteArray sheet1 = rec(0x0203, rcx(0, 0) + f64(2))
        // B1 = A1*3, cached 99: stands.
        + formula(0, 1, 99, u8(0x44) + u16(0) + u16(0xC000) + u8(0x1E) + u16(3) + u8(0x05))
        // C1 = RAND()*0, cached 5: volatile.
        + formula(0, 2, 5, kRandTimesZero)
        // D1:D2 share C1*0+1 (ptgRefN: same row, one column left); D1 reads C1.
        + formula(0, 3, 7, u8(0x01) + u16(0) + u16(3))
        + rec(0x04BC,
              u16(0) + u16(1) + u8(3) + u8(3) + u8(0) + u8(2) + u16(13) + u8(0x4C) + u16(0)
                  + u16(0xC000 | 0xFF) + u8(0x1E) + u16(0) + u8(0x05) + u8(0x1E) + u16(1)
                  + u8(0x03))
        + formula(1, 3, 7, u8(0x01) + u16(0) + u16(3));
    const QByteArray sheet2
        // A1 = Sheet1!A1 + Two + RAND()*0 = 4 (3-D reference, name, volatile).
        = formula(0, 0, 0,
                  u8(0x5A) + u16(0) + u16(0) + u16(0) + u8(0x43) + u16(1) + u16(0) + u8(0x03)
                      + kRandTimesZero + u8(0x03))
        // B1 = EOMONTH(40000, 1) + RAND()*0 through the add-in name.
        + formula(0, 1, 0,
                  u8(0x39) + u16(1) + u16(1) + u16(0) + u8(0x1F) + f64(40000) + u8(0x1E) + u16(1)
                      + u8(0x42) + u8(3) + u16(255) + kRandTimesZero + u8(0x03));
    const QByteArray stream = workbookStream(
        0x0600, globals, { SheetSpec { "Sheet1", sheet1 }, SheetSpec { "Sheet2", sheet2 } });
    const Cfb cfb = buildCfb({ { "Workbook", stream } });
    Error e;
    auto book = openXlsMemory(reinterpret_cast<const uint8_t *>(cfb.bytes.constData()),
                              size_t(cfb.bytes.size()), "test.xls", &e);
    QVERIFY2(book, e.description().c_str());
    const Sheet *s = book->sheet(0);
    QVERIFY(s);
    QCOMPARE(s->formulas.size(), size_t(4));
    QCOMPARE(show(*book, *s, 0, 1), QString("99"));
    QCOMPARE(show(*book, *s, 0, 2), QString("0"));
    QCOMPARE(show(*book, *s, 0, 3), QString("1"));
    QCOMPARE(show(*book, *s, 1, 3), QString("7"));
    const Sheet *t = book->sheet(1);
    QVERIFY(t);
    QCOMPARE(show(*book, *t, 0, 0), QString("4"));
    QCOMPARE(show(*book, *t, 0, 1), QString("40056")); // 2009-08-31
}

// SUBTOTAL tells rows hidden by hand (counted by 1-11, left out by 101-111)
// from rows a filter hides (left out by both), as the readers record them:
// xlsx <row hidden>, <sheetPr filterMode> and <autoFilter ref>; .xls ROW's
// fDyZero flag and FILTERMODE (whose sheet's hidden rows are all filtered).
void TestRecalcOnLoad::hiddenAndFilteredRows()
{
    auto book = openXlsx({ "<worksheet "
                           "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                           "<sheetPr filterMode=\"1\"/><sheetData>"
                           "<row r=\"1\"><c r=\"A1\"><v>1</v></c>"
                           "<c r=\"B1\"><f>SUBTOTAL(9,A1:A4)</f></c>"
                           "<c r=\"C1\"><f>SUBTOTAL(109,A1:A4)</f></c></row>"
                           "<row r=\"2\" hidden=\"1\"><c r=\"A2\"><v>2</v></c></row>"
                           "<row r=\"3\" hidden=\"1\"><c r=\"A3\"><v>4</v></c></row>"
                           "<row r=\"4\"><c r=\"A4\"><v>8</v></c></row>"
                           "</sheetData><autoFilter ref=\"A3:A4\"/></worksheet>" });
    QVERIFY(book);
    QCOMPARE(show(*book, *book->sheet(0), 0, 1), QString("11"));
    QCOMPARE(show(*book, *book->sheet(0), 0, 2), QString("9"));

    auto row = [](int r, bool hidden) {
        return rec(0x0208,
                   u16(r) + u16(0) + u16(1) + u16(255) + u16(0) + u16(0)
                       + u16(0x0100 | (hidden ? 0x20 : 0)) + u16(15));
    };
    // SUBTOTAL(code, A1:A4)+RAND()*0 (volatile, so recalculated on load):
    // ptgInt, ptgArea, ptgFuncVar 344, RAND()*0, ptgAdd.
    auto subtotal = [](int code) {
        return u8(0x1E) + u16(code) + u8(0x25) + u16(0) + u16(3) + u16(0) + u16(0) + u8(0x42)
            + u8(2) + u16(344) + kRandTimesZero + u8(0x03);
    };
    const QByteArray cells = row(0, false) + row(1, true) + row(2, true) + row(3, false)
        + rec(0x0203, rcx(0, 0) + f64(1)) + rec(0x0203, rcx(1, 0) + f64(2))
        + rec(0x0203, rcx(2, 0) + f64(4)) + rec(0x0203, rcx(3, 0) + f64(8))
        + formula(0, 1, 0, subtotal(9)) + formula(0, 2, 0, subtotal(109));
    const QByteArray stream = workbookStream(
        0x0600, {},
        { SheetSpec { "Hidden", cells }, SheetSpec { "Filtered", rec(0x009B, {}) + cells } });
    const Cfb cfb = buildCfb({ { "Workbook", stream } });
    Error e;
    auto xls = openXlsMemory(reinterpret_cast<const uint8_t *>(cfb.bytes.constData()),
                             size_t(cfb.bytes.size()), "test.xls", &e);
    QVERIFY2(xls, e.description().c_str());
    QCOMPARE(show(*xls, *xls->sheet(0), 0, 1), QString("15"));
    QCOMPARE(show(*xls, *xls->sheet(0), 0, 2), QString("9"));
    QCOMPARE(show(*xls, *xls->sheet(1), 0, 1), QString("9"));
    QCOMPARE(show(*xls, *xls->sheet(1), 0, 2), QString("9"));
}

QTEST_GUILESS_MAIN(TestRecalcOnLoad)
#include "tst_recalconload.moc"
