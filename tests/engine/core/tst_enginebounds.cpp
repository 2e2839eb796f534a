// The bounds of io/limits.h that the model, the renderer and the CSV writer
// keep: a cell shows at most 32,767 UTF-16 units, overlong format codes
// show General, a sheet's padding and a workbook's output are bounded, a
// large file needs room on its disk, output is written in bounded blocks
// also within a row, and a sheet's own text goes when the sheet is unloaded.

#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/display.h"
#include "core/model.h"
#include "io/limits.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <unistd.h>

namespace {

// A one-sheet workbook; each text cell gets its own string.
struct CellPlan
{
    uint32_t row, col;
    std::string text; // empty: the number 1
    uint32_t xf = 0;
};

std::unique_ptr<sd::Workbook> makeBook(const std::vector<CellPlan> &plans,
                                       const std::string &code = "General")
{
    auto book = std::make_unique<sd::Workbook>();
    book->sheets.push_back({ "Wide", sd::SheetKind::Worksheet, sd::SheetState::Visible });
    book->xfs = { sd::Xf { 0, false }, sd::Xf { 164, false } };
    book->numFmts[164] = code;
    auto sheet = std::make_unique<sd::Sheet>();
    for (const CellPlan &s : plans) {
        sd::Cell c;
        c.row = s.row;
        c.col = s.col;
        c.xf = s.xf;
        if (s.text.empty()) {
            c.type = sd::CellType::Number;
            c.number = 1;
        } else {
            c.type = sd::CellType::Text;
            c.text = uint32_t(book->strings.size());
            book->strings.push_back(s.text);
        }
        sheet->cells.push_back(c);
    }
    sheet->finish();
    book->loaded.resize(1);
    book->loaded[0] = std::move(sheet);
    return book;
}

// UTF-16 code units of UTF-8 text; false in *whole when it ends inside a
// character.
size_t utf16Units(const std::string &text, bool *whole)
{
    size_t units = 0, expect = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) == 0x80) {
            if (expect > 0)
                --expect;
            continue;
        }
        expect = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        units += c >= 0xF0 ? 2 : 1;
    }
    *whole = expect == 0;
    return units;
}

std::string repeat(const std::string &unit, size_t n)
{
    std::string out;
    out.reserve(unit.size() * n);
    for (size_t i = 0; i < n; ++i)
        out += unit;
    return out;
}

QByteArray readAllOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

size_t g_largestWrite = 0;
ssize_t recordLargestWrite(int fd, const void *data, size_t size)
{
    g_largestWrite = std::max(g_largestWrite, size);
    return ::write(fd, data, size);
}

int g_freeSpaceAsked = 0;
bool oneMegabyteFree(const char *, uint64_t *bytes)
{
    ++g_freeSpaceAsked;
    *bytes = uint64_t(1) << 20;
    return true;
}

// Loads sheets by appending one text of its own per sheet.
class TextLoader final : public sd::SheetLoader
{
public:
    sd::Error loadSheet(sd::Workbook &book, int index, sd::Sheet &out) override
    {
        sd::Cell c;
        c.type = sd::CellType::Text;
        c.text = uint32_t(book.strings.size());
        book.strings.push_back("text of sheet " + std::to_string(index));
        out.cells.push_back(c);
        return {};
    }
};

} // namespace

class TestEngineBounds : public QObject
{
    Q_OBJECT

private slots:
    void cellTextCut_data();
    void cellTextCut();
    void overlongFormatCodeShowsGeneral();
    void paddingBound();
    void workbookOutputBound();
    void freeSpaceAskedForLargeFilesOnly();
    void blocksWithinARow();
    void sheetTextGoesWithTheSheet();

private:
    QTemporaryDir m_dir;
};

