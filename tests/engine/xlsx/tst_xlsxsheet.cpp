// Workbook and sheet XML: what reaches the model from each construct, with
// the XML also fed in chunks of 1-5 bytes to exercise the tokenizer's window.

#include "sheetcells.h"
#include "zipbuilder.h"

#include "io/xmlreader.h"
#include "xlsx/xlsxreader.h"
#include "xlsx/xlsxsheetparser.h"

#include <QtTest>

#include <charconv>
#include <cstring>
#include <random>
#include <vector>

using namespace sd;

Q_DECLARE_METATYPE(std::string)

namespace {

// Hands out the data a few bytes at a time (1, 2, ... 5, 1, ...).
class ChunkedSource final : public ByteSource
{
public:
    explicit ChunkedSource(const std::string &data)
        : m_data(data)
    {
    }
    Error read(char *dst, size_t cap, size_t *got) override
    {
        const size_t n = std::min({ cap, m_data.size() - m_pos, m_step });
        std::memcpy(dst, m_data.data() + m_pos, n);
        m_pos += n;
        m_step = m_step % 5 + 1;
        *got = n;
        return {};
    }

private:
    const std::string &m_data;
    size_t m_pos = 0;
    size_t m_step = 1;
};

std::string colName(uint32_t col)
{
    std::string s;
    for (uint32_t c = col + 1; c > 0; c = (c - 1) / 26)
        s.insert(s.begin(), char('A' + (c - 1) % 26));
    return s;
}

std::string dump(const Workbook &book, const Sheet &sheet)
{
    std::string out;
    for (const Cell &c : cellsWithExtent(sheet)) {
        if (!out.empty())
            out += ' ';
        out += colName(c.col) + std::to_string(c.row + 1) + '=';
        switch (c.type) {
        case CellType::Blank:
            out += '_';
            break;
        case CellType::Number: {
            char buf[32];
            std::snprintf(buf, sizeof buf, "n:%.15g", c.number);
            out += buf;
            break;
        }
        case CellType::Text:
            out += "s:" + (c.text < book.strings.size() ? book.strings[c.text] : "?");
            break;
        case CellType::Bool:
            out += c.number ? "b:1" : "b:0";
            break;
        case CellType::Error:
            out += std::string("e:") + cellErrorText(uint8_t(c.number));
            break;
        }
        if (c.xf)
            out += '@' + std::to_string(c.xf);
    }
    return out;
}

// Parses sheet XML whole and chunked; both must agree.
Error parseBothWays(const std::string &xml, Workbook &book, std::string &cells)
{
    const size_t shared = book.strings.size();
    std::string dumps[2];
    Error errors[2];
    for (int pass = 0; pass < 2; ++pass) {
        Sheet sheet;
        MemorySource whole(xml.data(), xml.size());
        ChunkedSource chunked(xml);
        ByteSource &source = pass == 0 ? static_cast<ByteSource &>(whole) : chunked;
        errors[pass] = parseSheetXml(source, "sheet", book, shared, sheet);
        sheet.finish();
        dumps[pass] = dump(book, sheet);
        book.strings.resize(shared);
    }
    if (errors[0].code != errors[1].code || dumps[0] != dumps[1])
        return Error(ErrorCode::Corrupt, "test",
                     "whole and chunked parses differ: " + errors[0].description() + " " + dumps[0]
                         + " / " + errors[1].description() + " " + dumps[1]);
    cells = dumps[0];
    return errors[0];
}

std::unique_ptr<Workbook> openBytes(const std::string &bytes, Error &e)
{
    return openXlsxBuffer(bytes.data(), bytes.size(), &e);
}

} // namespace

class TestXlsxSheet : public QObject
{
    Q_OBJECT
private slots:
    void cells_data();
    void cells();
    void shortNumbersAsFromChars();
    void refused_data();
    void refused();
    void dates_data();
    void dates();
    void sharedStringsAndStyles();
    void workbookStructure();
    void commentsWidenTheRange();
    void formattedRowsAndColumns_data();
    void formattedRowsAndColumns();
    void utf16Parts_data();
    void utf16Parts();
    void largePartStreams();
    void date1904AppliesToIsoCells();
    void missingOptionalParts();
    void notAWorkbook();
};

