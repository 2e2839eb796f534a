// What a batch reports and what it leaves on disk when things go wrong: each
// failure with its reason and in the closing line's counts, output that could
// leave the output folder, the UTF-8 pass kept to the batch's own files, and
// names that the walk cannot take in.

#include "batchtestutil.h"
#include "fakeapplication.h"
#include "mergeobject.h"

#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace batchtest;

const QString kFakeId = QStringLiteral("SheetDrain.OutcomeFake");
const QString kOneFailed = QStringLiteral("1个excel文件转换失败。");

// Sets the locale's encoding for the life of one test.
class LocaleCodec
{
public:
    explicit LocaleCodec(const char *name)
        : m_saved(QTextCodec::codecForLocale())
    {
        QTextCodec::setCodecForLocale(QTextCodec::codecForName(name));
    }
    ~LocaleCodec() { QTextCodec::setCodecForLocale(m_saved); }

private:
    QTextCodec *m_saved;
};

// Makes a file or folder whose name is the given bytes, whatever the locale.
bool makeRaw(const QString &folder, const QByteArray &name, bool isFolder)
{
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    if (isFolder)
        return ::mkdir(path.constData(), 0755) == 0;
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && ::close(fd) == 0;
}

using sdtest::removeTree;

} // namespace

class TestBatchOutcomes : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir *m_dir = nullptr;
    std::shared_ptr<FakeScript> m_script;

    QString in(const QString &rel = {}) const { return path("in", rel); }
    QString out(const QString &rel = {}) const { return path("out", rel); }
    QString path(const QString &top, const QString &rel) const
    {
        return rel.isEmpty() ? m_dir->path() + '/' + top : m_dir->path() + '/' + top + '/' + rel;
    }
    BatchResult run(bool onlyFirstSheet, bool utf8 = false)
    {
        return runBatch(in(), out(), onlyFirstSheet, utf8, kFakeId);
    }

