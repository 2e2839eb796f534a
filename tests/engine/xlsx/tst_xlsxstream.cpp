// Streaming a sheet into CSV while it is read: every workbook is written
// twice, streamed and whole (a sheet already in memory is written whole),
// and the files must be the same bytes, whichever way the writer went and
// whatever the batch sizes. Each row also says which way it must go, so a
// check that stops firing (or fires for nothing) shows.

#include "zipbuilder.h"

#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/model.h"
#include "xlsx/xlsxreader.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <string>
#include <vector>

#include <sys/stat.h>

using namespace sd;

Q_DECLARE_METATYPE(std::string)

namespace {

std::vector<std::string> g_outcomes;

void recordOutcome(int, const char *outcome)
{
    g_outcomes.push_back(outcome);
}

std::string worksheet(const std::string &dimension, const std::string &data,
                      const std::string &before = {}, const std::string &after = {})
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><worksheet "
                      "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    if (!dimension.empty())
        xml += "<dimension ref=\"" + dimension + "\"/>";
    return xml + before + "<sheetData>" + data + "</sheetData>" + after + "</worksheet>";
}

std::string numberCell(const std::string &ref, const std::string &value)
{
    return "<c r=\"" + ref + "\"><v>" + value + "</v></c>";
}

std::string formulaCell(const std::string &ref, const std::string &formula,
                        const std::string &cached)
{
    return "<c r=\"" + ref + "\"><f>" + formula + "</f>"
        + (cached.empty() ? std::string() : "<v>" + cached + "</v>") + "</c>";
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

struct Written
{
    QByteArray bytes;
    std::string error;
    uint64_t csvBytes = 0;
    uint64_t readingCost = 0; // counted against the workbook's inflate bound
};

// Writes one sheet of the workbook: streamed when it can be, or whole.
Written write(const std::string &xlsx, int sheet, bool whole, QTextCodec *codec,
              const std::function<bool()> &stop = {})
{
    Written w;
    Error e;
    auto book = openXlsxBuffer(xlsx.data(), xlsx.size(), &e);
    if (!book) {
        w.error = "open: " + e.description();
        return w;
    }
    if (whole)
        book->sheet(sheet, &e); // in memory: written whole
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    e = writeSheetCsv(*book, sheet, path, codec, stop);
    w.error = e ? e.description() : std::string();
    w.bytes = QFile::exists(path) ? readAll(path) : QByteArray("(none)");
    w.csvBytes = book->csvBytesWritten;
    w.readingCost = book->loader->readingCost();
    if (QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size()
        > (QFile::exists(path) ? 1 : 0))
        w.error += " (a temporary file was left)";
    return w;
}

} // namespace

class TestXlsxStream : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { setCsvStreamFloor(0); }
    void cleanupTestCase() { setCsvStreamFloor(UINT64_MAX); }
    void init()
    {
        g_outcomes.clear();
        setCsvStreamObserver(recordOutcome);
    }
    void cleanup()
    {
        setCsvStreamObserver(nullptr);
        setCsvStreamBatching(0, 0);
    }
    void sameBytes_data();
    void sameBytes();
    void manyBatches();
    void stopMidSheet();
    void readErrorAfterRows();
    void sheetsInTurn();
    void spooled_data();
    void spooled();
    void spoolStopped();
    void spoolLinkedInPlace();
};

