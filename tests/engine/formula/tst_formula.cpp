// Grid tests of the formula engine: formula text -> displayed result, one
// TSV file per area in data/; and the function table those formulas call
// through. A row is: formula TAB expected [TAB source [TAB inputs]].
// Without inputs the formula is evaluated in Sheet1!H3 of a small fixture;
// with inputs (blocks such as A2={4;5;"x",TRUE,} : a top-left cell and an
// array of numbers, "text", TRUE/FALSE, #errors, empty for a blank cell) in
// Sheet1!Z100 of a workbook holding only those cells; a line "@inputs TAB
// blocks" gives the inputs of the rows after it that have none. An expected value
// "~1.23" is a number shown to that many places; the row passes when the
// result is within one unit of its last place (the reference rounds some
// values and truncates others); "(not evaluated)" means the engine keeps the cached
// value (what the formula gives depends on where it is opened). A source
// "known: ..." marks a row the engine does not meet yet (an expected failure).

#include "formula/evaluator.h"
#include "formula/functiontable_p.h"
#include "formula/workbookcalc.h"
#include "memorysource.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
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

// Reads the inputs column into a sheet; false on a malformed block.
bool setInputs(MemorySource &s, int sheet, const QString &text)
{
    int i = 0;
    const int n = text.size();
    while (i < n) {
        while (i < n && text[i] == ' ')
            ++i;
        if (i == n)
            break;
        const int eq = text.indexOf('=', i);
        if (eq < 0 || eq + 1 >= n || text[eq + 1] != '{')
            return false;
        static const QRegularExpression ref("^([A-Z]{1,3})([0-9]+)$");
        const auto m = ref.match(text.mid(i, eq - i));
        if (!m.hasMatch())
            return false;
        uint32_t col = 0;
        for (QChar c : m.captured(1))
            col = col * 26 + uint32_t(c.unicode() - 'A' + 1);
        const uint32_t row0 = m.captured(2).toUInt() - 1, col0 = col - 1;
        uint32_t r = 0, c = 0;
        i = eq + 2;
        for (;;) {
            QString item;
            bool quoted = false, isText = false;
            while (i < n && (quoted || (text[i] != ',' && text[i] != ';' && text[i] != '}'))) {
                if (text[i] == '"' && quoted && i + 1 < n && text[i + 1] == '"')
                    item += text[++i];
                else if (text[i] == '"')
                    quoted = !quoted, isText = true;
                else
                    item += text[i];
                ++i;
            }
            if (i == n)
                return false;
            bool isNumber = false;
            const double d = item.toDouble(&isNumber);
            if (isText)
                s.set(sheet, row0 + r, col0 + c, Value::str(item.toStdString()));
            else if (item == "TRUE" || item == "FALSE")
                s.set(sheet, row0 + r, col0 + c, Value::boolean(item == "TRUE"));
            else if (item.startsWith('#'))
                s.set(sheet, row0 + r, col0 + c, Value::err(errorFromText(item.toStdString())));
            else if (isNumber)
                s.set(sheet, row0 + r, col0 + c, Value::num(d));
            else if (!item.isEmpty())
                return false;
            const QChar sep = text[i++];
            if (sep == '}')
                break;
            sep == ',' ? ++c : (++r, c = 0);
        }
    }
    return true;
}

// Whether `actual` shows as `expected`, or rounds to it for "~" values.
bool matches(const Value &actual, const QString &shown, const QString &expected)
{
    if (!expected.startsWith('~'))
        return shown == expected;
    if (actual.isError() || actual.type != ValueType::Number)
        return false;
    const QString want = expected.mid(1);
    const int e = want.indexOf('E', 0, Qt::CaseInsensitive);
    const QString mantissa = e < 0 ? want : want.left(e);
    const int dot = mantissa.indexOf('.');
    const int places = dot < 0 ? 0 : mantissa.size() - dot - 1;
    const int exponent = e < 0 ? 0 : want.mid(e + 1).toInt();
    const double step = std::pow(10.0, exponent - places);
    return std::fabs(actual.number - want.toDouble()) <= step * 1.0000001;
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
    void everyFunctionHasRows();
    void functionTable();
    void volatileScans_data();
    void volatileScans();
    void applicationFunctions_data();
    void applicationFunctions();
};

