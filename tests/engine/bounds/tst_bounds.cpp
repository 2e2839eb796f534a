// Crafted workbooks that stay inside every format rule but ask for
// gigabytes: each is converted, with a small good workbook after it, by the
// probe in a child process whose address space is limited to 1 GiB
// (RLIMIT_AS). The child must end normally, refuse the workbook with a
// reason that names the sheet and the bound (or convert it within its
// bounds), and then convert the good workbook. Memory is checked through
// the limit, not through timing; bench/bounds.sh prints the figures.
//
// Each input is made just large enough to pass its bound, so that the test
// runs in seconds; bench/bounds.sh converts the full-size originals.

#include "craftedinputs.h"

#include "io/limits.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// The limit the child runs under: the whole promise for a workbook.
constexpr int kAddressSpaceMb = 1024;

using Maker = std::function<bool(const std::string &path)>;

bool styledEmptyCells(const std::string &path)
{
    // Rows of 16,384 "<c s=\"1\"/>" (10 bytes a cell), one more cell than
    // a sheet may hold.
    const uint64_t count = sd::kMaxSheetCells + 1;
    const uint64_t rows = count / 16384 + 1;
    const std::string row = "<row>" + [] {
        std::string r;
        for (int i = 0; i < 16384; ++i)
            r += "<c s=\"1\"/>";
        return r;
    }() + "</row>";
    return crafted::writeXlsx(
        path, crafted::repeated(crafted::sheetHead(), row, rows, "</sheetData></worksheet>"));
}

bool mergedAreas(const std::string &path)
{
    return crafted::writeXlsx(
        path,
        crafted::repeated(crafted::sheetHead()
                              + "<row><c><v>1</v></c></row></sheetData><mergeCells>",
                          "<mergeCell ref=\"C3:D4\"/>", sd::kMaxSheetMergedAreas + 1,
                          "</mergeCells></worksheet>"));
}

// Each text costs its string object and one character; rows of 16,384.
constexpr uint64_t kStringRows
    = (sd::kMaxSheetTextBytes / (sd::kTextObjectBytes + 1) + 1) / 16384 + 1;

bool strings(const std::string &path, const std::string &head)
{
    std::string row = "<row>";
    for (int i = 0; i < 16384; ++i)
        row += "<c t=\"str\"><v>x</v></c>";
    row += "</row>";
    return crafted::writeXlsx(
        path, crafted::repeated(head, row, kStringRows, "</sheetData></worksheet>"));
}

// Without a stated range the sheet is read whole, and its text is held.
bool formulaStrings(const std::string &path)
{
    return strings(path, crafted::sheetHead());
}

// With its range stated the sheet streams, and text leaves with each batch.
bool streamedStrings(const std::string &path)
{
    return strings(path,
                   std::string("<worksheet xmlns=\"") + crafted::kMainNs
                       + "\"><dimension ref=\"A1:XFD" + std::to_string(kStringRows)
                       + "\"/><sheetData>");
}

bool oneHugeCell(const std::string &path)
{
    const std::string run = "<r><t>" + std::string(1 << 20, 'x') + "</t></r>";
    return crafted::writeXlsx(
        path,
        crafted::repeated(crafted::sheetHead() + "<row><c t=\"inlineStr\"><is>", run,
                          (sd::kMaxSheetTextBytes >> 20) + 2,
                          "</is></c></row></sheetData></worksheet>"));
}

bool textRepeatedByFormat(const std::string &path)
{
    // 254 "@" (the longest code the application accepts) on 200 cells of
    // 5,000 characters: 1,270,000 characters a cell, 254 MB in one row.
    std::string row = "<row>";
    for (int i = 0; i < 200; ++i)
        row += "<c s=\"1\" t=\"s\"><v>0</v></c>";
    row += "</row>";
    return crafted::writeXlsx(
        path, crafted::whole(crafted::sheetHead() + row + "</sheetData></worksheet>"),
        std::string("<sst xmlns=\"") + crafted::kMainNs + "\"><si><t>" + std::string(5000, 'x')
            + "</t></si></sst>",
        std::string(254, '@'));
}

