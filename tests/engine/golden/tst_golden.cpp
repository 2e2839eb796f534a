// Converts every corpus workbook that has CSV files saved by the spreadsheet
// application (those of MANIFEST.md's table and the poi/ exports) and
// compares each sheet with them, as the CSV dialect says:
// expected files are Windows-1252 (a few are UTF-8), one final CR LF is
// dropped, an expected '_' stands for any character Windows-1252 cannot
// hold, and a 0-byte file is a blank sheet.
//
// Prints a report per format (and writes it to golden_report.txt next to
// the test binary). Fails only for sheets that do not match and are not in
// data/known_mismatches.txt; SHEETDRAIN_GOLDEN_UPDATE=1 rewrites that list,
// SHEETDRAIN_GOLDEN_FILTER=<text> looks at matching workbooks only.

#include "core/csvwriter.h"
#include "core/model.h"
#include "open/openworkbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include "corpus.h"

namespace {

// A few Excel 2011 exports are UTF-8 rather than Windows-1252 (xlrd
// formula_test_sjmachin.xls and profiles.xls, and poi 12561-1.xls,
// 12843-2.xls, 25695.xls, 44235.xls among others): bytes that decode as
// UTF-8 and hold a character outside ASCII are taken as UTF-8, which
// Windows-1252 text practically never does.
bool looksUtf8(const QByteArray &bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return false;
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// The expected file that MANIFEST.md describes as having LF row ends (it
// looks hand-made); its rows are compared as if they ended with CR LF.
const char *const kLfExpected[] = {
    "sheetjs/expected/excel2016/RkNumber.xls.0.csv",
};

struct Expected
{
    QString csvPath; // relative to corpus/
    QString workbookPath; // relative to corpus/
    int sheetIndex = 0;
};

struct Outcome
{
    QString csvPath;
    QString format; // "xls" or "xlsx"
    bool matched = false;
    // Differs only by the Mac conventions that the acceptance figure
    // forgives: the m/d/yy short date and CR for a line break in a cell.
    bool macOnly = false;
    // Differs only by those and the Mac's own long date and long time,
    // which the acceptance figure does not forgive.
    bool macLongOnly = false;
    QString detail; // first differing line, or the error
};

QString formatOf(const QString &workbook)
{
    const QString suffix = QFileInfo(workbook).suffix().toLower();
    return suffix == "xlsx" || suffix == "xlsm" ? QStringLiteral("xlsx+xlsm")
                                                : QStringLiteral("xls");
}

// The expected-output table of MANIFEST.md: CSV path -> workbook. Workbooks
// that the workbook table marks as encrypted go to *encrypted, with the
// password it records (password "...") or an empty one (the built-in
// default password, or none known).
QVector<Expected> readManifest(const QString &manifest, QMap<QString, QString> *encrypted)
{
    QVector<Expected> out;
    QFile file(manifest);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    static const QRegularExpression csvName(QStringLiteral("\\.(\\d+)\\.csv$"));
    static const QRegularExpression password(QStringLiteral("password \"([^\"]+)\""));
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        if (!line.startsWith(QLatin1String("| `")))
            continue;
        const QStringList cols = line.split(QLatin1Char('|'));
        if (cols.size() < 6)
            continue;
        QString path = cols[1].trimmed().remove(QLatin1Char('`'));
        if (line.contains(QLatin1String("encrypted"))
            && !path.contains(QLatin1String("/expected/")))
            encrypted->insert(path, password.match(line).captured(1));
        QString workbook = cols[5].trimmed().remove(QLatin1Char('`'));
        if (!path.contains(QLatin1String("/expected/excel2011/"))
            && !path.contains(QLatin1String("/expected/excel2016/")))
            continue;
        const auto m = csvName.match(path);
        if (!m.hasMatch())
            continue;
        out.push_back({ path, workbook, m.captured(1).toInt() });
    }
    return out;
}

// The exports of the poi/ workbooks, which MANIFEST.md describes in its poi
// section rather than in its table: poi/expected/excel2011|excel2016/
// apachepoi_<workbook>.<N>.csv for the workbook poi/<workbook>.
QVector<Expected> readPoiExports(const QString &corpus)
{
    QVector<Expected> out;
    static const QRegularExpression name(QStringLiteral("^apachepoi_(.+)\\.(\\d+)\\.csv$"));
    for (const char *folder : { "poi/expected/excel2011", "poi/expected/excel2016" }) {
        const QDir dir(corpus + '/' + folder);
        const QStringList files
            = dir.entryList({ QStringLiteral("apachepoi_*.csv") }, QDir::Files, QDir::Name);
        for (const QString &file : files) {
            const auto m = name.match(file);
            const QString workbook = QStringLiteral("poi/") + m.captured(1);
            if (m.hasMatch() && QFile::exists(corpus + '/' + workbook))
                out.push_back(
                    { QString::fromLatin1(folder) + '/' + file, workbook, m.captured(2).toInt() });
        }
    }
    return out;
}

// Whether Windows-1252 holds the UTF-16 unit (half of a surrogate pair never).
bool windows1252Holds(QChar ch, QTextCodec *cp1252)
{
    if (ch.unicode() < 0x80)
        return true;
    if (ch.isSurrogate())
        return false;
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
    const QByteArray b = cp1252->fromUnicode(&ch, 1, &state);
    return state.invalidChars == 0 && !b.isEmpty() && b[0] != '\0';
}

QString dropFinalCrLf(QString s)
{
    if (s.endsWith(QLatin1String("\r\n")))
        s.chop(2);
    return s;
}

// Whether the first row of a CSV text holds a separator (outside quotes).
bool wideRows(const QString &csv)
{
    bool quoted = false;
    for (const QChar c : csv) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && c == QLatin1Char(','))
            return true;
        else if (!quoted && c == QLatin1Char('\r'))
            return false;
    }
    return false;
}

