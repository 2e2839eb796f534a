// The UTF-8 pass on single files, the UTF-8 check, and the folder chain.

#include "folderchain.h"
#include "utf8pass.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

Q_DECLARE_METATYPE(Utf8PassResult)

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestUtf8Pass : public QObject
{
    Q_OBJECT

private slots:
    void reencode_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<Utf8PassResult>("result");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("ASCII with CR LF")
            << QByteArray("a,b\r\n1,2\r\n") << Utf8PassResult::Unchanged
            << QByteArray("a,b\r\n1,2\r\n");
        QTest::newRow("ASCII with bare LF")
            << QByteArray("a\nb\n") << Utf8PassResult::Unchanged << QByteArray("a\nb\n");
        QTest::newRow("UTF-8 with BOM")
            << QByteArray("\xef\xbb\xbf\xe4\xb8\xad\r\n") << Utf8PassResult::Unchanged
            << QByteArray("\xef\xbb\xbf\xe4\xb8\xad\r\n");
        QTest::newRow("empty") << QByteArray() << Utf8PassResult::Unchanged << QByteArray();
        // 中文 in GBK, a quoted field with a bare LF inside, no final line end:
        // only the encoding changes, every line end stays as it was.
        QTest::newRow("GBK") << QByteArray("\xd6\xd0\xce\xc4,\"x\ny\"\r\nend")
                             << Utf8PassResult::Rewritten
                             << QByteArray("\xe4\xb8\xad\xe6\x96\x87,\"x\ny\"\r\nend");
        QTest::newRow("GBK with LF line ends only")
            << QByteArray("\xd6\xd0\n\xce\xc4\n") << Utf8PassResult::Rewritten
            << QByteArray("\xe4\xb8\xad\n\xe6\x96\x87\n");
        QTest::newRow("GBK multi-line cell, CR LF inside quotes")
            << QByteArray("\"\xd6\xd0\r\n\xce\xc4\",1\r\n") << Utf8PassResult::Rewritten
            << QByteArray("\"\xe4\xb8\xad\r\n\xe6\x96\x87\",1\r\n");
        // A CR on its own (here inside a quoted field and before a line end)
        // is text and survives the re-encoding.
        QTest::newRow("GBK with lone CRs")
            << QByteArray("\xd6\xd0,\"a\rb\"\r\r\n") << Utf8PassResult::Rewritten
            << QByteArray("\xe4\xb8\xad,\"a\rb\"\r\r\n");
        QTest::newRow("undecodable byte 0xFF")
            << QByteArray("a\xff,b\r\n") << Utf8PassResult::NotGbk << QByteArray("a\xff,b\r\n");
        QTest::newRow("lone GBK lead byte at the end")
            << QByteArray("ab\xd6") << Utf8PassResult::NotGbk << QByteArray("ab\xd6");
        QTest::newRow("lead byte before a line end")
            << QByteArray("\xd6\r\nx") << Utf8PassResult::NotGbk << QByteArray("\xd6\r\nx");
        QTest::newRow("0x80 is the euro sign")
            << QByteArray("\x80,1") << Utf8PassResult::Rewritten << QByteArray("\xe2\x82\xac,1");
        QTest::newRow("trail byte 0x7F")
            << QByteArray("\x81\x7f") << Utf8PassResult::NotGbk << QByteArray("\x81\x7f");
    }

    void reencode()
    {
        QFETCH(QByteArray, before);
        QFETCH(Utf8PassResult, result);
        QFETCH(QByteArray, after);
        QTemporaryDir dir;
        const QString path = dir.filePath("x.csv");
        QVERIFY(writeFile(path, before));
        QCOMPARE(ReencodeCsvAsUtf8(path), result);
        QCOMPARE(readFile(path), after);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList { "x.csv" });
    }

    void unreadableAndUnwritable()
    {
        QTemporaryDir dir;
        QString problem;
        QCOMPARE(ReencodeCsvAsUtf8(dir.filePath("missing.csv"), &problem),
                 Utf8PassResult::Unreadable);
        QVERIFY2(problem.contains("No such file"), qPrintable(problem));
        if (::geteuid() == 0)
            QSKIP("permissions do not bind root");
        const QString path = dir.filePath("sub/g.csv");
        QVERIFY(QDir().mkpath(dir.filePath("sub")));
        QVERIFY(writeFile(path, "\xd6\xd0"));
        QFile::setPermissions(dir.filePath("sub"), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QCOMPARE(ReencodeCsvAsUtf8(path), Utf8PassResult::WriteFailed);
        QFile::setPermissions(dir.filePath("sub"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                  | QFileDevice::ExeOwner);
        QCOMPARE(readFile(path), QByteArray("\xd6\xd0"));
    }

    void validUtf8_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ASCII") << QByteArray("abc") << true;
        QTest::newRow("two to four bytes")
            << QByteArray("\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80") << true;
        QTest::newRow("overlong two bytes") << QByteArray("\xc0\x80") << false;
        QTest::newRow("overlong three bytes") << QByteArray("\xe0\x80\xaf") << false;
        QTest::newRow("surrogate") << QByteArray("\xed\xa0\x80") << false;
        QTest::newRow("above U+10FFFF") << QByteArray("\xf4\x90\x80\x80") << false;
        QTest::newRow("truncated at the end") << QByteArray("a\xe4\xb8") << false;
        QTest::newRow("bad continuation") << QByteArray("\xe4\x41\xad") << false;
        QTest::newRow("GBK text") << QByteArray("\xd6\xd0\xce\xc4") << false;
    }

    void validUtf8()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, valid);
        QCOMPARE(IsValidUtf8(bytes.constData(), bytes.size()), valid);
    }

    void folderChain_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("nested") << "a/b/c";
        QTest::newRow("trailing separator") << "a/b/c/";
        QTest::newRow("doubled separator") << "a//b";
        QTest::newRow("backslash is a name character") << "a\\b/c";
        QTest::newRow("part exists") << "exists/x/y";
        QTest::newRow("one new level") << "exists/x";
        QTest::newRow("whole path exists") << "exists";
    }

    void folderChain()
    {
        QFETCH(QString, relative);
        QTemporaryDir dir;
        QVERIFY(QDir().mkpath(dir.filePath("exists")));
        const QString path = dir.path() + "/" + relative;
        QCOMPARE(CreateFolderChain(QFile::encodeName(path).constData()), 0);
        QVERIFY(QFileInfo(path).isDir());
        if (relative.contains('\\'))
            QVERIFY(QFileInfo(dir.path() + "/a\\b").isDir());
    }

    // A file in the way stops the chain there and makes nothing below it;
    // the levels above a level that cannot be made are made all the same.
    void folderChainAroundObstacles()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath("file"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(CreateFolderChain(QFile::encodeName(dir.filePath("file/x/y")).constData()), 0);
        QVERIFY(QFileInfo(dir.filePath("file")).isFile());
        QVERIFY(!QFileInfo::exists(dir.filePath("file/x")));

        QVERIFY(QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::ExeOwner));
        const bool root = ::geteuid() == 0; // root makes folders regardless
        QCOMPARE(CreateFolderChain(QFile::encodeName(dir.filePath("ro/x")).constData()), 0);
        QCOMPARE(QFileInfo(dir.filePath("ro/x")).isDir(), root);
        QVERIFY(QFile::setPermissions(dir.path(),
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    void folderChainRefusesOverlongPaths()
    {
        QTemporaryDir dir;
        // The path plus the appended separator and NUL must fit 1024 bytes.
        const QByteArray base = QFile::encodeName(dir.path()) + "/first/";
        const QByteArray fits = base + QByteArray(1022 - base.size(), 'n');
        const QByteArray tooLong = base + QByteArray(1023 - base.size(), 'n');
        QCOMPARE(CreateFolderChain(tooLong.constData()), -1);
        QVERIFY(!QFileInfo::exists(dir.filePath("first")));
        QCOMPARE(CreateFolderChain(fits.constData()), 0);
        QVERIFY(QFileInfo(dir.filePath("first")).isDir()); // the last level is too long a name
        QCOMPARE(CreateFolderChain(nullptr), -1);
    }
};

QTEST_GUILESS_MAIN(TestUtf8Pass)
#include "tst_utf8pass.moc"