void TestXlsxSheet::cells_data()
{
    QTest::addColumn<std::string>("xml");
    QTest::addColumn<std::string>("expected");
    auto row = [](const char *name, const std::string &data, const std::string &expected) {
        QTest::newRow(name) << sdtest::sheetXml(data) << expected;
    };
    row("types",
        "<row r=\"1\"><c r=\"A1\"><v>1.5</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
        "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"e\"><v>#DIV/0!</v></c>"
        "<c r=\"E1\" t=\"str\"><f>A1</f><v>x</v></c><c r=\"F1\" "
        "t=\"inlineStr\"><is><t>in</t></is></c>"
        "<c r=\"G1\" t=\"n\"><v>-2E-3</v></c></row>",
        "A1=n:1.5 B1=s:two C1=b:1 D1=e:#DIV/0! E1=s:x F1=s:in G1=n:-0.002");
    // The tokenizer's short way (one space, a one-letter attribute in double
    // quotes) and its long way agree on every other spelling.
    row("attribute spellings",
        "<row r=\"1\"><c t='s' r='A1'><v>0</v></c><c  r=\"B1\"   t=\"s\"><v>1</v></c>"
        "<c r = \"C1\" s=\"2\"><v>3</v></c><c\tr=\"D1\"\nt=\"b\"><v>1</v></c>"
        "<c r=\"E1\" x:y=\"1\" t=\"s\"><v>1</v></c><c r=\"F1\" i=\"7\" s=\"1\"/></row>",
        "A1=s:one B1=s:two C1=n:3@2 D1=b:1 E1=s:two F1=_@1");
    // Numbers the short path takes, and the forms it leaves to the full parser.
    row("number forms",
        "<row r=\"1\"><c r=\"A1\"><v>007</v></c><c r=\"B1\"><v>-0.5</v></c>"
        "<c r=\"C1\"><v>.25</v></c><c r=\"D1\"><v>4.</v></c><c r=\"E1\"><v>+2</v></c>"
        "<c r=\"F1\"><v> 3 </v></c><c r=\"G1\"><v>1e3</v></c>"
        "<c r=\"H1\"><v>123456789012345678</v></c><c r=\"I1\"><v>.</v></c>"
        "<c r=\"J1\"><v>1.2.3</v></c></row>",
        "A1=n:7 B1=n:-0.5 C1=n:0.25 D1=n:4 E1=n:2 F1=n:3 G1=n:1000 H1=n:1.23456789012346e+17 "
        "I1=s:. J1=s:1.2.3");
    row("no r attributes",
        "<row><c><v>1</v></c><c><v>2</v></c></row><row><c/><c s=\"2\"/><c><v>3</v></c></row>",
        "A1=n:1 B1=n:2 B2=_@2 C2=n:3");
    row("mixed r",
        "<row r=\"3\"><c r=\"C3\"><v>1</v></c><c><v>2</v></c></row><row><c><v>3</v></c></row>",
        "C3=n:1 D3=n:2 A4=n:3");
    row("not A1-style r is ignored",
        "<row r=\"2\"><c r=\"0\"><v>1</v></c><c r=\"1\"><v>2</v></c></row>", "A2=n:1 B2=n:2");
    row("style only and empty",
        "<row r=\"1\"><c r=\"A1\"/><c r=\"B1\" s=\"0\"/><c r=\"C1\" s=\"3\"/>"
        "<c r=\"D1\" s=\"\"><v>4</v></c></row>",
        "C1=_@3 D1=n:4");
    row("formula without cached value", "<row r=\"1\"><c r=\"A1\"><f>1/0</f></c></row>", "A1=_");
    row("entities and char refs",
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a&amp;b&lt;&#x4E2D;&#65;</t></is></c>"
        "<c r=\"B1\" t=\"str\"><v>&quot;q&apos;</v></c></row>",
        "A1=s:a&b<\xE4\xB8\xAD"
        "A B1=s:\"q'");
    row("CDATA and comments",
        "<row r=\"1\"><!-- note --><c r=\"A1\" t=\"inlineStr\"><is><t><![CDATA[<x>&]]></t></is></c>"
        "<?pi stuff?></row>",
        "A1=s:<x>&");
    row("whitespace kept only with xml:space",
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t xml:space=\"preserve\">  a  </t></is></c>"
        "<c r=\"B1\" t=\"inlineStr\"><is><t> b\t\r\n</t></is></c>"
        "<c r=\"C1\" t=\"inlineStr\"><is><r><t>c </t></r><r><t xml:space=\"preserve\"> d</t></r>"
        "</is></c><c r=\"D1\" t=\"str\"><v> e </v></c></row>",
        "A1=s:  a   B1=s:b C1=s:c d D1=s: e ");
    row("inline rich text and phonetics",
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><r><t>ab</t></r><r><t>c</t></r>"
        "<rPh sb=\"0\" eb=\"1\"><t>PH</t></rPh></is></c></row>",
        "A1=s:abc");
    row("inline string in v", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><v>v</v></c></row>",
        "A1=s:v");
    row("escapes in inline strings",
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a_x000D_b_x005F_x0041_</t></is></c></row>",
        "A1=s:a\rb_x0041_");
    row("line ends normalised",
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>a\r\nb\rc&#13;d_x000D_</t></is></c></row>",
        "A1=s:a\nb\nc\rd\r");
    row("escapes in formula strings",
        "<row r=\"1\"><c r=\"A1\" t=\"str\"><f>x</f><v>a_x000D_b</v></c></row>", "A1=s:a\rb");
    row("unknown error text", "<row r=\"1\"><c r=\"A1\" t=\"e\"><v>#FOO!</v></c></row>",
        "A1=s:#FOO!");
    row("error of a later version", "<row r=\"1\"><c r=\"A1\" t=\"e\"><v>#SPILL!</v></c></row>",
        "A1=e:#SPILL!");
    row("later duplicate wins",
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"A1\"><v>2</v></c></row>", "A1=n:2");
    row("out of order rows",
        "<row r=\"5\"><c r=\"A5\"><v>5</v></c></row><row r=\"2\"><c r=\"B2\"><v>2</v></c></row>",
        "B2=n:2 A5=n:5");
    row("last cell of the grid", "<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>",
        "XFD1048576=n:1");
    row("bad shared index is blank",
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>99</v></c><c r=\"B1\" t=\"s\" s=\"1\"/></row>",
        "A1=_ B1=_@1");
    row("markup characters inside attribute values",
        "<row r=\"1\"><c r=\"A1\" x=\"a>b/>\" y='\"'><v>1</v></c ></row >", "A1=n:1");
    row("text longer than the window",
        "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + std::string(300000, 'x')
            + "</t></is></c></row>",
        "A1=s:" + std::string(300000, 'x'));
    row("single-quoted attributes", "<row r='1'><c r='B1' t='b'><v>0</v></c></row>", "B1=b:0");
    row("line ends around values",
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>\n 1\r\n</v></c><c r=\"B1\"><v>\n2\n</v></c>"
        "<c r=\"C1\" t=\"b\"><v> 1\n</v></c><c r=\"D1\" t=\"e\"><v>\n#N/A\n</v></c></row>",
        "A1=s:two B1=n:2 C1=b:1 D1=e:#N/A");
    row("non-numeric number keeps its text", "<row r=\"1\"><c r=\"A1\"><v>abc</v></c></row>",
        "A1=s:abc");
    QTest::newRow("merged area widens the range") << std::string(
        "<worksheet><sheetData><row r=\"2\"><c r=\"B2\"><v>1</v></c><c r=\"D5\" "
        "s=\"1\"><v>2</v></c>"
        "</row></sheetData><mergeCells><mergeCell ref=\"B2:D5\"/><mergeCell ref=\"F9\"/>"
        "<mergeCell ref=\"bogus\"/></mergeCells></worksheet>")
                                                  << std::string("B2=n:1 D5=n:2@1 F9=_");
    // The same sheet with a namespace prefix on every element.
    QTest::newRow("x: prefix") << std::string(
        "<x:worksheet "
        "xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData>"
        "<x:row r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>p</x:t></x:is></x:c>"
        "<x:c r=\"B1\"><x:v>2</x:v></x:c></x:row></x:sheetData></x:worksheet>")
                               << std::string("A1=s:p B1=n:2");
}