// An expected file as rows joined by CR LF. Excel for Mac leaves the last
// row unterminated, so a final CR LF of a sheet one column wide ends an
// empty last row (poi 37684-1.xls, ex45582-22397.xls, 55640.xlsx: the
// used range ends in a row without cells); a wider sheet's empty row would
// be commas, so there (sheetjs number_format.xls, Excel 2011) and in the
// UTF-8 exports, whose every row ends with CR LF, it only ends the file.
QString expectedRows(const QString &csv, bool utf8)
{
    return utf8 || wideRows(csv) ? dropFinalCrLf(csv) : csv;
}

QString visible(const QString &line)
{
    QString s = line;
    s.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    s.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    if (s.size() > 160)
        s = s.left(160) + QStringLiteral("...");
    return s;
}

// Compares as the dialect says; on a difference, describes the first line
// that differs.
// Compares as the dialect says, unit by UTF-16 unit: Excel for Mac writes
// one '_' per unit, so a character outside the Basic Multilingual Plane
// stands as "__". On a difference, describes the first line that differs.
bool sameCsv(const QString &expected, const QString &ours, QTextCodec *cp1252, QString *detail)
{
    int i = 0;
    const int n = std::min(expected.size(), ours.size());
    for (; i < n; ++i) {
        if (expected[i] == ours[i])
            continue;
        if (expected[i] == QLatin1Char('_') && !windows1252Holds(ours[i], cp1252))
            continue;
        break;
    }
    if (i == expected.size() && i == ours.size())
        return true;
    const int lineStart = expected.lastIndexOf(QLatin1Char('\n'), i - 1) + 1;
    const int line = expected.leftRef(lineStart).count(QLatin1Char('\n')) + 1;
    auto lineOf = [&](const QString &text) {
        if (lineStart > text.size())
            return QString();
        const int end = text.indexOf(QLatin1Char('\n'), lineStart);
        return text.mid(lineStart, end < 0 ? -1 : end - lineStart);
    };
    *detail = QStringLiteral("line %1: expected [%2] got [%3]")
                  .arg(line)
                  .arg(visible(lineOf(expected)), visible(lineOf(ours)));
    if (i >= expected.size())
        *detail += QStringLiteral(" (ours is longer)");
    else if (i >= ours.size())
        *detail += QStringLiteral(" (ours is shorter)");
    return false;
}

// A CSV row's fields as written (quotes kept), split at commas outside quotes.
QStringList splitRow(const QString &row)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (const QChar c : row) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char(',') && !quoted) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    return fields << field;
}

