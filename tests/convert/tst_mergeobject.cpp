// The conversion job driven through the fake application: the automation call
// sequence, counts, the two ends of a batch, cancellation, the folder walk and
// the output names.

#include "batchtestutil.h"
#include "fakeapplication.h"
#include "mergeobject.h"
#include "outputnames.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>

#include <atomic>
#include <functional>

namespace {

const QString kFakeId = QStringLiteral("SheetDrain.FakeSpreadsheet");
const QString kNoApplication
    = QStringLiteral("本功能需要电脑中装有微软office或金山wps专业版(注意是专业版,不是个人版)!");
const QString kUtf8Phase = QStringLiteral("完成excel转csv,开始进行UTF-8编码转换...");

using namespace batchtest;

} // namespace

class TestMergeObject : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    std::shared_ptr<FakeScript> m_script;

    QString in(const QString &rel = {}) const
    {
        return rel.isEmpty() ? m_dir->path() + "/in" : m_dir->path() + "/in/" + rel;
    }
    QString out(const QString &rel = {}) const
    {
        return rel.isEmpty() ? m_dir->path() + "/out" : m_dir->path() + "/out/" + rel;
    }

    BatchResult run(bool onlyFirstSheet, bool utf8 = false)
    {
        return runBatch(in(), out(), onlyFirstSheet, utf8, kFakeId);
    }

    // The recorded calls from the first "start" on.
    QStringList calls() const { return m_script->calls(); }