bool farCorners(const std::string &path)
{
    return crafted::writeXlsx(
        path,
        crafted::whole(crafted::sheetHead()
                       + "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"1048576\">"
                         "<c r=\"XFD1048576\"><v>2</v></c></row></sheetData></worksheet>"));
}

bool mergeOverTheGrid(const std::string &path)
{
    return crafted::writeXlsx(
        path,
        crafted::whole(crafted::sheetHead()
                       + "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData><mergeCells>"
                         "<mergeCell ref=\"A1:XFD1048576\"/></mergeCells></worksheet>"));
}

bool emptySharedStrings(const std::string &path)
{
    const uint64_t count = sd::kMaxSharedStringBytes / sd::kTextObjectBytes + 1;
    return crafted::writeCompoundFile(
        path,
        crafted::workbookStream(crafted::numberRecord(0, 0, 1),
                                crafted::emptyStringTable(uint32_t(count))));
}

bool mulBlankFlood(const std::string &path)
{
    // Whole rows of 256 styled empty cells, row after row and again from
    // the top: every record is valid, the cells only repeat.
    std::string records;
    const uint64_t rows = sd::kMaxSheetCells / 256 + 1;
    for (uint64_t r = 0; r < rows; ++r) {
        std::string body;
        crafted::put16(body, uint32_t(r % 65536));
        crafted::put16(body, 0);
        for (int c = 0; c < 256; ++c)
            crafted::put16(body, 15);
        crafted::put16(body, 255);
        records += crafted::record(0x00BE, body);
    }
    return crafted::writeCompoundFile(path, crafted::workbookStream(records));
}

bool streamOfTwoGigabytes(const std::string &path)
{
    return crafted::writeCompoundFile(path, crafted::workbookStream(crafted::numberRecord(0, 0, 1)),
                                      uint64_t(2) << 30);
}

bool protectedStreamOfTwoGigabytes(const std::string &path)
{
    // A FILEPASS record (XOR) right after the BOF: a protected stream is
    // read whole to be decrypted, so its size is what is bounded.
    std::string filePass;
    crafted::put16(filePass, 0); // XOR obfuscation
    crafted::put16(filePass, 0x1234); // key
    crafted::put16(filePass, 0x5678); // password verifier
    return crafted::writeCompoundFile(path,
                                      crafted::bof(0x0005) + crafted::record(0x002F, filePass)
                                          + crafted::record(0x000A, {}),
                                      uint64_t(2) << 30);
}

bool sheetRunningOn(const std::string &path)
{
    // No EOF: the sheet goes on in records of zeros (4 bytes each) to the
    // end of a stream of 2 GB.
    return crafted::writeCompoundFile(
        path, crafted::workbookStream(crafted::numberRecord(0, 0, 1), {}, true), uint64_t(2) << 30);
}

bool goodWorkbook(const std::string &path)
{
    return crafted::writeXlsx(
        path,
        crafted::whole(crafted::sheetHead()
                       + "<row><c><v>1</v></c><c><v>2</v></c></row></sheetData></worksheet>"));
}

} // namespace

Q_DECLARE_METATYPE(Maker)

class tst_Bounds : public QObject
{
    Q_OBJECT

private slots:
    void hostileWorkbook_data();
    void hostileWorkbook();
};

