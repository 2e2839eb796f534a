// The oracle: every workbook of the shared corpus that the application
// itself saved carries its results as cached values. Each formula cell is
// evaluated while ignoring its cache and compared with it. Workbooks that
// other programs wrote (often without results) but that the application
// opened, recalculated and saved as CSV are compared through those exports
// instead: each formula cell's displayed text against its field. The
// figures (overall, per workbook, per function) and every disagreement with
// its reason go to formula-oracle.txt in the build folder; the test fails
// below the bounds.

#include "core/display.h"
#include "core/model.h"
#include "formula/ast.h"
#include "formula/functions.h"
#include "formula/workbookcalc.h"
#include "io/cfb.h"
#include "io/zip.h"

#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>
#include <QTextCodec>
#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <map>
#include <set>

#include "corpus.h"
#include "oracleexports.h"

using namespace sd;
using namespace sd::formula;

namespace {

// Measured: see formula-oracle.txt. Agreement on evaluated formulas and the
// share of formula cells whose functions the engine evaluates. The agreement
// bound was what the engine measured when poi/ joined the corpus (99.16%);
// issue 24 raises it as its faults are mended (99.29% after the lookup,
// MODE, ROMAN, pair-sum, near-zero and trigonometry rules); the coverage
// bound rises as the functions the application has are added (97.78%
// measured with the later functions, tables and dynamic arrays).
constexpr double kMinAgreement = 99.28;
constexpr double kMinCoverage = 97.75;
// Agreement of the formula cells of workbooks that other programs wrote
// with the application's CSV exports of them (displayed text, so the
// number-format renderer counts too): 100% of 1,385 cells of 14 workbooks
// when the exports joined the oracle; the bound is issue 24's aim for
// every workbook.
constexpr double kMinExportAgreement = 99.9;

// Which program saved the workbook: docProps/app.xml, or the summary
// information of a compound file.
QString application(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    if (bytes.startsWith("PK")) {
        ZipArchive zip;
        if (zip.openMemory(bytes.constData(), size_t(bytes.size())))
            return {};
        const ZipEntry *app = zip.find("docProps/app.xml");
        std::string xml;
        if (!app || zip.extract(*app, xml))
            return {};
        const size_t a = xml.find("<Application>");
        const size_t b = xml.find("</Application>");
        if (a == std::string::npos || b == std::string::npos || b < a)
            return {};
        return QString::fromStdString(xml.substr(a + 13, b - a - 13));
    }
    CompoundFile cfb;
    if (cfb.open(reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())))
        return {};
    const int index = cfb.findRootEntry("\x05SummaryInformation");
    std::vector<uint8_t> s;
    if (index < 0 || cfb.readStream(cfb.rootEntries()[size_t(index)], s) || s.size() < 48)
        return {};
    auto u32 = [&](size_t at) -> uint32_t {
        return at + 4 <= s.size()
            ? uint32_t(s[at] | s[at + 1] << 8 | s[at + 2] << 16 | uint32_t(s[at + 3]) << 24)
            : 0;
    };
    const size_t section = u32(44);
    const uint32_t count = u32(section + 4);
    for (uint32_t i = 0; i < count && i < 256; ++i) {
        if (u32(section + 8 + 8 * i) != 0x12) // PIDSI_APPNAME
            continue;
        const size_t at = section + u32(section + 12 + 8 * i);
        const uint32_t n = u32(at + 4);
        if (u32(at) != 0x1E || at + 8 + n > s.size())
            return {};
        return QString::fromLatin1(reinterpret_cast<const char *>(s.data() + at + 8), int(n))
            .trimmed()
            .remove(QChar(0));
    }
    return {};
}

bool savedByTheApplication(const QString &app)
{
    return app.contains(QLatin1String("Microsoft")) && app.contains(QLatin1String("Excel"));
}