void TestXlsxStream::sameBytes_data()
{
    QTest::addColumn<std::string>("xlsx");
    QTest::addColumn<int>("sheet");
    QTest::addColumn<QString>("outcome"); // of the streamed write

    const std::string sst = "<sst><si><t>plain</t></si><si><t>a, \"quoted\"\nline</t></si>"
                            "<si><t>caf\xC3\xA9 \xE2\x82\xAC</t></si></sst>";
    const std::string rows
        = "<row r=\"2\"><c r=\"B2\" t=\"s\"><v>0</v></c><c r=\"D2\" t=\"s\"><v>1</v></c></row>"
          "<row r=\"4\"><c r=\"C4\" t=\"inlineStr\"><is><t>in,line</t></is></c>"
          "<c r=\"D4\" t=\"b\"><v>1</v></c></row>"
          "<row r=\"5\"><c r=\"B5\" t=\"e\"><v>#DIV/0!</v></c><c r=\"C5\" t=\"s\"><v>2</v></c>"
          "<c r=\"D5\" t=\"str\"><v>text result</v></c></row>";
    auto book = [&](const std::string &sheetXml, const std::string &workbookPr = {}) {
        return sdtest::minimalXlsx({ sheetXml }, sst, {}, workbookPr);
    };
    auto row = [](const char *name, const std::string &xlsx, const char *outcome, int sheet = 0) {
        QTest::newRow(name) << xlsx << sheet << QString(outcome);
    };

    row("dimension holds the cells", book(worksheet("B2:D5", rows + "<row r=\"6\"/>")), "streamed");
    row("empty rows after the cells", book(worksheet("B2:D9", rows)),
        "whole: used range other "
        "than the dimension");
    row("formatted row to the dimension's end",
        book(worksheet("B2:D9", rows + "<row r=\"9\" customHeight=\"1\" ht=\"30\"/>")), "streamed");
    row("no dimension", book(worksheet("", rows)), "whole: no dimension");
    row("malformed dimension", book(worksheet("B2:", rows)), "whole: no dimension");
    row("cell wider than the dimension", book(worksheet("B2:C5", rows)),
        "whole: a cell outside the dimension");
    row("cell above the dimension", book(worksheet("B3:D5", rows)),
        "whole: a cell outside the dimension");
    row("dimension wider than the cells", book(worksheet("A1:Z5", rows)),
        "whole: used range other than the dimension");
    row("rows out of order",
        book(worksheet("A1:B3",
                       "<row r=\"3\">" + numberCell("A3", "3") + "</row><row r=\"1\">"
                           + numberCell("B1", "1") + "</row>")),
        "whole: cells out of order");
    row("cells out of order in a row",
        book(worksheet("A1:C1",
                       "<row r=\"1\">" + numberCell("C1", "3") + numberCell("A1", "1") + "</row>")),
        "whole: cells out of order");
    row("a cell twice",
        book(worksheet("A1:B1",
                       "<row r=\"1\">" + numberCell("A1", "1") + numberCell("A1", "2")
                           + numberCell("B1", "3") + "</row>")),
        "whole: a cell twice");
    row("merged area past the cells",
        book(worksheet("B2:D5", rows, {}, "<mergeCells><mergeCell ref=\"D5:F8\"/></mergeCells>")),
        "whole: used range other than the dimension");
    row("merged area inside",
        book(worksheet("B2:D5", rows, {},
                       "<mergeCells><mergeCell "
                       "ref=\"B2:C3\"/></mergeCells>")),
        "streamed");
    row("formatted column outside",
        book(worksheet("B2:D5", rows,
                       "<cols><col min=\"6\" max=\"7\" width=\"9\" hidden=\"1\"/></cols>")),
        "whole: formatted columns or comments outside the dimension");
    row("formula with its result",
        book(worksheet("A1:B1",
                       "<row r=\"1\">" + numberCell("A1", "2") + formulaCell("B1", "A1*2", "4")
                           + "</row>")),
        "streamed");
    row("formula without a result",
        book(worksheet("A1:B1",
                       "<row r=\"1\">" + numberCell("A1", "2") + formulaCell("B1", "A1*2", "")
                           + "</row>")),
        "whole: formulas to recalculate");
    // Volatile, but its value does not move with the clock: the two writes
    // are compared, and NOW()'s fifth decimal moves every 0.86 s.
    row("volatile formula",
        book(worksheet("A1:A1", "<row r=\"1\">" + formulaCell("A1", "NOW()*0+7", "1") + "</row>")),
        "whole: formulas to recalculate");
    row("full calculation on load",
        book(worksheet("A1:B1",
                       "<row r=\"1\">" + numberCell("A1", "2") + formulaCell("B1", "A1*2", "0")
                           + "</row>"),
             "<calcPr fullCalcOnLoad=\"1\"/>"),
        "whole: formulas to recalculate");
    // A workbook an older engine calculated shows #NAME? for a function the
    // application lacks, whatever the file cached.
    row("missing function, older engine",
        book(worksheet("A1:A1", "<row r=\"1\">" + formulaCell("A1", "NOSUCHFN(1)", "5") + "</row>"),
             "<calcPr calcId=\"140000\"/>"),
        "whole: formulas to recalculate");
    row("array formula",
        book(worksheet("A1:B1",
                       "<row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:B1\">{1,2}</f><v>1</v></c>"
                           + numberCell("B1", "2") + "</row>")),
        "whole: array formula");
    // A cached formula that reads another sheet holding a volatile one is
    // recalculated with it.
    const std::string volatileSheet
        = worksheet("A1:A1", "<row r=\"1\">" + formulaCell("A1", "RAND()*0+5", "0.5") + "</row>");
    const std::string reader
        = worksheet("A1:A1", "<row r=\"1\">" + formulaCell("A1", "Sheet2!A1+1", "1.5") + "</row>");
    row("depends on a volatile formula elsewhere", sdtest::minimalXlsx({ reader, volatileSheet }),
        "whole: formulas to recalculate");
    row("reads another sheet, nothing volatile",
        sdtest::minimalXlsx(
            { reader, worksheet("A1:A1", "<row r=\"1\">" + numberCell("A1", "7") + "</row>") }),
        "streamed");
    row("empty sheet", book(worksheet("A1", "")), "streamed");
    row("empty sheet without a dimension", book(worksheet("", "")), "whole: no dimension");
    row("no sheet data", sdtest::minimalXlsx({ "<worksheet/>" }), "whole: no cell data");
}