void TestXlsxSheet::cells()
{
    QFETCH(std::string, xml);
    QFETCH(std::string, expected);
    Workbook book;
    book.strings = { "one", "two" };
    std::string cells;
    const Error e = parseBothWays(xml, book, cells);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(QString::fromStdString(cells), QString::fromStdString(expected));
}

// Numbers of up to 15 digits are read without the general parser; the
// double must be the very one std::from_chars makes of the same text.
void TestXlsxSheet::shortNumbersAsFromChars()
{
    std::mt19937 rng(20261207);
    std::vector<std::string> texts;
    std::string data = "<row r=\"1\">";
    for (int i = 0; i < 5000; ++i) {
        const int digits = 1 + int(rng() % 15);
        std::string t = rng() % 4 == 0 ? "-" : "";
        const int point = int(rng() % uint32_t(digits + 1)); // digits before the point
        for (int d = 0; d < digits; ++d) {
            if (d == point && d > 0)
                t += '.';
            t += char('0' + rng() % 10);
        }
        texts.push_back(t);
        data += "<c r=\"A" + std::to_string(i + 1) + "\"><v>" + t + "</v></c>";
        if (i + 1 < 5000)
            data += "</row><row r=\"" + std::to_string(i + 2) + "\">";
    }
    data += "</row>";
    const std::string xml = sdtest::sheetXml(data);
    Workbook book;
    Sheet sheet;
    MemorySource source(xml.data(), xml.size());
    const Error e = parseSheetXml(source, "sheet", book, 0, sheet);
    QVERIFY2(!e, e.description().c_str());
    sheet.finish();
    QCOMPARE(sheet.cells.size(), texts.size());
    for (size_t i = 0; i < texts.size(); ++i) {
        double expected = 0;
        std::from_chars(texts[i].data(), texts[i].data() + texts[i].size(), expected);
        QVERIFY2(sheet.cells[i].type == CellType::Number, texts[i].c_str());
        QVERIFY2(std::memcmp(&sheet.cells[i].number, &expected, sizeof expected) == 0,
                 texts[i].c_str());
    }
}

