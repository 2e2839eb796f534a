// Where the program looks for its settings file, from the path it was
// started by: the directory up to the last '/', then "SheetDrain.ktz".

#include "programpaths.h"

#include <QtTest>

class TestProgramPaths : public QObject
{
    Q_OBJECT

private slots:
    void setProgramPaths_data();
    void setProgramPaths();
    void nullArgument();
};

void TestProgramPaths::setProgramPaths_data()
{
    QTest::addColumn<QByteArray>("argv0");
    QTest::addColumn<int>("result");
    QTest::addColumn<QByteArray>("directory");
    QTest::addColumn<QByteArray>("settingsPath");

    QTest::newRow("bare name") << QByteArray("SheetDrain") << 0 << QByteArray()
                               << QByteArray("SheetDrain.ktz");
    QTest::newRow("absolute") << QByteArray("/abs/dir/SheetDrain") << 0 << QByteArray("/abs/dir/")
                              << QByteArray("/abs/dir/SheetDrain.ktz");
    QTest::newRow("relative folder")
        << QByteArray("build/bin/SheetDrain") << 0 << QByteArray("build/bin/")
        << QByteArray("build/bin/SheetDrain.ktz");
    QTest::newRow("current folder")
        << QByteArray("./SheetDrain") << 0 << QByteArray("./") << QByteArray("./SheetDrain.ktz");
    QTest::newRow("root") << QByteArray("/SheetDrain") << 0 << QByteArray("/")
                          << QByteArray("/SheetDrain.ktz");
    QTest::newRow("empty") << QByteArray() << 0 << QByteArray() << QByteArray("SheetDrain.ktz");
    QTest::newRow("backslash is no separator")
        << QByteArray("dir\\SheetDrain") << 0 << QByteArray() << QByteArray("SheetDrain.ktz");
    QTest::newRow("backslash is a name character")
        << QByteArray("/home/u/a\\b\\SheetDrain") << 0 << QByteArray("/home/u/")
        << QByteArray("/home/u/SheetDrain.ktz");
    QTest::newRow("doubled slash kept")
        << QByteArray("/usr//bin/SheetDrain") << 0 << QByteArray("/usr//bin/")
        << QByteArray("/usr//bin/SheetDrain.ktz");
    QTest::newRow("multi-byte folder name")
        << QByteArray("/\xe6\x96\x87/SheetDrain") << 0 << QByteArray("/\xe6\x96\x87/")
        << QByteArray("/\xe6\x96\x87/SheetDrain.ktz");
    QTest::newRow("non-ASCII path")
        << QByteArray("/home/张三/表格工具/SheetDrain") << 0 << QByteArray("/home/张三/表格工具/")
        << QByteArray("/home/张三/表格工具/SheetDrain.ktz");

    // SettingsFilePath is the longer of the two: the folder may take
    // 1023 - 14 bytes.
    const QByteArray fitting = "/" + QByteArray(1007, 'd') + "/";
    QTest::newRow("settings path fills its buffer")
        << fitting + "SheetDrain" << 0 << fitting << fitting + "SheetDrain.ktz";
    const QByteArray tooLong = "/" + QByteArray(1008, 'd') + "/";
    QTest::newRow("settings path one byte too long")
        << tooLong + "x" << -1 << QByteArray() << QByteArray();
    const QByteArray folder1023 = "/" + QByteArray(1021, 'd') + "/";
    QTest::newRow("folder of 1023 bytes")
        << folder1023 + "SheetDrain" << -1 << QByteArray() << QByteArray();
    QTest::newRow("name of 1023 bytes, short folder")
        << "/x/" + QByteArray(1020, 'n') << 0 << QByteArray("/x/")
        << QByteArray("/x/SheetDrain.ktz");
    QTest::newRow("argument of 1024 bytes")
        << "/x/" + QByteArray(1021, 'n') << -1 << QByteArray() << QByteArray();
    QTest::newRow("argument longer than the buffer")
        << QByteArray("/") + QByteArray(2000, 'x') << -1 << QByteArray() << QByteArray();
}

void TestProgramPaths::setProgramPaths()
{
    QFETCH(QByteArray, argv0);
    QFETCH(int, result);
    QFETCH(QByteArray, directory);
    QFETCH(QByteArray, settingsPath);

    // Earlier values must not survive a refusal.
    QCOMPARE(SetProgramPaths("/earlier/SheetDrain"), 0);
    QCOMPARE(SetProgramPaths(argv0.constData()), result);
    QCOMPARE(QByteArray(ProgramDirectory), directory);
    QCOMPARE(QByteArray(SettingsFilePath), settingsPath);
}

// Started through execve with an empty argument list, argv[0] is null.
void TestProgramPaths::nullArgument()
{
    QCOMPARE(SetProgramPaths("/earlier/SheetDrain"), 0);
    QCOMPARE(SetProgramPaths(nullptr), -1);
    QCOMPARE(ProgramDirectory[0], '\0');
    QCOMPARE(SettingsFilePath[0], '\0');
}

QTEST_GUILESS_MAIN(TestProgramPaths)
#include "tst_programpaths.moc"