private slots:
    void initTestCase()
    {
        // File-name lengths are measured in the local encoding.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    }

    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        QDir().mkpath(in());
        QDir().mkpath(out());
        m_script = std::make_shared<FakeScript>();
        registerFakeApplication(kFakeId, m_script);
    }

    void cleanup()
    {
        AxRegistry::unregisterApplication(kFakeId);
        delete m_dir;
        m_dir = nullptr;
    }

    void callSequence_data()
    {
        QTest::addColumn<bool>("onlyFirstSheet");
        QTest::addColumn<QStringList>("expected");

        const QStringList head = {
            "start",         "app.SetVisible (bool Visible)(false)",  "app.DisplayAlerts=false",
            "app.WorkBooks", "books.Open(const QString&)(IN/a.xlsx)", "book.Sheets",
            "sheets.Count",
        };
        const QStringList blankSheet = {
            "book.WorkSheets(int)(1)",
            "ws.UsedRange",
            "range.Row",
            "range.Column",
            "range.Rows",
            "range.Columns",
            "ws.Cells(int, int)(1,1)",
            "rows.Count",
            "cols.Count",
            "cell.Value()",
        };
        const QStringList tail = { "book.Close (Boolean)(false)", "app.Quit(void)" };

        QTest::newRow("blank sheet, converted sheet") << false
                                                      << head + blankSheet
                + QStringList { "book.WorkSheets(int)(2)",
                                "ws.UsedRange",
                                "range.Row",
                                "range.Column",
                                "range.Rows",
                                "range.Columns",
                                "ws.Cells(int, int)(2,3)",
                                "rows.Count",
                                "ws.Copy()",
                                "app.ActiveWorkBook",
                                "ws.Name",
                                "active.SaveAs(const QString&, QVariant)(OUT/a(Data).csv,6)" }
                + tail;
        QTest::newRow("first-sheet mode, blank first sheet") << true << head + blankSheet + tail;
    }

    void callSequence()
    {
        QFETCH(bool, onlyFirstSheet);
        QFETCH(QStringList, expected);
        touch(in("a.xlsx"));
        FakeSheet blank;
        blank.value = QString();
        FakeSheet data;
        data.name = "Data";
        data.row = 2;
        data.column = 3;
        data.rows = 4;
        data.columns = 1;
        m_script->books[in("a.xlsx")].sheets = { blank, data };

        const BatchResult result = run(onlyFirstSheet);
        expected.replaceInStrings("IN/", in() + "/");
        expected.replaceInStrings("OUT/", out() + "/");
        QCOMPARE(calls(), expected);
        QVERIFY(result.completed);
        QCOMPARE(result.reports, QStringList({ in("a.xlsx"), summary(1, onlyFirstSheet ? 0 : 1) }));
    }

    // Blank test: only a one-cell used range whose value shows as empty text.
    void blankSheetTest_data()
    {
        QTest::addColumn<int>("rows");
        QTest::addColumn<int>("columns");
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<bool>("converted");
        QTest::newRow("one empty cell") << 1 << 1 << QVariant() << false;
        QTest::newRow("one empty text") << 1 << 1 << QVariant(QString()) << false;
        QTest::newRow("one number 0") << 1 << 1 << QVariant(0.0) << true;
        QTest::newRow("one FALSE") << 1 << 1 << QVariant(false) << true;
        QTest::newRow("one text") << 1 << 1 << QVariant("x") << true;
        QTest::newRow("two rows, empty corner") << 2 << 1 << QVariant() << true;
        QTest::newRow("two columns, empty corner") << 1 << 2 << QVariant() << true;
    }

    void blankSheetTest()
    {
        QFETCH(int, rows);
        QFETCH(int, columns);
        QFETCH(QVariant, value);
        QFETCH(bool, converted);
        touch(in("b.xls"));
        FakeSheet sheet;
        sheet.rows = rows;
        sheet.columns = columns;
        sheet.value = value;
        m_script->books[in("b.xls")].sheets = { sheet };
        const BatchResult result = run(true);
        QCOMPARE(result.reports.last(), summary(1, converted ? 1 : 0));
        QCOMPARE(QFile::exists(out("b.csv")), converted);
    }

    // A workbook that does not open is reported with its reason and counted
    // as failed, not as converted.
    void workbookThatDoesNotOpen()
    {
        touch(in("bad.xlsx"));
        touch(in("good.xlsx"));
        m_script->books[in("bad.xlsx")].opens = false;
        m_script->books[in("bad.xlsx")].openError = "encrypted workbook";
        const BatchResult result = run(false);
        QVERIFY(result.completed);
        QCOMPARE(result.reports,
                 QStringList({ in("bad.xlsx"), in("good.xlsx"),
                               summary(1, 1) + QStringLiteral("1个excel文件转换失败。") }));
        QCOMPARE(result.failures, QStringList { in("bad.xlsx") + "|encrypted workbook" });
        const QStringList log = calls();
        const int open = log.indexOf("books.Open(const QString&)(" + in("bad.xlsx") + ")");
        QVERIFY(open > 0);
        QCOMPARE(log.at(open + 1), QStringLiteral("app.Quit(void)"));
        QCOMPARE(log.count("book.Close (Boolean)(false)"), 1);
        QCOMPARE(log.count("app.Quit(void)"), 2);
        QCOMPARE(m_script->starts, 1); // selecting the same application again keeps it
        QVERIFY(QFile::exists(out("good(Sheet1).csv")));
    }

    void failureEnd_data()
    {
        QTest::addColumn<int>("missingFrom");
        QTest::addColumn<QStringList>("reports");
        QTest::newRow("first workbook") << 1 << QStringList { kNoApplication };
        QTest::newRow("second workbook") << 2 << QStringList { "IN/a.xlsx", kNoApplication };
    }

    void failureEnd()
    {
        QFETCH(int, missingFrom);
        QFETCH(QStringList, reports);
        touch(in("a.xlsx"));
        touch(in("b.xlsx"));
        m_script->workbooksMissingFrom = missingFrom;
        const BatchResult result = run(true, true);
        reports.replaceInStrings("IN/", in() + "/");
        QCOMPARE(result.reports, reports);
        QVERIFY(!result.completed);
        QCOMPARE(calls().last(), QStringLiteral("app.Quit(void)"));
        QCOMPARE(calls().count("app.WorkBooks"), missingFrom);
        // What earlier workbooks wrote stays.
        QCOMPARE(QFile::exists(out("a.csv")), missingFrom > 1);
        QVERIFY(!QFile::exists(out("b.csv")));
    }

    void emptyOrMissingSource_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<bool>("utf8");
        QTest::newRow("no workbooks") << "in" << false;
        QTest::newRow("no workbooks, UTF-8") << "in" << true;
        QTest::newRow("missing folder") << "nowhere" << false;
    }

    void emptyOrMissingSource()
    {
        QFETCH(QString, source);
        QFETCH(bool, utf8);
        touch(in("notes.txt"));
        touch(in("a.xlsb"));
        g_SourcePath = m_dir->path() + "/" + source;
        g_SavePath = out();
        g_OnlyFirstSheet = false;
        g_SaveAsUTF8 = utf8;
        MergeObject worker(QStringLiteral("tem"), nullptr);
        worker.setApplicationId(kFakeId);
        QSignalSpy reports(&worker, &MergeObject::ShowDisposingFile);
        QSignalSpy done(&worker, &MergeObject::Signal_SetButtonEnable);
        worker.Transform();
        QStringList texts;
        for (const auto &args : reports)
            texts.append(args.at(0).toString());
        // No workbook found is said as such, not as "0 converted".
        const QString none = QStringLiteral("提取文件夹中没有找到excel文件(.xls、.xlsx、.xlsm)。");
        QCOMPARE(texts, utf8 ? QStringList({ kUtf8Phase, none }) : QStringList({ none }));
        QCOMPARE(done.count(), 1);
        QCOMPARE(m_script->starts, 0);
    }

    // Worksheets whose automation objects are missing are skipped and not
    // counted; the batch goes on.
    void missingObjectsSkipTheSheet()
    {
        touch(in("a.xlsx"));
        FakeSheet chart;
        chart.worksheet = false;
        FakeSheet noRange;
        noRange.name = "NoRange";
        noRange.noUsedRange = true;
        FakeSheet good;
        good.name = "Good";
        m_script->books[in("a.xlsx")].sheets = { noRange, chart, good };
        // Sheets counts 3; WorkSheets(3) finds nothing since only two are worksheets.
        BatchResult result = run(false);
        QCOMPARE(result.reports.last(), summary(1, 1));
        QCOMPARE(treeOf(out()), QStringList({ "a(Good).csv" }));
        QVERIFY(calls().contains("book.WorkSheets(int)(3)"));

        m_script->noActiveWorkbook = true;
        QFile::remove(out("a(Good).csv"));
        result = run(false);
        QVERIFY(result.completed);
        QCOMPARE(result.reports.last(), summary(1, 0));
        QVERIFY(treeOf(out()).isEmpty());
    }

    void hostileSheetNames_data()
    {
        QTest::addColumn<QString>("sheetName");
        QTest::addColumn<QString>("fileName"); // empty: refused
        QTest::newRow("dot-dot") << ".." << QString();
        QTest::newRow("dot") << "." << QString();
        QTest::newRow("slash") << "a/b"
                               << "w(a_b).csv";
        QTest::newRow("climbing") << "../../etc"
                                  << "w(.._.._etc).csv";
        QTest::newRow("NUL") << QString("a") + QChar(0) + "b"
                             << "w(a_b).csv";
        QTest::newRow("backslash") << "a\\b"
                                   << "w(a\\b).csv";
        QTest::newRow("250 characters") << QString(250, 'x') << QString();
        QTest::newRow("248 characters") << QString(248, 'x') << "w(" + QString(248, 'x') + ").csv";
        QTest::newRow("84 CJK characters") << QString(84, QChar(0x4E2D)) << QString();
    }

    void hostileSheetNames()
    {
        QFETCH(QString, sheetName);
        QFETCH(QString, fileName);
        touch(in("sub/w.xlsx"));
        FakeSheet sheet;
        sheet.name = sheetName;
        m_script->books[in("sub/w.xlsx")].sheets = { sheet };
        const BatchResult result = run(false);
        QVERIFY(result.completed);
        // A refused sheet name fails its workbook, with a reason.
        QCOMPARE(result.reports.last(),
                 fileName.isEmpty() ? summary(0, 0) + QStringLiteral("1个excel文件转换失败。")
                                    : summary(1, 1));
        QCOMPARE(result.failures.size(), fileName.isEmpty() ? 1 : 0);
        QCOMPARE(treeOf(out()),
                 fileName.isEmpty() ? QStringList() : QStringList { "sub/" + fileName });
        QCOMPARE(QFileInfo::exists(out("sub")), !fileName.isEmpty()); // no empty folder left
        QCOMPARE(treeOf(m_dir->path()).filter(".csv").size(), fileName.isEmpty() ? 0 : 1);
    }

    // Output names; when two workbooks of a batch map to the same name, the
    // first keeps it and the later one gets a name of its own.
    void outputNames_data()
    {
        QTest::addColumn<QStringList>("workbooks");
        QTest::addColumn<bool>("onlyFirstSheet");
        QTest::addColumn<QStringList>("expected"); // file|source workbook

        QTest::newRow("Q1.report first sheet")
            << QStringList { "Q1.report.xlsx" } << true << QStringList { "Q1.csv|Q1.report.xlsx" };
        QTest::newRow("a.xls then a.xlsx")
            << QStringList { "a.xls", "a.xlsx" } << false
            << QStringList { "a (2)(Sheet1).csv|a.xlsx", "a(Sheet1).csv|a.xls" };
        QTest::newRow("Sales.2019 and Sales.2020")
            << QStringList { "Sales.2020.xlsx", "Sales.2019.xlsx" } << false
            << QStringList { "Sales(Sheet1).csv|Sales.2019.xlsx",
                             "Sales.2020(Sheet1).csv|Sales.2020.xlsx" };
        QTest::newRow("case.2246a and case.2246b, first sheet")
            << QStringList { "case.2246a.xlsx", "case.2246b.xlsx" } << true
            << QStringList { "case.2246b.csv|case.2246b.xlsx", "case.csv|case.2246a.xlsx" };
        QTest::newRow("three of one name")
            << QStringList { "r.xls", "r.xlsm", "r.xlsx" } << true
            << QStringList { "r (2).csv|r.xlsm", "r (3).csv|r.xlsx", "r.csv|r.xls" };
        QTest::newRow("a later name taken by a counter")
            << QStringList { "b.xls", "b.xlsx", "b (2).xlsx" } << true
            << QStringList { "b (2).csv|b (2).xlsx", "b (3).csv|b.xlsx", "b.csv|b.xls" };
        QTest::newRow("same name in two folders")
            << QStringList { "x/a.xls", "y/a.xls" } << true
            << QStringList { "x/a.csv|x/a.xls", "y/a.csv|y/a.xls" };
        QTest::newRow("hidden workbook") << QStringList { ".Budget.2019.xlsx" } << true
                                         << QStringList { ".Budget.csv|.Budget.2019.xlsx" };
        QTest::newRow("nested folders")
            << QStringList { "2019/q1/Sales.xlsx", "2019/q2/x.txt" } << false
            << QStringList { "2019/q1/Sales(Sheet1).csv|2019/q1/Sales.xlsx" };
    }

    void outputNames()
    {
        QFETCH(QStringList, workbooks);
        QFETCH(bool, onlyFirstSheet);
        QFETCH(QStringList, expected);
        for (const QString &wb : workbooks)
            touch(in(wb));
        // A file of an earlier run is replaced as before, not avoided.
        writeFile(out(expected.last().section('|', 0, 0)), "earlier run");
        afterAClockTick();
        const BatchResult result = run(onlyFirstSheet);
        QVERIFY(result.completed);
        // The closing line counts the files on disk.
        QCOMPARE(result.reports.last(), summary(workbooks.filter(".xls").size(), expected.size()));
        QStringList got;
        for (const QString &file : treeOf(out())) {
            const QString source = QString::fromUtf8(readAll(out(file))).section('|', 0, 0);
            got.append(file + "|" + QDir(in()).relativeFilePath(source));
        }
        QCOMPARE(got, expected);
        // Folders without converted workbooks are not created.
        QDirIterator folders(out(), QDir::Dirs | QDir::NoDotAndDotDot,
                             QDirIterator::Subdirectories);
        while (folders.hasNext()) {
            const QString folder = folders.next();
            QVERIFY2(QDirIterator(folder, QDir::Files, QDirIterator::Subdirectories).hasNext(),
                     qPrintable(folder));
        }
    }

    // The output folder is the workbook's folder relative to the source
    // folder, under the output folder, however the two folders are spelled.
    void outputFolderMapping_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("save");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "/in"
                               << "/out"
                               << "/in/sub"
                               << "/out/sub";
        QTest::newRow("source with separator, output without") << "/C/In/"
                                                               << "/D/Out"
                                                               << "/C/In/sub"
                                                               << "/D/Out/sub";
        QTest::newRow("both with separator") << "/in/"
                                             << "/out/"
                                             << "/in/a/b"
                                             << "/out/a/b";
        QTest::newRow("top folder") << "/in"
                                    << "/out"
                                    << "/in"
                                    << "/out";
        QTest::newRow("root source") << "/"
                                     << "/out"
                                     << "/data/x"
                                     << "/out/data/x";
        QTest::newRow("source text twice in path") << "/in"
                                                   << "/out"
                                                   << "/in/x/in"
                                                   << "/out/x/in";
        QTest::newRow("differently spelled") << "/a/./in/../in"
                                             << "/out"
                                             << "/a/in/s"
                                             << "/out/s";
        QTest::newRow("prefix of a sibling") << "/in"
                                             << "/out"
                                             << "/inside/x"
                                             << "";
        QTest::newRow("outside") << "/in"
                                 << "/out"
                                 << "/elsewhere"
                                 << "";
    }

    void outputFolderMapping()
    {
        QFETCH(QString, source);
        QFETCH(QString, save);
        QFETCH(QString, folder);
        QFETCH(QString, expected);
        QCOMPARE(OutputFolderFor(AbsoluteFolder(source), AbsoluteFolder(save), folder), expected);
    }

    // A relative source folder with a trailing separator and an output folder
    // without one still mirror the tree.
    void relativeFoldersMirrorTheTree()
    {
        touch(in("sub/a.xlsx"));
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(m_dir->path());
        g_SourcePath = "in/";
        g_SavePath = "./out";
        g_OnlyFirstSheet = true;
        g_SaveAsUTF8 = false;
        MergeObject worker(QStringLiteral("tem"), nullptr);
        worker.setApplicationId(kFakeId);
        worker.Transform();
        QDir::setCurrent(cwd);
        QCOMPARE(treeOf(m_dir->path()), QStringList({ "in/sub/a.xlsx", "out/sub/a.csv" }));
    }

    void selection_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("selected");
        QTest::newRow("REPORT.XLSX") << "/d/REPORT.XLSX" << true;
        QTest::newRow("a.Xls") << "/d/a.Xls" << true;
        QTest::newRow("b.xlsm") << "/d/b.xlsm" << true;
        QTest::newRow("a.xlsb") << "/d/a.xlsb" << false;
        QTest::newRow("a.csv") << "/d/a.csv" << false;
        QTest::newRow("a.xls.bak") << "/d/a.xls.bak" << false;
        QTest::newRow("a.xlt") << "/d/a.xlt" << false;
        QTest::newRow("lock file") << "/d/~$Budget.xlsx" << false;
        QTest::newRow("below a ~$ folder") << "/d/x~$y/a.xlsx" << false;
        QTest::newRow("name .xlsx") << "/d/.xlsx" << true;
    }

    void selection()
    {
        QFETCH(QString, path);
        QFETCH(bool, selected);
        QCOMPARE(IsWorkbookToConvert(path), selected);
    }

    // Own files first, sorted by lower-cased name, then each sub-folder;
    // hidden files in, hidden folders and file links out, folder links
    // followed, a link cycle entered once per descent.
    void walkOrderAndExclusions()
    {
        for (const char *f : { "b.xlsx", "A.xls", ".hidden.xlsx", "sub/z.xls", "Sub2/a.xls",
                               ".hid/inside.xlsx", "~$lock/x.xlsx", "sub/deep/d.xlsx" })
            touch(in(f));
        QVERIFY(QFile::link(in("b.xlsx"), in("filelink.xlsx")));
        QVERIFY(QFile::link(in("sub/deep"), in("linked")));
        QVERIFY(QFile::link(in(), in("sub/deep/cycle"))); // back to the top: a cycle
        MergeObject worker(QStringLiteral("tem"), nullptr);
        QStringList walked;
        for (const QFileInfo &fi : worker.CollectFiles(in()))
            walked.append(QDir(in()).relativeFilePath(fi.absoluteFilePath()));
        QCOMPARE(walked,
                 QStringList({ ".hidden.xlsx", "A.xls", "b.xlsx", "linked/d.xlsx", "sub/z.xls",
                               "sub/deep/d.xlsx", "Sub2/a.xls", "~$lock/x.xlsx" }));
    }

    void linkCycleThroughTheBatch()
    {
        touch(in("a/x.xlsx"));
        QVERIFY(QFile::link(in(), in("a/up")));
        QVERIFY(QFile::link(in("a"), in("a/self")));
        const BatchResult result = run(true);
        QCOMPARE(result.reports, QStringList({ in("a/x.xlsx"), summary(1, 1) }));
    }

    // Reports reach the window's thread in the order they were sent, with the
    // completion last, when the worker runs on its own thread.
    void reportsAcrossThreads()
    {
        for (const char *f : { "1.xlsx", "2.xlsx", "3/3.xlsx" })
            touch(in(f));
        g_SourcePath = in();
        g_SavePath = out();
        g_OnlyFirstSheet = false;
        g_SaveAsUTF8 = true;

        QThread thread;
        auto *worker = new MergeObject(QStringLiteral("tem"), nullptr);
        worker->setApplicationId(kFakeId);
        worker->moveToThread(&thread);
        QStringList received;
        bool completed = false;
        bool onOwnThread = true;
        connect(worker, &MergeObject::ShowDisposingFile, this, [&](const QString &text) {
            onOwnThread = onOwnThread && QThread::currentThread() == this->thread();
            received.append(text);
        });
        connect(worker, &MergeObject::Signal_SetButtonEnable, this, [&] {
            received.append("<done>");
            completed = true;
        });
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        QMetaObject::invokeMethod(worker, "Transform", Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(completed, 10000);
        thread.quit();
        thread.wait();
        QCOMPARE(received,
                 QStringList({ in("1.xlsx"), in("2.xlsx"), in("3/3.xlsx"), kUtf8Phase,
                               summary(3, 3), "<done>" }));
        QVERIFY(onOwnThread);
    }

    // A stop request is honoured after the worksheet being saved: no further
    // worksheet or workbook, no UTF-8 pass, no summary, no completion.
    void stopRequestBetweenSheets_data()
    {
        QTest::addColumn<int>("interruptAtSave");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("reports");
        QTest::newRow("first sheet") << 1 << QStringList { "a(S1).csv" } << 1;
        QTest::newRow("last sheet of first workbook")
            << 2 << QStringList { "a(S1).csv", "a(S2).csv" } << 1;
        QTest::newRow("second workbook")
            << 3 << QStringList { "a(S1).csv", "a(S2).csv", "b(S1).csv" } << 2;
    }

    void stopRequestBetweenSheets()
    {
        QFETCH(int, interruptAtSave);
        QFETCH(QStringList, files);
        QFETCH(int, reports);
        touch(in("a.xlsx"));
        touch(in("b.xlsx"));
        FakeSheet s1, s2;
        s1.name = "S1";
        s2.name = "S2";
        m_script->books[in("a.xlsx")].sheets = { s1, s2 };
        m_script->books[in("b.xlsx")].sheets = { s1, s2 };
        m_script->interruptAtSave = interruptAtSave;
        g_SourcePath = in();
        g_SavePath = out();
        g_OnlyFirstSheet = false;
        g_SaveAsUTF8 = true;

        QThread thread;
        auto *worker = new MergeObject(QStringLiteral("tem"), nullptr);
        worker->setApplicationId(kFakeId);
        worker->setJobs(1); // the fake asks the thread of its SaveAs to stop
        worker->moveToThread(&thread);
        QSignalSpy shown(worker, &MergeObject::ShowDisposingFile);
        QSignalSpy done(worker, &MergeObject::Signal_SetButtonEnable);
        connect(&thread, &QThread::finished, worker, &QObject::deleteLater);
        thread.start();
        std::atomic<bool> returned { false };
        QMetaObject::invokeMethod(worker, "Transform", Qt::QueuedConnection);
        QMetaObject::invokeMethod(
            worker, [&] { returned = true; }, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(returned, 10000);
        thread.quit();
        thread.wait();
        QCoreApplication::processEvents();
        QCOMPARE(treeOf(out()), files);
        QCOMPARE(shown.count(), reports);
        QCOMPARE(done.count(), 0);
    }

    // Two worksheets of one workbook whose names become the same file name.
    void sheetNamesThatCollide()
    {
        touch(in("w.xlsx"));
        FakeSheet a, b;
        a.name = "a/b";
        b.name = "a_b";
        m_script->books[in("w.xlsx")].sheets = { a, b };
        const BatchResult result = run(false);
        QCOMPARE(result.reports.last(), summary(1, 2));
        QCOMPARE(treeOf(out()), QStringList({ "w (2)(a_b).csv", "w(a_b).csv" }));
        QVERIFY(readAll(out("w(a_b).csv")).endsWith("|a/b\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestMergeObject)
#include "tst_mergeobject.moc"
