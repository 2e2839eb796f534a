// Converts every corpus workbook that has CSV files saved by the spreadsheet
// application and compares each sheet with them, as the CSV dialect says:
// expected files are Windows-1252 (two are UTF-8), one final CR LF is
// dropped, an expected '_' stands for any character Windows-1252 cannot
// hold, and a 0-byte file is a blank sheet.
//
// Prints a report per format (and writes it to golden_report.txt next to
// the test binary). Fails only for sheets that do not match and are not in
// data/known_mismatches.txt; SHEETDRAIN_GOLDEN_UPDATE=1 rewrites that list,
// SHEETDRAIN_GOLDEN_FILTER=<text> looks at matching workbooks only.

#include "core/csvwriter.h"
#include "core/model.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

namespace {

// Expected files that Excel saved as UTF-8 rather than Windows-1252.
const char *const kUtf8Expected[] = {
    "xlrd/expected/excel2011/xlrd_formula_test_sjmachin.xls.0.csv",
    "xlrd/expected/excel2011/xlrd_profiles.xls.4.csv",
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
    bool shortDateOnly = false; // differs only by Excel for Mac's m/d/yy
    QString detail; // first differing line, or the error
};

QString corpusDir()
{
    return QStringLiteral(SHEETDRAIN_SHARED_DIR "/corpus");
}

QString formatOf(const QString &workbook)
{
    const QString suffix = QFileInfo(workbook).suffix().toLower();
    return suffix == "xlsx" || suffix == "xlsm" ? QStringLiteral("xlsx+xlsm")
                                                : QStringLiteral("xls");
}

// The expected-output table of MANIFEST.md: CSV path -> workbook. Workbooks
// that the workbook table marks as encrypted go to *encrypted.
QVector<Expected> readManifest(const QString &manifest, QSet<QString> *encrypted)
{
    QVector<Expected> out;
    QFile file(manifest);
    if (!file.open(QIODevice::ReadOnly))
        return out;
    static const QRegularExpression csvName(QStringLiteral("\\.(\\d+)\\.csv$"));
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
            encrypted->insert(path);
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

// Excel for Mac shows built-in format 14 with a two-digit year (m/d/yy);
// the dialect writes m/d/yyyy. True when that is the only difference.
bool onlyShortDateDiffers(const QString &expected, QString ours, QTextCodec *cp1252)
{
    static const QRegularExpression fullYear(
        QStringLiteral("(?<![\\d/])(\\d{1,2}/\\d{1,2}/)\\d\\d(\\d\\d)(?![\\d/])"));
    ours.replace(fullYear, QStringLiteral("\\1\\2"));
    QString ignored;
    return sameCsv(expected, ours, cp1252, &ignored);
}

} // namespace

class TestGolden : public QObject
{
    Q_OBJECT

private slots:
    void corpus();
};

void TestGolden::corpus()
{
    const QString corpus = corpusDir();
    QSet<QString> encrypted;
    const QVector<Expected> expected = readManifest(corpus + "/MANIFEST.md", &encrypted);
    if (expected.isEmpty())
        QSKIP("corpus not available (SHEETDRAIN_SHARED_DIR)");
    QTextCodec *cp1252 = QTextCodec::codecForName("Windows-1252");
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QVERIFY(cp1252 && utf8);
    QTemporaryDir out;
    QVERIFY(out.isValid());

    // SHEETDRAIN_GOLDEN_FILTER=<text> compares only workbooks whose path
    // holds the text (for chasing one fault); the known-mismatch check is
    // then skipped.
    const QString filter = qEnvironmentVariable("SHEETDRAIN_GOLDEN_FILTER");
    QMap<QString, QVector<Expected>> byWorkbook;
    for (const Expected &e : expected) {
        if (filter.isEmpty() || e.workbookPath.contains(filter))
            byWorkbook[e.workbookPath].push_back(e);
    }

    QVector<Outcome> outcomes;
    QStringList refused; // encrypted workbooks, refused as they should be
    int namesCompared = 0, namesMatched = 0;
    QStringList nameMismatches;
    int written = 0;
    for (auto it = byWorkbook.cbegin(); it != byWorkbook.cend(); ++it) {
        const QString workbook = it.key();
        sd::Error error;
        auto book
            = sd::Workbook::open(QFile::encodeName(corpus + '/' + workbook).toStdString(), &error);
        // Only a workbook that is encrypted may be refused as one: a reader
        // that wrongly says "encrypted" must not make its sheets vanish.
        if (!book && error.code == sd::ErrorCode::Encrypted && encrypted.contains(workbook)) {
            refused << workbook;
            continue;
        }
        // Sheet names, where the application listed them.
        if (book) {
            QSet<QString> seen;
            for (const Expected &e : it.value()) {
                const QString names = corpus + '/' + QFileInfo(e.csvPath).path() + '/'
                    + QFileInfo(e.csvPath).completeBaseName().section('.', 0, -2) + ".sheetnames";
                if (seen.contains(names) || !QFile::exists(names))
                    continue;
                seen.insert(names);
                QFile f(names);
                if (!f.open(QIODevice::ReadOnly))
                    continue;
                QStringList want = QString::fromUtf8(f.readAll()).split('\n');
                while (!want.isEmpty() && want.last().isEmpty())
                    want.removeLast();
                QStringList got;
                for (const sd::SheetInfo &s : book->sheets)
                    got << QString::fromStdString(s.name);
                ++namesCompared;
                if (want == got)
                    ++namesMatched;
                else
                    nameMismatches
                        << QStringLiteral("%1: expected [%2] got [%3]")
                               .arg(names.mid(corpus.size() + 1), want.join('|'), got.join('|'));
            }
        }
        for (const Expected &e : it.value()) {
            Outcome o;
            o.csvPath = e.csvPath;
            o.format = formatOf(workbook);
            if (!book) {
                o.detail = QStringLiteral("cannot open: %1")
                               .arg(QString::fromStdString(error.description()));
                outcomes << o;
                continue;
            }
            if (e.sheetIndex >= int(book->sheets.size())) {
                o.detail = QStringLiteral("no sheet %1 (workbook has %2)")
                               .arg(e.sheetIndex)
                               .arg(book->sheets.size());
                outcomes << o;
                continue;
            }
            const QString target = out.filePath(QString::number(written++) + ".csv");
            const sd::Error we = sd::writeSheetCsv(*book, e.sheetIndex, target, utf8);
            if (we) {
                o.detail = QStringLiteral("cannot write: %1")
                               .arg(QString::fromStdString(we.description()));
                outcomes << o;
                continue;
            }
            QFile mine(target), theirs(corpus + '/' + e.csvPath);
            if (!mine.open(QIODevice::ReadOnly) || !theirs.open(QIODevice::ReadOnly)) {
                o.detail = QStringLiteral("cannot read back");
                outcomes << o;
                continue;
            }
            const QByteArray expectedBytes = theirs.readAll();
            bool isUtf8 = false;
            for (const char *u : kUtf8Expected)
                isUtf8 = isUtf8 || e.csvPath == QLatin1String(u);
            const QString want = dropFinalCrLf(isUtf8 ? QString::fromUtf8(expectedBytes)
                                                      : cp1252->toUnicode(expectedBytes));
            const QByteArray ourBytes = mine.readAll();
            const QString got = dropFinalCrLf(QString::fromUtf8(ourBytes));
            o.matched = sameCsv(want, got, cp1252, &o.detail);
            // Every row of ours ends with CR LF, the last one included; the
            // comparison above drops that line end, so check it here.
            if (o.matched && !ourBytes.endsWith("\r\n")) {
                o.matched = false;
                o.detail = QStringLiteral("the last row does not end with CR LF");
            }
            o.shortDateOnly = !o.matched && onlyShortDateDiffers(want, got, cp1252);
            outcomes << o;
        }
    }

    // Known mismatches: "<expected csv path>\t<reason>" per line.
    const QString knownPath = QStringLiteral(SHEETDRAIN_TEST_DATA "/known_mismatches.txt");
    QMap<QString, QString> known;
    {
        QFile f(knownPath);
        if (f.open(QIODevice::ReadOnly)) {
            while (!f.atEnd()) {
                const QString line = QString::fromUtf8(f.readLine()).trimmed();
                if (line.isEmpty() || line.startsWith('#'))
                    continue;
                known.insert(line.section('\t', 0, 0), line.section('\t', 1));
            }
        }
    }

    QStringList report;
    QStringList regressions, fixed;
    QMap<QString, int> compared, matched, shortDate;
    for (const Outcome &o : outcomes) {
        ++compared[o.format];
        if (o.shortDateOnly)
            ++shortDate[o.format];
        if (o.matched) {
            ++matched[o.format];
            if (known.contains(o.csvPath))
                fixed << o.csvPath;
        } else if (!known.contains(o.csvPath)) {
            regressions << o.csvPath + ": " + o.detail;
        }
    }
    report << QStringLiteral("Golden comparison with the application's CSV files");
    for (const QString &format : compared.keys())
        report << QStringLiteral("%1: %2 sheets compared, %3 matched exactly (%4%)")
                      .arg(format)
                      .arg(compared[format])
                      .arg(matched[format])
                      .arg(100.0 * matched[format] / compared[format], 0, 'f', 1)
                + QStringLiteral("; %1 more differ only by Excel for Mac's m/d/yy short date")
                      .arg(shortDate[format]);
    report << QStringLiteral("sheet names: %1 lists compared, %2 matched")
                  .arg(namesCompared)
                  .arg(namesMatched);
    report
        << QStringLiteral("encrypted workbooks refused (nothing written): %1").arg(refused.size());
    report << QString();
    for (const QString &format : compared.keys()) {
        report << QStringLiteral("Mismatches (%1):").arg(format);
        for (const Outcome &o : outcomes) {
            if (o.format == format && !o.matched)
                report << QStringLiteral("  %1: %2%3%4")
                              .arg(o.csvPath, o.detail,
                                   o.shortDateOnly ? QStringLiteral(" (m/d/yy only)") : QString(),
                                   known.contains(o.csvPath) ? QString()
                                                             : QStringLiteral("  [NEW]"));
        }
    }
    if (!nameMismatches.isEmpty()) {
        report << QStringLiteral("Sheet-name mismatches:");
        for (const QString &m : nameMismatches)
            report << "  " + m;
    }
    if (!fixed.isEmpty()) {
        report << QStringLiteral(
            "Listed as known mismatches but now matching (remove from the list):");
        for (const QString &f : fixed)
            report << "  " + f;
    }
    for (const QString &line : report)
        qInfo("%s", qPrintable(line));
    QFile reportFile(QCoreApplication::applicationDirPath()
                     + (filter.isEmpty() ? "/golden_report.txt" : "/golden_report_filtered.txt"));
    if (reportFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        reportFile.write(report.join('\n').toUtf8() + '\n');

    if (!filter.isEmpty())
        return;
    if (qEnvironmentVariableIntValue("SHEETDRAIN_GOLDEN_UPDATE") == 1) {
        QStringList lines;
        lines << "# Sheets whose CSV does not (yet) match the application's file, one per line:"
              << "# <expected csv path, relative to corpus/><TAB><reason>. Rewritten by running"
              << "# the golden test with SHEETDRAIN_GOLDEN_UPDATE=1; edit the reasons by hand.";
        for (const Outcome &o : outcomes) {
            if (o.matched)
                continue;
            const QString reason = known.value(o.csvPath);
            lines << o.csvPath + '\t' + (reason.isEmpty() ? o.detail : reason);
        }
        QFile f(knownPath);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(lines.join('\n').toUtf8() + '\n');
        qInfo("rewrote %s", qPrintable(knownPath));
        return;
    }
    QVERIFY2(nameMismatches.isEmpty(),
             qPrintable(QStringLiteral("sheet names differ:\n") + nameMismatches.join('\n')));
    QVERIFY2(
        regressions.isEmpty(),
        qPrintable(QStringLiteral("%1 sheets no longer match (not in data/known_mismatches.txt):\n")
                       .arg(regressions.size())
                   + regressions.mid(0, 40).join('\n')));
}

QTEST_GUILESS_MAIN(TestGolden)
#include "tst_golden.moc"