// Our field as Excel for Mac spells it: a m/d/yyyy date with a two-digit
// year and, with longDateTime, a long date's year with two digits and an
// h:mm:ss AM/PM time as HH:mm:ss.
QStringList macSpellings(const QString &field, bool longDateTime)
{
    static const QRegularExpression fullYear(
        QStringLiteral("(?<![\\d/])(\\d{1,2}/\\d{1,2}/)\\d\\d(\\d\\d)(?![\\d/])"));
    static const QRegularExpression twelveHour(
        QStringLiteral("^(\\d{1,2}):(\\d\\d):(\\d\\d) ([AP])M$"));
    static const QRegularExpression longDateYear(
        QStringLiteral("^(\"\\w+, \\w+ \\d{1,2}, )\\d\\d(\\d\\d\")$"));
    QStringList out { QString(field).replace(fullYear, QStringLiteral("\\1\\2")) };
    if (!longDateTime)
        return out;
    out << QString(field).replace(longDateYear, QStringLiteral("\\1\\2"));
    const QRegularExpressionMatch m = twelveHour.match(field);
    if (m.hasMatch()) {
        const int hour
            = m.captured(1).toInt() % 12 + (m.captured(4) == QLatin1String("P") ? 12 : 0);
        out << QStringLiteral("%1:%2:%3")
                   .arg(hour, 2, 10, QLatin1Char('0'))
                   .arg(m.captured(2), m.captured(3));
    }
    return out;
}

// Excel for Mac's own conventions, which the dialect does not follow. It
// shows built-in format 14 with a two-digit year (m/d/yy) where the dialect
// writes m/d/yyyy; the system long time ([$-F400]) as the Mac's system
// setting, HH:mm:ss, where the dialect writes the US-English h:mm:ss AM/PM
// (number_format.xls sheet 2, "Time" row, Excel 2016 export); and Excel
// 2011 the system long date ([$-F800]) with a two-digit year (the same
// sheet, the row under "Date"). A field of
// ours takes the Mac spelling only where the expected field has exactly
// that, since the same sheets show other dates with four-digit years. It
// also writes a line break inside a cell as CR where the dialect writes it
// as stored (LF). True when those are the only differences; the long date
// and long time count only with longDateTime.
bool onlyMacConventionsDiffer(const QString &expected, QString ours, QTextCodec *cp1252,
                              bool longDateTime)
{
    static const QRegularExpression cellLineBreak(QStringLiteral("(?<!\\r)\\n"));
    ours.replace(cellLineBreak, QStringLiteral("\r"));
    const QString rowEnd = QStringLiteral("\r\n");
    const QStringList wantRows = expected.split(rowEnd);
    QStringList rows = ours.split(rowEnd);
    for (int r = 0; r < rows.size() && r < wantRows.size(); ++r) {
        const QStringList want = splitRow(wantRows[r]);
        QStringList fields = splitRow(rows[r]);
        for (int f = 0; f < fields.size() && fields.size() == want.size(); ++f)
            if (macSpellings(fields[f], longDateTime).contains(want[f]))
                fields[f] = want[f];
        rows[r] = fields.join(QLatin1Char(','));
    }
    QString ignored;
    return sameCsv(expected, rows.join(rowEnd), cp1252, &ignored);
}

} // namespace

// One data row per expected CSV file, that is per sheet of a corpus
// workbook; sheetNames compares the sheet lists where the application wrote
// them. The summary (golden_report.txt beside the test program) is written
// at the end, and SHEETDRAIN_GOLDEN_UPDATE=1 then rewrites the list of known
// mismatches (data/known_mismatches.txt) from this run.
class TestGolden : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void sheet_data();
    void sheet();
    void sheetNames_data();
    void sheetNames();
    void cleanupTestCase();

private:
    // The workbook of the current row, opened once for all its sheets.
    sd::Workbook *workbook(const QString &relative, sd::Error *error);
    void readKnownMismatches();
    QStringList report() const;
    void rewriteKnownMismatches();

    QString m_corpus;
    QString m_filter;
    QMap<QString, QString> m_encrypted; // workbook -> recorded password (or empty)
    QVector<Expected> m_expected;
    QMap<QString, QString> m_known; // csv path -> reason
    QString m_knownPath;
    QTextCodec *m_cp1252 = nullptr;
    QTextCodec *m_utf8 = nullptr;
    QTemporaryDir m_out;
    int m_written = 0;

    QString m_bookPath;
    std::unique_ptr<sd::Workbook> m_book;
    sd::Error m_bookError;

    QVector<Outcome> m_outcomes;
    QSet<QString> m_refused; // encrypted workbooks without a known password
    QSet<QString> m_decrypted; // encrypted workbooks opened
    int m_namesCompared = 0;
    int m_namesMatched = 0;
    QStringList m_nameMismatches;
    QStringList m_namePathsMismatched; // their .sheetnames paths
};