void TestXlsxSheet::refused_data()
{
    QTest::addColumn<std::string>("xml");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");
    QTest::newRow("doctype") << std::string(
        "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY a \"aaaa\">]><worksheet>"
        "<sheetData/></worksheet>")
                             << int(ErrorCode::Unsupported) << "DOCTYPE";
    QTest::newRow("row past the grid")
        << sdtest::sheetXml("<row r=\"1048577\"><c><v>1</v></c></row>") << int(ErrorCode::TooLarge)
        << "beyond";
    QTest::newRow("column past the grid")
        << sdtest::sheetXml("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>")
        << int(ErrorCode::TooLarge) << "outside";
    {
        std::string cols = "<row r=\"1\"><c r=\"XFD1\"/><c><v>1</v></c></row>";
        QTest::newRow("column past the grid without r")
            << sdtest::sheetXml(cols) << int(ErrorCode::TooLarge) << "columns";
    }
    {
        std::string deep;
        for (int i = 0; i < 300; ++i)
            deep += "<a>";
        QTest::newRow("nesting") << "<worksheet>" + deep << int(ErrorCode::TooLarge)
                                 << "nested deeper";
    }
    {
        std::string attrs;
        for (int i = 0; i < 5000; ++i)
            attrs += " a" + std::to_string(i) + "=\"\"";
        QTest::newRow("too many attributes") << sdtest::sheetXml("<row r=\"1\"" + attrs + "/>")
                                             << int(ErrorCode::TooLarge) << "attributes";
    }
    QTest::newRow("unterminated") << std::string(
        "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c>")
                                  << int(ErrorCode::Corrupt) << "ends inside";
    // A cell closed by the row's end tag would otherwise be dropped unseen.
    QTest::newRow("mismatched end tag")
        << sdtest::sheetXml("<row r=\"1\"><c r=\"A1\"><v>1</v></row><row r=\"2\"/>")
        << int(ErrorCode::Corrupt) << "does not match";
    QTest::newRow("broken tag") << std::string(
        "<worksheet><sheetData><row r=\"1\" x></row></sheetData></worksheet>")
                                << int(ErrorCode::Corrupt) << "malformed";
    QTest::newRow("bad entity") << sdtest::sheetXml(
        "<row r=\"1\"><c r=\"A1\" t=\"str\"><v>&bogus;</v></c></row>")
                                << int(ErrorCode::Corrupt) << "entity";
    QTest::newRow("stray end tag")
        << std::string("<worksheet></worksheet></x>") << int(ErrorCode::Corrupt) << "without start";
}

void TestXlsxSheet::refused()
{
    QFETCH(std::string, xml);
    QFETCH(int, code);
    QFETCH(QString, detail);
    Workbook book;
    std::string cells;
    const Error e = parseBothWays(xml, book, cells);
    QVERIFY2(e, "accepted");
    QCOMPARE(int(e.code), code);
    QVERIFY2(QString::fromStdString(e.detail).contains(detail), e.description().c_str());
}

void TestXlsxSheet::dates_data()
{
    QTest::addColumn<QString>("iso");
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<double>("serial");
    QTest::newRow("1900-01-01") << "1900-01-01" << false << 1.0;
    QTest::newRow("1900-02-28") << "1900-02-28" << false << 59.0;
    QTest::newRow("1900-03-01") << "1900-03-01" << false << 61.0;
    QTest::newRow("2021-01-01T10:10:10")
        << "2021-01-01T10:10:10" << false << 44197.0 + 36610.0 / 86400;
    QTest::newRow("with zone") << "2021-01-01T12:00:00Z" << false << 44197.5;
    QTest::newRow("fraction") << "2021-01-01T00:00:00.5" << false << 44197.0 + 0.5 / 86400;
    QTest::newRow("time only") << "06:00:00" << false << 0.25;
    QTest::newRow("1904 epoch") << "1904-01-01" << true << 0.0;
    QTest::newRow("1904 system") << "2021-01-01" << true << 44197.0 - 1462;
}

void TestXlsxSheet::dates()
{
    QFETCH(QString, iso);
    QFETCH(bool, date1904);
    QFETCH(double, serial);
    double got = -1;
    QVERIFY(isoDateToSerial(iso.toStdString(), date1904, got));
    QCOMPARE(got, serial);
    QVERIFY(!isoDateToSerial("2021-13-01", false, got));
    QVERIFY(!isoDateToSerial("yesterday", false, got));
}