void tst_Bounds::hostileWorkbook_data()
{
    QTest::addColumn<Maker>("make");
    QTest::addColumn<QString>("suffix");
    // Part of the reason the sheet is refused with; empty: it converts.
    QTest::addColumn<QString>("reason");
    QTest::addColumn<qint64>("maxOutput");

    QTest::newRow("styled empty cells") << Maker(styledEmptyCells) << "xlsx"
                                        << "more than 8,388,608 cells in one sheet" << qint64(0);
    QTest::newRow("merged areas") << Maker(mergedAreas) << "xlsx"
                                  << "more than 1,048,576 merged areas in one sheet" << qint64(0);
    QTest::newRow("formula strings") << Maker(formulaStrings) << "xlsx"
                                     << "bytes of text in one sheet" << qint64(0);
    QTest::newRow("strings of a streamed sheet")
        << Maker(streamedStrings) << "xlsx" << QString() << qint64(kStringRows * (16384 * 2 + 1));
    QTest::newRow("one huge cell") << Maker(oneHugeCell) << "xlsx"
                                   << "bytes of text in one sheet" << qint64(0);
    // 200 cells of 32,767 characters, 199 commas, CR LF.
    QTest::newRow("text repeated by @@@")
        << Maker(textRepeatedByFormat) << "xlsx" << QString() << qint64(200 * 32767 + 199 + 2);
    QTest::newRow("cells at A1 and XFD1048576") << Maker(farCorners) << "xlsx"
                                                << "(the padding bound)" << qint64(0);
    QTest::newRow("one merged area over the grid") << Maker(mergeOverTheGrid) << "xlsx"
                                                   << "(the padding bound)" << qint64(0);
    QTest::newRow("empty shared strings (xls)") << Maker(emptySharedStrings) << "xls"
                                                << "bytes of shared strings" << qint64(0);
    QTest::newRow("MULBLANK flood (xls)") << Maker(mulBlankFlood) << "xls"
                                          << "more than 8,388,608 cells in one sheet" << qint64(0);
    QTest::newRow("stream of 2 GB (xls)")
        << Maker(streamOfTwoGigabytes) << "xls" << QString() << qint64(3);
    QTest::newRow("protected stream of 2 GB (xls)")
        << Maker(protectedStreamOfTwoGigabytes) << "xls"
        << "bytes in the workbook stream of a protected workbook" << qint64(0);
    QTest::newRow("sheet running on for 2 GB (xls)")
        << Maker(sheetRunningOn) << "xls"
        << "more than 67,108,864 records in one sheet" << qint64(0);
}

void tst_Bounds::hostileWorkbook()
{
    QFETCH(Maker, make);
    QFETCH(QString, suffix);
    QFETCH(QString, reason);
    QFETCH(qint64, maxOutput);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString hostile = dir.filePath("hostile." + suffix);
    const QString good = dir.filePath("good.xlsx");
    QVERIFY(make(QFile::encodeName(hostile).toStdString()));
    QVERIFY(goodWorkbook(QFile::encodeName(good).toStdString()));
    // Small on disk: every input fits well under 10 MB (sparse streams
    // count only what they really hold).
    QVERIFY2(QFileInfo(hostile).size() < (qint64(10) << 20) || suffix == QLatin1String("xls"),
             qPrintable(QString::number(QFileInfo(hostile).size())));

    QProcess probe;
    probe.start(QStringLiteral(SHEETDRAIN_BOUNDS_PROBE),
                { QString::number(kAddressSpaceMb), dir.path(), hostile, good });
    QVERIFY(probe.waitForFinished(120000));
    const QString out = QString::fromUtf8(probe.readAllStandardOutput());
    QVERIFY2(probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0,
             qPrintable(out + QString::fromUtf8(probe.readAllStandardError())));

    if (reason.isEmpty()) {
        QVERIFY2(out.contains(QLatin1String("0 sheet 0: written")), qPrintable(out));
        QVERIFY(QFileInfo(dir.filePath("0-0.csv")).size() <= maxOutput);
    } else if (out.contains(QLatin1String("0: not opened:"))) {
        // A bound of the whole workbook (its shared strings): no sheet to name.
        QVERIFY2(out.contains(QLatin1String("workbook exceeds a limit")), qPrintable(out));
        QVERIFY2(out.contains(reason), qPrintable(out));
    } else {
        QVERIFY2(out.contains(QLatin1String("0 sheet 0: refused:")), qPrintable(out));
        QVERIFY2(out.contains(QLatin1String("workbook exceeds a limit")), qPrintable(out));
        QVERIFY2(out.contains(QLatin1String("sheet \"Crafted\"")), qPrintable(out));
        QVERIFY2(out.contains(reason), qPrintable(out));
        QVERIFY(!QFileInfo::exists(dir.filePath("0-0.csv")));
    }
    // The batch goes on: the next workbook converts in the same process.
    QVERIFY2(out.contains(QLatin1String("1 sheet 0: written 5")), qPrintable(out));
}

QTEST_GUILESS_MAIN(tst_Bounds)
#include "tst_bounds.moc"
