#include "guardedbuffer.h"
#include "pathstrings.h"

#include <QtTest>

// Every row writes into a GuardedBuffer of destSize bytes prefilled with
// "stale", so a test sees both a destination left alone and one emptied, and
// any byte written past destSize.
class TestTextCut : public QObject
{
    Q_OBJECT

private slots:
    void copyRange_data();
    void copyRange();
    void textAfter_data();
    void textAfter();
    void textBefore_data();
    void textBefore();
    void textBetween_data();
    void textBetween();
    void inPlace_data();
    void inPlace();
};

static const QByteArray Stale("stale");

void TestTextCut::copyRange_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("destSize");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");

    const QByteArray s("abcdef");
    QTest::newRow("middle") << s << 1 << 4 << 16 << QByteArray("bcd") << 0;
    QTest::newRow("whole") << s << 0 << 6 << 16 << s << 0;
    QTest::newRow("end beyond length stops at the end")
        << s << 2 << 100 << 16 << QByteArray("cdef") << 0;
    QTest::newRow("start = length empties") << s << 6 << 6 << 16 << QByteArray() << 0;
    QTest::newRow("start = length, end beyond") << s << 6 << 9 << 16 << QByteArray() << 0;
    QTest::newRow("start past the end leaves dest alone") << s << 7 << 9 << 16 << Stale << 1;
    QTest::newRow("end = start") << s << 3 << 3 << 16 << QByteArray() << 0;
    QTest::newRow("end below start") << s << 4 << 2 << 16 << QByteArray() << 0;
    QTest::newRow("negative end") << s << 0 << -1 << 16 << QByteArray() << 0;
    QTest::newRow("negative start refused") << s << -1 << 3 << 16 << QByteArray() << -1;
    QTest::newRow("exact fit") << s << 0 << 6 << 7 << s << 0;
    QTest::newRow("one byte short refused") << s << 0 << 6 << 6 << QByteArray() << -1;
    QTest::newRow("size 1 holds only the empty result") << s << 3 << 3 << 1 << QByteArray() << 0;
    QTest::newRow("size 1 refuses one byte") << s << 0 << 1 << 1 << QByteArray() << -1;
}

void TestTextCut::copyRange()
{
    QFETCH(QByteArray, source);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(int, destSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    GuardedBuffer dest(destSize, Stale);
    QCOMPARE(CopyRange(dest.data(), dest.size(), source.constData(), start, end), result);
    QCOMPARE(dest.text(), expected);
    QVERIFY(dest.guardIntact());
}

void TestTextCut::textAfter_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("last");
    QTest::addColumn<int>("destSize");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");

    const QByteArray path("/opt/sd/SheetDrain");
    QTest::newRow("first") << path << QByteArray("/") << false << false << 64
                           << QByteArray("opt/sd/SheetDrain") << 1;
    QTest::newRow("first, keep") << path << QByteArray("/") << true << false << 64 << path << 1;
    QTest::newRow("last") << path << QByteArray("/") << false << true << 64
                          << QByteArray("SheetDrain") << 1;
    QTest::newRow("last, keep") << path << QByteArray("/") << true << true << 64
                                << QByteArray("/SheetDrain") << 1;
    QTest::newRow("pattern at the very end")
        << QByteArray("SavePath=") << QByteArray("=") << false << false << 64 << QByteArray() << 1;
    QTest::newRow("absent empties")
        << path << QByteArray("\\") << false << false << 64 << QByteArray() << -1;
    QTest::newRow("empty pattern")
        << path << QByteArray() << false << false << 64 << QByteArray() << -1;
    QTest::newRow("several-byte pattern")
        << QByteArray("SourcePath=/a\r\nSavePath=/b\r\n") << QByteArray("SavePath=") << false
        << false << 64 << QByteArray("/b\r\n") << 1;
    QTest::newRow("last uses the non-overlapping scan")
        << QByteArray("xaaay") << QByteArray("aa") << false << true << 64 << QByteArray("ay") << 1;
    QTest::newRow("exact fit") << path << QByteArray("/") << false << true << 11
                               << QByteArray("SheetDrain") << 1;
    QTest::newRow("one byte short refused")
        << path << QByteArray("/") << false << true << 10 << QByteArray() << -1;
}