void TestXlsxStream::sameBytes()
{
    QFETCH(std::string, xlsx);
    QFETCH(int, sheet);
    QFETCH(QString, outcome);
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const Written whole = write(xlsx, sheet, true, utf8);
    QVERIFY2(whole.error.empty(), whole.error.c_str());
    QCOMPARE(g_outcomes.size(), size_t(0)); // a sheet in memory is never streamed
    for (size_t batch : { size_t(1), size_t(2), size_t(0) }) {
        setCsvStreamBatching(batch, 1);
        g_outcomes.clear();
        const Written streamed = write(xlsx, sheet, false, utf8);
        QCOMPARE(QString::fromStdString(streamed.error), QString());
        QCOMPARE(streamed.bytes, whole.bytes);
        QCOMPARE(streamed.csvBytes, whole.csvBytes);
        // A reading thrown away is not counted: each part once, as before.
        QCOMPARE(streamed.readingCost, whole.readingCost);
        QCOMPARE(g_outcomes.size(), size_t(1));
        QCOMPARE(QString::fromStdString(g_outcomes[0]), outcome);
    }
    // The encoders behind the writer are the same either way.
    for (const char *codec : { "ISO-8859-1", "UTF-16LE" }) {
        QTextCodec *c = QTextCodec::codecForName(codec);
        QCOMPARE(write(xlsx, sheet, false, c).bytes, write(xlsx, sheet, true, c).bytes);
    }
}

// A few thousand rows in batches of every small size and queues of one to
// three: rows, padding and texts must land in order across batch borders.
void TestXlsxStream::manyBatches()
{
    std::string data;
    const uint32_t rows = 1500;
    for (uint32_t r = 1; r <= rows; ++r) {
        if (r % 7 == 0)
            continue; // an empty row
        data += "<row r=\"" + std::to_string(r) + "\">";
        for (char col = 'A'; col <= 'F'; ++col) {
            const std::string ref = col + std::to_string(r);
            if ((r + col) % 5 == 0)
                continue;
            if ((r + col) % 3 == 0)
                data += "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>t" + std::to_string(r) + col
                    + ",x</t></is></c>";
            else
                data += numberCell(ref, std::to_string(r * 10 + (col - 'A')) + ".5");
        }
        data += "</row>";
    }
    const std::string xlsx = sdtest::minimalXlsx({ worksheet("A1:F1500", data) });
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const Written whole = write(xlsx, 0, true, utf8);
    QVERIFY(whole.bytes.size() > 20000);
    for (size_t batch = 1; batch <= 5; ++batch) {
        for (size_t queue = 1; queue <= 3; ++queue) {
            setCsvStreamBatching(batch * 17 % 40 + 1, queue);
            g_outcomes.clear();
            const Written streamed = write(xlsx, 0, false, utf8);
            QCOMPARE(streamed.bytes, whole.bytes);
            QCOMPARE(QString::fromStdString(g_outcomes.at(0)), QString("streamed"));
        }
    }
}

// A stop request between blocks ends a streamed sheet: no file, no
// temporary file, an older file of that name untouched.
void TestXlsxStream::stopMidSheet()
{
    std::string data;
    const std::string text(300, 'x');
    for (int r = 1; r <= 8000; ++r)
        data += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r)
            + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c></row>";
    const std::string xlsx = sdtest::minimalXlsx({ worksheet("A1:A8000", data) });
    Error e;
    auto book = openXlsxBuffer(xlsx.data(), xlsx.size(), &e);
    QVERIFY(book);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old");
    }
    int asked = 0;
    setCsvStreamBatching(64, 2);
    e = writeSheetCsv(*book, 0, path, QTextCodec::codecForName("UTF-8"),
                      [&asked] { return ++asked >= 2; });
    QCOMPARE(int(e.code), int(ErrorCode::WriteFailed));
    QVERIFY(QString::fromStdString(e.detail).contains("stopped"));
    QCOMPARE(asked, 2);
    QCOMPARE(QString::fromStdString(g_outcomes.at(0)), QString("stopped"));
    QCOMPARE(readAll(path), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
    QCOMPARE(book->csvBytesWritten, uint64_t(0));
}