void TestGolden::initTestCase()
{
    SD_REQUIRE_CORPUS(QStringLiteral("MANIFEST.md"));
    m_corpus = sdtest::corpusDir();
    m_expected = readManifest(m_corpus + "/MANIFEST.md", &m_encrypted);
    m_expected += readPoiExports(m_corpus);
    QVERIFY2(!m_expected.isEmpty(), "MANIFEST.md lists no expected CSV files");
    m_cp1252 = QTextCodec::codecForName("Windows-1252");
    m_utf8 = QTextCodec::codecForName("UTF-8");
    QVERIFY(m_cp1252 && m_utf8);
    QVERIFY(m_out.isValid());
    // SHEETDRAIN_GOLDEN_FILTER=<text> compares only workbooks whose path
    // holds the text (for chasing one fault); the list of known mismatches
    // is then not rewritten.
    m_filter = qEnvironmentVariable("SHEETDRAIN_GOLDEN_FILTER");
    readKnownMismatches();
}

void TestGolden::readKnownMismatches()
{
    // "<expected csv path>\t<reason>" per line.
    m_knownPath = QStringLiteral(SHEETDRAIN_TEST_DATA "/known_mismatches.txt");
    QFile f(m_knownPath);
    if (!f.open(QIODevice::ReadOnly))
        return;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        m_known.insert(line.section('\t', 0, 0), line.section('\t', 1));
    }
}

sd::Workbook *TestGolden::workbook(const QString &relative, sd::Error *error)
{
    if (relative != m_bookPath) {
        m_bookPath = relative;
        m_bookError = sd::Error();
        m_book.reset();
        // An encrypted workbook opens with the built-in default password or
        // the one its origin records, as the spreadsheet application opened
        // it to save the expected files.
        sd::crypto::PasswordList passwords;
        if (!m_encrypted.value(relative).isEmpty())
            passwords.push_back(m_encrypted.value(relative).toStdU16String());
        m_book = sd::openWorkbook(QFile::encodeName(m_corpus + '/' + relative).toStdString(),
                                  &m_bookError, passwords);
        if (m_book && m_encrypted.contains(relative))
            m_decrypted.insert(relative);
    }
    *error = m_bookError;
    return m_book.get();
}

void TestGolden::sheet_data()
{
    QTest::addColumn<QString>("workbookPath");
    QTest::addColumn<int>("sheetIndex");
    // Rows of one workbook follow each other, so it is opened once.
    QVector<Expected> rows;
    for (const Expected &e : qAsConst(m_expected)) {
        if (m_filter.isEmpty() || e.workbookPath.contains(m_filter))
            rows.push_back(e);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Expected &a, const Expected &b) {
        return a.workbookPath < b.workbookPath;
    });
    for (const Expected &e : qAsConst(rows))
        QTest::newRow(qPrintable(e.csvPath)) << e.workbookPath << e.sheetIndex;
}

void TestGolden::sheet()
{
    QFETCH(QString, workbookPath);
    QFETCH(int, sheetIndex);
    const QString csvPath = QString::fromUtf8(QTest::currentDataTag());
    sd::Error error;
    sd::Workbook *book = workbook(workbookPath, &error);
    // Only an encrypted workbook whose password is not known may be refused
    // as needing one: a reader that wrongly says "encrypted" must not make
    // its sheets vanish.
    if (!book && error.code == sd::ErrorCode::PasswordNeeded && m_encrypted.contains(workbookPath)
        && m_encrypted.value(workbookPath).isEmpty()) {
        m_refused.insert(workbookPath);
        return;
    }
    Outcome o;
    o.csvPath = csvPath;
    o.format = formatOf(workbookPath);
    if (!book) {
        o.detail
            = QStringLiteral("cannot open: %1").arg(QString::fromStdString(error.description()));
    } else if (sheetIndex >= int(book->sheets.size())) {
        o.detail = QStringLiteral("no sheet %1 (workbook has %2)")
                       .arg(sheetIndex)
                       .arg(book->sheets.size());
    } else {
        const QString target = m_out.filePath(QString::number(m_written++) + ".csv");
        const sd::Error we = sd::writeSheetCsv(*book, sheetIndex, target, m_utf8);
        QFile mine(target), theirs(m_corpus + '/' + csvPath);
        if (we) {
            o.detail
                = QStringLiteral("cannot write: %1").arg(QString::fromStdString(we.description()));
        } else if (!mine.open(QIODevice::ReadOnly) || !theirs.open(QIODevice::ReadOnly)) {
            o.detail = QStringLiteral("cannot read back");
        } else {
            const QByteArray expectedBytes = theirs.readAll();
            const bool isUtf8 = looksUtf8(expectedBytes);
            QString want
                = isUtf8 ? QString::fromUtf8(expectedBytes) : m_cp1252->toUnicode(expectedBytes);
            for (const char *lf : kLfExpected)
                if (csvPath == QLatin1String(lf))
                    want.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
            want = expectedRows(want, isUtf8);
            const QByteArray ourBytes = mine.readAll();
            const QString got = dropFinalCrLf(QString::fromUtf8(ourBytes));
            o.matched = sameCsv(want, got, m_cp1252, &o.detail);
            // Every row of ours ends with CR LF, the last one included; the
            // comparison above drops that line end, so check it here.
            if (o.matched && !ourBytes.endsWith("\r\n")) {
                o.matched = false;
                o.detail = QStringLiteral("the last row does not end with CR LF");
            }
            o.macOnly = !o.matched && onlyMacConventionsDiffer(want, got, m_cp1252, false);
            o.macLongOnly
                = !o.matched && !o.macOnly && onlyMacConventionsDiffer(want, got, m_cp1252, true);
        }
    }
    m_outcomes << o;
    if (!o.matched && m_known.contains(csvPath))
        QEXPECT_FAIL("", qPrintable(m_known.value(csvPath)), Continue);
    QVERIFY2(o.matched,
             qPrintable(o.detail + QStringLiteral(" (not in data/known_mismatches.txt)")));
}