void TestTextCut::textAfter()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, pattern);
    QFETCH(bool, keep);
    QFETCH(bool, last);
    QFETCH(int, destSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    GuardedBuffer dest(destSize, Stale);
    QCOMPARE(
        TextAfter(dest.data(), dest.size(), source.constData(), pattern.constData(), keep, last),
        result);
    QCOMPARE(dest.text(), expected);
    QVERIFY(dest.guardIntact());
}

void TestTextCut::textBefore_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<bool>("keep");
    QTest::addColumn<bool>("last");
    QTest::addColumn<int>("destSize");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");

    const QByteArray path("/opt/sd/SheetDrain");
    QTest::newRow("program folder: keep, last")
        << path << QByteArray("/") << true << true << 64 << QByteArray("/opt/sd/") << 1;
    QTest::newRow("bare file name")
        << QByteArray("SheetDrain") << QByteArray("/") << true << true << 64 << QByteArray() << -1;
    QTest::newRow("first") << QByteArray("a=b=c") << QByteArray("=") << false << false << 64
                           << QByteArray("a") << 1;
    QTest::newRow("first, keep") << QByteArray("a=b=c") << QByteArray("=") << true << false << 64
                                 << QByteArray("a=") << 1;
    QTest::newRow("last") << QByteArray("a=b=c") << QByteArray("=") << false << true << 64
                          << QByteArray("a=b") << 1;
    QTest::newRow("pattern at the start")
        << QByteArray("=abc") << QByteArray("=") << false << false << 64 << QByteArray() << 1;
    QTest::newRow("absent empties")
        << QByteArray("abc") << QByteArray("=") << false << false << 64 << QByteArray() << -1;
    QTest::newRow("line before CR LF") << QByteArray("D:\\in\\\r\nSavePath=") << QByteArray("\r\n")
                                       << false << false << 64 << QByteArray("D:\\in\\") << 1;
    QTest::newRow("exact fit") << path << QByteArray("/") << true << true << 9
                               << QByteArray("/opt/sd/") << 1;
    QTest::newRow("one byte short refused")
        << path << QByteArray("/") << true << true << 8 << QByteArray() << -1;
}

void TestTextCut::textBefore()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, pattern);
    QFETCH(bool, keep);
    QFETCH(bool, last);
    QFETCH(int, destSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    GuardedBuffer dest(destSize, Stale);
    QCOMPARE(
        TextBefore(dest.data(), dest.size(), source.constData(), pattern.constData(), keep, last),
        result);
    QCOMPARE(dest.text(), expected);
    QVERIFY(dest.guardIntact());
}

