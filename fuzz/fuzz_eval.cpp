// libFuzzer target for formula evaluation over whole workbooks. The input is
// not a file: its bytes drive a small generator that writes an .xlsx package
// asking for a full calculation on load, with up to three sheets of sparse
// cells (numbers, text, logicals, errors), formulas without cached results
// (plain, array over a range, spilled, shared), defined names (global and
// sheet-scoped), a table, and formulas that call any function of the table
// with references near and far (whole rows and columns, other sheets, 3-D,
// names, structured references). The package is opened as the converter
// opens it, every sheet is loaded (which recalculates it) and every cell's
// displayed text rendered, so the input reaches evaluation instead of
// dying in a parser.
#include "core/display.h"
#include "formula/functiontable_p.h"
#include "storedzip.h"
#include "xlsx/xlsxreader.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

// The fuzz input, read as choices; past its end every choice is 0.
class Choices
{
public:
    Choices(const uint8_t *data, size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    unsigned next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
    unsigned below(unsigned n) { return n ? next() % n : 0; }
    bool done() const { return m_pos >= m_size; }

private:
    const uint8_t *m_data;
    size_t m_size, m_pos = 0;
};

const char *const kSheets[] = { "S1", "Two words", "S3" };
const uint32_t kRows[] = { 0, 1, 2, 3, 4, 5, 9, 99, 1000, 65535, 1048575 };
const uint32_t kCols[] = { 0, 1, 2, 3, 4, 7, 25, 255, 16383 };

std::string column(uint32_t c)
{
    std::string s;
    for (uint32_t n = c + 1; n > 0; n = (n - 1) / 26)
        s.insert(s.begin(), char('A' + (n - 1) % 26));
    return s;
}

std::string cellName(Choices &in)
{
    const char *dollar[] = { "", "$" };
    return dollar[in.below(2)] + column(kCols[in.below(9)]) + dollar[in.below(2)]
        + std::to_string(kRows[in.below(11)] + 1);
}

std::string reference(Choices &in)
{
    std::string ref;
    switch (in.below(12)) {
    case 0:
        return column(kCols[in.below(9)]) + ":" + column(kCols[in.below(9)]);
    case 1:
        return std::to_string(kRows[in.below(11)] + 1) + ":"
            + std::to_string(kRows[in.below(11)] + 1);
    case 2:
        return "'" + std::string(kSheets[in.below(3)]) + "'!" + cellName(in) + ":" + cellName(in);
    case 3:
        return "S1:S3!" + cellName(in);
    case 4:
        return std::string("Table1[") + (in.below(2) ? "Amount]" : "[#All],[Name]]");
    case 5:
        return in.below(2) ? "Data" : "Calc";
    case 6:
        return cellName(in) + "#";
    default:
        ref = cellName(in);
        if (in.below(2))
            ref += ":" + cellName(in);
        return ref;
    }
}

std::string constant(Choices &in)
{
    switch (in.below(7)) {
    case 0:
        return std::to_string(int(in.next()) - 64);
    case 1:
        return "0.5";
    case 2:
        return "\"" + std::string(in.below(2) ? "a*" : "12") + "\"";
    case 3:
        return in.below(2) ? "TRUE" : "FALSE";
    case 4:
        return in.below(2) ? "#N/A" : "#DIV/0!";
    case 5:
        return "{1,2;3,\"x\"}";
    default:
        return "1E+300";
    }
}

const char *const kOperators[] = { "+", "-", "*", "/", "^", "&", "=", "<", ">=", " ", ":", "," };

std::string expression(Choices &in, int depth)
{
    const unsigned kind = depth >= 4 || in.done() ? in.below(2) : in.below(6);
    if (kind == 0)
        return reference(in);
    if (kind == 1)
        return constant(in);
    if (kind == 2) {
        const unsigned op = in.below(12);
        std::string e = expression(in, depth + 1) + kOperators[op] + expression(in, depth + 1);
        return op >= 9 ? "(" + e + ")" : e;
    }
    if (kind == 3)
        return "-" + expression(in, depth + 1) + (in.below(2) ? "%" : "");
    // A function of the table, evaluated or not, with up to four arguments.
    const std::vector<sd::formula::FunctionRows> parts = sd::formula::functionRows();
    const sd::formula::FunctionRows &part = parts[in.below(unsigned(parts.size()))];
    const sd::formula::FunctionInfo &f = part.first[in.below(unsigned(part.count))];
    std::string call = std::string(f.name) + "(";
    const unsigned count = f.minArgs + in.below(std::min(4, f.maxArgs - f.minArgs + 1));
    for (unsigned i = 0; i < count; ++i)
        call += (i ? "," : "") + (in.below(8) ? expression(in, depth + 1) : std::string());
    return call + ")";
}

std::string escaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else if (c == '"')
            out += "&quot;";
        else
            out += c;
    }
    return out;
}

