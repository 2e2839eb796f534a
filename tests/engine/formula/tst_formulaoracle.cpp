// The oracle: every workbook of the shared corpus that the application
// itself saved carries its results as cached values. Each formula cell is
// evaluated while ignoring its cache and compared with it. The figures
// (overall, per function) and every disagreement with its reason go to
// formula-oracle.txt in the build folder; the test fails below the bounds.

#include "core/model.h"
#include "formula/ast.h"
#include "formula/functions.h"
#include "formula/workbookcalc.h"
#include "io/cfb.h"
#include "io/zip.h"

#include <QDirIterator>
#include <QFile>
#include <QTextStream>
#include <QtTest>

#include <cmath>
#include <map>
#include <set>

#include "corpus.h"

using namespace sd;
using namespace sd::formula;

namespace {

// Measured: see formula-oracle.txt. Agreement on evaluated formulas and the
// share of formula cells whose functions the engine evaluates. The agreement
// bound is what the engine measured when poi/ joined the corpus (99.16%);
// issue 24 raises it as its faults are mended.
constexpr double kMinAgreement = 99.15;
constexpr double kMinCoverage = 97.0;

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
        = { "NOW", "TODAY", "RAND", "RANDBETWEEN", "INFO", "CELL" };
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

Formula parse(const FormulaSource &src, const ParseContext &ctx)
{
    if (src.kind == FormulaSource::Kind::Text)
        return parseFormula(src.data, ctx, src.anchorRow, src.anchorCol);
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

// What the oracle counts over all workbooks.
struct OracleTotals
{
    int books = 0, allCells = 0, coveredCells = 0, uncached = 0, volatileCells = 0;
    Tally total;
    std::map<std::string, Tally> byFunction;
    std::map<std::string, int> notEvaluated;
    QStringList disagreements;
};

// Evaluates one formula cell with its cache ignored and counts the result.
void checkCell(const Workbook &book, const QString &rel, WorkbookSource &source, Evaluator &ev,
               int s, const CellFormula &cf, OracleTotals &t)
{
    ++t.allCells;
    const FormulaSource src = source.formula(s, cf.row, cf.col);
    const Formula f = parse(src, source);
    std::set<std::string> names;
    bool supported = f.ok(), isVolatile = false;
    functionsOf(f, names, supported, isVolatile);
    t.coveredCells += supported;
    if (!(cf.flags & CellFormula::Cached)) {
        ++t.uncached;
        return;
    }
    if (isVolatile) {
        ++t.volatileCells;
        return;
    }
    const Value cached = source.value(s, cf.row, cf.col);
    const CellResult r = ev.result(s, cf.row, cf.col);
    const bool evaluated = r.status == EvalStatus::Computed;
    const bool ok = evaluated && agree(cached, r.value);
    ++t.total.cells;
    t.total.evaluated += evaluated;
    t.total.agreed += ok;
    for (const std::string &n : names) {
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
    } else if (!ok) {
        t.disagreements << QStringLiteral("%1 %2!R%3C%4  %5  cached %6, computed %7")
                               .arg(rel, QString::fromStdString(book.sheets[size_t(s)].name))
                               .arg(cf.row + 1)
                               .arg(cf.col + 1)
                               .arg(
                                   QString::fromStdString(formulaText(f, cf.row, cf.col)).left(120),
                                   shown(cached), shown(r.value));
    }
}

// Every formula cell of one workbook saved by the application.
void checkWorkbook(const QString &root, const QString &path, OracleTotals &t)
{
    if (!savedByTheApplication(application(path)))
        return;
    Error error;
    std::unique_ptr<Workbook> book = Workbook::open(path.toStdString(), &error);
    // A workbook that asks for a full calculation on load was written by
    // a program that left placeholders, not the application's results.
    if (!book || book->fullCalcOnLoad)
        return;
    const QString rel = QDir(root).relativeFilePath(path);
    WorkbookSource source(*book);
    EvalOptions options;
    options.recalculateAll = true;
    options.clock = 1600000000;
    options.keepVolatile = true;
    Evaluator ev(source, options);
    bool any = false;
    for (int s = 0; s < int(book->sheets.size()); ++s) {
        const Sheet *sheet = book->rawSheet(s);
        if (!sheet)
            continue;
        for (const CellFormula &cf : sheet->formulas) {
            any = true;
            checkCell(*book, rel, source, ev, s, cf, t);
        }
    }
    t.books += any;
}

void writeReport(const OracleTotals &t, double agreement, double coverage, QTextStream &ts)
{
    ts << "Formula oracle over the corpus workbooks saved by the application\n"
       << "workbooks with formulas: " << t.books << ", formula cells: " << t.allCells << "\n"
       << "without cached result (not compared): " << t.uncached
       << ", clock or random (not compared): " << t.volatileCells << "\n"
       << "compared: " << t.total.cells << ", evaluated: " << t.total.evaluated
       << ", agreeing: " << t.total.agreed
       << QString::asprintf(" (%.2f%% of evaluated)\n", agreement)
       << "cells whose functions are all evaluated: " << t.coveredCells
       << QString::asprintf(" (%.2f%% of formula cells)\n\n", coverage);
    std::vector<std::pair<std::string, Tally>> rows(t.byFunction.begin(), t.byFunction.end());
    std::sort(rows.begin(), rows.end(),
              [](const auto &a, const auto &b) { return a.second.cells > b.second.cells; });
    ts << "function          cells  evaluated  agreeing\n";
    for (const auto &r : rows)
        ts << QString::asprintf("%-16s %6d %10d %9d  %6.2f%%\n", r.first.c_str(), r.second.cells,
                                r.second.evaluated, r.second.agreed,
                                r.second.evaluated ? 100.0 * r.second.agreed / r.second.evaluated
                                                   : 0.0);
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

    OracleTotals t;
    for (const QString &path : paths)
        checkWorkbook(root, path, t);

    const double agreement = t.total.evaluated ? 100.0 * t.total.agreed / t.total.evaluated : 100.0;
    const double coverage = t.allCells ? 100.0 * t.coveredCells / t.allCells : 100.0;
    QFile out(QStringLiteral(SHEETDRAIN_BUILD_DIR "/formula-oracle.txt"));
    QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text));
    QTextStream ts(&out);
    writeReport(t, agreement, coverage, ts);
    ts.flush();
    out.close();
    qInfo("formula oracle: %d cells evaluated, %.2f%% agree; %.2f%% of formula cells covered; "
          "report in %s",
          t.total.evaluated, agreement, coverage, qPrintable(out.fileName()));
    QVERIFY2(agreement >= kMinAgreement, qPrintable(QString::number(agreement)));
    QVERIFY2(coverage >= kMinCoverage, qPrintable(QString::number(coverage)));
}

QTEST_GUILESS_MAIN(TestFormulaOracle)
#include "tst_formulaoracle.moc"