void TestTextCut::textBetween_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("startPattern");
    QTest::addColumn<QByteArray>("endPattern");
    QTest::addColumn<QByteArray>("flags"); // keepStart keepEnd lastStart lastEnd as 0/1
    QTest::addColumn<int>("destSize");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");

    const QByteArray settings("A=1\r\nSourcePath=/in/\r\nB=2\r\n");
    QTest::newRow("a settings value") << settings << QByteArray("SourcePath=") << QByteArray("\r\n")
                                      << QByteArray("0000") << 64 << QByteArray("/in/") << 1;
    QTest::newRow("key on the last line without CR LF")
        << QByteArray("A=1\r\nSourcePath=/in/") << QByteArray("SourcePath=") << QByteArray("\r\n")
        << QByteArray("0000") << 64 << QByteArray() << -1;
    QTest::newRow("end searched only behind start")
        << QByteArray("x]a[b]c") << QByteArray("[") << QByteArray("]") << QByteArray("0000") << 64
        << QByteArray("b") << 1;
    QTest::newRow("start missing") << QByteArray("ab]") << QByteArray("[") << QByteArray("]")
                                   << QByteArray("0000") << 64 << QByteArray() << -1;
    QTest::newRow("end missing") << QByteArray("a[b") << QByteArray("[") << QByteArray("]")
                                 << QByteArray("0000") << 64 << QByteArray() << -1;
    QTest::newRow("keep both") << QByteArray("a[b]c") << QByteArray("[") << QByteArray("]")
                               << QByteArray("1100") << 64 << QByteArray("[b]") << 1;
    QTest::newRow("last start") << QByteArray("[a][b]") << QByteArray("[") << QByteArray("]")
                                << QByteArray("0010") << 64 << QByteArray("b") << 1;
    QTest::newRow("last end") << QByteArray("[a]b]") << QByteArray("[") << QByteArray("]")
                              << QByteArray("0001") << 64 << QByteArray("a]b") << 1;
    QTest::newRow("nothing between") << QByteArray("[]") << QByteArray("[") << QByteArray("]")
                                     << QByteArray("0000") << 64 << QByteArray() << 1;
    QTest::newRow("same pattern both ends")
        << QByteArray("|a|b|") << QByteArray("|") << QByteArray("|") << QByteArray("0000") << 64
        << QByteArray("a") << 1;
    QTest::newRow("exact fit") << settings << QByteArray("SourcePath=") << QByteArray("\r\n")
                               << QByteArray("0000") << 5 << QByteArray("/in/") << 1;
    QTest::newRow("one byte short refused")
        << settings << QByteArray("SourcePath=") << QByteArray("\r\n") << QByteArray("0000") << 4
        << QByteArray() << -1;
}

void TestTextCut::textBetween()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, startPattern);
    QFETCH(QByteArray, endPattern);
    QFETCH(QByteArray, flags);
    QFETCH(int, destSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    GuardedBuffer dest(destSize, Stale);
    QCOMPARE(TextBetween(dest.data(), dest.size(), source.constData(), startPattern.constData(),
                         endPattern.constData(), flags[0] == '1', flags[1] == '1', flags[2] == '1',
                         flags[3] == '1'),
             result);
    QCOMPARE(dest.text(), expected);
    QVERIFY(dest.guardIntact());
}

// The destination is the source buffer itself, which is how a string is
// shortened where it stands.
void TestTextCut::inPlace_data()
{
    QTest::addColumn<QByteArray>("routine");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("CopyRange") << QByteArray("CopyRange") << QByteArray("c/d/e");
    QTest::newRow("TextAfter") << QByteArray("TextAfter") << QByteArray("b/c/d/e");
    QTest::newRow("TextBefore") << QByteArray("TextBefore") << QByteArray("/a/b/c/d/");
    QTest::newRow("TextBetween") << QByteArray("TextBetween") << QByteArray("b");
}

void TestTextCut::inPlace()
{
    QFETCH(QByteArray, routine);
    QFETCH(QByteArray, expected);

    char buffer[PathBufferSize] = "/a/b/c/d/e";
    int result = 0;
    if (routine == "CopyRange")
        result = CopyRange(buffer, sizeof buffer, buffer, 5, 100) + 1;
    else if (routine == "TextAfter")
        result = TextAfter(buffer, sizeof buffer, buffer, "a/", false, false);
    else if (routine == "TextBefore")
        result = TextBefore(buffer, sizeof buffer, buffer, "/", true, true);
    else
        result = TextBetween(buffer, sizeof buffer, buffer, "a/", "/", false, false, false, false);
    QCOMPARE(result, 1);
    QCOMPARE(QByteArray(buffer), expected);
}

QTEST_GUILESS_MAIN(TestTextCut)
#include "tst_textcut.moc"