void TestEngineBounds::cellTextCut_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<int>("units"); // shown

    const std::string emoji = "\xF0\x9F\x98\x80"; // U+1F600, two units
    const std::string han = "\xE4\xB8\xAD"; // U+4E2D, one unit in three bytes
    QTest::newRow("short text") << QByteArray("abc") << QByteArray("General") << 3;
    QTest::newRow("exactly the limit") << QByteArray(32767, 'x') << QByteArray("General") << 32767;
    QTest::newRow("one past the limit") << QByteArray(32768, 'x') << QByteArray("General") << 32767;
    QTest::newRow("repeated by @@@") << QByteArray(20000, 'x') << QByteArray("@@@") << 32767;
    QTest::newRow("254 @ on 5,000 characters")
        << QByteArray(5000, 'x') << QByteArray(254, '@') << 32767;
    QTest::newRow("literals around the text")
        << QByteArray(40000, 'x') << QByteArray("\"<\"@\">\"") << 32767;
    QTest::newRow("three-byte characters")
        << QByteArray::fromStdString(repeat(han, 40000)) << QByteArray("General") << 32767;
    // 16,383 pairs make 32,766 units; the next pair would pass the limit
    // and is not cut in half.
    QTest::newRow("pairs are not split")
        << QByteArray::fromStdString(repeat(emoji, 20000)) << QByteArray("General") << 32766;
}

void TestEngineBounds::cellTextCut()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, code);
    QFETCH(int, units);
    auto book = makeBook({ { 0, 0, text.toStdString(), 1 } }, code.toStdString());
    sd::DisplayFormatter formatter(*book);
    const std::string shown = formatter.text(book->loaded[0]->cells[0]);
    bool whole = false;
    QCOMPARE(int(utf16Units(shown, &whole)), units);
    QVERIFY(whole);
    // What is kept is the start of the text.
    QVERIFY(code != "General" || text.startsWith(QByteArray::fromStdString(shown)));
}

void TestEngineBounds::overlongFormatCodeShowsGeneral()
{
    // Codes the application would refuse (255 characters or more); the
    // engine's bound is kMaxFormatCodeBytes.
    auto book = makeBook({ { 0, 0, "text", 1 } }, std::string(sd::kMaxFormatCodeBytes + 1, '@'));
    sd::DisplayFormatter formatter(*book);
    QCOMPARE(formatter.text(book->loaded[0]->cells[0]), std::string("text"));
    auto fits = makeBook({ { 0, 0, "ab", 1 } }, std::string(sd::kMaxFormatCodeBytes, '@'));
    sd::DisplayFormatter fitting(*fits);
    QCOMPARE(fitting.text(fits->loaded[0]->cells[0]).size(), 2 * sd::kMaxFormatCodeBytes);
}

