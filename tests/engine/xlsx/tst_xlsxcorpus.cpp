// Every .xlsx/.xlsm of the shared corpus either opens with every sheet
// loading, or is refused with an error that names the file and the reason.
// The refusals must be exactly the packages known to be unreadable.

#include "core/model.h"

#include <QtTest>

#include <QDirIterator>

#include <cstdio>
#include <set>

#include "corpus.h"

using namespace sd;

namespace {

// Packages the corpus keeps as negative cases (MANIFEST.md): a part with a
// bad CRC, a zip without workbook parts. The encrypted packages, compound
// files rather than zips (recognised by their magic, below), are refused as
// needing a password, except those encrypted with the built-in default one.
const std::set<QString> kKnownUnreadable = {
    QStringLiteral("calamine/issue252.xlsx"),
    QStringLiteral("exceldatareader/EmptyZipFile.xlsx"),
};
const std::set<QString> kDefaultPassword = {
    QStringLiteral("exceldatareader/Test_git_issue289.xlsx"),
    QStringLiteral("exceldatareader/TestExcel_2040.xlsx"),
};

bool isCompoundFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    return f.read(8) == QByteArray("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
}

} // namespace

class TestXlsxCorpus : public QObject
{
    Q_OBJECT
private slots:
    void sweep();
};

void TestXlsxCorpus::sweep()
{
    SD_REQUIRE_CORPUS(QString());
    const QString root = sdtest::corpusDir();
    int files = 0, opened = 0, sheets = 0, cells = 0, refused = 0;
    QStringList unexpected;
    QDirIterator it(root, { QStringLiteral("*.xlsx"), QStringLiteral("*.xlsm") }, QDir::Files,
                    QDirIterator::Subdirectories);
    QStringList paths;
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString &path : paths) {
        ++files;
        const QString rel = QDir(root).relativeFilePath(path);
        const bool encrypted = isCompoundFile(path);
        const bool expectFailure
            = kKnownUnreadable.count(rel) || (encrypted && !kDefaultPassword.count(rel));
        Error e;
        auto book = Workbook::open(path.toStdString(), &e);
        QString failure;
        if (book) {
            for (int i = 0; i < int(book->sheets.size()); ++i) {
                const Sheet *s = book->sheet(i, &e);
                if (!s) {
                    failure = QStringLiteral("sheet %1: ").arg(i);
                    break;
                }
                ++sheets;
                cells += int(s->cells.size());
            }
        }
        if (book && failure.isEmpty()) {
            ++opened;
            if (expectFailure)
                unexpected << rel + QStringLiteral(": opened, but it is known to be unreadable");
            continue;
        }
        ++refused;
        failure += QString::fromStdString(e.description());
        std::printf("refused %s: %s\n", qPrintable(rel), qPrintable(failure));
        if (!e || e.where.find(path.toStdString()) == std::string::npos)
            unexpected << rel + QStringLiteral(": error does not name the file: ") + failure;
        else if (!expectFailure || (encrypted && e.code != ErrorCode::PasswordNeeded))
            unexpected << rel + QStringLiteral(": ") + failure;
    }
    std::printf("xlsx corpus: %d files, %d opened (%d sheets, %d cells), %d refused\n", files,
                opened, sheets, cells, refused);
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
    QVERIFY(files > 0);
}

QTEST_GUILESS_MAIN(TestXlsxCorpus)
#include "tst_xlsxcorpus.moc"
