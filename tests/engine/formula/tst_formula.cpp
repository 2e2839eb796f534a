// Grid tests of the formula engine: formula text -> displayed result, one
// TSV file per area in data/, evaluated in Sheet1!H3 of a small fixture.

#include "formula/evaluator.h"
#include "formula/memorysource.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using namespace sd::formula;

namespace {

// 1 600 000 000 = 2020-09-13 12:26:40 UTC, serial 44087.518518...
constexpr int64_t kClock = 1600000000;

// Sheet1 A1:F5 and 'Data 2' A1:B2; names Total, Rate and Sheet1's Local.
void fixture(MemorySource &s)
{
    const int a = s.addSheet("Sheet1");
    const int b = s.addSheet("Data 2");
    for (uint32_t r = 0; r < 5; ++r) {
        s.set(a, r, 0, Value::num(r + 1));
        s.set(a, r, 3, Value::num(10.0 * (r + 1)));
    }
    const char *fruit[] = { "apple", "Banana", "cherry", "date" };
    for (uint32_t r = 0; r < 4; ++r)
        s.set(a, r, 1, Value::str(fruit[r]));
    s.set(a, 0, 2, Value::boolean(true));
    s.set(a, 1, 2, Value::boolean(false));
    s.set(a, 2, 2, Value::err(sd::ErrDiv0));
    s.set(a, 3, 2, Value::str("10"));
    s.set(a, 4, 2, Value::num(2.5));
    s.set(a, 0, 4, Value::num(43831));
    s.set(a, 1, 4, Value::num(0.5));
    s.set(a, 2, 4, Value::num(44000.75));
    s.set(a, 0, 5, Value::str("a b  c "));
    s.set(a, 1, 5, Value::str("  x  "));
    s.set(b, 0, 0, Value::num(100));
    s.set(b, 1, 0, Value::num(200));
    s.set(b, 0, 1, Value::str("x"));
    s.defineName("Total", "Sheet1!$A$1:$A$5");
    s.defineName("Rate", "0.1");
    s.defineName("Local", "Sheet1!$D$1", a);
}

QString display(const Value &v)
{
    std::string s;
    if (v.isError())
        return QString::fromLatin1(errorText(v.error));
    toText(v, s);
    return QString::fromStdString(s);
}

} // namespace

class TestFormula : public QObject
{
    Q_OBJECT

private slots:
    void grid_data();
    void grid();
};

void TestFormula::grid_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("expected");
    const QDir dir(QStringLiteral(SHEETDRAIN_TEST_DATA));
    const QStringList files = dir.entryList({ "*.tsv" }, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    for (const QString &name : files) {
        QFile f(dir.filePath(name));
        QVERIFY(f.open(QIODevice::ReadOnly));
        int line = 0;
        while (!f.atEnd()) {
            const QString text = QString::fromUtf8(f.readLine()).chopped(1);
            ++line;
            if (text.isEmpty() || text.startsWith("//"))
                continue;
            const int tab = text.indexOf('\t');
            QVERIFY2(tab > 0, qPrintable(name + ":" + QString::number(line)));
            const QByteArray tag = (name + ":" + QString::number(line)).toUtf8();
            QTest::newRow(tag.constData()) << text.left(tab) << text.mid(tab + 1);
        }
    }
}

void TestFormula::grid()
{
    QFETCH(QString, formula);
    QFETCH(QString, expected);
    MemorySource s;
    fixture(s);
    s.setFormula(0, 2, 7, formula.toStdString());
    EvalOptions options;
    options.clock = kClock;
    Evaluator ev(s, options);
    const CellResult r = ev.result(0, 2, 7);
    QVERIFY2(r.status == EvalStatus::Computed || expected == "#NAME?",
             qPrintable(QString::fromStdString(r.reason)));
    QCOMPARE(display(r.value), expected);
}

QTEST_GUILESS_MAIN(TestFormula)
#include "tst_formula.moc"