private slots:
    void initTestCase() { QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8")); }

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
        removeTree(m_dir->path());
        delete m_dir;
        m_dir = nullptr;
    }

    // Each failure reaches the listener with its reason, and the closing line
    // counts the workbook as failed and only the files that were written.
    void failuresAndReasons_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("summaryText");
        QTest::addColumn<QString>("reason"); // a part of the one reason reported
        QTest::addColumn<QStringList>("files");
        QTest::newRow("does not open, with a reason")
            << "open:damaged workbook: bad header" << summary(0, 0) + kOneFailed
            << "damaged workbook: bad header" << QStringList();
        QTest::newRow("does not open, no reason given")
            << "open:" << summary(0, 0) + kOneFailed << "could not be opened" << QStringList();
        QTest::newRow("a worksheet does not load")
            << "load:corrupt sheet" << summary(0, 1) + kOneFailed << "worksheet 2: corrupt sheet"
            << QStringList { "w(S1).csv" };
        QTest::newRow("a save fails") << "save:2" << summary(0, 1) + kOneFailed
                                      << "w(S2).csv: disk full" << QStringList { "w(S1).csv" };
        QTest::newRow("a file in the way of the folder")
            << "blocked" << summary(0, 0) + kOneFailed << "a file of that name is in the way"
            << QStringList { "sub" };
    }

    void failuresAndReasons()
    {
        QFETCH(QString, script);
        QFETCH(QString, summaryText);
        QFETCH(QString, reason);
        QFETCH(QStringList, files);
        const QString book = script == "blocked" ? "sub/w.xlsx" : "w.xlsx";
        touch(in(book));
        FakeWorkbook workbook;
        FakeSheet s1, s2;
        s1.name = "S1";
        s2.name = "S2";
        workbook.sheets = { s1, s2 };
        if (script.startsWith("open:")) {
            workbook.opens = false;
            workbook.openError = script.mid(5);
        } else if (script.startsWith("load:")) {
            workbook.sheets[1].loadError = script.mid(5);
        } else if (script.startsWith("save:")) {
            m_script->failSaveAt = script.mid(5).toInt();
        } else if (script == "blocked") {
            workbook.sheets = { s1 };
            writeFile(out("sub"), "a file, not a folder");
        }
        m_script->books[in(book)] = workbook;

        const BatchResult result = run(false);
        QVERIFY(result.completed);
        QCOMPARE(result.reports.last(), summaryText);
        QCOMPARE(result.failures.size(), 1);
        QVERIFY2(result.failures[0].startsWith(in(book) + "|"), qPrintable(result.failures[0]));
        QVERIFY2(result.failures[0].contains(reason), qPrintable(result.failures[0]));
        QCOMPARE(treeOf(out()), files);
    }

    // A stop request that the application honours inside a long worksheet
    // ends the batch there: no failure, no closing line, no file.
    void stopInsideAWorksheet()
    {
        touch(in("a.xlsx"));
        touch(in("b.xlsx"));
        m_script->stopInsideSaveAt = 2;
        QThread thread;
        BatchResult result;
        QObject context;
        context.moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(
            &context, [&] { result = run(true, true); }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
        QCOMPARE(result.reports, QStringList({ in("a.xlsx"), in("b.xlsx") }));
        QVERIFY(result.failures.isEmpty());
        QVERIFY(!result.completed);
        QCOMPARE(treeOf(out()), QStringList { "a.csv" });
    }

    // Nothing is written through a link that leads out of the output folder;
    // a link that stays inside it is used.
    void linksInTheOutputFolder()
    {
        QTemporaryDir elsewhere;
        touch(in("away/w.xlsx"));
        touch(in("near/w.xlsx"));
        QVERIFY(QFile::link(elsewhere.path(), out("away")));
        QVERIFY(QDir().mkpath(out("real")));
        QVERIFY(QFile::link(out("real"), out("near")));
        const BatchResult result = run(true);
        QCOMPARE(result.reports.last(), summary(1, 1) + kOneFailed);
        QCOMPARE(result.failures.size(), 1);
        QVERIFY2(result.failures[0].contains("leads out of the output folder"),
                 qPrintable(result.failures[0]));
        QVERIFY(QDir(elsewhere.path()).isEmpty());
        QCOMPARE(treeOf(out()), QStringList({ "away", "near", "real/w.csv" }));
    }

    // An output folder whose path is too long to be made says so.
    void outputFolderTooLong()
    {
        QString deep = out();
        while (QFile::encodeName(deep).size() < 1000)
            deep += '/' + QString(200, 'd');
        QVERIFY(QDir().mkpath(deep));
        touch(in("sub/sub/w.xlsx"));
        const BatchResult result = runBatch(in(), deep, true, false, kFakeId);
        QCOMPARE(result.reports.last(), summary(0, 0) + kOneFailed);
        QCOMPARE(result.failures.size(), 1);
        QVERIFY2(result.failures[0].contains("too long"), qPrintable(result.failures[0]));
    }

    // The UTF-8 pass re-encodes the CSV files that this batch wrote and no
    // other: a foreign Latin-1 file and a GBK file already in the output
    // folder (or in the source folder, when it is the output folder too)
    // stay byte for byte. Where the locale is UTF-8, the batch's own files
    // are UTF-8 already and stay as written.
    void utf8PassOnlyThisBatch_data()
    {
        QTest::addColumn<QByteArray>("locale");
        QTest::addColumn<bool>("sameFolder");
        QTest::addColumn<QByteArray>("expected"); // the batch's file afterwards
        const QByteArray utf8 = "|\xe4\xb8\xad\xe6\x96\x87\r\n";
        QTest::newRow("GBK locale") << QByteArray("GBK") << false << utf8;
        QTest::newRow("GBK locale, one folder for both") << QByteArray("GBK") << true << utf8;
        QTest::newRow("UTF-8 locale: nothing to do") << QByteArray("UTF-8") << false << utf8;
    }

    void utf8PassOnlyThisBatch()
    {
        QFETCH(QByteArray, locale);
        QFETCH(bool, sameFolder);
        QFETCH(QByteArray, expected);
        LocaleCodec codec(locale.constData());
        m_script->saveCodec = locale;
        const QString target = sameFolder ? in() : out();
        const QByteArray latin1 = "Caf\xe9s,Na\xefve\r\n";
        const QByteArray gbk = "\xd6\xd0\xce\xc4,1\r\n";
        writeFile(target + "/foreign.csv", latin1);
        writeFile(target + "/old/earlier.CSV", gbk);
        touch(in("a.xlsx"));
        FakeSheet sheet;
        sheet.name = QString::fromUtf8("中文");
        m_script->books[in("a.xlsx")].sheets = { sheet };

        const BatchResult result = runBatch(in(), target, false, true, kFakeId);
        QVERIFY(result.completed);
        QVERIFY(result.failures.isEmpty());
        QCOMPARE(result.reports.last(), summary(1, 1));
        QCOMPARE(readAll(target + "/foreign.csv"), latin1);
        QCOMPARE(readAll(target + "/old/earlier.CSV"), gbk);
        const QByteArray written = readAll(target + QString::fromUtf8("/a(中文).csv"));
        QVERIFY2(written.endsWith(expected), written.toHex().constData());
    }

    // A file of the batch that the pass cannot re-encode is reported and
    // counted; it stays as it was written.
    void failedReencodeIsReported()
    {
        LocaleCodec codec("GBK");
        m_script->saveCodec = "ISO-8859-1"; // not GBK text
        touch(in("a.xlsx"));
        FakeSheet sheet;
        sheet.name = QString::fromUtf8("Café");
        m_script->books[in("a.xlsx")].sheets = { sheet };
        const BatchResult result = run(false, true);
        QVERIFY(result.completed);
        QCOMPARE(result.reports.last(),
                 summary(1, 1) + QStringLiteral("1个csv文件未能转换为UTF-8编码。"));
        QCOMPARE(result.failures.size(), 1);
        QVERIFY2(result.failures[0].startsWith(out("a(Café).csv") + "|not re-encoded"),
                 qPrintable(result.failures[0]));
        QVERIFY(readAll(out("a(Café).csv")).endsWith("|Caf\xe9\r\n"));
    }

    // Names that are not valid in the locale's encoding (GBK names on a
    // UTF-8 system) are reported, each with the name shown byte by byte and
    // read as GBK; other files with such names are passed over as before.
    void undecodableNames()
    {
        QVERIFY(makeRaw(in(), "\xb1\xa8\xb1\xed.xlsx", false)); // 报表.xlsx in GBK
        QVERIFY(makeRaw(in(), "\xb1\xed", true)); // 表
        QVERIFY(makeRaw(in(), "\xb1.txt", false));
        QVERIFY(makeRaw(in(), ".\xb1\xed", true)); // hidden: not walked
        QVERIFY(makeRaw(in(), "\xb1\xed/inside.xlsx", false));
        touch(in("ok.xlsx"));
        const BatchResult result = run(true);
        QCOMPARE(result.reports,
                 QStringList({ in("ok.xlsx"),
                               summary(1, 1)
                                   + QStringLiteral("1个excel文件转换失败,1个文件夹无法读取。") }));
        QCOMPARE(result.failures.size(), 2);
        QVERIFY2(result.failures[0].startsWith(in() + "/\\xB1\\xA8\\xB1\\xED.xlsx|"),
                 qPrintable(result.failures[0]));
        QVERIFY2(result.failures[0].contains(QString::fromUtf8("报表.xlsx")),
                 qPrintable(result.failures[0]));
        QVERIFY2(result.failures[1].startsWith(in() + "/\\xB1\\xED|"),
                 qPrintable(result.failures[1]));
    }

    // A folder that cannot be read is reported and counted. Permissions do
    // not bind the superuser, so then the batch runs in a child process that
    // has become the nobody account.
    void unreadableFolder()
    {
        touch(in("locked/a.xlsx"));
        touch(in("open/b.xlsx"));
        for (const QString &folder : { m_dir->path(), in(), in("open"), out() })
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(in("locked")).constData(), 0) == 0);
        const QString expected = summary(1, 1) + QStringLiteral("1个文件夹无法读取。");
        auto check = [&](const BatchResult &r) {
            return r.completed && r.reports.last() == expected && r.failures.size() == 1
                && r.failures[0].startsWith(in("locked") + "|the folder cannot be read");
        };
        if (::geteuid() != 0) {
            QVERIFY(check(run(true)));
        } else {
            const pid_t child = ::fork();
            QVERIFY(child >= 0);
            if (child == 0) {
                if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                    ::_exit(100);
                ::_exit(check(run(true)) ? 0 : 1);
            }
            int status = 0;
            QCOMPARE(::waitpid(child, &status, 0), child);
            QVERIFY(WIFEXITED(status));
            QVERIFY2(WEXITSTATUS(status) != 100, "could not become nobody");
            QCOMPARE(WEXITSTATUS(status), 0);
        }
        ::chmod(QFile::encodeName(in("locked")).constData(), 0700);
    }
};

QTEST_GUILESS_MAIN(TestBatchOutcomes)
#include "tst_batchoutcomes.moc"
