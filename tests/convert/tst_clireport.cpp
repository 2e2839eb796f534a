// sheetdrain-cli beyond folder trees: a single workbook as SOURCE writes its
// CSV files straight into OUTPUT; --quiet leaves only the failures; the
// --report file holds one JSON object per workbook, appended to by runs side
// by side; and the English closing line counts in the right plural.

#include "clitestutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

using clitest::copySample;
using clitest::Run;
using clitest::runCli;

namespace {

QStringList filesIn(const QString &folder)
{
    QStringList files;
    for (const QFileInfo &fi :
         QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
        files << fi.fileName();
    return files;
}

bool writeJunk(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("this is not a workbook") > 0;
}

// The report's lines as JSON objects; a line that is not one fails the test.
QList<QJsonObject> reportObjects(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QJsonObject> objects;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        if (error.error != QJsonParseError::NoError || !doc.isObject())
            qFatal("not a JSON object: %s", line.constData());
        objects << doc.object();
    }
    return objects;
}

QJsonObject record(const QString &path, const char *status, const QString &reason,
                   const QStringList &csv)
{
    return QJsonObject { { "path", path },
                         { "status", QLatin1String(status) },
                         { "reason", reason },
                         { "csv", QJsonArray::fromStringList(csv) } };
}

} // namespace

class TestCliReport : public QObject
{
    Q_OBJECT

private slots:
    void singleWorkbook_data()
    {
        QTest::addColumn<QString>("sample"); // empty: a file that is no workbook
        QTest::addColumn<bool>("allSheets");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("summary");
        QTest::newRow("first sheet") << "xls/mixed.xls" << false << 0 << QStringList { "book.csv" }
                                     << "成功将1个excel文件转换为1个csv文件。";
        QTest::newRow("all sheets")
            << "xls/mixed.xls" << true << 0
            << QStringList { "book(Data).csv", QStringLiteral("book(Grüße 数据).csv") }
            << "成功将1个excel文件转换为2个csv文件。";
        QTest::newRow("xlsx") << "xlsx/types.xlsx" << true << 0 << QStringList { "book(S1).csv" }
                              << "成功将1个excel文件转换为1个csv文件。";
        QTest::newRow("broken") << QString() << false << 4 << QStringList {}
                                << "成功将0个excel文件转换为0个csv文件。1个excel文件转换失败。";
    }

    // The workbook lies deep in a folder beside another workbook: only it is
    // converted, and its CSV files go into OUTPUT itself, not a mirror of
    // the folders above it.
    void singleWorkbook()
    {
        QFETCH(QString, sample);
        QFETCH(bool, allSheets);
        QFETCH(int, exitCode);
        QFETCH(QStringList, files);
        QFETCH(QString, summary);
        QTemporaryDir dir;
        const QString folder = dir.filePath("src/deep/er"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(folder) && QDir().mkpath(out));
        const QByteArray name = sample.endsWith(".xls") ? "book.xls" : "book.xlsx";
        if (sample.isEmpty())
            QVERIFY(writeJunk(folder + "/" + name));
        else
            QVERIFY(copySample(sample.toLatin1().constData(), folder, name));
        QVERIFY(copySample("xlsx/types.xlsx", folder, "other.xlsx"));

        const QString book = folder + "/" + QString::fromLatin1(name);
        QStringList args { book, out };
        if (allSheets)
            args << "--all-sheets";
        const Run run = runCli(args);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(run.out, summary + "\n");
        QVERIFY2(run.err.startsWith("[1/1] " + book + "\n"), qPrintable(run.err));
        QCOMPARE(filesIn(out), files);
    }