// The grid files' rows: file:line, then the row's columns.
QList<QPair<QString, QStringList>> gridRows()
{
    QList<QPair<QString, QStringList>> rows;
    const QDir dir(QStringLiteral(SHEETDRAIN_TEST_DATA));
    for (const QString &name : dir.entryList({ "*.tsv" }, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        int line = 0;
        QString inputs;
        while (!f.atEnd()) {
            const QString text = QString::fromUtf8(f.readLine()).chopped(1);
            ++line;
            QStringList cols = text.split('\t');
            if (cols[0] == "@inputs") {
                inputs = cols.value(1);
            } else if (!text.isEmpty() && !text.startsWith("//")) {
                if (cols.size() == 3 && !inputs.isEmpty())
                    cols << inputs;
                rows.append({ name + ":" + QString::number(line), cols });
            }
        }
    }
    return rows;
}

void TestFormula::grid_data()
{
    QTest::addColumn<QString>("formula");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("inputs");
    QTest::addColumn<QString>("source");
    const auto rows = gridRows();
    QVERIFY(!rows.isEmpty());
    for (const auto &[where, cols] : rows) {
        QVERIFY2(cols.size() >= 2 && cols.size() <= 4 && !cols[0].isEmpty(), qPrintable(where));
        QTest::newRow(qPrintable(where)) << cols[0] << cols[1] << cols.value(3) << cols.value(2);
    }
}

void TestFormula::grid()
{
    QFETCH(QString, formula);
    QFETCH(QString, expected);
    QFETCH(QString, inputs);
    QFETCH(QString, source);
    MemorySource s;
    uint32_t row = 2, col = 7; // H3
    if (inputs.isEmpty()) {
        fixture(s);
    } else {
        QVERIFY2(setInputs(s, s.addSheet("Sheet1"), inputs), qPrintable(inputs));
        row = 99, col = 25; // Z100
    }
    s.setFormula(0, row, col, formula.toStdString());
    EvalOptions options;
    options.clock = kClock;
    Evaluator ev(s, options);
    const CellResult r = ev.result(0, row, col);
    if (expected == "(not evaluated)") {
        QVERIFY(r.status != EvalStatus::Computed);
        return;
    }
    QVERIFY2(r.status == EvalStatus::Computed || expected == "#NAME?",
             qPrintable(QString::fromStdString(r.reason)));
    const QString shown = display(r.value);
    if (source.startsWith("known:")) {
        QEXPECT_FAIL("", qPrintable(source), Abort);
        QVERIFY2(matches(r.value, shown, expected), qPrintable(shown));
    }
    if (!matches(r.value, shown, expected))
        QCOMPARE(shown, expected);
}

// Every function the table evaluates is called by some grid row.
void TestFormula::everyFunctionHasRows()
{
    std::set<std::string> called;
    static const QRegularExpression call("(?:_xlfn\\.)?([A-Za-z][A-Za-z0-9.]*)\\(");
    static const QRegularExpression literal("\"[^\"]*\"");
    for (const auto &row : gridRows()) {
        auto it = call.globalMatch(QString(row.second[0]).remove(literal));
        while (it.hasNext())
            called.insert(it.next().captured(1).toUpper().toStdString());
    }
    QStringList missing;
    for (const FunctionRows &part : functionRows())
        for (size_t i = 0; i < part.count; ++i)
            if (part.first[i].impl && !called.count(part.first[i].name))
                missing << part.first[i].name;
    QVERIFY2(missing.isEmpty(), qPrintable("no grid row calls " + missing.join(' ')));
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
    const std::set<std::string> expected { "CELL", "INDIRECT",    "INFO",      "NOW",  "OFFSET",
                                           "RAND", "RANDBETWEEN", "RANDARRAY", "TODAY" };
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
    QTest::newRow("known, not evaluated") << "CUBEVALUE" << true;
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