void TestXlsxSheet::sharedStringsAndStyles()
{
    const std::string sst
        = "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "count=\"999999999\">"
          "<si><t> plain\n</t></si>"
          "<si><r><rPr><b/></rPr><t xml:space=\"preserve\">rich </t></r><r><t> runs</t></r>"
          "<rPh sb=\"0\" eb=\"1\"><t>ruby</t></rPh><phoneticPr fontId=\"1\"/></si>"
          "<si><t>cr_x000D_lf</t></si><si/>"
          "<si xml:space=\"preserve\"><t> kept </t></si><si><t>_x0020_x </t></si></sst>";
    const std::string styles
        = "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
          "<numFmts count=\"1\"><numFmt numFmtId=\"164\" "
          "formatCode=\"0.0&quot;x&quot;\"/></numFmts>"
          "<cellStyleXfs count=\"1\"><xf numFmtId=\"9\"/></cellStyleXfs>"
          "<cellXfs count=\"3\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\" applyNumberFormat=\"1\"/>"
          "<xf numFmtId=\"49\" quotePrefix=\"1\"><alignment/></xf></cellXfs>"
          "<dxfs><dxf><numFmt numFmtId=\"165\" formatCode=\"bad\"/></dxf></dxfs></styleSheet>";
    const std::string sheet = sdtest::sheetXml(
        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>1</v></c>"
        "<c r=\"B1\" t=\"s\" s=\"2\"><v>2</v></c><c r=\"C1\" t=\"s\"><v>3</v></c></row>");
    Error e;
    auto book = openBytes(sdtest::minimalXlsx({ sheet }, sst, styles), e);
    QVERIFY2(book, e.description().c_str());
    QCOMPARE(book->strings.size(), size_t(6));
    // White space around a <t> goes unless xml:space="preserve" keeps it
    // (on the <t> or its <si>); an escaped space stays.
    QCOMPARE(QString::fromStdString(book->strings[0]), QString("plain"));
    QCOMPARE(QString::fromStdString(book->strings[1]), QString("rich runs"));
    QCOMPARE(QString::fromStdString(book->strings[4]), QString(" kept "));
    QCOMPARE(QString::fromStdString(book->strings[5]), QString(" x"));
    QCOMPARE(QString::fromStdString(book->strings[2]), QString("cr\rlf"));
    QCOMPARE(book->xfs.size(), size_t(3));
    QCOMPARE(int(book->xfs[1].numFmtId), 164);
    QVERIFY(book->xfs[2].quotePrefix);
    QCOMPARE(book->numFmts.size(), size_t(1));
    QCOMPARE(QString::fromStdString(book->numFmts[164]), QString("0.0\"x\""));
    const Sheet *s = book->sheet(0, &e);
    QVERIFY2(s, e.description().c_str());
    QCOMPARE(QString::fromStdString(dump(*book, *s)),
             QString("A1=s:rich runs B1=s:cr\rlf@2 C1=s:"));
}

void TestXlsxSheet::workbookStructure()
{
    // Strict namespaces, absolute, ../ and percent-encoded targets, all sheet kinds, states,
    // entity-encoded names, a workbook part outside xl/.
    const std::string strictRel = "http://purl.oclc.org/ooxml/officeDocument/relationships/";
    std::vector<sdtest::ZipItem> items = {
        { "_rels/.rels",
          "<Relationships><Relationship Id=\"r1\" Type=\"" + strictRel
              + "officeDocument\" "
                "Target=\"/book/main.xml\"/></Relationships>" },
        { "book/_rels/main.xml.rels",
          "<Relationships>"
          "<Relationship Id=\"a\" Type=\""
              + strictRel
              + "worksheet\" Target=\"../parts/one%20x.xml\"/>"
                "<Relationship Id=\"b\" Type=\""
              + strictRel
              + "chartsheet\" Target=\"/parts/chart.xml\"/>"
                "<Relationship Id=\"c\" Type=\""
              + strictRel
              + "dialogsheet\" Target=\"./dlg.xml\"/>"
                "<Relationship Id=\"d\" "
                "Type=\"http://schemas.microsoft.com/office/2006/relationships/xlMacrosheet\" "
                "Target=\"macro.xml\"/>"
                "<Relationship Id=\"x\" Type=\""
              + strictRel
              + "hyperlink\" Target=\"http://example.com\" "
                "TargetMode=\"External\"/></Relationships>" },
        { "book/main.xml",
          "<w:workbook xmlns:w=\"http://purl.oclc.org/ooxml/spreadsheetml/main\" "
          "xmlns:r=\"http://purl.oclc.org/ooxml/officeDocument/relationships\"><w:sheets>"
          "<w:sheet name=\"A&amp;B\" sheetId=\"1\" r:id=\"a\"/>"
          "<w:sheet name=\"Chart\" sheetId=\"2\" r:id=\"b\" state=\"hidden\"/>"
          "<w:sheet name=\"Dlg\" sheetId=\"3\" r:id=\"c\" state=\"veryHidden\"/>"
          "<w:sheet name=\"Mac\" sheetId=\"4\" r:id=\"d\"/></w:sheets></w:workbook>" },
        { "parts/one x.xml", sdtest::sheetXml("<row r=\"2\"><c r=\"B2\"><v>7</v></c></row>") },
        { "parts/chart.xml", "<chartsheet/>" },
        { "book/dlg.xml", "<dialogsheet/>" },
        { "book/macro.xml", sdtest::sheetXml("<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>") },
    };
    Error e;
    auto book = openBytes(sdtest::buildZip(items).bytes, e);
    QVERIFY2(book, e.description().c_str());
    QCOMPARE(book->sheets.size(), size_t(4));
    QCOMPARE(QString::fromStdString(book->sheets[0].name), QString("A&B"));
    QCOMPARE(int(book->sheets[1].kind), int(SheetKind::Chart));
    QCOMPARE(int(book->sheets[1].state), int(SheetState::Hidden));
    QCOMPARE(int(book->sheets[2].kind), int(SheetKind::Dialog));
    QCOMPARE(int(book->sheets[2].state), int(SheetState::VeryHidden));
    QCOMPARE(int(book->sheets[3].kind), int(SheetKind::Macro));
    QCOMPARE(book->worksheetCount(), 1);
    for (int i = 0; i < 4; ++i)
        QVERIFY2(book->sheet(i, &e), e.description().c_str());
    QCOMPARE(QString::fromStdString(dump(*book, *book->sheet(0))), QString("B2=n:7"));
    QCOMPARE(QString::fromStdString(dump(*book, *book->sheet(3))), QString("A1=n:1"));
}

