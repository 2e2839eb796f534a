// Where the program looks for its settings file, from the path it was
// started by: the directory up to the last '/', then "SheetDrain.ktz".

#include "programpaths.h"

#include <QtTest>

#include <string>

class tst_ProgramPaths : public QObject
{
    Q_OBJECT

private slots:
    void paths_data();
    void paths();
    void nullArgument();
};

void tst_ProgramPaths::paths_data()
{
    QTest::addColumn<QByteArray>("argv0");
    QTest::addColumn<QByteArray>("directory");
    QTest::addColumn<QByteArray>("settings");

    QTest::newRow("absolute") << QByteArray("/opt/tools/SheetDrain") << QByteArray("/opt/tools/")
                              << QByteArray("/opt/tools/SheetDrain.ktz");
    QTest::newRow("relative") << QByteArray("./SheetDrain") << QByteArray("./")
                              << QByteArray("./SheetDrain.ktz");
    QTest::newRow("bare name") << QByteArray("SheetDrain") << QByteArray()
                               << QByteArray("SheetDrain.ktz");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QByteArray("SheetDrain.ktz");
    QTest::newRow("root") << QByteArray("/SheetDrain") << QByteArray("/")
                          << QByteArray("/SheetDrain.ktz");
    QTest::newRow("backslash is a name character")
        << QByteArray("/home/u/a\\b\\SheetDrain") << QByteArray("/home/u/")
        << QByteArray("/home/u/SheetDrain.ktz");
    QTest::newRow("doubled slash kept")
        << QByteArray("/usr//bin/SheetDrain") << QByteArray("/usr//bin/")
        << QByteArray("/usr//bin/SheetDrain.ktz");
    QTest::newRow("non-ASCII") << QByteArray("/home/张三/表格工具/SheetDrain")
                               << QByteArray("/home/张三/表格工具/")
                               << QByteArray("/home/张三/表格工具/SheetDrain.ktz");

    // The buffers hold 1023 bytes: a directory that fits only without the
    // file name, or a path that does not fit at all, is refused whole.
    const QByteArray longDir = "/" + QByteArray(1023 - 1 - 14 - 1, 'd') + "/";
    QTest::newRow("settings path exactly fills the buffer")
        << longDir + "SheetDrain" << longDir << longDir + "SheetDrain.ktz";
    const QByteArray tooLongDir = "/" + QByteArray(1023 - 14 - 1, 'd') + "/";
    QTest::newRow("settings path one byte too long")
        << tooLongDir + "S" << QByteArray() << QByteArray();
    QTest::newRow("argument longer than the buffer")
        << QByteArray("/") + QByteArray(2000, 'x') << QByteArray() << QByteArray();
}

void tst_ProgramPaths::paths()
{
    QFETCH(QByteArray, argv0);
    QFETCH(QByteArray, directory);
    QFETCH(QByteArray, settings);

    const std::string arg = argv0.toStdString();
    SetProgramPaths(arg.c_str());
    QCOMPARE(QByteArray(ProgramDirectory), directory);
    QCOMPARE(QByteArray(SettingsFilePath), settings);
}

void tst_ProgramPaths::nullArgument()
{
    SetProgramPaths("/a/SheetDrain");
    QCOMPARE(SetProgramPaths(nullptr), -1);
    QCOMPARE(QByteArray(ProgramDirectory), QByteArray());
    QCOMPARE(QByteArray(SettingsFilePath), QByteArray());
}

QTEST_GUILESS_MAIN(tst_ProgramPaths)
#include "tst_programpaths.moc"