bool agree(const Value &cached, const Value &computed)
{
    if (cached.type != computed.type)
        return false;
    switch (cached.type) {
    case ValueType::Number: {
        const double a = cached.number, b = computed.number;
        return a == b || std::fabs(a - b) <= 1e-12 * std::max(std::fabs(a), std::fabs(b))
            || round15(a) == round15(b);
    }
    case ValueType::Text:
        return cached.text == computed.text;
    case ValueType::Bool:
        return cached.number == computed.number;
    case ValueType::Error:
        return cached.error == computed.error;
    default:
        return true;
    }
}

QString shown(const Value &v)
{
    if (v.isError())
        return QString::fromLatin1(errorText(v.error));
    std::string s;
    toText(v, s);
    switch (v.type) {
    case ValueType::Text:
        return '"' + QString::fromStdString(s) + '"';
    case ValueType::Blank:
        return QStringLiteral("(blank)");
    default:
        return QString::fromStdString(s);
    }
}

struct Tally
{
    int cells = 0, evaluated = 0, agreed = 0;
};

// Function names a formula calls; `supported` false when one is not evaluated.
void functionsOf(const Formula &f, std::set<std::string> &names, bool &supported, bool &isVolatile)
{
    static const std::set<std::string> clocks
        = { "NOW", "TODAY", "RAND", "RANDBETWEEN", "RANDARRAY", "INFO", "CELL" };
    for (const Node &n : f.nodes) {
        if (n.kind == NodeKind::Call) {
            const FunctionInfo &fi = functionInfo(int(n.payload));
            names.insert(fi.name);
            supported = supported && fi.impl;
            isVolatile = isVolatile || clocks.count(fi.name);
        } else if (n.kind == NodeKind::Unknown) {
            names.insert(upperText(f.strings[n.payload]));
            supported = false;
        } else if (n.kind == NodeKind::Unsupported) {
            supported = false;
        }
    }
}

Formula parse(const FormulaSource &src, const ParseContext &ctx, int sheet)
{
    if (src.kind == FormulaSource::Kind::Text)
        return parseFormula(src.data, ctx, src.anchorRow, src.anchorCol, sheet);
    TokenOptions opt;
    opt.biff5 = src.biff5;
    return decodeTokens(reinterpret_cast<const uint8_t *>(src.data.data()), src.data.size(),
                        reinterpret_cast<const uint8_t *>(src.extra.data()), src.extra.size(), ctx,
                        src.anchorRow, src.anchorCol, opt);
}

} // namespace

class TestFormulaOracle : public QObject
{
    Q_OBJECT
private slots:
    void oracle();
};