void TestXlsxSheet::commentsWidenTheRange()
{
    // comments_stress_test.xlsx: a sheet with no cells and comments at A1
    // and N34 is saved as 34 rows of 14 empty fields.
    const std::string sheet = sdtest::sheetXml("<row r=\"2\"><c r=\"B2\"><v>1</v></c></row>");
    std::vector<sdtest::ZipItem> extra
        = { { "xl/worksheets/_rels/sheet1.xml.rels",
              "<Relationships><Relationship Id=\"c\" "
              "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
              "relationships/comments\" Target=\"../comments1.xml\"/></Relationships>" },
            { "xl/comments1.xml",
              "<comments><authors><author>a</author></authors><commentList>"
              "<comment ref=\"B2\" authorId=\"0\"><text><t>x</t></text></comment>"
              "<comment ref=\"N34\" authorId=\"0\"><text><t>y</t></text></comment>"
              "</commentList></comments>" } };
    Error e;
    auto book = openBytes(sdtest::minimalXlsx({ sheet }, {}, {}, {}, extra), e);
    QVERIFY2(book, e.description().c_str());
    const Sheet *s = book->sheet(0, &e);
    QVERIFY2(s, e.description().c_str());
    QCOMPARE(QString::fromStdString(dump(*book, *s)), QString("B2=n:1 N34=_"));
}

