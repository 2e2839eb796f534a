// sheetdrain-cli --jobs: a tree converted three workbooks at a time gives the
// same files, the same progress and failure lines, the same report and the
// same exit status as one at a time, colliding names and broken workbooks
// included; a stop request ends every job without a partial file. The test
// signals only the process it started, by its process id.

#include "batchloop.h"
#include "clitestutil.h"
#include "outputnames.h"
#include "testfiles.h"
#include "tinyxlsx.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <vector>

#include <signal.h>
#include <unistd.h>

using clitest::copySample;
using clitest::localeAvailable;
using clitest::Run;
using clitest::runCli;
using tinyxlsx::Grid;

namespace {

using sdtest::contentsUnder;
using sdtest::readFile;
using tinyxlsx::book;
using tinyxlsx::numbers;

bool junk(const QString &path, const QByteArray &bytes)
{
    return tinyxlsx::write(path, bytes);
}

// Starts sheetdrain-cli with `args` (C.UTF-8, Chinese texts) and returns once
// it has reported its first workbook (or ended).
void startCli(QProcess *process, const QStringList &args, QByteArray *err)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C.UTF-8");
    env.insert("LANGUAGE", "zh_CN");
    process->setProcessEnvironment(env);
    process->start(QStringLiteral(SHEETDRAIN_CLI), args);
    if (!process->waitForStarted())
        return;
    while (!err->contains("[1/") && process->state() == QProcess::Running) {
        process->waitForReadyRead(100);
        *err += process->readAllStandardError();
    }
}

// A tree of workbooks whose CSV names collide in several orders (report.xls
// beside report.xlsx, "report (2).xlsx", "report(S1).xlsx", a name in
// another letter case), broken workbooks, blank sheets, and enough small
// workbooks in nested folders to keep three jobs busy.
bool makeTree(const QString &src)
{
    const Grid one { { "1" } }, blank;
    bool ok = QDir().mkpath(src) && copySample("xls/mixed.xls", src, "report.xls")
        && book(src + "/report.xlsx", { { "Data", numbers(3, 2, 1) }, { "Blank", blank } })
        && book(src + "/report (2).xlsx", { { "S1", numbers(2, 2, 2) } })
        && book(src + "/report(S1).xlsx", { { "Data", numbers(2, 3, 3) } })
        && book(src + "/Report.xlsm", { { "S1", numbers(1, 1, 4) } })
        && book(src + "/blank.xlsx", { { "Empty", blank }, { "Also", blank } })
        && junk(src + "/broken.xlsx", "this is not a workbook")
        && junk(src + "/broken.xls", QByteArray(4096, '\xd0'))
        // A slow workbook, then a quick one that wants the same names.
        && book(src + "/race/r.xlsm", { { "Data", numbers(30000, 4, 9) } })
        && book(src + "/race/r.xlsx", { { "Data", one } })
        && book(src + "/deep/a/b/x.y.xlsx", { { "S1", numbers(4, 4, 5) } })
        && book(src + "/deep/a/b/x.xlsx", { { "S1", numbers(2, 2, 6) } })
        && book(src + "/deep/a/b/x.y (2).xlsx", { { "S1", one } })
        && book(src + "/deep/a/b/x(S1).xlsx", { { "S1", numbers(3, 1, 7) } });
    const QByteArray whole = tinyxlsx::workbook({ { "S1", numbers(20, 5, 8) } });
    ok = ok && junk(src + "/deep/cut.xlsx", whole.left(whole.size() / 2));
    ok = ok && QDir(src + "/deep").exists()
        && copySample("xls/numbers.xls", src + "/deep", "x.xls");
    for (int i = 0; i < 40 && ok; ++i) {
        const QString folder = src + QStringLiteral("/f%1/g%2").arg(i % 4).arg(i % 3);
        ok = book(
            folder + QStringLiteral("/w%1.xlsx").arg(i % 7),
            { { "S1", numbers(5 + i % 9, 3, i) }, { "S2", i % 5 ? numbers(2, 2, i) : blank } });
        if (i % 6 == 0)
            ok = ok
                && junk(folder + QStringLiteral("/w%1.xls").arg(i % 7), QByteArray("\xd0\xcf\x11"));
    }
    return ok;
}

} // namespace