void TestGolden::sheetNames_data()
{
    QTest::addColumn<QString>("workbookPath");
    QTest::addColumn<QString>("namesPath");
    QSet<QString> seen;
    for (const Expected &e : qAsConst(m_expected)) {
        if (!m_filter.isEmpty() && !e.workbookPath.contains(m_filter))
            continue;
        const QString names = QFileInfo(e.csvPath).path() + '/'
            + QFileInfo(e.csvPath).completeBaseName().section('.', 0, -2) + ".sheetnames";
        if (seen.contains(names) || !QFile::exists(m_corpus + '/' + names))
            continue;
        seen.insert(names);
        QTest::newRow(qPrintable(names)) << e.workbookPath << names;
    }
}

// The sheet names, where the application listed them.
void TestGolden::sheetNames()
{
    QFETCH(QString, workbookPath);
    QFETCH(QString, namesPath);
    sd::Error error;
    sd::Workbook *book = workbook(workbookPath, &error);
    if (!book)
        QSKIP("the workbook does not open; its sheet rows report why");
    QFile f(m_corpus + '/' + namesPath);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QStringList want = QString::fromUtf8(f.readAll()).split('\n');
    while (!want.isEmpty() && want.last().isEmpty())
        want.removeLast();
    QStringList got;
    for (const sd::SheetInfo &s : book->sheets)
        got << QString::fromStdString(s.name);
    ++m_namesCompared;
    if (want == got) {
        ++m_namesMatched;
    } else {
        m_namePathsMismatched << namesPath;
        m_nameMismatches << QStringLiteral("%1: expected [%2] got [%3]")
                                .arg(namesPath, want.join('|'), got.join('|'));
        // Listed like the sheets: "<.sheetnames path>\t<reason>".
        if (m_known.contains(namesPath))
            QEXPECT_FAIL("", qPrintable(m_known.value(namesPath)), Continue);
    }
    QCOMPARE(got, want);
}