namespace {

// One workbook's figures, and what it was compared against.
struct BookTally
{
    QString path;
    bool againstExport = false;
    Tally tally;
};

// What the oracle counts over all workbooks.
struct OracleTotals
{
    int books = 0, allCells = 0, coveredCells = 0, uncached = 0, volatileCells = 0;
    Tally total; // against cached results
    Tally exported; // against the application's exports
    std::map<std::string, Tally> byFunction;
    std::map<std::string, int> notEvaluated;
    std::vector<BookTally> byBook;
    QStringList disagreements;
    QStringList unplaced; // exported sheets whose fields could not be placed
};

// A formula cell about to be compared: parsed, its functions known.
struct FormulaCell
{
    Formula formula;
    std::set<std::string> names;
    bool supported = false, isVolatile = false;
};

// Parses a formula cell and counts it; false when it is not to be compared
// (volatile, or no cached result where that is the reference).
bool prepare(WorkbookSource &source, int s, const CellFormula &cf, bool needCache, OracleTotals &t,
             FormulaCell &out)
{
    ++t.allCells;
    out.formula = parse(source.formula(s, cf.row, cf.col), source, s);
    out.supported = out.formula.ok();
    functionsOf(out.formula, out.names, out.supported, out.isVolatile);
    t.coveredCells += out.supported;
    if (needCache && !(cf.flags & CellFormula::Cached)) {
        ++t.uncached;
        return false;
    }
    if (out.isVolatile) {
        ++t.volatileCells;
        return false;
    }
    return true;
}

// Counts one compared cell in the totals, its functions and its workbook.
void count(const FormulaCell &fc, const CellResult &r, bool ok, Tally &total, Tally &book,
           OracleTotals &t)
{
    const bool evaluated = r.status == EvalStatus::Computed;
    for (Tally *tally : { &total, &book }) {
        ++tally->cells;
        tally->evaluated += evaluated;
        tally->agreed += ok;
    }
    for (const std::string &n : fc.names) {
        Tally &tally = t.byFunction[n];
        ++tally.cells;
        tally.evaluated += evaluated;
        tally.agreed += ok;
    }
    if (!evaluated) {
        std::string why = r.reason;
        if (why.size() > 60)
            why = why.substr(0, 60);
        ++t.notEvaluated[why.empty() ? "(no reason)" : why];
    }
}

QString disagreement(const Workbook &book, const QString &rel, int s, const CellFormula &cf,
                     const Formula &f, const QString &expected, const QString &computed)
{
    return QStringLiteral("%1 %2!R%3C%4  %5  %6, computed %7")
        .arg(rel, QString::fromStdString(book.sheets[size_t(s)].name))
        .arg(cf.row + 1)
        .arg(cf.col + 1)
        .arg(QString::fromStdString(formulaText(f, cf.row, cf.col)).left(120), expected, computed);
}

// Evaluates one formula cell with its cache ignored and compares the result
// with the cache.
void checkCell(const Workbook &book, const QString &rel, WorkbookSource &source, Evaluator &ev,
               int s, const CellFormula &cf, BookTally &bt, OracleTotals &t)
{
    FormulaCell fc;
    if (!prepare(source, s, cf, true, t, fc))
        return;
    const Value cached = source.value(s, cf.row, cf.col);
    const CellResult r = ev.result(s, cf.row, cf.col);
    const bool ok = r.status == EvalStatus::Computed && agree(cached, r.value);
    count(fc, r, ok, t.total, bt.tally, t);
    if (r.status == EvalStatus::Computed && !ok)
        t.disagreements << disagreement(book, rel, s, cf, fc.formula, "cached " + shown(cached),
                                        shown(r.value));
}

EvalOptions oracleOptions(bool keepVolatile)
{
    EvalOptions options;
    options.recalculateAll = true;
    options.clock = 1600000000;
    options.keepVolatile = keepVolatile;
    return options;
}

void addBook(BookTally &&bt, OracleTotals &t)
{
    if (bt.tally.cells == 0)
        return;
    ++t.books;
    t.byBook.push_back(std::move(bt));
}

// Every formula cell of one workbook saved by the application.
void checkWorkbook(const QString &rel, Workbook &book, OracleTotals &t)
{
    WorkbookSource source(book);
    Evaluator ev(source, oracleOptions(true));
    BookTally bt { rel, false, {} };
    for (int s = 0; s < int(book.sheets.size()); ++s) {
        const Sheet *sheet = book.rawSheet(s);
        if (!sheet)
            continue;
        for (const CellFormula &cf : sheet->formulas)
            checkCell(book, rel, source, ev, s, cf, bt, t);
    }
    addBook(std::move(bt), t);
}

// The sheet's used range as the CSV writer will see it once its formulas
// have results: the cells read, widened by every formula cell.
CellRange resultRange(const Sheet &sheet)
{
    CellRange r = sheet.usedRange();
    for (const CellFormula &cf : sheet.formulas) {
        r.firstRow = std::min(r.firstRow, cf.row), r.lastRow = std::max(r.lastRow, cf.row);
        r.firstCol = std::min(r.firstCol, cf.col), r.lastCol = std::max(r.lastCol, cf.col);
    }
    return r;
}

// Whether the export's rows lie over the used range: as many rows (an
// export may leave out an empty last one) and, in its first row, as many
// fields as the range has columns.
bool placed(const oracle::ExportSheet &csv, const CellRange &r)
{
    const int rows = int(r.rows());
    return (csv.rows.size() == rows || csv.rows.size() + 1 == rows) && !csv.rows.isEmpty()
        && csv.rows[0].size() == int(r.columns());
}

// One formula cell's displayed text against its field in the export.
void checkExportedCell(Workbook &book, const QString &rel, WorkbookSource &source, Evaluator &ev,
                       DisplayFormatter &display, int s, const Sheet &sheet, const CellFormula &cf,
                       const CellRange &range, const oracle::ExportSheet &csv, BookTally &bt,
                       OracleTotals &t)
{
    FormulaCell fc;
    if (!prepare(source, s, cf, false, t, fc))
        return;
    const CellResult r = ev.result(s, cf.row, cf.col);
    const QString want = csv.field(int(cf.row - range.firstRow), int(cf.col - range.firstCol));
    QString ours;
    if (r.status == EvalStatus::Computed) {
        Cell c;
        c.row = cf.row;
        c.col = cf.col;
        if (const Cell *read = sheet.find(cf.row, cf.col))
            c.xf = read->xf;
        storeValue(book, r.value.type == ValueType::Blank ? Value::num(0) : r.value, c);
        ours = QString::fromStdString(display.text(c));
    }
    const bool ok = r.status == EvalStatus::Computed && oracle::sameField(want, ours, csv.utf8);
    count(fc, r, ok, t.exported, bt.tally, t);
    if (r.status == EvalStatus::Computed && !ok)
        t.disagreements << disagreement(book, rel, s, cf, fc.formula, "exported [" + want + "]",
                                        "[" + ours + "]");
}

// Every formula cell of the exported sheets of a workbook that another
// program wrote and the application recalculated.
void checkExportedWorkbook(const QString &root, const QString &rel, Workbook &book,
                           const QMap<int, QString> &exports, OracleTotals &t)
{
    WorkbookSource source(book);
    Evaluator ev(source, oracleOptions(false));
    DisplayFormatter display(book);
    BookTally bt { rel, true, {} };
    for (auto e = exports.cbegin(); e != exports.cend(); ++e) {
        const Sheet *sheet = e.key() < int(book.sheets.size()) ? book.rawSheet(e.key()) : nullptr;
        if (!sheet || sheet->formulas.empty())
            continue;
        oracle::ExportSheet csv;
        const CellRange range = resultRange(*sheet);
        if (!oracle::readExport(root + '/' + e.value(), csv) || !placed(csv, range)) {
            t.unplaced << QStringLiteral("%1 (%2 rows x %3, range %4 x %5)")
                              .arg(e.value())
                              .arg(csv.rows.size())
                              .arg(csv.rows.isEmpty() ? 0 : csv.rows[0].size())
                              .arg(range.rows())
                              .arg(range.columns());
            continue;
        }
        for (const CellFormula &cf : sheet->formulas)
            checkExportedCell(book, rel, source, ev, display, e.key(), *sheet, cf, range, csv, bt,
                              t);
    }
    addBook(std::move(bt), t);
}

double percent(int part, int whole)
{
    return whole ? 100.0 * part / whole : 100.0;
}

void writeBooks(const OracleTotals &t, QTextStream &ts)
{
    std::vector<BookTally> books = t.byBook;
    std::stable_sort(books.begin(), books.end(), [](const BookTally &a, const BookTally &b) {
        return percent(a.tally.agreed, a.tally.evaluated)
            < percent(b.tally.agreed, b.tally.evaluated);
    });
    ts << "\nby workbook (lowest agreement first; * below 99.9%):\n"
       << "against   cells  evaluated  agreeing\n";
    for (const BookTally &b : books) {
        const double p = percent(b.tally.agreed, b.tally.evaluated);
        ts << QString::asprintf("%-7s %7d %10d %9d  %6.2f%% %c ",
                                b.againstExport ? "export" : "cache", b.tally.cells,
                                b.tally.evaluated, b.tally.agreed, p, p < 99.9 ? '*' : ' ')
           << b.path << "\n";
    }
    ts << "\nexported sheets whose fields could not be placed (" << t.unplaced.size() << "):\n";
    for (const QString &u : t.unplaced)
        ts << u << "\n";
}

void writeReport(const OracleTotals &t, double agreement, double coverage, QTextStream &ts)
{
    ts << "Formula oracle over the corpus workbooks saved by the application (against their\n"
       << "cached results) and over those that other programs wrote and the application\n"
       << "recalculated (against its CSV exports)\n"
       << "workbooks with formulas compared: " << t.books << ", formula cells: " << t.allCells
       << "\n"
       << "without cached result (not compared): " << t.uncached
       << ", clock or random (not compared): " << t.volatileCells << "\n"
       << "against cached results: compared " << t.total.cells
       << ", evaluated: " << t.total.evaluated << ", agreeing: " << t.total.agreed
       << QString::asprintf(" (%.2f%% of evaluated)\n", agreement) << "against exports: compared "
       << t.exported.cells << ", evaluated " << t.exported.evaluated << ", agreeing "
       << t.exported.agreed
       << QString::asprintf(" (%.2f%% of evaluated)\n",
                            percent(t.exported.agreed, t.exported.evaluated))
       << "cells whose functions are all evaluated: " << t.coveredCells
       << QString::asprintf(" (%.2f%% of formula cells)\n\n", coverage);
    std::vector<std::pair<std::string, Tally>> rows(t.byFunction.begin(), t.byFunction.end());
    std::sort(rows.begin(), rows.end(),
              [](const auto &a, const auto &b) { return a.second.cells > b.second.cells; });
    ts << "function          cells  evaluated  agreeing\n";
    for (const auto &r : rows)
        ts << QString::asprintf("%-16s %6d %10d %9d  %6.2f%%\n", r.first.c_str(), r.second.cells,
                                r.second.evaluated, r.second.agreed,
                                percent(r.second.agreed, r.second.evaluated));
    writeBooks(t, ts);
    ts << "\nnot evaluated, by reason:\n";
    for (const auto &n : t.notEvaluated)
        ts << QString::asprintf("%6d  ", n.second) << QString::fromStdString(n.first) << "\n";
    ts << "\ndisagreements (" << t.disagreements.size() << "):\n";
    for (const QString &d : t.disagreements)
        ts << d << "\n";
}

} // namespace

