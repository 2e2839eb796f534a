#include "oracleexports.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextCodec>

namespace oracle {

namespace {

// Reads MANIFEST.md's expected-output table: rows "| `csv` | ... | `workbook` |".
void readManifestExports(const QString &corpus, ExportMap &map2011, ExportMap &map2016)
{
    QFile file(corpus + QStringLiteral("/MANIFEST.md"));
    if (!file.open(QIODevice::ReadOnly))
        return;
    static const QRegularExpression csvName(QStringLiteral("\\.(\\d+)\\.csv$"));
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine());
        if (!line.startsWith(QLatin1String("| `")))
            continue;
        const QStringList cols = line.split(QLatin1Char('|'));
        if (cols.size() < 6)
            continue;
        const QString path = cols[1].trimmed().remove(QLatin1Char('`'));
        const QString workbook = cols[5].trimmed().remove(QLatin1Char('`'));
        const auto m = csvName.match(path);
        if (!m.hasMatch())
            continue;
        if (path.contains(QLatin1String("/expected/excel2016/")))
            map2016[workbook][m.captured(1).toInt()] = path;
        else if (path.contains(QLatin1String("/expected/excel2011/")))
            map2011[workbook][m.captured(1).toInt()] = path;
    }
}

void readPoiExports(const QString &corpus, const char *folder, ExportMap &map)
{
    static const QRegularExpression name(QStringLiteral("^apachepoi_(.+)\\.(\\d+)\\.csv$"));
    const QDir dir(corpus + QLatin1Char('/') + QLatin1String(folder));
    for (const QString &file : dir.entryList({ QStringLiteral("apachepoi_*.csv") }, QDir::Files)) {
        const auto m = name.match(file);
        const QString workbook = QStringLiteral("poi/") + m.captured(1);
        if (m.hasMatch() && QFile::exists(corpus + QLatin1Char('/') + workbook))
            map[workbook][m.captured(2).toInt()] = QLatin1String(folder) + QLatin1Char('/') + file;
    }
}

// Bytes that decode as UTF-8 and hold a character outside ASCII are UTF-8
// (Windows-1252 text practically never does).
bool looksUtf8(const QByteArray &bytes)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
        return false;
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

bool windows1252Holds(QChar ch)
{
    if (ch.unicode() < 0x80)
        return true;
    if (ch.isSurrogate())
        return false;
    static QTextCodec *cp1252 = QTextCodec::codecForName("Windows-1252");
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
    const QByteArray b = cp1252->fromUnicode(&ch, 1, &state);
    return state.invalidChars == 0 && !b.isEmpty() && b[0] != '\0';
}

} // namespace

ExportMap readExports(const QString &corpus)
{
    ExportMap map2011, map2016;
    readManifestExports(corpus, map2011, map2016);
    readPoiExports(corpus, "poi/expected/excel2011", map2011);
    readPoiExports(corpus, "poi/expected/excel2016", map2016);
    for (auto book = map2016.cbegin(); book != map2016.cend(); ++book)
        for (auto sheet = book->cbegin(); sheet != book->cend(); ++sheet)
            map2011[book.key()][sheet.key()] = sheet.value();
    return map2011;
}

QString ExportSheet::field(int row, int col) const
{
    return row < rows.size() && col < rows[row].size() ? rows[row][col] : QString();
}

bool readExport(const QString &path, ExportSheet &out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    out.utf8 = looksUtf8(bytes);
    const QString text
        = QTextCodec::codecForName(out.utf8 ? "UTF-8" : "Windows-1252")->toUnicode(bytes);
    out.rows.clear();
    QStringList row;
    QString field;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text[i + 1] == QLatin1Char('"'))
                field += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << field;
            field.clear();
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text[i + 1] == QLatin1Char('\n'))
                ++i;
            out.rows << (row << field);
            row.clear();
            field.clear();
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty())
        out.rows << (row << field);
    return true;
}

bool sameField(const QString &expected, const QString &ours, bool utf8Export)
{
    QString mine = ours;
    mine.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    QString want = expected;
    want.replace(QLatin1Char('\n'), QLatin1Char('\r'));
    static const QRegularExpression fullYear(
        QStringLiteral("(?<![\\d/])(\\d{1,2}/\\d{1,2}/)\\d\\d(\\d\\d)(?![\\d/])"));
    for (const QString &spelling : { mine, QString(mine).replace(fullYear, "\\1\\2") }) {
        if (spelling.size() != want.size())
            continue;
        int i = 0;
        for (; i < want.size(); ++i)
            if (want[i] != spelling[i]
                && !(!utf8Export && want[i] == QLatin1Char('_') && !windows1252Holds(spelling[i])))
                break;
        if (i == want.size())
            return true;
    }
    return false;
}

} // namespace oracle
