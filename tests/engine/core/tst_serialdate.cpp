// The serial dates of both date systems: the days the application's own
// documentation names (its 1900-02-29, the last day it shows, the start of
// the 1904 system), DATE's normalisation of months and days, and every
// serial day back to the same serial through its civil date.

#include "core/serialdate.h"

#include <QtTest>

using namespace sd;

class TestSerialDate : public QObject
{
    Q_OBJECT

private slots:
    void dates_data();
    void dates();
    void normalised_data();
    void normalised();
    void roundTrip_data();
    void roundTrip();
};

void TestSerialDate::dates_data()
{
    QTest::addColumn<bool>("date1904");
    QTest::addColumn<double>("serial");
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::newRow("1900 day 0") << false << 0.0 << 1900 << 1 << 0;
    QTest::newRow("1900 day 1") << false << 1.0 << 1900 << 1 << 1;
    QTest::newRow("1900-02-28") << false << 59.0 << 1900 << 2 << 28;
    QTest::newRow("the 29 February that never was") << false << 60.0 << 1900 << 2 << 29;
    QTest::newRow("1900-03-01") << false << 61.0 << 1900 << 3 << 1;
    QTest::newRow("Unix epoch") << false << 25569.0 << 1970 << 1 << 1;
    QTest::newRow("2000-02-29 noon") << false << 36585.5 << 2000 << 2 << 29;
    QTest::newRow("9999-12-31") << false << 2958465.0 << 9999 << 12 << 31;
    QTest::newRow("1904 day 0") << true << 0.0 << 1904 << 1 << 1;
    QTest::newRow("1904 Unix epoch") << true << 24107.0 << 1970 << 1 << 1;
    QTest::newRow("1904 9999-12-31") << true << 2957003.0 << 9999 << 12 << 31;
}

void TestSerialDate::dates()
{
    QFETCH(bool, date1904);
    QFETCH(double, serial);
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    int y = 0, m = 0, d = 0;
    QVERIFY(serialToDate(serial, date1904, y, m, d));
    QCOMPARE(QList<int>({ y, m, d }), QList<int>({ year, month, day }));
    if (day > 0)
        QCOMPARE(dateToSerial(year, month, day, date1904), std::floor(serial));
    const double offset = date1904 ? double(kSerial1904Offset) : 0.0;
    if (!date1904 || serial + offset <= double(kLastSerialDay1900))
        QVERIFY(serialToDate(serial + offset, false, y, m, d) && y == year && m == month);
}

// DATE(year, month, day) as the application normalises it.
void TestSerialDate::normalised_data()
{
    QTest::addColumn<int>("year");
    QTest::addColumn<int>("month");
    QTest::addColumn<int>("day");
    QTest::addColumn<double>("serial");
    QTest::newRow("DATE(1900,2,29)") << 1900 << 2 << 29 << 60.0;
    QTest::newRow("DATE(1900,3,0)") << 1900 << 3 << 0 << 60.0;
    QTest::newRow("DATE(2008,14,2)") << 2008 << 14 << 2 << 39846.0; // 2009-02-02
    QTest::newRow("DATE(2008,1,35)") << 2008 << 1 << 35 << 39482.0; // 2008-02-04
    QTest::newRow("DATE(2008,0,1)") << 2008 << 0 << 1 << 39417.0; // 2007-12-01
    QTest::newRow("DATE(2008,-3,1)") << 2008 << -3 << 1 << 39326.0; // 2007-09-01
    QTest::newRow("DATE(2008,1,-15)") << 2008 << 1 << -15 << 39432.0; // 2007-12-16
}

void TestSerialDate::normalised()
{
    QFETCH(int, year);
    QFETCH(int, month);
    QFETCH(int, day);
    QFETCH(double, serial);
    QCOMPARE(dateToSerial(year, month, day, false), serial);
    if (serial > 60) // the 1904 system has no 29 February 1900
        QCOMPARE(dateToSerial(year, month, day, true), serial - double(kSerial1904Offset));
}

void TestSerialDate::roundTrip_data()
{
    QTest::addColumn<bool>("date1904");
    QTest::newRow("1900") << false;
    QTest::newRow("1904") << true;
}

// Every day of a date system, to its civil date and back: one serial per
// date, the month lengths of the Gregorian calendar (and the 1900 system's
// extra day) on the way.
void TestSerialDate::roundTrip()
{
    QFETCH(bool, date1904);
    const int64_t last = date1904 ? kLastSerialDay1904 : kLastSerialDay1900;
    int previousY = date1904 ? 1904 : 1900, previousM = 1, previousD = 0;
    for (int64_t day = date1904 ? 0 : 1; day <= last; ++day) {
        int y = 0, m = 0, d = 0;
        serialDayToDate(day, date1904, y, m, d);
        const bool next = (y == previousY && m == previousM && d == previousD + 1)
            || (d == 1 && (m == previousM + 1 || (m == 1 && y == previousY + 1)));
        if (!next || dateToSerial(y, m, d, date1904) != double(day)) {
            QFAIL(qPrintable(QStringLiteral("day %1: %2-%3-%4").arg(day).arg(y).arg(m).arg(d)));
        }
        const int length = daysInMonth(y, m) + (!date1904 && y == 1900 && m == 2);
        if (d == 1 && day > 1)
            QCOMPARE(previousD,
                     daysInMonth(previousY, previousM)
                         + (!date1904 && previousY == 1900 && previousM == 2));
        QVERIFY(d <= length);
        previousY = y, previousM = m, previousD = d;
    }
    QCOMPARE(QList<int>({ previousY, previousM, previousD }), QList<int>({ 9999, 12, 31 }));
}

QTEST_GUILESS_MAIN(TestSerialDate)
#include "tst_serialdate.moc"