// The rows and columns of <row> and <col> elements in the used range, one
// row per rule, each named after the corpus file whose Excel export shows
// it (the rule is at Sheet::usedRange()).
void TestXlsxSheet::formattedRowsAndColumns_data()
{
    QTest::addColumn<std::string>("xml");
    QTest::addColumn<QString>("range");
    auto row = [](const char *name, const std::string &cols, const std::string &data,
                  const char *range) {
        QTest::newRow(name) << "<worksheet><cols>" + cols + "</cols><sheetData>" + data
                + "</sheetData></worksheet>"
                            << QString(range);
    };
    const std::string a1 = "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>";
    row("hyperlink_no_rels: formatted rows and columns",
        "<col min=\"1\" max=\"1\" style=\"2\"/><col min=\"2\" max=\"29\" style=\"4\"/>"
        "<col min=\"30\" max=\"16384\" style=\"1\"/>",
        a1 + "<row r=\"2\" s=\"4\" customFormat=\"1\"/><row r=\"40\" s=\"4\" customFormat=\"1\"/>",
        "A1:AC40");
    row("custom height", "", a1 + "<row r=\"5\" ht=\"30\" customHeight=\"1\"/>", "A1:A5");
    row("Test_LotsOfSheets: height without the flag", "", a1 + "<row r=\"5\" ht=\"30\"/>", "A1:A5");
    row("hidden row, outline level", "",
        a1 + "<row r=\"3\" hidden=\"1\"/><row r=\"7\" outlineLevel=\"2\"/>", "A1:A7");
    row("a bare row", "", a1 + "<row r=\"6\" spans=\"1:7\"/><row r=\"8\" outlineLevel=\"0\"/>",
        "A1:A1");
    row("47089 sheet 5: rows without columns", "",
        "<row r=\"4\" customHeight=\"1\"/><row r=\"6\" customHeight=\"1\"/>", "A1:A1");
    row("column style 0 or none",
        "<col min=\"1\" max=\"9\" style=\"0\"/><col min=\"10\" max=\"12\" width=\"30\"/>", a1,
        "A1:A1");
    row("column to the last column", "<col min=\"3\" max=\"16384\" style=\"5\"/>", a1, "A1:A1");
    row("51850: styled as the whole width",
        "<col min=\"1\" max=\"1\" style=\"2\"/><col min=\"2\" max=\"2\" style=\"3\"/>"
        "<col min=\"3\" max=\"3\" style=\"1\" customWidth=\"1\"/>"
        "<col min=\"4\" max=\"16384\" style=\"1\"/>",
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><v>1</v></c></row>", "A1:B1");
    row("A4X_gnumeric: columns without cells", "<col min=\"3\" max=\"5\" style=\"5\"/>", "",
        "C1:E1");
    row("styled column left of the cells", "<col min=\"1\" max=\"1\" style=\"5\"/>",
        "<row r=\"3\"><c r=\"C3\"><v>1</v></c><c r=\"D4\"><v>1</v></c></row>", "A3:D4");
    row("51585: hidden columns",
        "<col min=\"3\" max=\"9\" width=\"9.7\" style=\"6\" hidden=\"1\"/>"
        "<col min=\"10\" max=\"16384\" width=\"11\" style=\"6\"/>",
        a1, "A1:I1");
    row("47034 sheet 9: hidden, zero width", "<col min=\"3\" max=\"4\" width=\"0\" hidden=\"1\"/>",
        a1, "A1:A1");
    row("ex45978: hidden to the end", "<col min=\"3\" max=\"16384\" width=\"9\" hidden=\"1\"/>", a1,
        "A1:A1");
    row("outline: grouped column", "<col min=\"30\" max=\"30\" width=\"8.7\" outlineLevel=\"7\"/>",
        a1, "A1:AD1");
    row("bad column bounds",
        "<col min=\"0\" max=\"4\" style=\"5\"/><col min=\"6\" max=\"2\" style=\"5\"/>", a1,
        "A1:A1");
}

void TestXlsxSheet::formattedRowsAndColumns()
{
    QFETCH(std::string, xml);
    QFETCH(QString, range);
    for (int pass = 0; pass < 2; ++pass) {
        Workbook book;
        Sheet sheet;
        MemorySource whole(xml.data(), xml.size());
        ChunkedSource chunked(xml);
        ByteSource &source = pass == 0 ? static_cast<ByteSource &>(whole) : chunked;
        const Error e = parseSheetXml(source, "sheet", book, 0, sheet);
        QVERIFY2(!e, e.description().c_str());
        sheet.finish();
        const CellRange r = sheet.usedRange();
        QCOMPARE(QString::fromStdString(colName(r.firstCol) + std::to_string(r.firstRow + 1) + ':'
                                        + colName(r.lastCol) + std::to_string(r.lastRow + 1)),
                 range);
    }
}

namespace {

// UTF-8 text as UTF-16 bytes, with or without a byte-order mark.
std::string utf16(const std::string &utf8, bool bigEndian, bool bom)
{
    const QString text = QString::fromUtf8(utf8.data(), int(utf8.size()));
    std::string out;
    auto unit = [&](ushort u) {
        const char hi = char(u >> 8), lo = char(u & 0xFF);
        out += bigEndian ? hi : lo;
        out += bigEndian ? lo : hi;
    };
    if (bom)
        unit(0xFEFF);
    for (QChar c : text)
        unit(c.unicode());
    return out;
}

} // namespace

// Parts whose XML is UTF-16 (legal, and written by Excel Mobile) are read as
// the same text in UTF-8 would be, whole or fed a few bytes at a time.
void TestXlsxSheet::utf16Parts_data()
{
    QTest::addColumn<std::string>("xml");
    QTest::addColumn<std::string>("expected");
    const std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-16\" standalone=\"yes\"?>"
                              "<worksheet><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\">"
                              "<is><t>\xE4\xB8\xAD\xF0\x9F\x98\x80 x</t></is></c>"
                              "<c r=\"B1\"><v>2.5</v></c></row></sheetData></worksheet>";
    const std::string cells = "A1=s:\xE4\xB8\xAD\xF0\x9F\x98\x80 x B1=n:2.5";
    QTest::newRow("little-endian with mark") << utf16(sheet, false, true) << cells;
    QTest::newRow("big-endian with mark") << utf16(sheet, true, true) << cells;
    QTest::newRow("little-endian without mark") << utf16(sheet, false, false) << cells;
    QTest::newRow("big-endian without mark") << utf16(sheet, true, false) << cells;
    // A lone surrogate and an odd last byte become U+FFFD, not an error.
    std::string broken
        = utf16("<worksheet><sheetData><row><c t=\"inlineStr\"><is><t>a", false, true);
    broken += std::string("\x00\xD8", 2)
        + utf16("b</t></is></c></row></sheetData></worksheet>", false, false);
    QTest::newRow("lone surrogate") << broken
                                    << std::string("A1=s:a\xEF\xBF\xBD"
                                                   "b");
    QTest::newRow("UTF-8 unchanged") << sheet << cells;
}

void TestXlsxSheet::utf16Parts()
{
    QFETCH(std::string, xml);
    QFETCH(std::string, expected);
    Workbook book;
    std::string cells;
    const Error e = parseBothWays(xml, book, cells);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(QString::fromStdString(cells), QString::fromStdString(expected));

    // The same sheet in a package, with UTF-16 shared strings beside it.
    const std::string sst = utf16("<?xml version=\"1.0\" encoding=\"UTF-16\"?><sst><si><t>s"
                                  "</t></si></sst>",
                                  false, true);
    Error open;
    auto packaged = openBytes(sdtest::minimalXlsx({ xml }, sst), open);
    QVERIFY2(packaged, open.description().c_str());
    QCOMPARE(packaged->strings.size(), size_t(1));
    QCOMPARE(QString::fromStdString(packaged->strings[0]), QString("s"));
    const Sheet *s = packaged->sheet(0, &open);
    QVERIFY2(s, open.description().c_str());
    QCOMPARE(QString::fromStdString(dump(*packaged, *s)), QString::fromStdString(expected));
}

void TestXlsxSheet::largePartStreams()
{
    // Parts above the whole-buffer limit stream through the read-ahead
    // thread; a damaged one must still fail cleanly, from that thread.
    std::string rows;
    for (int r = 1; rows.size() < 20u << 20; ++r)
        rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>"
            + std::to_string(r) + "</v></c><c r=\"B" + std::to_string(r)
            + "\" t=\"inlineStr\"><is><t>text " + std::to_string(r) + "</t></is></c></row>";
    const std::string sound = sdtest::sheetXml(rows);
    // The parser stops at the first row while the thread still has megabytes
    // to inflate: it must be stopped, not waited for.
    const std::string badStart = sdtest::sheetXml("<row r=\"0\"/>" + rows);
    enum { Sound, Damaged, BadStart };
    for (const int variant : { Sound, Damaged, BadStart }) {
        const bool damaged = variant == Damaged;
        const std::string &sheet = variant == BadStart ? badStart : sound;
        std::vector<sdtest::ZipItem> items
            = { { "xl/workbook.xml",
                  "<workbook><sheets><sheet name=\"S\" sheetId=\"1\" "
                  "r:id=\"r1\"/></sheets></workbook>" },
                { "xl/_rels/workbook.xml.rels",
                  "<Relationships><Relationship Id=\"r1\" Type=\"x/worksheet\" "
                  "Target=\"s.xml\"/></Relationships>" },
                { "xl/s.xml", sheet, false } };
        sdtest::BuiltZip zip = sdtest::buildZip(items);
        if (damaged) // a digit near the end of the stored sheet: only the CRC can tell
            zip.bytes[zip.localOffsets[2] + 30 + 8 + sheet.size() - 100] ^= 1;
        Error e;
        auto book = openBytes(zip.bytes, e);
        QVERIFY2(book, e.description().c_str());
        const Sheet *s = book->sheet(0, &e);
        if (variant == BadStart) {
            QVERIFY(!s);
            QVERIFY2(e.detail.find("bad row number") != std::string::npos, e.description().c_str());
        } else if (damaged) {
            QVERIFY(!s);
            QCOMPARE(int(e.code), int(ErrorCode::Corrupt));
            QVERIFY2(e.detail.find("CRC") != std::string::npos, e.description().c_str());
        } else {
            QVERIFY2(s, e.description().c_str());
            QVERIFY(s->cells.size() > 200000);
            QCOMPARE(s->cells.size() % 2, size_t(0));
            const Cell &last = s->cells.back();
            QCOMPARE(book->strings[last.text], "text " + std::to_string(last.row + 1));
        }
    }
}

void TestXlsxSheet::date1904AppliesToIsoCells()
{
    const std::string sheet
        = sdtest::sheetXml("<row r=\"1\"><c r=\"A1\" t=\"d\"><v>1904-01-02</v></c></row>");
    Error e;
    auto book
        = openBytes(sdtest::minimalXlsx({ sheet }, {}, {}, "<workbookPr date1904=\"true\"/>"), e);
    QVERIFY2(book, e.description().c_str());
    QVERIFY(book->date1904);
    QCOMPARE(QString::fromStdString(dump(*book, *book->sheet(0))), QString("A1=n:1"));
}

void TestXlsxSheet::missingOptionalParts()
{
    // No styles, no shared strings, no content types, a sheet whose part is
    // missing (reported when loaded, not at open).
    std::vector<sdtest::ZipItem> items = {
        { "xl/workbook.xml",
          "<workbook><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/>"
          "<sheet name=\"Gone\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>" },
        { "xl/_rels/workbook.xml.rels",
          "<Relationships><Relationship Id=\"rId1\" Type=\"x/worksheet\" "
          "Target=\"worksheets/sheet1.xml\"/>"
          "<Relationship Id=\"rId2\" Type=\"x/worksheet\" "
          "Target=\"worksheets/sheet2.xml\"/></Relationships>" },
        { "xl/worksheets/sheet1.xml", "<worksheet><sheetData/></worksheet>" },
    };
    Error e;
    auto book = openBytes(sdtest::buildZip(items).bytes, e);
    QVERIFY2(book, e.description().c_str());
    QVERIFY(book->xfs.empty());
    const Sheet *s = book->sheet(0, &e);
    QVERIFY(s && s->cells.empty());
    QVERIFY(!book->sheet(1, &e));
    QCOMPARE(int(e.code), int(ErrorCode::Corrupt));
    QVERIFY2(e.detail.find("Gone") != std::string::npos, e.description().c_str());
}

void TestXlsxSheet::notAWorkbook()
{
    Error e;
    auto book = openBytes(sdtest::buildZip({ { "word/document.xml", "<document/>" } }).bytes, e);
    QVERIFY(!book);
    QCOMPARE(int(e.code), int(ErrorCode::NotAWorkbook));
    book = openBytes(sdtest::buildZip({ { "xl/workbook.xml", "<document/>" } }).bytes, e);
    QVERIFY(!book);
    QCOMPARE(int(e.code), int(ErrorCode::NotAWorkbook));
}

QTEST_GUILESS_MAIN(TestXlsxSheet)
#include "tst_xlsxsheet.moc"
