// Grid tests of the formula engine: formula text -> displayed result, one
// TSV file per area in data/, evaluated in Sheet1!H3 of a small fixture;
// and the function table those formulas call through.

#include "formula/evaluator.h"
#include "formula/functiontable_p.h"
#include "formula/workbookcalc.h"
#include "memorysource.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <set>
#include <string>

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
    void functionTable();
    void volatileScans_data();
    void volatileScans();
    void applicationFunctions_data();
    void applicationFunctions();
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

// Every row of every file's part of the table: one name and one BIFF number
// each, argument counts and classes that the parser and evaluator can use,
// and each row found again by its name and number.
void TestFormula::functionTable()
{
    std::set<std::string> names;
    std::set<int> numbers;
    std::set<std::string> volatiles;
    for (const FunctionRows &part : functionRows()) {
        for (size_t i = 0; i < part.count; ++i) {
            const FunctionInfo &f = part.first[i];
            const std::string name = f.name;
            QVERIFY2(names.insert(name).second, f.name);
            QVERIFY2(f.biff < 0 || numbers.insert(f.biff).second, f.name);
            QVERIFY2(QString::fromStdString(name) == QString::fromStdString(name).toUpper(),
                     f.name);
            QVERIFY2(f.minArgs <= f.maxArgs, f.name);
            QVERIFY2(QByteArray(f.classes).count('|') <= 1, f.name);
            for (const char *c = f.classes; *c; ++c)
                QVERIFY2(std::string("VRA|").find(*c) != std::string::npos, f.name);
            const int id = findFunction("_xlfn." + name);
            QVERIFY2(id >= 0 && functionInfo(id).name == name, f.name);
            if (f.biff >= 0)
                QCOMPARE(functionByBiff(f.biff), id);
            if (f.flags & FunctionInfo::Volatile)
                volatiles.insert(name);
        }
    }
    // The application's volatile worksheet functions.
    const std::set<std::string> expected { "CELL",   "INDIRECT",    "INFO", "NOW",
                                           "OFFSET", "RANDBETWEEN", "RAND", "TODAY" };
    QVERIFY(volatiles == expected);
    std::set<std::string> listed;
    for (int id : volatileFunctions())
        listed.insert(functionInfo(id).name);
    QVERIFY(listed == expected);
}

void TestFormula::volatileScans_data()
{
    QTest::addColumn<bool>("tokens");
    QTest::addColumn<QByteArray>("formula");
    QTest::addColumn<bool>("looksVolatile");
    QTest::newRow("text now") << false << QByteArray("A1+now()") << true;
    QTest::newRow("text randbetween") << false << QByteArray("_xlfn.RANDBETWEEN(1,6)") << true;
    QTest::newRow("text sum") << false << QByteArray("SUM(A1:A3)") << false;
    QTest::newRow("text name only") << false << QByteArray("TODAY+1") << false;
    // ptgFunc TODAY (221), ptgFuncVar OFFSET (78), ptgFunc ABS (24).
    QTest::newRow("ptgFunc today") << true << QByteArray("\x21\xDD\x00", 3) << true;
    QTest::newRow("ptgFuncVar offset") << true << QByteArray("\x42\x03\x4E\x00", 4) << true;
    QTest::newRow("ptgFunc abs") << true << QByteArray("\x41\x18\x00", 3) << false;
    QTest::newRow("tAttrVolatile") << true << QByteArray("\x19\x01\x00\x00", 4) << true;
}

void TestFormula::volatileScans()
{
    QFETCH(bool, tokens);
    QFETCH(QByteArray, formula);
    QFETCH(bool, looksVolatile);
    const std::string_view data(formula.constData(), size_t(formula.size()));
    QCOMPARE(tokens ? tokensLookVolatile(data) : textLooksVolatile(data), looksVolatile);
}

void TestFormula::applicationFunctions_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("has");
    QTest::newRow("evaluated") << "sum" << true;
    QTest::newRow("known, not evaluated") << "ACCRINT" << true;
    QTest::newRow("newer, with prefix") << "_xlfn.STOCKHISTORY" << true;
    QTest::newRow("user-defined") << "_xludf.MyFunction" << false;
    QTest::newRow("unknown") << "FOOBAR" << false;
}

void TestFormula::applicationFunctions()
{
    QFETCH(QString, name);
    QFETCH(bool, has);
    QCOMPARE(applicationHasFunction(name.toStdString()), has);
}

QTEST_GUILESS_MAIN(TestFormula)
#include "tst_formula.moc"
