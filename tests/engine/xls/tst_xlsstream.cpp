// Streaming an .xls sheet into CSV while it is read: written streamed and
// whole (a sheet already in memory is written whole), the files must be the
// same bytes whatever the batch size, and each case goes the way it says.

#include "biffbuilder.h"

#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/model.h"
#include "xls/xlsreader.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <string>
#include <vector>

using namespace biffbuilder;

namespace {

constexpr int kBiff8 = 0x0600;

std::vector<std::string> g_outcomes;

void recordOutcome(int, const char *outcome)
{
    g_outcomes.push_back(outcome);
}

// DIMENSIONS of BIFF8: first row, last row + 1, first column, last column + 1.
QByteArray dimensions(int row1, int col1, int row2, int col2)
{
    return rec(0x0200,
               u32(quint32(row1)) + u32(quint32(row2 + 1)) + u16(col1) + u16(col2 + 1) + u16(0));
}

QByteArray number(int row, int col, double v)
{
    return rec(0x0203, rcx(row, col) + f64(v));
}

QByteArray label(int row, int col, const QString &text)
{
    return rec(0x0204, rcx(row, col) + xlString(text));
}

// A FORMULA whose text result follows in a STRING record.
QByteArray stringFormula(int row, int col, const QString &result)
{
    return rec(0x0006,
               rcx(row, col) + u8(0) + QByteArray(5, '\0') + u16(0xFFFF) + u16(0) + u32(0) + u16(0))
        + rec(0x0207, xlString(result));
}

QByteArray book(const QByteArray &sheetBody)
{
    const QByteArray stream = workbookStream(kBiff8, {}, { SheetSpec { "Sheet1", sheetBody } });
    return buildCfb({ { QStringLiteral("Workbook"), stream } }).bytes;
}

struct Written
{
    QByteArray bytes;
    std::string error;
    uint64_t readingCost = 0;
};

Written write(const QByteArray &xls, bool whole)
{
    Written w;
    sd::Error e;
    auto wb = sd::openXlsMemory(reinterpret_cast<const uint8_t *>(xls.constData()),
                                size_t(xls.size()), "test.xls", &e);
    if (!wb) {
        w.error = "open: " + e.description();
        return w;
    }
    if (whole)
        wb->sheet(0, &e);
    QTemporaryDir dir;
    const QString path = dir.filePath("out.csv");
    e = sd::writeSheetCsv(*wb, 0, path, QTextCodec::codecForName("UTF-8"));
    w.error = e ? e.description() : std::string();
    QFile f(path);
    w.bytes = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
    w.readingCost = wb->loader->readingCost();
    return w;
}

} // namespace

class TestXlsStream : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { sd::setCsvStreamFloor(0); }
    void cleanupTestCase() { sd::setCsvStreamFloor(UINT64_MAX); }
    void init()
    {
        g_outcomes.clear();
        sd::setCsvStreamObserver(recordOutcome);
    }
    void cleanup()
    {
        sd::setCsvStreamObserver(nullptr);
        sd::setCsvStreamBatching(0, 0);
    }
    void sameBytes_data();
    void sameBytes();
};

void TestXlsStream::sameBytes_data()
{
    QTest::addColumn<QByteArray>("xls");
    QTest::addColumn<QString>("outcome");
    // Text of a formula's result arrives in the record after its cell: a
    // batch must not be handed over in between.
    const QByteArray cells = number(1, 1, 1.5) + label(1, 3, QStringLiteral("a,\"b\""))
        + stringFormula(2, 1, QStringLiteral("caf\u00e9")) + number(2, 2, 2)
        + stringFormula(3, 3, QStringLiteral("x")) + label(4, 1, QStringLiteral("last"));
    QTest::newRow("dimension holds the cells")
        << book(dimensions(1, 1, 4, 3) + cells) << "streamed";
    QTest::newRow("no dimension") << book(cells) << "whole: no dimension";
    QTest::newRow("dimension too narrow")
        << book(dimensions(1, 1, 4, 2) + cells) << "whole: a cell outside the dimension";
    QTest::newRow("dimension too wide")
        << book(dimensions(0, 0, 4, 3) + cells) << "whole: used range other than the dimension";
    QTest::newRow("rows out of order")
        << book(dimensions(0, 0, 1, 0) + number(1, 0, 1) + number(0, 0, 2))
        << "whole: cells out of order";
    QTest::newRow("merged area past the cells") << book(
        dimensions(1, 1, 4, 3) + cells + rec(0x00E5, u16(1) + u16(4) + u16(6) + u16(3) + u16(5)))
                                                << "whole: used range other than the dimension";
    // Rows and columns without cells, as the used range counts them.
    auto row = [](int r) {
        return rec(0x0208,
                   u16(r) + u16(0) + u16(0) + u16(300) + u16(0) + u16(0) + u16(0x140) + u16(15));
    };
    auto colinfo = [](int first, int last, int xf) {
        return rec(0x007D, u16(first) + u16(last) + u16(2340) + u16(xf) + u16(0) + u16(0));
    };
    QTest::newRow("row record the dimension holds")
        << book(dimensions(1, 1, 6, 3) + row(6) + cells) << "streamed";
    QTest::newRow("row record past the dimension") << book(dimensions(1, 1, 4, 3) + cells + row(6))
                                                   << "whole: used range other than the dimension";
    QTest::newRow("columns formatted as the whole width")
        << book(colinfo(0, 9, 21) + colinfo(10, 256, 21) + dimensions(1, 1, 4, 3) + cells)
        << "streamed";
    QTest::newRow("formatted column past the dimension")
        << book(colinfo(6, 7, 21) + dimensions(1, 1, 4, 3) + cells)
        << "whole: formatted columns or comments outside the dimension";
    // An empty sheet states 0, 0, 0, 0 and is written as one empty row.
    QTest::newRow("empty sheet") << book(dimensions(0, 0, -1, -1)) << "streamed";
}

void TestXlsStream::sameBytes()
{
    QFETCH(QByteArray, xls);
    QFETCH(QString, outcome);
    const Written whole = write(xls, true);
    QVERIFY2(whole.error.empty(), whole.error.c_str());
    for (size_t batch : { size_t(1), size_t(2), size_t(0) }) {
        sd::setCsvStreamBatching(batch, 1);
        g_outcomes.clear();
        const Written streamed = write(xls, false);
        QCOMPARE(QString::fromStdString(streamed.error), QString());
        QCOMPARE(streamed.bytes, whole.bytes);
        QCOMPARE(streamed.readingCost, whole.readingCost);
        QCOMPARE(g_outcomes.size(), size_t(1));
        QCOMPARE(QString::fromStdString(g_outcomes[0]), outcome);
    }
}

QTEST_GUILESS_MAIN(TestXlsStream)
#include "tst_xlsstream.moc"