class TestCliJobs : public QObject
{
    Q_OBJECT

private slots:
    void sameAsOneJob_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("rerun"); // a second run into the same output
        QTest::addColumn<QString>("locale");
        const QString utf8 = QStringLiteral("C.UTF-8");
        QTest::newRow("first sheet") << QStringList {} << false << utf8;
        QTest::newRow("all sheets") << QStringList { "--all-sheets" } << false << utf8;
        QTest::newRow("all sheets, quiet, utf8")
            << QStringList { "--all-sheets", "--quiet", "--utf8" } << false << utf8;
        QTest::newRow("again over the files of a run")
            << QStringList { "--all-sheets" } << true << utf8;
        // The UTF-8 pass re-encodes the files of the run, in the order written.
        QTest::newRow("GBK locale, utf8")
            << QStringList { "--all-sheets", "--utf8" } << false << QStringLiteral("zh_CN.GBK");
    }

    void sameAsOneJob()
    {
        QFETCH(QStringList, options);
        QFETCH(bool, rerun);
        QFETCH(QString, locale);
        if (locale != QLatin1String("C.UTF-8") && !localeAvailable(locale, "GBK"))
            QSKIP("the locale is not installed");
        QTemporaryDir dir;
        const QString src = dir.filePath("src");
        QVERIFY(makeTree(src));
        QMap<QString, Run> runs;
        for (const QString &jobs : { QStringLiteral("1"), QStringLiteral("3") }) {
            const QString out = dir.filePath("out" + jobs);
            QVERIFY(QDir().mkpath(out));
            const QStringList args
                = QStringList { "--jobs", jobs, "--report", dir.filePath("report" + jobs) }
                + options + QStringList { src, out };
            Run run = runCli(args, locale);
            if (rerun)
                run = runCli(args, locale);
            run.err.replace(out, "OUT");
            run.out.replace(out, "OUT");
            runs.insert(jobs, run);
        }
        const Run &one = runs["1"], &three = runs["3"];
        QCOMPARE(one.exitCode, 4); // broken workbooks
        QCOMPARE(three.exitCode, one.exitCode);
        QCOMPARE(three.out, one.out);
        QCOMPARE(three.err, one.err);
        const QMap<QString, QByteArray> tree = contentsUnder(dir.filePath("out1"));
        QCOMPARE(contentsUnder(dir.filePath("out3")), tree);
        QCOMPARE(readFile(dir.filePath("report3")).replace(dir.filePath("out3").toUtf8(), "OUT"),
                 readFile(dir.filePath("report1")).replace(dir.filePath("out1").toUtf8(), "OUT"));

        // The names were settled in the order of the walk.
        const bool allSheets = options.contains("--all-sheets");
        QVERIFY(tree.contains(allSheets ? "report(Data).csv" : "report.csv"));
        QVERIFY(tree.contains(allSheets ? "report (2)(Data).csv" : "report (3).csv"));
        QVERIFY(!tree.contains(allSheets ? "blank(Empty).csv" : "blank.csv"));
        QVERIFY(tree.contains(allSheets ? "race/r (2)(Data).csv" : "race/r (2).csv"));
        if (!options.contains("--quiet"))
            QVERIFY(one.err.contains(QStringLiteral("[%1/%1] ").arg(one.err.count("\n[") + 1)));
    }

    // A stop request while three workbooks are being written: the run ends
    // with status 3, no temporary or partial file stays, every CSV file left
    // is the whole sheet, and the report names what was stopped.
    void stopEndsEveryJob()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(out));
        for (int i = 0; i < 4; ++i)
            QVERIFY(book(src + QStringLiteral("/big%1.xlsx").arg(i),
                         { { "S1", numbers(30000, 6, i) } }));
        QProcess process;
        QByteArray err;
        startCli(&process, { "--jobs", "3", "--report", dir.filePath("report"), src, out }, &err);
        if (process.state() == QProcess::Running)
            QCOMPARE(::kill(pid_t(process.processId()), SIGTERM), 0);
        QVERIFY(process.waitForFinished(60000));
        if (process.exitCode() == 0)
            QSKIP("the batch ended before the signal came");
        QCOMPARE(process.exitCode(), 3);

        const QMap<QString, QByteArray> left = contentsUnder(out);
        const QString whole = dir.filePath("whole");
        QVERIFY(QDir().mkpath(whole));
        QCOMPARE(runCli({ "--jobs", "1", src, whole }).exitCode, 0);
        const QMap<QString, QByteArray> complete = contentsUnder(whole);
        for (auto it = left.begin(); it != left.end(); ++it)
            QVERIFY2(complete.value(it.key()) == it.value(), qPrintable(it.key()));
        // Each workbook reported is converted, with all its files, or stopped
        // (a stop after the last one leaves none stopped).
        const QList<QByteArray> lines = readFile(dir.filePath("report")).split('\n');
        int reported = 0;
        for (const QByteArray &line : lines) {
            if (line.isEmpty())
                continue;
            ++reported;
            QVERIFY2(line.contains("\"status\":\"stopped\"")
                         || line.contains("\"status\":\"converted\""),
                     line.constData());
        }
        QCOMPARE(reported, QString::fromUtf8(err + process.readAllStandardError()).count("/4] "));
    }

    // A stop request at any moment, over a tree whose workbooks wait for each
    // other's names, ends the run at once whatever the number of jobs:
    // status 3 (0 when the run was done first), and every CSV file left is
    // whole, no temporary file among them.
    void stopAtAnyMoment_data()
    {
        QTest::addColumn<QString>("jobs");
        QTest::addColumn<int>("signal");
        for (const char *jobs : { "1", "2", "8" }) {
            QTest::addRow("%s jobs, SIGTERM", jobs) << jobs << int(SIGTERM);
            QTest::addRow("%s jobs, SIGINT", jobs) << jobs << int(SIGINT);
        }
    }

    void stopAtAnyMoment()
    {
        QFETCH(QString, jobs);
        QFETCH(int, signal);
        static QTemporaryDir dir; // the tree and its whole conversion, made once
        const QString src = dir.filePath("src"), whole = dir.filePath("whole");
        if (!QFileInfo::exists(whole)) {
            QVERIFY(tinyxlsx::collidingTree(src, 8));
            QVERIFY(QDir().mkpath(whole));
            QCOMPARE(runCli({ "--all-sheets", src, whole }).exitCode, 0);
        }
        const QMap<QString, QByteArray> complete = contentsUnder(whole);
        QRandomGenerator random(QRandomGenerator::global()->generate());
        for (int attempt = 0; attempt < 2; ++attempt) {
            QTemporaryDir out;
            QProcess process;
            QByteArray err;
            startCli(&process, { "--jobs", jobs, "--all-sheets", src, out.path() }, &err);
            QThread::msleep(random.bounded(150));
            if (process.state() == QProcess::Running)
                QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
            QElapsedTimer stopping;
            stopping.start();
            QVERIFY2(process.waitForFinished(20000), "the run did not end after the signal");
            qInfo("ended %lld ms after the signal", stopping.elapsed());
            QCOMPARE(process.exitStatus(), QProcess::NormalExit);
            QVERIFY2(process.exitCode() == 3 || process.exitCode() == 0,
                     qPrintable(QString::number(process.exitCode())));
            const QMap<QString, QByteArray> left = contentsUnder(out.path());
            for (auto it = left.begin(); it != left.end(); ++it)
                QVERIFY2(complete.value(it.key()) == it.value(), qPrintable(it.key()));
        }
    }

    // Runs side by side into one output folder never replace each other's
    // files: k.xlsx's run, started while k.xlsm's is still at work, finds
    // k(S1).csv of that run and takes the next name. A run begun once both
    // have ended replaces their files as an earlier run's; so does the first,
    // a file that was there before.
    void runsSideBySide()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(
            book(src + "/k.xlsm", { { "S1", numbers(3, 2, 1) }, { "S2", numbers(120000, 4, 2) } }));
        QVERIFY(book(src + "/k.xlsx", { { "S1", numbers(3, 2, 3) } }));
        QVERIFY(book(src + "/k.XLSX", { { "S1", numbers(3, 2, 4) } }));
        QVERIFY(sdtest::writeFile(out + "/k(S1).csv", "an earlier run"));
        QThread::msleep(20); // a tick of the clock of change times

        QProcess slow;
        slow.start(QStringLiteral(SHEETDRAIN_CLI), { "--all-sheets", src + "/k.xlsm", out });
        QVERIFY(slow.waitForStarted());
        // Its first sheet is written while the second, long one is read.
        QElapsedTimer waited;
        waited.start();
        while (readFile(out + "/k(S1).csv") == "an earlier run" && waited.elapsed() < 30000)
            QThread::msleep(5);
        QVERIFY(slow.state() == QProcess::Running);
        const Run quick = runCli({ "--all-sheets", src + "/k.xlsx", out });
        QCOMPARE(quick.exitCode, 0);
        QVERIFY(slow.waitForFinished(60000));
        QCOMPARE(slow.exitCode(), 0);
        QStringList files = sdtest::filesUnder(out);
        QCOMPARE(files, QStringList({ "k (2)(S1).csv", "k(S1).csv", "k(S2).csv" }));
        const QByteArray slowS1 = readFile(out + "/k(S1).csv");
        const QByteArray quickS1 = readFile(out + "/k (2)(S1).csv");
        QVERIFY(slowS1.contains("t1,"));
        QVERIFY(quickS1.contains("t3,"));

        QThread::msleep(20);
        QCOMPARE(runCli({ "--all-sheets", src + "/k.XLSX", out }).exitCode, 0);
        QVERIFY(readFile(out + "/k(S1).csv").contains("t4,"));
        QCOMPARE(sdtest::filesUnder(out), files);
    }

    void namesMayMeet_data()
    {
        QTest::addColumn<QString>("folderA");
        QTest::addColumn<QString>("baseA");
        QTest::addColumn<QString>("folderB");
        QTest::addColumn<QString>("baseB");
        QTest::addColumn<bool>("meet");
        QTest::newRow("same base") << "/o"
                                   << "report"
                                   << "/o"
                                   << "report" << true;
        QTest::newRow("counter name") << "/o"
                                      << "report"
                                      << "/o"
                                      << "report (2)" << true;
        QTest::newRow("sheet name") << "/o"
                                    << "report(S1)"
                                    << "/o"
                                    << "report" << true;
        QTest::newRow("letter case") << "/o/A"
                                     << "Report"
                                     << "/o/a"
                                     << "report" << true;
        QTest::newRow("longer word") << "/o"
                                     << "report"
                                     << "/o"
                                     << "report2" << false;
        QTest::newRow("other folder") << "/o/a"
                                      << "report"
                                      << "/o/b"
                                      << "report" << false;
        QTest::newRow("other name") << "/o"
                                    << "report"
                                    << "/o"
                                    << "summary" << false;
    }

    void namesMayMeet()
    {
        QFETCH(QString, folderA);
        QFETCH(QString, baseA);
        QFETCH(QString, folderB);
        QFETCH(QString, baseB);
        QFETCH(bool, meet);
        QCOMPARE(OutputNamesMayMeet(folderA, baseA, folderB, baseB), meet);
        QCOMPARE(OutputNamesMayMeet(folderB, baseB, folderA, baseA), meet);
    }

    // A name is taken when this batch claimed it, or when a file made since
    // the batch began has it (a second link stands in for a file system that
    // ignores letter case); a file of an earlier run is replaced.
    void claims()
    {
        QTemporaryDir dir;
        const QString folder = dir.path();
        QVERIFY(junk(folder + "/old(S).csv", "earlier run"));
        QThread::msleep(20); // a tick of the coarse clock of change times
        struct timespec since;
        ::clock_gettime(CLOCK_REALTIME_COARSE, &since);
        const auto onDisk = [&](const QString &path) { return FileMadeSince(path, since); };
        OutputClaims claims;
        NameRefusal refusal = NameRefusal::None;
        QCOMPARE(claims.claim(folder, "q1.report.xlsx", false, "Sheet1", &refusal, onDisk),
                 folder + "/q1(Sheet1).csv");
        QCOMPARE(claims.claim(folder, "q1.report.xlsx", false, "Sheet1", &refusal, onDisk),
                 folder + "/q1.report(Sheet1).csv");
        QVERIFY(claims.claim(folder, "q1.xlsx", false, "..", &refusal, onDisk).isEmpty());
        QCOMPARE(int(refusal), int(NameRefusal::DotName));
        QCOMPARE(claims.claim(folder, "old.xlsx", false, "S", &refusal, onDisk),
                 folder + "/old(S).csv");

        QVERIFY(junk(folder + "/W(S).csv", "written by this batch"));
        QCOMPARE(::link(QFile::encodeName(folder + "/W(S).csv").constData(),
                        QFile::encodeName(folder + "/w(S).csv").constData()),
                 0);
        QCOMPARE(claims.claim(folder, "w.xlsx", false, "S", &refusal, onDisk),
                 folder + "/w (2)(S).csv");
        // Forgotten claims leave only what is on disk.
        claims.forgetFolder(folder);
        QCOMPARE(claims.claim(folder, "q1.xlsx", false, "Sheet1", &refusal, onDisk),
                 folder + "/q1(Sheet1).csv");
    }
};

QTEST_GUILESS_MAIN(TestCliJobs)
#include "tst_clijobs.moc"