// A sheet damaged after rows already streamed reports the error the whole
// reading gives, and leaves nothing.
void TestXlsxStream::readErrorAfterRows()
{
    std::string data;
    for (int r = 1; r <= 300; ++r)
        data += "<row r=\"" + std::to_string(r) + "\">" + numberCell("A" + std::to_string(r), "1")
            + "</row>";
    data += "<row r=\"x\"/>";
    const std::string xlsx = sdtest::minimalXlsx({ worksheet("A1:A300", data) });
    setCsvStreamBatching(16, 1);
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const Written whole = write(xlsx, 0, true, utf8);
    const Written streamed = write(xlsx, 0, false, utf8);
    QVERIFY(!whole.error.empty());
    QCOMPARE(QString::fromStdString(streamed.error), QString::fromStdString(whole.error));
    QCOMPARE(streamed.bytes, QByteArray("(none)"));
    QCOMPARE(QString::fromStdString(g_outcomes.at(0)), QString("whole: read error"));
}

// Sheets written one after the other from one workbook, streamed and not,
// with inline text in each: the same files as written whole, and the
// streamed sheet can still be read afterwards.
void TestXlsxStream::sheetsInTurn()
{
    auto sheetWith = [](const std::string &word) {
        return worksheet("A1:B2",
                         "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>" + word
                             + "</t></is></c></row><row r=\"2\">" + numberCell("B2", "2")
                             + "</row>");
    };
    const std::string xlsx = sdtest::minimalXlsx(
        { sheetWith("one"), worksheet("", "<row r=\"1\">" + numberCell("A1", "1") + "</row>"),
          sheetWith("three") });
    Error e;
    auto book = openXlsxBuffer(xlsx.data(), xlsx.size(), &e);
    QVERIFY(book);
    QTemporaryDir dir;
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    for (int i = 0; i < 3; ++i) {
        const QString path = dir.filePath(QString::number(i));
        QVERIFY(!writeSheetCsv(*book, i, path, utf8));
        QCOMPARE(readAll(path), write(xlsx, i, true, utf8).bytes);
        book->unloadSheet(i);
    }
    QCOMPARE(QString::fromStdString(g_outcomes.at(0)), QString("streamed"));
    QCOMPARE(QString::fromStdString(g_outcomes.at(1)), QString("whole: no dimension"));
    const Sheet *first = book->sheet(0, &e);
    QVERIFY(first && first->cells.size() == 2);
    QCOMPARE(QString::fromStdString(book->strings.at(first->cells[0].text)), QString("one"));
}

namespace {

// Rows of multi-byte text long enough to fill several blocks, so that the
// copy of a spool cuts blocks next to characters of two, three and four
// bytes.
std::string largeTextSheet()
{
    std::string data;
    const std::string words[] = { "caf\xC3\xA9", "\xE2\x82\xAC,", "\xF0\x9F\x98\x80\"", "plain" };
    for (int r = 1; r <= 4000; ++r) {
        std::string text;
        for (int k = 0; k < 100 + r % 13; ++k)
            text += words[(r + k) % 4];
        data += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r)
            + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>"
            + numberCell("C" + std::to_string(r), std::to_string(r)) + "</row>";
    }
    return worksheet("A1:C4000", data);
}

} // namespace

// A sheet spooled ahead and then written (the automation seam's way) gives
// the file that writing it whole gives, in each encoding; a sheet that
// cannot be streamed gives no spool.
void TestXlsxStream::spooled_data()
{
    QTest::addColumn<std::string>("xlsx");
    QTest::addColumn<QString>("codec");
    QTest::addColumn<bool>("spools");
    const std::string large = sdtest::minimalXlsx({ largeTextSheet() });
    for (const char *codec : { "UTF-8", "ISO-8859-15", "UTF-16LE", "Shift_JIS" })
        QTest::newRow(codec) << large << QString(codec) << true;
    QTest::newRow("no dimension") << sdtest::minimalXlsx(
        { worksheet("", "<row r=\"1\">" + numberCell("A1", "1") + "</row>") })
                                  << QString("UTF-8") << false;
}

