// Where the program looks for its settings file: the directory of the path
// it was started by (up to the last '/') or of the running executable, then
// "SheetDrain.ktz"; and the per-user file that stands in for one beside the
// program that cannot be written.

#include "programpaths.h"
#include "settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

class TestProgramPaths : public QObject
{
    Q_OBJECT

private slots:
    void setProgramPaths_data();
    void setProgramPaths();
    void nullArgument();
    void fromExecutable();
    void chooseSettingsFile_data();
    void chooseSettingsFile();
    void userConfigHome();
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

// Started by name from PATH, argv[0] holds no folder; the executable's real
// location says where the program lies.
void TestProgramPaths::fromExecutable()
{
    const QByteArray expected = QFile::encodeName(QCoreApplication::applicationDirPath()) + "/";
    for (const char *argv0 : { "tst_programpaths", "/elsewhere/tst_programpaths" }) {
        QCOMPARE(SetProgramPathsFromExecutable(argv0), 0);
        QCOMPARE(QByteArray(ProgramDirectory), expected);
        QCOMPARE(QByteArray(SettingsFilePath), expected + "SheetDrain.ktz");
    }
}

namespace {

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

bool writeFile(const QString &path, const QByteArray &content, int mode)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode_t(mode)) == 0;
}

} // namespace

// The file beside the program is used when it can be written; otherwise the
// per-user one, made from it the first time. A mode of 0 means "no file".
void TestProgramPaths::chooseSettingsFile_data()
{
    QTest::addColumn<int>("besideMode");
    QTest::addColumn<QByteArray>("besideText");
    QTest::addColumn<QByteArray>("userText"); // empty: no per-user file yet
    QTest::addColumn<bool>("moved");
    QTest::addColumn<QByteArray>("expectedUserText"); // "<missing>": none made

    const QByteArray lines("SourcePath=/in/\r\nSavePath=/out/\r\n");
    QTest::newRow("writable beside the program")
        << 0644 << lines << QByteArray() << false << QByteArray("<missing>");
    QTest::newRow("read-only, first start") << 0444 << lines << QByteArray() << true << lines;
    QTest::newRow("read-only, per-user file there")
        << 0444 << lines << QByteArray("SaveAsUTF8=y\r\n") << true
        << QByteArray("SaveAsUTF8=y\r\n");
    // A program copied or built without a settings file beside it: the
    // per-user file, made at the first write.
    QTest::newRow("none beside, none per-user")
        << 0 << QByteArray() << QByteArray() << true << QByteArray("<missing>");
    QTest::newRow("none beside, per-user file there")
        << 0 << QByteArray() << QByteArray("A=1\r\n") << true << QByteArray("A=1\r\n");
    // Never rewritten, so the settings go on in the per-user file.
    QTest::newRow("beside holds a NUL") << 0644 << QByteArray("A=1\r\n\0B=2\r\n", 11)
                                        << QByteArray() << true << QByteArray("A=1\r\n");
}

void TestProgramPaths::chooseSettingsFile()
{
    QFETCH(int, besideMode);
    QFETCH(QByteArray, besideText);
    QFETCH(QByteArray, userText);
    QFETCH(bool, moved);
    QFETCH(QByteArray, expectedUserText);

    QTemporaryDir dir;
    const QString program = dir.filePath("bin/SheetDrain");
    const QString beside = dir.filePath("bin/SheetDrain.ktz");
    const QString config = dir.filePath("config");
    const QString user = config + "/SheetDrain/SheetDrain.ktz";
    QVERIFY(QDir().mkpath(dir.filePath("bin")));
    if (besideMode)
        QVERIFY(writeFile(beside, besideText, besideMode));
    if (!userText.isEmpty()) {
        QVERIFY(QDir().mkpath(config + "/SheetDrain"));
        QVERIFY(writeFile(user, userText, 0600));
    }

    QCOMPARE(SetProgramPaths(QFile::encodeName(program).constData()), 0);
    QCOMPARE(ChooseSettingsFile(QFile::encodeName(config).constData()), moved ? 1 : 0);
    QCOMPARE(QFile::decodeName(SettingsFilePath), moved ? user : beside);
    QCOMPARE(readAll(user), expectedUserText);
    if (besideMode)
        QCOMPARE(readAll(beside), besideText); // never touched
    if (moved && userText.isEmpty()) {
        QCOMPARE(CreateChosenSettingsFile(), 0);
        QCOMPARE(QFileInfo(user).permissions() & 0x0077, QFile::Permissions());
        // The per-user file takes the settings from now on.
        QCOMPARE(SetSettingsValue(SettingsFilePath, "SavePath", "/x/"), 0);
        QVERIFY(readAll(user).contains("SavePath=/x/\r\n"));
    }
}

void TestProgramPaths::userConfigHome()
{
    const QByteArray xdg = qgetenv("XDG_CONFIG_HOME"), home = qgetenv("HOME");
    char out[1024];
    qputenv("XDG_CONFIG_HOME", "relative/config"); // not absolute: ignored
    qputenv("HOME", "/home/u");
    QCOMPARE(UserConfigHome(out, sizeof out), 0);
    QCOMPARE(QByteArray(out), QByteArray("/home/u/.config"));
    qputenv("XDG_CONFIG_HOME", "/xdg/config");
    QCOMPARE(UserConfigHome(out, sizeof out), 0);
    QCOMPARE(QByteArray(out), QByteArray("/xdg/config"));
    qputenv("XDG_CONFIG_HOME", xdg);
    qputenv("HOME", home);
}

QTEST_GUILESS_MAIN(TestProgramPaths)
#include "tst_programpaths.moc"
