// sheetdrain-cli end to end: arguments and exit codes, a tree of real
// workbooks converted by the built-in application into the mirrored tree,
// what a run reports when part of it fails, and file names in the locale's
// 8-bit encoding.

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTextCodec>

#include "clitestutil.h"
#include "corpus.h"
#include "testfiles.h"

#include "core/csvwriterfile_p.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using clitest::copySample;
using clitest::localeAvailable;
using clitest::Run;
using clitest::runCli;

namespace {

bool existsRaw(const QString &folder, const QByteArray &name)
{
    struct stat st;
    return ::lstat((QFile::encodeName(folder) + '/' + name).constData(), &st) == 0;
}

using sdtest::filesUnder;
using sdtest::removeTree;

bool copyInto(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).absolutePath());
    return QFile::copy(from, to);
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private slots:
    void arguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("language");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message"); // in stderr, or stdout for --help
        QTest::newRow("help") << QStringList { "--help" } << "en" << 0 << "Usage: sheetdrain-cli";
        QTest::newRow("help in Chinese")
            << QStringList { "--help" } << "zh_CN" << 0 << "用法:sheetdrain-cli [选项] SOURCE";
        QTest::newRow("version") << QStringList { "--version" } << "en" << 0
                                 << "sheetdrain-cli " SHEETDRAIN_VERSION "\n";
        QTest::newRow("no folders") << QStringList {} << "en" << 2 << "SOURCE and OUTPUT";
        QTest::newRow("one folder") << QStringList { "SRC" } << "en" << 2 << "SOURCE and OUTPUT";
        QTest::newRow("three folders")
            << QStringList { "SRC", "OUT", "OUT" } << "en" << 2 << "SOURCE and OUTPUT";
        QTest::newRow("unknown option")
            << QStringList { "SRC", "OUT", "--fast" } << "zh_CN" << 2 << "未知选项:--fast";
        QTest::newRow("report without a file")
            << QStringList { "SRC", "OUT", "--report" } << "en" << 2 << "--report needs a file";
        QTest::newRow("report cannot be written")
            << QStringList { "SRC", "OUT", "--report", "NOWHERE/r.json" } << "en" << 2
            << "cannot write the report file";
        QTest::newRow("missing source")
            << QStringList { "NOWHERE", "OUT" } << "zh_CN" << 2 << "提取文件夹不存在!";
        QTest::newRow("missing source, English")
            << QStringList { "NOWHERE", "OUT" } << "en" << 2 << "The source folder does not exist!";
        QTest::newRow("missing output")
            << QStringList { "SRC", "NOWHERE" } << "zh_CN" << 2 << "保存文件夹不存在!";
        QTest::newRow("source is a file, not a workbook")
            << QStringList { "SRC/a.txt", "OUT" } << "zh_CN" << 2
            << "提取的文件不是Excel工作簿(.xls、.xlsx、.xlsm)!";
        QTest::newRow("source is a lock file") << QStringList { "SRC/~$a.xlsx", "OUT" } << "en" << 2
                                               << "The source file is not a workbook";
        QTest::newRow("empty source") << QStringList { "SRC", "OUT", "--utf8" } << "zh_CN" << 0
                                      << "提取文件夹中没有找到excel文件(.xls、.xlsx、.xlsm)。";
        QTest::newRow("help names the exit status of a run with failures")
            << QStringList { "--help" } << "en" << 0 << "4 the batch ended, but some";
        QTest::newRow("--password without a value") << QStringList { "SRC", "OUT", "--password" }
                                                    << "en" << 2 << "--password needs a value";
        QTest::newRow("unreadable password file")
            << QStringList { "SRC", "OUT", "--password-file=NOWHERE" } << "en" << 2
            << "cannot read the password file";
        QTest::newRow("misspelt option with a value: the value is not echoed")
            << QStringList { "SRC", "OUT", "--pasword=Zebra-77" } << "en" << 2
            << "unknown option: --pasword\n";
        QTest::newRow("help names the password options")
            << QStringList { "--help" } << "en" << 0 << "--password-file FILE";
    }

    void arguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, language);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        QTemporaryDir dir;
        QDir().mkpath(dir.filePath("SRC"));
        QDir().mkpath(dir.filePath("OUT"));
        for (const char *name : { "SRC/a.txt", "SRC/~$a.xlsx" }) {
            QFile file(dir.filePath(name));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        for (QString &arg : args) {
            if (!arg.startsWith('-'))
                arg = dir.filePath(arg);
        }
        const Run run = runCli(args, QStringLiteral("C.UTF-8"), language);
        QCOMPARE(run.exitCode, exitCode);
        QVERIFY2((run.out + run.err).contains(message), qPrintable(run.out + run.err));
        QVERIFY(!(run.out + run.err).contains("Zebra"));
        if (exitCode == 0 && !args.first().startsWith(QLatin1Char('-'))) {
            QCOMPARE(run.out, message + "\n");
            QCOMPARE(run.err, QStringLiteral("完成excel转csv,开始进行UTF-8编码转换...\n"));
        }
    }

    void corpusTree_data()
    {
        QTest::addColumn<bool>("allSheets");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("summary");
        QTest::newRow("all sheets")
            << true
            << QStringList { "a/Formate(Blätt1).csv", "a/Formate(Blätt3).csv",
                             "a/Formate(Formate).csv", "a/Formate(ÖÄÜ).csv",
                             "b/c/any_sheets(Visible).csv" }
            << "成功将2个excel文件转换为5个csv文件。1个excel文件转换失败。";
        QTest::newRow("first sheet")
            << false << QStringList { "a/Formate.csv", "b/c/any_sheets.csv" }
            << "成功将2个excel文件转换为2个csv文件。1个excel文件转换失败。";
    }

    // Workbooks in nested folders, a hidden folder, a lock file, a file that
    // is not a workbook and one that only claims to be.
    void corpusTree()
    {
        QFETCH(bool, allSheets);
        QFETCH(QStringList, files);
        QFETCH(QString, summary);
        SD_REQUIRE_CORPUS(QStringLiteral("xlrd/Formate.xls"));
        SD_REQUIRE_CORPUS(QStringLiteral("calamine/any_sheets.xlsx"));
        const QString corpus = sdtest::corpusDir() + QLatin1Char('/');
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(copyInto(corpus + "xlrd/Formate.xls", src + "/a/Formate.xls"));
        QVERIFY(copyInto(corpus + "calamine/any_sheets.xlsx", src + "/b/c/any_sheets.xlsx"));
        QVERIFY(copyInto(corpus + "calamine/any_sheets.xlsx", src + "/.hidden/h.xlsx"));
        QVERIFY(copyInto(corpus + "calamine/any_sheets.xlsx", src + "/~$any_sheets.xlsx"));
        QVERIFY(copyInto(corpus + "calamine/any_sheets.xlsx", src + "/d/any_sheets.xlsb"));
        QFile broken(src + "/broken.xlsx");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("this is not a workbook");
        broken.close();
        QDir().mkpath(out);

        QStringList args { src, out };
        if (allSheets)
            args << "--all-sheets";
        const Run run = runCli(args);
        if (run.err.contains("[2/3]") && filesUnder(out).isEmpty())
            QSKIP("the engine cannot read the corpus workbooks yet");
        // The workbook that did not open is no success: the run says so.
        QCOMPARE(run.exitCode, 4);
        QCOMPARE(run.out, summary + "\n");
        // The reason a workbook did not open follows its report.
        QCOMPARE(run.err,
                 QStringLiteral("[1/3] %1/broken.xlsx\n"
                                "%1/broken.xlsx: not a workbook: not an Excel workbook\n"
                                "[2/3] %1/a/Formate.xls\n"
                                "[3/3] %1/b/c/any_sheets.xlsx\n")
                     .arg(src));
        QCOMPARE(filesUnder(out), files);
        QFile csv(out + (allSheets ? "/b/c/any_sheets(Visible).csv" : "/b/c/any_sheets.csv"));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QVERIFY(csv.readAll().startsWith("1,2\r\n3,4\r\n"));
        QVERIFY(!QFileInfo::exists(out + "/d")); // no workbook there: not created
    }

    // Failures and their reasons: each follows its [k/n] line, on one line
    // however the file is named; the closing line counts what was done and
    // the run ends with status 4. Two workbooks of one name both get a file,
    // and a temporary file that a killed run left in the output folder goes,
    // while a file of the user's that looks like one stays.
    void reportsAndNames()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        QVERIFY(copySample("xls/numbers.xls", src, "report.xls"));
        QVERIFY(copySample("xlsx/types.xlsx", src, "report.xlsx"));
        QVERIFY(copySample("xlsx/types.xlsx", src, "new\nline.xlsm"));
        QFile broken(src + "/broken.xlsx");
        QVERIFY(broken.open(QIODevice::WriteOnly));
        broken.write("this is not a workbook");
        broken.close();
        // What a killed run left: a temporary file as the writer names it
        // (from its inode); and a file of the user's that only looks like one.
        for (const char *name : { "killed", ".report.csv.sheetdrain-k3x9.tmp" }) {
            QFile stale(out + "/" + name);
            QVERIFY(stale.open(QIODevice::WriteOnly));
            stale.write("half a sheet");
            QVERIFY(stale.flush()); // or closing would write it, and date it now
            QVERIFY(stale.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                      QFileDevice::FileModificationTime));
        }
        struct stat killed;
        QCOMPARE(::stat(QFile::encodeName(out + "/killed").constData(), &killed), 0);
        QVERIFY(QFile::rename(
            out + "/killed",
            out + "/"
                + QFile::decodeName(sd::csvTemporaryNameFor("report.csv", killed.st_ino, 0))));

        const Run run = runCli({ src, out });
        QCOMPARE(run.exitCode, 4);
        QCOMPARE(run.out,
                 QStringLiteral("成功将3个excel文件转换为3个csv文件。1个excel文件转换失败。\n"));
        QCOMPARE(run.err,
                 QStringLiteral("[1/4] %1/broken.xlsx\n"
                                "%1/broken.xlsx: not a workbook: not an Excel workbook\n"
                                "[2/4] %1/new\\nline.xlsm\n"
                                "[3/4] %1/report.xls\n"
                                "[4/4] %1/report.xlsx\n")
                     .arg(src));
        QCOMPARE(filesUnder(out),
                 QStringList({ ".report.csv.sheetdrain-k3x9.tmp", "new\nline.csv", "report (2).csv",
                               "report.csv" }));
    }

    // A GBK-named workbook on a UTF-8 system is reported, not passed over.
    void undecodableNameOnUtf8()
    {
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        QVERIFY(copySample("xls/numbers.xls", src, "\xb1\xa8\xb1\xed.xls")); // 报表.xls
        const Run run = runCli({ src, out });
        removeTree(src);
        QCOMPARE(run.exitCode, 4);
        QCOMPARE(run.out,
                 QStringLiteral("成功将0个excel文件转换为0个csv文件。1个excel文件转换失败。\n"));
        QVERIFY2(run.err.startsWith(src + "/\\xB1\\xA8\\xB1\\xED.xls: "), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("报表.xls")), qPrintable(run.err));
    }

    // Under a GBK locale, file names are GBK bytes: the workbooks of both
    // formats open, and their CSV files get GBK names.
    void gbkLocale()
    {
        const QString locale = QStringLiteral("zh_CN.GBK");
        if (!localeAvailable(locale, "GBK")) {
            const char *why = "the zh_CN.GBK locale is not installed (scripts/test.sh makes it "
                              "with localedef)";
            if (qEnvironmentVariable("CI") == QLatin1String("true"))
                QFAIL(why);
            QSKIP(why);
        }
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        QVERIFY(QDir().mkpath(src) && QDir().mkpath(out));
        QVERIFY(copySample("xls/numbers.xls", src, "\xb1\xa8\xb1\xed.xls")); // 报表.xls
        QVERIFY(copySample("xlsx/types.xlsx", src, "\xcd\xb3\xbc\xc6.xlsx")); // 统计.xlsx
        const Run run = runCli({ src, out }, locale);
        QTextCodec *gbk = QTextCodec::codecForName("GBK");
        QCOMPARE(gbk->toUnicode(run.rawErr),
                 QStringLiteral("[1/2] %1/报表.xls\n[2/2] %1/统计.xlsx\n").arg(src));
        QCOMPARE(gbk->toUnicode(run.rawOut),
                 QStringLiteral("成功将2个excel文件转换为2个csv文件。\n"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(existsRaw(out, "\xb1\xa8\xb1\xed.csv"));
        QVERIFY(existsRaw(out, "\xcd\xb3\xbc\xc6.csv"));
        removeTree(src);
        removeTree(out);
    }

    void encrypted_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("summary");
        const QStringList defaultOnly { "default/TestExcel_2040.csv",
                                        "default/Test_git_issue289.csv",
                                        "default/protectedsheet-xxx.csv" };
        const QStringList all = QStringList(defaultOnly)
            << "own/agile_AES256_SHA512_CBC_pwd_password.csv"
            << "own/password_2002_40_xor.csv"
            << "own/pers-encrypted-RC4-pass-11.csv";
        QTest::newRow("default password only")
            << QStringList() << defaultOnly
            << "成功将3个excel文件转换为3个csv文件。3个excel文件转换失败。";
        QTest::newRow("--password, repeated")
            << QStringList { "--password", "Zebra-77", "--password=password", "--password", "11" }
            << all << "成功将6个excel文件转换为6个csv文件。";
        QTest::newRow("--password-file") << QStringList { "--password-file", "PASSWORDS" } << all
                                         << "成功将6个excel文件转换为6个csv文件。";
        QTest::newRow("wrong passwords only")
            << QStringList { "--password", "Zebra-77" } << defaultOnly
            << "成功将3个excel文件转换为3个csv文件。3个excel文件转换失败。";
    }

    // Encrypted workbooks: those encrypted with the built-in default password
    // convert with no option, the others with their passwords given; one
    // that no password opens is reported as needing one. No password ever
    // shows in the output, and nothing but the CSV files is written.
    void encrypted()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, files);
        QFETCH(QString, summary);
        SD_REQUIRE_CORPUS(QStringLiteral("exceldatareader/Test_git_issue289.xlsx"));
        const QString corpus = sdtest::corpusDir() + QLatin1Char('/');
        QTemporaryDir dir;
        const QString src = dir.filePath("src"), out = dir.filePath("out");
        for (const char *name :
             { "exceldatareader/TestExcel_2040.xlsx", "exceldatareader/Test_git_issue289.xlsx",
               "exceldatareader/protectedsheet-xxx.xls" })
            QVERIFY(copyInto(corpus + name, src + "/default/" + QFileInfo(name).fileName()));
        for (const char *name :
             { "exceldatareader/agile_AES256_SHA512_CBC_pwd_password.xlsx",
               "sheetjs/password_2002_40_xor.xls", "parseexcel/t/pers-encrypted-RC4-pass-11.xls" })
            QVERIFY(copyInto(corpus + name, src + "/own/" + QFileInfo(name).fileName()));
        QDir().mkpath(out);
        QFile passwords(dir.filePath("passwords.txt"));
        QVERIFY(passwords.open(QIODevice::WriteOnly));
        passwords.write("Zebra-77\r\n\r\npassword\r\n11\n");
        passwords.close();
        for (QString &option : options) {
            if (option == QLatin1String("PASSWORDS"))
                option = passwords.fileName();
        }
        const Run run = runCli(QStringList { src, out } + options);
        QCOMPARE(run.exitCode, files.size() == 6 ? 0 : 4);
        QCOMPARE(run.out, summary + "\n");
        QCOMPARE(filesUnder(out), files);
        const int needed = run.err.count(QStringLiteral(": password needed"));
        QCOMPARE(needed, 6 - files.size());
        QVERIFY2(!(run.out + run.err).contains("Zebra"), qPrintable(run.err));
        QVERIFY(!(run.out + run.err).contains("VelvetSweatshop"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