void TestXlsxStream::spooled()
{
    QFETCH(std::string, xlsx);
    QFETCH(QString, codec);
    QFETCH(bool, spools);
    QTextCodec *c = QTextCodec::codecForName(codec.toLatin1());
    QVERIFY(c);
    const Written whole = write(xlsx, 0, true, c);
    Error e;
    auto book = openXlsxBuffer(xlsx.data(), xlsx.size(), &e);
    QVERIFY(book);
    setCsvStreamBatching(100, 2);
    std::unique_ptr<CsvSpool> spool = spoolSheetCsv(*book, 0);
    QCOMPARE(bool(spool), spools);
    if (!spool)
        return;
    QCOMPARE(spool->cells, uint64_t(8000));
    QCOMPARE(spool->usedRange.lastRow, 3999u);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    e = writeSpooledCsv(*book, *spool, path, c);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(path), whole.bytes);
    QCOMPARE(book->csvBytesWritten, whole.csvBytes);
}

// A stop request while a spool is copied leaves no file, as while a sheet
// is written.
void TestXlsxStream::spoolStopped()
{
    const std::string xlsx = sdtest::minimalXlsx({ largeTextSheet() });
    Error e;
    auto book = openXlsxBuffer(xlsx.data(), xlsx.size(), &e);
    QVERIFY(book);
    std::unique_ptr<CsvSpool> spool = spoolSheetCsv(*book, 0);
    QVERIFY(spool);
    QTemporaryDir dir;
    int asked = 0;
    // An encoding to convert to: the spool is copied block by block.
    e = writeSpooledCsv(*book, *spool, dir.filePath("out.csv"),
                        QTextCodec::codecForName("ISO-8859-15"), [&asked] { return ++asked >= 2; });
    QCOMPARE(int(e.code), int(ErrorCode::WriteFailed));
    QCOMPARE(asked, 2);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(book->csvBytesWritten, uint64_t(0));
}

// In UTF-8, a spool in the output's file system becomes the CSV file: the
// bytes of the copy, the permissions a new file gets (or the replaced
// file's), no temporary file left, and only once: a second file from the
// same spool is a copy, not another name for the first.
void TestXlsxStream::spoolLinkedInPlace()
{
    const std::string xlsx = sdtest::minimalXlsx({ largeTextSheet() });
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    const Written whole = write(xlsx, 0, true, utf8);
    Error e;
    auto book = openXlsxBuffer(xlsx.data(), xlsx.size(), &e);
    QVERIFY(book);
    std::unique_ptr<CsvSpool> spool = spoolSheetCsv(*book, 0);
    QVERIFY(spool);
    QTemporaryDir dir(QDir::tempPath() + "/spool-XXXXXX"); // the spool's file system
    const QString replaced = dir.filePath("old.csv");
    QFile old(replaced);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old") == 3);
    old.close();
    QVERIFY(::chmod(QFile::encodeName(replaced).constData(), 0640) == 0);

    const bool linkable = spool->linkable; // O_TMPFILE in the temporary folder
    struct stat st;
    QVERIFY(::fstat(spool->fd, &st) == 0);
    const ino_t spoolInode = st.st_ino;
    e = writeSpooledCsv(*book, *spool, replaced, utf8);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(replaced), whole.bytes);
    QVERIFY(::stat(QFile::encodeName(replaced).constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 0777), 0640);
    if (linkable)
        QCOMPARE(st.st_ino, spoolInode);

    const QString fresh = dir.filePath("new.csv");
    e = writeSpooledCsv(*book, *spool, fresh, utf8);
    QVERIFY2(!e, e.description().c_str());
    QCOMPARE(readAll(fresh), whole.bytes);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    QVERIFY(::stat(QFile::encodeName(fresh).constData(), &st) == 0);
    QCOMPARE(int(st.st_mode & 0777), int(0666 & ~mask));
    QCOMPARE(int(st.st_nlink), 1);
    QVERIFY(::stat(QFile::encodeName(replaced).constData(), &st) == 0);
    QCOMPARE(int(st.st_nlink), 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({ "new.csv", "old.csv" }));
    QCOMPARE(book->csvBytesWritten, 2 * whole.csvBytes);
}

QTEST_GUILESS_MAIN(TestXlsxStream)
#include "tst_xlsxstream.moc"
