// The automation seam and the built-in spreadsheet application behind
// "Excel.Application".

#include "automationnames.h"
#include "axobject.h"
#include "builtinapplication.h"
#include "corpus.h"

#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestAxSeam : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        // The seam knows no application until one registers itself.
        const QString excel = QString::fromLatin1(AxNames::kExcelApplication);
        QVERIFY(!AxRegistry::createApplication(excel));
        registerBuiltinApplication();
        registerBuiltinApplication(); // a second registration replaces the first
        QVERIFY(AxRegistry::createApplication(excel));
    }

    void unknownApplicationAnswersNothing()
    {
        AxObject app;
        QVERIFY(!app.setControl(QStringLiteral("No.Such.Application")));
        QVERIFY(app.isNull());
        QVERIFY(!app.querySubObject("WorkBooks"));
        QVERIFY(!app.dynamicCall("Quit(void)").isValid());
        QVERIFY(!app.property("DisplayAlerts").isValid());
        QVERIFY(!app.setProperty("DisplayAlerts", false));
    }

    void registryAndThreadInit()
    {
        int starts = 0;
        AxRegistry::registerApplication(QStringLiteral("Test.Counter"), [&starts] {
            ++starts;
            return std::make_unique<AxServer>();
        });
        AxObject app;
        QVERIFY(app.setControl(QStringLiteral("Test.Counter")));
        QVERIFY(app.setControl(QStringLiteral("Test.Counter"))); // keeps the running instance
        QCOMPARE(starts, 1);
        QCOMPARE(app.control(), QStringLiteral("Test.Counter"));
        AxRegistry::unregisterApplication(QStringLiteral("Test.Counter"));
        QVERIFY(!AxRegistry::createApplication(QStringLiteral("Test.Counter")));
        AxInitializeThread();
        QVERIFY(!AxInitializeThread()); // once per thread
    }

    void builtinApplicationWithoutWorkbooks()
    {
        AxObject app;
        QVERIFY(app.setControl(QStringLiteral("Excel.Application")));
        QVERIFY(app.dynamicCall("SetVisible (bool Visible)", QStringLiteral("false")).isValid());
        QVERIFY(app.setProperty("DisplayAlerts", false));
        QCOMPARE(app.property("DisplayAlerts"), QVariant(false));
        AxObject *books = app.querySubObject("WorkBooks");
        QVERIFY(books);
        QCOMPARE(books->parent(), &app);
        QTemporaryDir dir;
        QFile text(dir.filePath("notes.xlsx"));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a workbook");
        text.close();
        // A workbook that does not open says why, through the exception signal.
        QStringList raised;
        connect(books, &AxObject::exception,
                [&](int, const QString &source, const QString &description, const QString &) {
                    raised << source + ": " + description;
                });
        QVERIFY(!books->querySubObject("Open(const QString&)", dir.filePath("missing.xlsx")));
        QVERIFY(!books->querySubObject("Open(const QString&)", dir.filePath("notes.xlsx")));
        QCOMPARE(raised.size(), 2);
        QVERIFY2(raised[0].startsWith("SheetDrain: cannot open file: "), qPrintable(raised[0]));
        QCOMPARE(raised[1], QStringLiteral("SheetDrain: not a workbook: not an Excel workbook"));
        QVERIFY(!app.querySubObject("ActiveWorkBook"));
        QVERIFY(!books->querySubObject("Unknown member"));
        QCOMPARE(raised.size(), 2); // an unknown member is no failure to report
        app.dynamicCall("Quit(void)");
        QVERIFY(app.querySubObject("WorkBooks")); // still answers after quitting
    }

    // Sheets counts every sheet, WorkSheets(int) only worksheets; the used
    // range, the corner value, copy and SaveAs as CSV; close and quit.
    void builtinApplicationObjectModel()
    {
        SD_REQUIRE_CORPUS(QStringLiteral("calamine/any_sheets.xlsx"));
        const QString path = sdtest::corpusPath(QStringLiteral("calamine/any_sheets.xlsx"));
        QTemporaryDir dir;
        QPointer<AxObject> keep;
        {
            AxObject app;
            app.setControl(QStringLiteral("Excel.Application"));
            AxObject *books = app.querySubObject("WorkBooks");
            AxObject *book = books->querySubObject("Open(const QString&)", path);
            if (!book)
                QSKIP("the engine cannot read this workbook yet");
            keep = book;
            QCOMPARE(book->parent(), books);
            QCOMPARE(book->querySubObject("Sheets")->property("Count").toInt(), 4);
            QVERIFY(!book->querySubObject("WorkSheets(int)", 4)); // the fourth sheet is a chart
            QVERIFY(!book->querySubObject("WorkSheets(int)", 0));

            AxObject *ws = book->querySubObject("WorkSheets(int)", 1);
            QVERIFY(ws);
            QCOMPARE(ws->property("Name").toString(), QStringLiteral("Visible"));
            AxObject *range = ws->querySubObject("UsedRange");
            QCOMPARE(range->property("Row").toInt(), 1);
            QCOMPARE(range->property("Column").toInt(), 1);
            QCOMPARE(range->querySubObject("Rows")->property("Count").toInt(), 5);
            QCOMPARE(range->querySubObject("Columns")->property("Count").toInt(), 2);
            AxObject *corner = ws->querySubObject("Cells(int, int)", 1, 1);
            QCOMPARE(corner->dynamicCall("Value()"), QVariant(1.0));
            QCOMPARE(corner->property("Text").toString(), QStringLiteral("1"));
            QVERIFY(
                !ws->querySubObject("Cells(int, int)", 100, 100)->dynamicCall("Value()").isValid());

            AxObject *hidden = book->querySubObject("WorkSheets(int)", 2);
            QCOMPARE(hidden->property("Name").toString(), QStringLiteral("Hidden"));
            AxObject *hiddenRange = hidden->querySubObject("UsedRange");
            QCOMPARE(hiddenRange->querySubObject("Rows")->property("Count").toInt(), 1);
            QVERIFY(hidden->querySubObject("Cells(int, int)", 1, 1)
                        ->dynamicCall("Value()")
                        .toString()
                        .isEmpty());

            ws->dynamicCall("Copy()");
            AxObject *active = app.querySubObject("ActiveWorkBook");
            QVERIFY(active);
            const QString csv = dir.filePath("Visible.csv");
            QVERIFY(
                !active->dynamicCall("SaveAs(const QString&, QVariant)", dir.filePath("x.xlsx"), 51)
                     .isValid());
            QVERIFY(!QFile::exists(dir.filePath("x.xlsx")));
            QVERIFY(active->dynamicCall("SaveAs(const QString&, QVariant)", csv, 6).toBool());
            QVERIFY(readFile(csv).startsWith("1,2\r\n3,4\r\n"));
            QVERIFY(!active
                         ->dynamicCall("SaveAs(const QString&, QVariant)",
                                       dir.filePath("no/such/folder.csv"), 6)
                         .isValid());

            book->dynamicCall("Close (Boolean)", false);
            QVERIFY(!book->querySubObject("WorkSheets(int)", 1)); // closed
            QVERIFY(!ws->property("Name").isValid());
            QCOMPARE(books->property("Count").toInt(), 0);
            app.dynamicCall("Quit(void)");
            QVERIFY(!app.querySubObject("ActiveWorkBook"));
            QVERIFY(keep); // sub-objects live as long as the application object
        }
        QVERIFY(!keep);
    }
};

QTEST_GUILESS_MAIN(TestAxSeam)
#include "tst_axseam.moc"