void TestFormulaOracle::oracle()
{
    SD_REQUIRE_CORPUS(QString());
    const QString root = sdtest::corpusDir();
    QStringList paths;
    QDirIterator it(root, { "*.xlsx", "*.xlsm", "*.xls" }, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    paths.sort();

    const oracle::ExportMap exports = oracle::readExports(root);
    OracleTotals t;
    for (const QString &path : paths) {
        const QString rel = QDir(root).relativeFilePath(path);
        const bool byApplication = savedByTheApplication(application(path));
        if (!byApplication && !exports.contains(rel))
            continue;
        Error error;
        std::unique_ptr<Workbook> book = Workbook::open(path.toStdString(), &error);
        if (!book)
            continue;
        // A workbook that asks for a full calculation on load was written by
        // a program that left placeholders, not the application's results.
        if (byApplication && !book->fullCalcOnLoad)
            checkWorkbook(rel, *book, t);
        else if (exports.contains(rel))
            checkExportedWorkbook(root, rel, *book, exports.value(rel), t);
    }

    const double agreement = percent(t.total.agreed, t.total.evaluated);
    const double exportAgreement = percent(t.exported.agreed, t.exported.evaluated);
    const double coverage = t.allCells ? 100.0 * t.coveredCells / t.allCells : 100.0;
    QFile out(QStringLiteral(SHEETDRAIN_BUILD_DIR "/formula-oracle.txt"));
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text));
    QTextStream ts(&out);
    writeReport(t, agreement, coverage, ts);
    ts.flush();
    out.close();
    qInfo("formula oracle: %d cells evaluated against cached results, %.2f%% agree; %d against "
          "exports, %.2f%% agree; %.2f%% of formula cells covered; report in %s",
          t.total.evaluated, agreement, t.exported.evaluated, exportAgreement, coverage,
          qPrintable(out.fileName()));
    QVERIFY2(agreement >= kMinAgreement, qPrintable(QString::number(agreement)));
    QVERIFY2(exportAgreement >= kMinExportAgreement, qPrintable(QString::number(exportAgreement)));
    QVERIFY2(coverage >= kMinCoverage, qPrintable(QString::number(coverage)));
}

QTEST_GUILESS_MAIN(TestFormulaOracle)
#include "tst_formulaoracle.moc"
