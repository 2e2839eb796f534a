// Every .xls of the shared corpus either opens with all its sheets loaded or
// fails with an error that names the reason; known code-page samples decode
// to the right text.
#include "core/model.h"

#include <QDirIterator>
#include <QtTest>

#include "corpus.h"

namespace {

QString sharedDir()
{
    return QStringLiteral(SHEETDRAIN_SHARED_DIR);
}

// Files of the corpus that must not open, and how they fail.
struct Refusal
{
    const char *path;
    sd::ErrorCode code;
};
const Refusal kRefusals[] = {
    { "calamine/too_small.xls", sd::ErrorCode::NotAWorkbook },
    { "exceldatareader/TestFail_Binary.xls", sd::ErrorCode::NotAWorkbook },
    { "exceldatareader/Test_Issue_12556_corrupt.xls", sd::ErrorCode::Corrupt },
    { "exceldatareader/Test_git_issue_5.xls", sd::ErrorCode::Corrupt },
    { "exceldatareader/Test_git_issue_382_oom.xls", sd::ErrorCode::Corrupt },
    { "calamine/OOM_alloc3.xls", sd::ErrorCode::Corrupt },
    { "libxls/xls2csv_ole_read_MSAT_772.xls", sd::ErrorCode::Corrupt },
    { "libxls/xls2csv_ole_read_MSAT_body_687.xls", sd::ErrorCode::Corrupt },
    { "libxls/xls2csv_ole_read_MSAT_body_637.xls", sd::ErrorCode::Corrupt },
    { "libxls/xls2csv_ole_ole2_fread_327.xls", sd::ErrorCode::Corrupt },
};

const Refusal *findRefusal(const QString &relative)
{
    for (const Refusal &r : kRefusals) {
        if (relative == QLatin1String(r.path))
            return &r;
    }
    return nullptr;
}

QString cellText(sd::Workbook &book, int sheet, uint32_t row, uint32_t col)
{
    const sd::Sheet *s = book.sheet(sheet);
    if (!s)
        return QStringLiteral("<no sheet>");
    const sd::Cell *c = s->find(row, col);
    if (!c || c->type != sd::CellType::Text)
        return QStringLiteral("<no text>");
    return QString::fromStdString(book.strings[c->text]);
}

} // namespace

class TestXlsCorpus : public QObject
{
    Q_OBJECT

private slots:
    void sweep();
    void codePages_data();
    void codePages();
};

void TestXlsCorpus::sweep()
{
    const QString corpus = sharedDir() + QStringLiteral("/corpus");
    SD_REQUIRE_CORPUS(QString());
    int opened = 0, refused = 0, encrypted = 0, sheets = 0;
    QStringList problems;
    QDirIterator it(corpus, { QStringLiteral("*.xls"), QStringLiteral("*.XLS") }, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = QDir(corpus).relativeFilePath(path);
        sd::Error error;
        auto book = sd::Workbook::open(path.toStdString(), &error);
        for (size_t i = 0; book && i < book->sheets.size(); ++i) {
            if (!book->sheet(int(i), &error)) {
                book.reset();
                break;
            }
            ++sheets;
        }
        const Refusal *known = findRefusal(relative);
        if (book) {
            ++opened;
            if (known)
                problems << relative + QStringLiteral(": opened, but is known to be unreadable");
            continue;
        }
        const QString reason = QString::fromStdString(error.description());
        // Encrypted with a password of its own (the default one opens the
        // others): refused as needing it.
        if (error.code == sd::ErrorCode::PasswordNeeded) {
            ++encrypted;
        } else if (known && known->code == error.code) {
            ++refused;
        } else {
            problems << relative + QStringLiteral(": ") + reason;
        }
        // Every failure says why.
        if (reason.isEmpty() || error.code == sd::ErrorCode::Ok)
            problems << relative + QStringLiteral(": failed without a reason");
        qInfo("%s: %s", qPrintable(relative), qPrintable(reason));
    }
    qInfo("xls corpus: %d opened (%d sheets), %d need a password, %d refused as damaged or not "
          "workbooks",
          opened, sheets, encrypted, refused);
    QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
    QVERIFY(opened > 250);
}

void TestXlsCorpus::codePages_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sheetName");

    QTest::newRow("932 Shift-JIS (Excel 95, Japan)")
        << "parseexcel/sample/Test95J.xls" << 1 << 1 << 0 << QString::fromUtf8("漢字も入る")
        << QString::fromUtf8("漢字名");
    QTest::newRow("1251 Cyrillic") << "sheetjs/biff5/numfmt_1_russian.xls" << 0 << 3 << 1
                                   << QString::fromUtf8("1 234 567,89 р.") << "Sheet1";
    QTest::newRow("1253 Greek") << "sheetjs/biff5/number_format_greek.xls" << 0 << 12 << 3
                                << QString::fromUtf8("18-Οκτ-33") << "Implied";
    QTest::newRow("10000 Mac Roman")
        << "sheetjs/biff5/phonetic_text.xls" << 0 << 0 << 0 << QString::fromUtf8("äø") << "Sheet1";
}

void TestXlsCorpus::codePages()
{
    QFETCH(QString, file);
    QFETCH(int, sheet);
    QFETCH(int, row);
    QFETCH(int, col);
    QFETCH(QString, text);
    QFETCH(QString, sheetName);
    const QString path = sharedDir() + QStringLiteral("/corpus/") + file;
    SD_REQUIRE_CORPUS(file);
    sd::Error error;
    auto book = sd::Workbook::open(path.toStdString(), &error);
    QVERIFY2(book, error.description().c_str());
    QCOMPARE(QString::fromStdString(book->sheets[size_t(sheet)].name), sheetName);
    QCOMPARE(cellText(*book, sheet, uint32_t(row), uint32_t(col)), text);
}

QTEST_GUILESS_MAIN(TestXlsCorpus)
#include "tst_xlscorpus.moc"