void TestEngineBounds::paddingBound()
{
    const QString path = m_dir.filePath("padding.csv");
    auto book = makeBook({ { 0, 0, {} }, { 1048575, 16383, {} } });
    const sd::Error e = sd::writeSheetCsv(*book, 0, path);
    QCOMPARE(e.code, sd::ErrorCode::TooLarge);
    const QString reason = QString::fromStdString(e.description());
    QVERIFY2(reason.contains("sheet \"Wide\"") && reason.contains("A1:XFD1048576")
                 && reason.contains("17,179,869,182 empty cells")
                 && reason.contains("268,435,456 (the padding bound)"),
             qPrintable(reason));
    QVERIFY(!QFile::exists(path));
    QCOMPARE(QDir(m_dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 0);

    // A merged area's extent pads like cells do.
    auto merged = makeBook({ { 0, 0, {} } });
    merged->loaded[0]->widen(1048575, 16383);
    QCOMPARE(sd::writeSheetCsv(*merged, 0, path).code, sd::ErrorCode::TooLarge);
}

void TestEngineBounds::workbookOutputBound()
{
    const QString first = m_dir.filePath("first.csv"), second = m_dir.filePath("second.csv");
    auto book = makeBook({ { 0, 0, "abc" } });
    QVERIFY(!sd::writeSheetCsv(*book, 0, first));
    QCOMPARE(book->csvBytesWritten, uint64_t(5));
    // As if the workbook had written all but four bytes of its share.
    book->csvBytesWritten = sd::kMaxWorkbookCsvBytes - 4;
    const sd::Error e = sd::writeSheetCsv(*book, 0, second);
    QCOMPARE(e.code, sd::ErrorCode::TooLarge);
    QVERIFY2(
        QString::fromStdString(e.description())
            .contains("more than 2,147,483,648 bytes of CSV from one workbook (sheet \"Wide\""),
        qPrintable(QString::fromStdString(e.description())));
    QVERIFY(!QFile::exists(second));
    QVERIFY(QFile::exists(first));
    QCOMPARE(book->csvBytesWritten, sd::kMaxWorkbookCsvBytes - 4);
}

void TestEngineBounds::freeSpaceAskedForLargeFilesOnly()
{
    sd::setCsvFreeSpaceFunction(oneMegabyteFree);
    g_freeSpaceAsked = 0;
    const QString path = m_dir.filePath("space.csv");
    auto small = makeBook({ { 0, 0, "abc" } });
    QVERIFY(!sd::writeSheetCsv(*small, 0, path));
    QCOMPARE(g_freeSpaceAsked, 0);
    // 1,048,576 rows of 100 fields: 105,906,176 bytes of commas and line
    // ends at least, on a disk with 1 MB free.
    auto large = makeBook({ { 0, 0, {} }, { 1048575, 99, {} } });
    const sd::Error e = sd::writeSheetCsv(*large, 0, path);
    sd::setCsvFreeSpaceFunction(nullptr);
    QCOMPARE(g_freeSpaceAsked, 1);
    QCOMPARE(e.code, sd::ErrorCode::WriteFailed);
    QVERIFY2(
        QString::fromStdString(e.description())
            .contains("takes 105,906,176 bytes at least, and the disk has 1,048,576 bytes free"),
        qPrintable(QString::fromStdString(e.description())));
    QCOMPARE(readAllOf(path), QByteArray("abc\r\n")); // the older file stays
}

void TestEngineBounds::blocksWithinARow()
{
    // One row of 200 cells of 32,767 characters (6.5 MB): written in
    // blocks, never as one row.
    std::vector<CellPlan> row;
    for (uint32_t c = 0; c < 200; ++c)
        row.push_back({ 0, c, std::string(40000, 'x') });
    auto book = makeBook(row);
    sd::setCsvWriteFunction(recordLargestWrite);
    g_largestWrite = 0;
    const sd::Error e = sd::writeSheetCsv(*book, 0, m_dir.filePath("row.csv"));
    sd::setCsvWriteFunction(nullptr);
    QVERIFY(!e);
    QCOMPARE(QFileInfo(m_dir.filePath("row.csv")).size(), qint64(200 * 32767 + 199 + 2));
    QVERIFY2(g_largestWrite <= sd::kCsvBlockBytes + 2 * 32767,
             qPrintable(QString::number(g_largestWrite)));
}

void TestEngineBounds::sheetTextGoesWithTheSheet()
{
    sd::Workbook book;
    book.sheets.resize(2);
    book.strings = { "shared" };
    book.loader = std::make_unique<TextLoader>();
    QVERIFY(book.sheet(0));
    QCOMPARE(book.strings.size(), size_t(2));
    book.unloadSheet(0);
    QCOMPARE(book.strings.size(), size_t(1));
    // Loaded again, as often as asked: the text does not pile up.
    for (int i = 0; i < 3; ++i) {
        QVERIFY(book.sheet(0));
        book.unloadSheet(0);
    }
    QCOMPARE(book.strings.size(), size_t(1));
    // Text another sheet loaded after it stays until that one goes.
    QVERIFY(book.sheet(0));
    QVERIFY(book.sheet(1));
    book.unloadSheet(0);
    QCOMPARE(book.strings.size(), size_t(3));
    QCOMPARE(book.strings[2], std::string("text of sheet 1"));
    book.unloadSheet(1);
    QCOMPARE(book.strings.size(), size_t(2));
}

QTEST_GUILESS_MAIN(TestEngineBounds)
#include "tst_enginebounds.moc"
