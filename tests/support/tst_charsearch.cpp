#include "pathstrings.h"

#include <QtTest>

class TestCharSearch : public QObject
{
    Q_OBJECT

private slots:
    void countChar_data();
    void countChar();
    void findNthChar_data();
    void findNthChar();
    void findLast_data();
    void findLast();
};

void TestCharSearch::countChar_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<char>("ch");
    QTest::addColumn<int>("expected");

    QTest::newRow("empty") << QByteArray("") << '/' << 0;
    QTest::newRow("absent") << QByteArray("abc") << '/' << 0;
    QTest::newRow("separators") << QByteArray("/home/u/out/") << '/' << 4;
    QTest::newRow("only that byte") << QByteArray("////") << '/' << 4;
    QTest::newRow("bytes, not characters") << QByteArray("\xe4\xb8\xad\xe4\xb8\xad") << '\xe4' << 2;
    QTest::newRow("backslash is a byte like any") << QByteArray("a\\b/c") << '\\' << 1;
}

void TestCharSearch::countChar()
{
    QFETCH(QByteArray, text);
    QFETCH(char, ch);
    QFETCH(int, expected);
    QCOMPARE(CountChar(text.constData(), ch), expected);
}

void TestCharSearch::findNthChar_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("expected");

    const QByteArray path("/home/u/out/");
    QTest::newRow("n = 0") << path << 0 << -1;
    QTest::newRow("n negative") << path << -1 << -1;
    QTest::newRow("first") << path << 1 << 0;
    QTest::newRow("second") << path << 2 << 5;
    QTest::newRow("n = count is the last") << path << 4 << 11;
    QTest::newRow("n above count") << path << 5 << -1;
    QTest::newRow("empty text") << QByteArray("") << 1 << -1;
    QTest::newRow("after a multi-byte character") << QByteArray("\xe4\xb8\xad/") << 1 << 3;
}

void TestCharSearch::findNthChar()
{
    QFETCH(QByteArray, text);
    QFETCH(int, n);
    QFETCH(int, expected);
    QCOMPARE(FindNthChar(text.constData(), '/', n), expected);
}

void TestCharSearch::findLast_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<int>("expected");

    QTest::newRow("once, as a forward search") << QByteArray("dir/name") << QByteArray("/") << 3;
    QTest::newRow("last of several") << QByteArray("/a/b/c") << QByteArray("/") << 4;
    QTest::newRow("matches do not overlap: aaa") << QByteArray("aaa") << QByteArray("aa") << 0;
    QTest::newRow("matches do not overlap: aaaa") << QByteArray("aaaa") << QByteArray("aa") << 2;
    QTest::newRow("matches do not overlap: aaaaa") << QByteArray("aaaaa") << QByteArray("aa") << 2;
    QTest::newRow("at the very end") << QByteArray("a=1\r\n") << QByteArray("\r\n") << 3;
    QTest::newRow("absent") << QByteArray("abc") << QByteArray("/") << -1;
    QTest::newRow("pattern longer than text") << QByteArray("ab") << QByteArray("abc") << -1;
    QTest::newRow("empty text") << QByteArray("") << QByteArray("/") << -1;
    QTest::newRow("empty pattern never matches") << QByteArray("abc") << QByteArray("") << -1;
}

void TestCharSearch::findLast()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, pattern);
    QFETCH(int, expected);
    QCOMPARE(FindLast(text.constData(), pattern.constData()), expected);
}

QTEST_GUILESS_MAIN(TestCharSearch)
#include "tst_charsearch.moc"