// One sheet's XML: cells in row order, as the format requires.
std::string sheetXml(Choices &in, int sheet, std::vector<std::string> &strings)
{
    std::vector<std::pair<uint64_t, std::string>> cells;
    const unsigned count = 1 + in.below(sheet == 0 ? 24 : 8);
    for (unsigned i = 0; i < count; ++i) {
        const uint32_t row = kRows[in.below(11)], col = kCols[in.below(9)];
        const std::string at = column(col) + std::to_string(row + 1);
        std::string c = "<c r=\"" + at + "\"";
        switch (in.below(8)) {
        case 0:
            c += "><v>" + std::to_string(int(in.next()) - 100) + "</v></c>";
            break;
        case 1:
            strings.push_back(in.below(2) ? "apple" : "10");
            c += " t=\"s\"><v>" + std::to_string(strings.size() - 1) + "</v></c>";
            break;
        case 2:
            c += in.below(2) ? " t=\"b\"><v>1</v></c>" : " t=\"e\"><v>#REF!</v></c>";
            break;
        case 3: { // an array formula over a range from this cell
            const uint32_t rows = 1 + in.below(3), cols = 1 + in.below(2);
            c += in.below(2) ? " cm=\"1\"" : "";
            c += "><f t=\"array\" ref=\"" + at + ":" + column(col + cols - 1)
                + std::to_string(row + rows) + "\">" + escaped(expression(in, 1)) + "</f></c>";
            break;
        }
        case 4: // a shared formula and one cell that uses it
            c += "><f t=\"shared\" ref=\"" + at + ":" + column(col) + std::to_string(row + 3)
                + "\" si=\"0\">" + escaped(expression(in, 1)) + "</f></c>";
            if (row + 1 < 1048576)
                cells.push_back({ (uint64_t(row + 1) << 16) | col,
                                  "<c r=\"" + column(col) + std::to_string(row + 2)
                                      + "\"><f t=\"shared\" si=\"0\"/></c>" });
            break;
        default:
            c += "><f>" + escaped(expression(in, 0)) + "</f></c>";
        }
        cells.push_back({ (uint64_t(row) << 16) | col, c });
    }
    std::sort(cells.begin(), cells.end(),
              [](const auto &a, const auto &b) { return a.first < b.first; });
    std::string xml = "<worksheet><sheetData>";
    uint64_t lastRow = ~uint64_t(0), lastCell = ~uint64_t(0);
    for (const auto &[key, c] : cells) {
        if (key == lastCell)
            continue; // one cell per place
        if (key >> 16 != lastRow) {
            xml += lastRow == ~uint64_t(0) ? "" : "</row>";
            xml += "<row r=\"" + std::to_string((key >> 16) + 1) + "\">";
            lastRow = key >> 16;
        }
        xml += c;
        lastCell = key;
    }
    xml += lastRow == ~uint64_t(0) ? "</sheetData>" : "</row></sheetData>";
    return xml
        + (sheet == 0 ? "<tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>" : "")
        + "</worksheet>";
}

std::string package(Choices &in)
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const int sheets = 1 + int(in.below(3));
    std::vector<std::string> strings;
    std::vector<std::pair<std::string, std::string>> parts;
    std::string book = "<workbook xmlns:r=\"" + rel.substr(0, rel.size() - 1) + "\"><sheets>";
    std::string bookRels = "<Relationships>";
    for (int i = 0; i < sheets; ++i) {
        const std::string n = std::to_string(i + 1);
        book += "<sheet name=\"" + std::string(kSheets[i]) + "\" sheetId=\"" + n + "\" r:id=\"rId"
            + n + "\"/>";
        bookRels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel
            + "worksheet\" Target=\"worksheets/sheet" + n + ".xml\"/>";
        parts.push_back({ "xl/worksheets/sheet" + n + ".xml", sheetXml(in, i, strings) });
    }
    book += "</sheets><definedNames>";
    for (unsigned i = 0, n = in.below(4); i < n; ++i) {
        const char *const names[] = { "Data", "Calc" };
        const std::string scope = in.below(3) ? "" : " localSheetId=\"0\"";
        book += "<definedName name=\"" + std::string(names[i % 2]) + "\"" + scope + ">"
            + escaped(in.below(2) ? "S1!" + reference(in) : expression(in, 2)) + "</definedName>";
    }
    book += "</definedNames><calcPr fullCalcOnLoad=\"1\"/></workbook>";
    bookRels += "<Relationship Id=\"rId9\" Type=\"" + rel
        + "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>";
    std::string sst = "<sst>";
    for (const std::string &s : strings)
        sst += "<si><t>" + s + "</t></si>";
    parts.push_back({ "xl/sharedStrings.xml", sst + "</sst>" });
    parts.push_back({ "xl/workbook.xml", book });
    parts.push_back({ "xl/_rels/workbook.xml.rels", bookRels });
    parts.push_back({ "xl/worksheets/_rels/sheet1.xml.rels",
                      "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel
                          + "table\" Target=\"../tables/table1.xml\"/></Relationships>" });
    parts.push_back({ "xl/tables/table1.xml",
                      "<table id=\"1\" name=\"Table1\" displayName=\"Table1\" ref=\"B2:C6\" "
                      "totalsRowCount=\"1\"><tableColumns count=\"2\"><tableColumn id=\"1\" "
                      "name=\"Name\"/><tableColumn id=\"2\" name=\"Amount\" "
                      "totalsRowFunction=\"sum\"/></tableColumns></table>" });
    parts.push_back({ "_rels/.rels",
                      "<Relationships><Relationship Id=\"rId1\" Type=\"" + rel
                          + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>" });
    return fuzzzip::storedZip(parts);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Choices in(data, size);
    const std::string zip = package(in);
    sd::Error error;
    auto book = sd::openXlsxBuffer(zip.data(), zip.size(), &error);
    if (!book)
        return 0;
    sd::DisplayFormatter formatter(*book);
    std::string text;
    for (int i = 0; i < int(book->sheets.size()); ++i) {
        const sd::Sheet *sheet = book->sheet(i, &error);
        if (!sheet)
            continue;
        for (const sd::Cell &cell : sheet->cells) {
            text.clear();
            formatter.append(cell, text);
        }
    }
    return 0;
}