    // Only what failed is printed; the exit status still tells.
    void quiet()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        QVERIFY(copySample("xls/numbers.xls", src, "good.xls"));
        QVERIFY(writeJunk(src + "/broken.xlsx"));
        const Run run = runCli({ "--quiet", src, out, "--utf8" });
        QCOMPARE(run.exitCode, 4);
        QCOMPARE(run.out, QString());
        QCOMPARE(run.err, src + "/broken.xlsx: not a workbook: not an Excel workbook\n");
        QCOMPARE(filesIn(out), QStringList { "good.csv" });
    }

    // One object per workbook, in the order of the run, with the CSV files
    // each wrote; a second run appends its own.
    void reportLines()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        const QString report = dir.filePath("run.json");
        QVERIFY(QDir().mkpath(src + "/a") && QDir().mkpath(src + "/b") && QDir().mkpath(out));
        QVERIFY(copySample("xls/mixed.xls", src + "/a", "mixed.xls"));
        QVERIFY(copySample("xlsx/types.xlsx", src + "/b", "t\"y\\pes.xlsx"));
        QVERIFY(writeJunk(src + "/broken.xlsx"));

        const Run first = runCli({ "--all-sheets", "--report", report, src, out, "--quiet" });
        QCOMPARE(first.exitCode, 4);
        const Run second = runCli({ "--report=" + report, src + "/a/mixed.xls", out });
        QCOMPARE(second.exitCode, 0);

        const QList<QJsonObject> expected {
            record(src + "/broken.xlsx", "failed", "not a workbook: not an Excel workbook", {}),
            record(
                src + "/a/mixed.xls", "converted", QString(),
                { out + "/a/mixed(Data).csv", out + QStringLiteral("/a/mixed(Grüße 数据).csv") }),
            record(src + "/b/t\"y\\pes.xlsx", "converted", QString(),
                   { out + "/b/t\"y\\pes(S1).csv" }),
            record(src + "/a/mixed.xls", "converted", QString(), { out + "/mixed.csv" }),
        };
        QCOMPARE(reportObjects(report), expected);
    }

    // Runs started side by side (xargs -P, parallel) share one report file:
    // each run's lines arrive whole.
    void reportSharedByParallelRuns()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        const QString report = dir.filePath("all.json");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        std::vector<std::unique_ptr<QProcess>> runs;
        for (int i = 0; i < 6; ++i) {
            const QByteArray name = "book" + QByteArray::number(i) + ".xlsx";
            QVERIFY(copySample("xlsx/types.xlsx", src, name));
            auto process = std::make_unique<QProcess>();
            process->start(QStringLiteral(SHEETDRAIN_CLI),
                           { "--quiet", "--report", report, src + "/" + name, out });
            runs.push_back(std::move(process));
        }
        for (auto &process : runs) {
            QVERIFY(process->waitForFinished(60000));
            QVERIFY2(process->exitCode() == 0, process->readAllStandardError().constData());
        }
        const QList<QJsonObject> objects = reportObjects(report);
        QCOMPARE(objects.size(), 6);
        QStringList paths;
        for (const QJsonObject &object : objects) {
            QCOMPARE(object.value("status").toString(), QStringLiteral("converted"));
            paths << object.value("path").toString();
        }
        paths.sort();
        QCOMPARE(paths.first(), src + "/book0.xlsx");
        QCOMPARE(paths.last(), src + "/book5.xlsx");
    }

    // A run sweeps only the temporary files that a killed run of the writer
    // left (tst_csvwriter makes those): files of the user that merely look
    // like them stay, old or new.
    void userFilesThatLookTemporaryStay()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        QVERIFY(copySample("xlsx/types.xlsx", src, "book.xlsx"));
        for (const auto &[name, age] : { std::pair { ".old.csv.sheetdrain-1a.tmp", 60 },
                                         std::pair { ".new.csv.sheetdrain-2b.tmp", 2 } }) {
            QFile file(out + "/" + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("mine") == 4 && file.flush());
            QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-age),
                                     QFileDevice::FileModificationTime));
        }
        QCOMPARE(runCli({ "--quiet", src + "/book.xlsx", out }).exitCode, 0);
        QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList(
                     { ".new.csv.sheetdrain-2b.tmp", ".old.csv.sheetdrain-1a.tmp", "book.csv" }));
    }

    void englishSummary_data()
    {
        QTest::addColumn<QStringList>("books"); // samples; "broken" is no workbook
        QTest::addColumn<QString>("summary");
        QTest::newRow("one and one")
            << QStringList { "xls/numbers.xls" } << "Converted 1 workbook into 1 CSV file.";
        QTest::newRow("two and three") << QStringList { "xls/numbers.xls", "xls/mixed.xls" }
                                       << "Converted 2 workbooks into 3 CSV files.";
        QTest::newRow("with a failure")
            << QStringList { "xls/numbers.xls", "broken" }
            << "Converted 1 workbook into 1 CSV file. 1 workbook failed.";
        QTest::newRow("two failures")
            << QStringList { "broken", "broken" }
            << "Converted 0 workbooks into 0 CSV files. 2 workbooks failed.";
        QTest::newRow("nothing") << QStringList {}
                                 << "No workbook (.xls, .xlsx, .xlsm) was found in the source "
                                    "folder.";
    }

    void englishSummary()
    {
        QFETCH(QStringList, books);
        QFETCH(QString, summary);
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        for (int i = 0; i < books.size(); ++i) {
            const QByteArray name = "b" + QByteArray::number(i) + ".xls";
            if (books[i] == QLatin1String("broken"))
                QVERIFY(writeJunk(src + "/" + QString::fromLatin1(name)));
            else
                QVERIFY(copySample(books[i].toLatin1().constData(), src, name));
        }
        const Run run = runCli({ "--all-sheets", src, out }, QStringLiteral("C.UTF-8"),
                               QStringLiteral("en_GB"));
        QCOMPARE(run.out, summary + "\n");
    }
};

QTEST_GUILESS_MAIN(TestCliReport)
#include "tst_clireport.moc"