QStringList TestGolden::report() const
{
    QStringList report;
    QMap<QString, int> compared, matched, macOnly, macLongOnly;
    QStringList fixed;
    for (const Outcome &o : m_outcomes) {
        ++compared[o.format];
        macOnly[o.format] += o.macOnly ? 1 : 0;
        macLongOnly[o.format] += o.macLongOnly ? 1 : 0;
        matched[o.format] += o.matched ? 1 : 0;
        if (o.matched && m_known.contains(o.csvPath))
            fixed << o.csvPath;
    }
    report << QStringLiteral("Golden comparison with the application's CSV files");
    for (const QString &format : compared.keys())
        report << QStringLiteral("%1: %2 sheets compared, %3 matched exactly (%4%)")
                      .arg(format)
                      .arg(compared[format])
                      .arg(matched[format])
                      .arg(100.0 * matched[format] / compared[format], 0, 'f', 1)
                + QStringLiteral("; %1 more differ only by the m/d/yy short date or CR in a "
                                 "cell, %2 more also by the Mac's long date or time")
                      .arg(macOnly[format])
                      .arg(macLongOnly[format]);
    int all = 0, same = 0, sameLong = 0;
    for (const QString &format : compared.keys()) {
        all += compared[format];
        same += matched[format] + macOnly[format];
        sameLong += macLongOnly[format];
    }
    // The acceptance figure: exact matches ('_' for what Windows-1252 cannot
    // hold included) plus the sheets that differ only by the m/d/yy short
    // date of ids 14 and 22 or by CR for a line break in a cell. The Mac's
    // own long date and long time are not forgiven.
    report << QStringLiteral("acceptance: %1 of %2 sheets match (%3%), exactly or but for the "
                             "m/d/yy short date and CR in a cell")
                  .arg(same)
                  .arg(all)
                  .arg(100.0 * same / std::max(1, all), 0, 'f', 1);
    report << QStringLiteral("not counted: %1 more differ only by the Mac's long date or long "
                             "time as well (%2% with them)")
                  .arg(sameLong)
                  .arg(100.0 * (same + sameLong) / std::max(1, all), 0, 'f', 1);
    report << QStringLiteral("sheet names: %1 lists compared, %2 matched")
                  .arg(m_namesCompared)
                  .arg(m_namesMatched);
    report << QStringLiteral(
                  "encrypted workbooks opened with the default or recorded password: %1; "
                  "refused, no password known (nothing written): %2")
                  .arg(m_decrypted.size())
                  .arg(m_refused.size());
    report << QString();
    for (const QString &format : compared.keys()) {
        report << QStringLiteral("Mismatches (%1):").arg(format);
        for (const Outcome &o : m_outcomes) {
            if (o.format == format && !o.matched)
                report << QStringLiteral("  %1: %2%3%4")
                              .arg(o.csvPath, o.detail,
                                   o.macOnly           ? QStringLiteral(" (Mac conventions only)")
                                       : o.macLongOnly ? QStringLiteral(" (Mac conventions and "
                                                                        "long date or time only)")
                                                       : QString(),
                                   m_known.contains(o.csvPath) ? QString()
                                                               : QStringLiteral("  [NEW]"));
        }
    }
    if (!m_nameMismatches.isEmpty()) {
        report << QStringLiteral("Sheet-name mismatches:");
        for (const QString &m : m_nameMismatches)
            report << "  " + m;
    }
    if (!fixed.isEmpty()) {
        report << QStringLiteral(
            "Listed as known mismatches but now matching (remove from the list):");
        for (const QString &f : fixed)
            report << "  " + f;
    }
    return report;
}

void TestGolden::rewriteKnownMismatches()
{
    QStringList lines;
    lines << "# Sheets whose CSV does not (yet) match the application's file, one per line:"
          << "# <expected csv path, relative to corpus/><TAB><reason>. Rewritten by running"
          << "# the golden test with SHEETDRAIN_GOLDEN_UPDATE=1; edit the reasons by hand.";
    for (const Outcome &o : m_outcomes) {
        if (o.matched)
            continue;
        const QString reason = m_known.value(o.csvPath);
        lines << o.csvPath + '\t' + (reason.isEmpty() ? o.detail : reason);
    }
    for (int i = 0; i < m_namePathsMismatched.size(); ++i) {
        const QString reason = m_known.value(m_namePathsMismatched[i]);
        lines << m_namePathsMismatched[i] + '\t'
                + (reason.isEmpty() ? m_nameMismatches[i] : reason);
    }
    QFile f(m_knownPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(m_knownPath));
    f.write(lines.join('\n').toUtf8() + '\n');
    qInfo("rewrote %s", qPrintable(m_knownPath));
}

void TestGolden::cleanupTestCase()
{
    if (m_outcomes.isEmpty())
        return;
    const QStringList lines = report();
    for (const QString &line : lines)
        qInfo("%s", qPrintable(line));
    QFile reportFile(QCoreApplication::applicationDirPath()
                     + (m_filter.isEmpty() ? "/golden_report.txt" : "/golden_report_filtered.txt"));
    if (reportFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        reportFile.write(lines.join('\n').toUtf8() + '\n');
    if (m_filter.isEmpty() && qEnvironmentVariableIntValue("SHEETDRAIN_GOLDEN_UPDATE") == 1)
        rewriteKnownMismatches();
}

QTEST_GUILESS_MAIN(TestGolden)
#include "tst_golden.moc"
