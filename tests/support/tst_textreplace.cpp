#include "guardedbuffer.h"
#include "pathstrings.h"

#include <QtTest>

class TestTextReplace : public QObject
{
    Q_OBJECT

private slots:
    void replaceFirst_data();
    void replaceFirst();
    void replaceAll_data();
    void replaceAll();
    void trims_data();
    void trims();
};

static void addReplaceColumns()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("replacement");
    QTest::addColumn<int>("textSize");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");
}

void TestTextReplace::replaceFirst_data()
{
    addReplaceColumns();
    QTest::newRow("first only") << QByteArray("a/b/c") << QByteArray("/") << QByteArray("\\") << 64
                                << QByteArray("a\\b/c") << 1;
    QTest::newRow("absent") << QByteArray("abc") << QByteArray("/") << QByteArray("\\") << 64
                            << QByteArray("abc") << 0;
    QTest::newRow("empty pattern")
        << QByteArray("abc") << QByteArray() << QByteArray("x") << 64 << QByteArray("abc") << 0;
    QTest::newRow("at the start") << QByteArray("/ab") << QByteArray("/") << QByteArray("--") << 64
                                  << QByteArray("--ab") << 1;
    QTest::newRow("at the end") << QByteArray("ab/") << QByteArray("/") << QByteArray("--") << 64
                                << QByteArray("ab--") << 1;
    QTest::newRow("shrinks") << QByteArray("aXXb") << QByteArray("XX") << QByteArray() << 64
                             << QByteArray("ab") << 1;
    QTest::newRow("grows to an exact fit")
        << QByteArray("ab") << QByteArray("b") << QByteArray("xyz") << 5 << QByteArray("axyz") << 1;
    QTest::newRow("grows one byte too far, refused")
        << QByteArray("ab") << QByteArray("b") << QByteArray("xyz") << 4 << QByteArray() << -1;
}

void TestTextReplace::replaceFirst()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, replacement);
    QFETCH(int, textSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    GuardedBuffer buffer(textSize, text);
    QCOMPARE(
        ReplaceFirst(buffer.data(), buffer.size(), pattern.constData(), replacement.constData()),
        result);
    QCOMPARE(buffer.text(), expected);
    QVERIFY(buffer.guardIntact());
}

void TestTextReplace::replaceAll_data()
{
    addReplaceColumns();
    QTest::newRow("mixed separators") << QByteArray("a\\b/c\\d") << QByteArray("\\")
                                      << QByteArray("/") << 64 << QByteArray("a/b/c/d") << 2;
    QTest::newRow("searches again from the start")
        << QByteArray("aaaa") << QByteArray("aa") << QByteArray("a") << 64 << QByteArray("a") << 3;
    QTest::newRow("absent") << QByteArray("abc") << QByteArray("/") << QByteArray("\\") << 64
                            << QByteArray("abc") << 0;
    QTest::newRow("replacement holds the pattern, refused")
        << QByteArray("a/b") << QByteArray("/") << QByteArray("//") << 64 << QByteArray() << -1;
    QTest::newRow("replacement equals the pattern, refused")
        << QByteArray("a/b") << QByteArray("/") << QByteArray("/") << 64 << QByteArray() << -1;
    QTest::newRow("replacement holds the pattern, text lacks it")
        << QByteArray("ab") << QByteArray("/") << QByteArray("//") << 64 << QByteArray("ab") << 0;
    QTest::newRow("grows to an exact fit")
        << QByteArray("a/b/c") << QByteArray("/") << QByteArray("---") << 10
        << QByteArray("a---b---c") << 2;
    QTest::newRow("grows too far on the second pass, refused")
        << QByteArray("a/b/c") << QByteArray("/") << QByteArray("---") << 9 << QByteArray() << -1;
}

void TestTextReplace::replaceAll()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, replacement);
    QFETCH(int, textSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    GuardedBuffer buffer(textSize, text);
    QCOMPARE(ReplaceAll(buffer.data(), buffer.size(), pattern.constData(), replacement.constData()),
             result);
    QCOMPARE(buffer.text(), expected);
    QVERIFY(buffer.guardIntact());
}

void TestTextReplace::trims_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("leading");
    QTest::addColumn<QByteArray>("trailing");

    QTest::newRow("spaces and tabs")
        << QByteArray(" \t ab c\t ") << QByteArray("ab c\t ") << QByteArray(" \t ab c");
    QTest::newRow("inner blanks stay")
        << QByteArray("a \t b") << QByteArray("a \t b") << QByteArray("a \t b");
    QTest::newRow("blanks only") << QByteArray(" \t  ") << QByteArray() << QByteArray();
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray();
    QTest::newRow("CR and LF are not blanks")
        << QByteArray("\r\n a \r\n") << QByteArray("\r\n a \r\n") << QByteArray("\r\n a \r\n");
    QTest::newRow("vertical tab, form feed")
        << QByteArray("\v\fa\f\v") << QByteArray("\v\fa\f\v") << QByteArray("\v\fa\f\v");
    QTest::newRow("no-break space is not a blank") << QByteArray("\xc2\xa0"
                                                                 "a\xc2\xa0")
                                                   << QByteArray("\xc2\xa0"
                                                                 "a\xc2\xa0")
                                                   << QByteArray("\xc2\xa0"
                                                                 "a\xc2\xa0");
}

void TestTextReplace::trims()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, leading);
    QFETCH(QByteArray, trailing);

    QByteArray a = text;
    TrimLeadingBlanks(a.data());
    QCOMPARE(QByteArray(a.constData()), leading);
    QByteArray b = text;
    TrimTrailingBlanks(b.data());
    QCOMPARE(QByteArray(b.constData()), trailing);
}

QTEST_GUILESS_MAIN(TestTextReplace)
#include "tst_textreplace.moc"
