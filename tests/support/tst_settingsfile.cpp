#include "settingsfile.h"
#include "settingsfile_p.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const char Crlf[] = "\r\n";

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes, mode_t mode = 0644)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        return false;
    file.close();
    return ::chmod(QFile::encodeName(path).constData(), mode) == 0;
}

// What a folder holds: no temporary file may be left behind by any write.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

int setValue(const QString &path, const char *key, const QByteArray &value)
{
    return SetSettingsValue(QFile::encodeName(path).constData(), key, value.constData());
}

// Write seams: each stands for a disk that fills up in its own way.
// Unmounts when the test ends, before its QTemporaryDir is removed.
class MountGuard
{
public:
    explicit MountGuard(const QString &point)
        : m_point(QFile::encodeName(point))
    {
    }
    ~MountGuard()
    {
        if (m_mounted)
            umount2(m_point.constData(), MNT_DETACH);
    }
    bool mount(const char *options)
    {
        m_mounted = ::mount("tmpfs", m_point.constData(), "tmpfs", 0, options) == 0;
        return m_mounted;
    }
    bool remountReadOnly()
    {
        return ::mount(nullptr, m_point.constData(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray m_point;
    bool m_mounted = false;
};

int g_writeCalls = 0;
ssize_t failAtOnce(int, const void *, size_t)
{
    errno = ENOSPC;
    return -1;
}
ssize_t shortThenFail(int fd, const void *data, size_t size)
{
    if (++g_writeCalls > 1) {
        errno = ENOSPC;
        return -1;
    }
    return ::write(fd, data, qMin<size_t>(size, 3));
}
ssize_t writesNothing(int, const void *, size_t)
{
    return 0;
}
ssize_t twoBytesAtATime(int fd, const void *data, size_t size)
{
    return ::write(fd, data, qMin<size_t>(size, 2));
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void getValue_data();
    void getValue();
    void compose_data();
    void compose();
    void workedExample();
    void load_data();
    void load();
    void setRefused_data();
    void setRefused();
    void setKeepsPermissionsAndFollowsLinks();
    void nonAsciiRoundTrip();
    void asOrdinaryUser_data();
    void asOrdinaryUser();
    void readOnlyMount();
    void fullDisk();
    void failedWrite_data();
    void failedWrite();
    void cleanup();

private:
    bool m_privateMounts = false;
};

void TestSettingsFile::initTestCase()
{
    // Mount tests get a mount namespace of their own, so that nothing they
    // mount is seen outside this process or outlives it.
    m_privateMounts = geteuid() == 0 && unshare(CLONE_NEWNS) == 0
        && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

void TestSettingsFile::cleanup()
{
    SetSettingsWriteFunction(nullptr);
}

void TestSettingsFile::getValue_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<int>("valueSize");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");

    const QByteArray four(
        "SourcePath=/in/\r\nSavePath=/out/\r\nOnlyFirstSheet=n\r\nSaveAsUTF8=y\r\n");
    QTest::newRow("first line") << four << QByteArray("SourcePath") << 1024 << QByteArray("/in/")
                                << 1;
    QTest::newRow("last line") << four << QByteArray("SaveAsUTF8") << 1024 << QByteArray("y") << 1;
    QTest::newRow("absent key") << four << QByteArray("Other") << 1024 << QByteArray() << -1;
    QTest::newRow("empty text") << QByteArray() << QByteArray("SavePath") << 1024 << QByteArray()
                                << -1;
    QTest::newRow("keys are case-sensitive")
        << four << QByteArray("savepath") << 1024 << QByteArray() << -1;
    QTest::newRow("first of two wins")
        << QByteArray("K=1\r\nK=2\r\n") << QByteArray("K") << 1024 << QByteArray("1") << 1;
    QTest::newRow("blanks around the value")
        << QByteArray("SaveAsUTF8=  y  \r\n") << QByteArray("SaveAsUTF8") << 1024 << QByteArray("y")
        << 1;
    QTest::newRow("tabs around the value, inner blanks kept")
        << QByteArray("K=\t a b \t\r\n") << QByteArray("K") << 1024 << QByteArray("a b") << 1;
    QTest::newRow("blank before = is another key")
        << QByteArray("SaveAsUTF8 =y\r\n") << QByteArray("SaveAsUTF8") << 1024 << QByteArray()
        << -1;
    QTest::newRow("blanks before the key on the first line")
        << QByteArray(" \tK=v\r\n") << QByteArray("K") << 1024 << QByteArray("v") << 1;
    QTest::newRow("empty value") << QByteArray("K=\r\n") << QByteArray("K") << 1024 << QByteArray()
                                 << 1;
    QTest::newRow("value of blanks only")
        << QByteArray("K=   \r\n") << QByteArray("K") << 1024 << QByteArray() << 1;
    QTest::newRow("last line without CR LF")
        << QByteArray("A=1\r\nK=v") << QByteArray("K") << 1024 << QByteArray() << -1;
    QTest::newRow("LF only, no CR LF further on")
        << QByteArray("K=1\nA=2\n") << QByteArray("K") << 1024 << QByteArray() << -1;
    QTest::newRow("LF only, CR LF further on")
        << QByteArray("K=1\nA=2\r\n") << QByteArray("K") << 1024 << QByteArray("1\nA=2") << 1;
    QTest::newRow("text ends at its first NUL")
        << QByteArray("A=1\r\n\0K=2\r\n", 11) << QByteArray("K") << 1024 << QByteArray() << -1;
    QTest::newRow("non-ASCII value")
        << QByteArray("SavePath=/home/\xe5\xbc\xa0/\xe8\xa1\xa8/\r\n") << QByteArray("SavePath")
        << 1024 << QByteArray("/home/\xe5\xbc\xa0/\xe8\xa1\xa8/") << 1;
    const QByteArray value1023(1023, 'v');
    QTest::newRow("value of 1023 bytes fits")
        << "K=" + value1023 + Crlf << QByteArray("K") << 1024 << value1023 << 1;
    QTest::newRow("blanks do not count against the size")
        << "K=  " + value1023 + "  " + Crlf << QByteArray("K") << 1024 << value1023 << 1;
    QTest::newRow("value of 1024 bytes refused")
        << "K=" + value1023 + "v" + Crlf << QByteArray("K") << 1024 << QByteArray() << -1;
    QTest::newRow("key of 1023 bytes refused")
        << QByteArray(1023, 'k') + "=v\r\n"
        << QByteArray(1023, 'k') << 1024 << QByteArray() << -1;
}

void TestSettingsFile::getValue()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, key);
    QFETCH(int, valueSize);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    QByteArray value(valueSize + 16, 'z');
    QCOMPARE(GetSettingsValue(value.data(), size_t(valueSize), text.constData(), key.constData()),
             result);
    QCOMPARE(QByteArray(value.constData()), expected);
    QCOMPARE(value.mid(valueSize), QByteArray(16, 'z'));
}

void TestSettingsFile::compose_data()
{
    QTest::addColumn<QByteArray>("oldText");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<int>("result");

    QTest::newRow("empty text") << QByteArray() << QByteArray("K") << QByteArray("v")
                                << QByteArray("K=v\r\n") << 0;
    QTest::newRow("new key on top") << QByteArray("A=1\r\nB=2\r\n") << QByteArray("C")
                                    << QByteArray("3") << QByteArray("C=3\r\nA=1\r\nB=2\r\n") << 0;
    QTest::newRow("replaced where it stands")
        << QByteArray("A=1\r\nK=old\r\nB=2\r\n") << QByteArray("K") << QByteArray("new")
        << QByteArray("A=1\r\nK=new\r\nB=2\r\n") << 0;
    QTest::newRow("first of two replaced, second kept")
        << QByteArray("K=1\r\nX=0\r\nK=2\r\n") << QByteArray("K") << QByteArray("9")
        << QByteArray("K=9\r\nX=0\r\nK=2\r\n") << 0;
    QTest::newRow("last line without CR LF completed")
        << QByteArray("A=1\r\nK=old") << QByteArray("K") << QByteArray("new")
        << QByteArray("A=1\r\nK=new\r\n") << 0;
    QTest::newRow("blanks at both ends of the text dropped")
        << QByteArray(" \tA=1\r\n\t ") << QByteArray("B") << QByteArray("2")
        << QByteArray("B=2\r\nA=1\r\n") << 0;
    QTest::newRow("inner blanks kept byte for byte")
        << QByteArray("A=1\r\n  B = 2 \r\nC=3") << QByteArray("A") << QByteArray("x")
        << QByteArray("A=x\r\n  B = 2 \r\nC=3") << 0;
    QTest::newRow("blank before = is not the key")
        << QByteArray("K =old\r\n") << QByteArray("K") << QByteArray("new")
        << QByteArray("K=new\r\nK =old\r\n") << 0;
    QTest::newRow("unknown lines carried through")
        << QByteArray("# note\r\nZ\r\n") << QByteArray("K") << QByteArray("v")
        << QByteArray("K=v\r\n# note\r\nZ\r\n") << 0;
    QTest::newRow("key found inside a longer key")
        << QByteArray("XK=1\r\nK=2\r\n") << QByteArray("K") << QByteArray("9")
        << QByteArray("XK=9\r\nK=2\r\n") << 0;
    QTest::newRow("LF-only lines after the key kept")
        << QByteArray("A=1\nK=2\nB=3\n") << QByteArray("K") << QByteArray("9")
        << QByteArray("A=1\nK=9\r\nB=3\n") << 0;
    QTest::newRow("empty value") << QByteArray("K=v\r\n") << QByteArray("K") << QByteArray()
                                 << QByteArray("K=\r\n") << 0;
    QTest::newRow("value holding CR LF refused")
        << QByteArray("A=1\r\n") << QByteArray("SourcePath") << QByteArray("/a\r\nSaveAsUTF8=y/")
        << QByteArray() << -1;
    QTest::newRow("lone CR and LF in a value kept")
        << QByteArray() << QByteArray("K") << QByteArray("a\rb\nc") << QByteArray("K=a\rb\nc\r\n")
        << 0;

    // A text the next load would refuse is never made: 20479 bytes at most.
    const QByteArray big = "A=" + QByteArray(20000, 'a') + Crlf;
    QTest::newRow("new text of 20479 bytes") << big << QByteArray("B") << QByteArray(471, 'b')
                                             << "B=" + QByteArray(471, 'b') + Crlf + big << 0;
    QTest::newRow("new text of 20480 bytes refused")
        << big << QByteArray("B") << QByteArray(472, 'b') << QByteArray() << -1;
    QTest::newRow("old text over the limit refused")
        << QByteArray(20480, 'x') << QByteArray("B") << QByteArray("1") << QByteArray() << -1;
}

void TestSettingsFile::compose()
{
    QFETCH(QByteArray, oldText);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, expected);
    QFETCH(int, result);

    QByteArray out(int(SettingsTextSize) + 16, 'z');
    QCOMPARE(ComposeSettingsText(out.data(), SettingsTextSize, oldText.constData(), key.constData(),
                                 value.constData()),
             result);
    QCOMPARE(QByteArray(out.constData()), expected);
    QCOMPARE(out.mid(int(SettingsTextSize)), QByteArray(16, 'z'));
}

// The four steps of a first session, starting from the empty file that
// packaging leaves beside the program.
void TestSettingsFile::workedExample()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SheetDrain.ktz");
    QVERIFY(writeAll(path, QByteArray()));

    QCOMPARE(setValue(path, "SourcePath", "D:\\in\\"), 0);
    QCOMPARE(readAll(path), QByteArray("SourcePath=D:\\in\\\r\n"));

    QCOMPARE(setValue(path, "SavePath", "E:\\out\\"), 0);
    QCOMPARE(readAll(path), QByteArray("SavePath=E:\\out\\\r\nSourcePath=D:\\in\\\r\n"));

    QCOMPARE(setValue(path, "OnlyFirstSheet", "y"), 0);
    QCOMPARE(setValue(path, "SaveAsUTF8", "n"), 0);
    QCOMPARE(readAll(path),
             QByteArray("SaveAsUTF8=n\r\nOnlyFirstSheet=y\r\nSavePath=E:\\out\\\r\n"
                        "SourcePath=D:\\in\\\r\n"));

    QCOMPARE(setValue(path, "SourcePath", "F:\\x\\"), 0);
    QCOMPARE(readAll(path),
             QByteArray("SaveAsUTF8=n\r\nOnlyFirstSheet=y\r\nSavePath=E:\\out\\\r\n"
                        "SourcePath=F:\\x\\\r\n"));
    QCOMPARE(entries(dir.path()), QStringList { "SheetDrain.ktz" });

    char text[SettingsTextSize] = {};
    QCOMPARE(LoadSettingsText(text, sizeof text, QFile::encodeName(path).constData()), 0);
    char value[1024];
    QCOMPARE(GetSettingsValue(value, sizeof value, text, "SourcePath"), 1);
    QCOMPARE(QByteArray(value), QByteArray("F:\\x\\"));
    QCOMPARE(GetSettingsValue(value, sizeof value, text, "SaveAsUTF8"), 1);
    QCOMPARE(QByteArray(value), QByteArray("n"));
}

void TestSettingsFile::load_data()
{
    QTest::addColumn<QString>("kind"); // file, missing or folder
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("textSize");
    QTest::addColumn<int>("result");

    QTest::newRow("missing") << "missing" << QByteArray() << 20480 << -1;
    QTest::newRow("a folder") << "folder" << QByteArray() << 20480 << -1;
    QTest::newRow("empty") << "file" << QByteArray() << 20480 << 0;
    QTest::newRow("lines") << "file" << QByteArray("A=1\r\nB=2\r\n") << 20480 << 0;
    QTest::newRow("20479 bytes") << "file" << QByteArray(20479, 'x') << 20480 << 0;
    QTest::newRow("20480 bytes refused") << "file" << QByteArray(20480, 'x') << 20480 << -1;
    QTest::newRow("much longer refused") << "file" << QByteArray(100000, 'x') << 20480 << -1;
    QTest::newRow("fills a smaller buffer") << "file" << QByteArray("A=1\r\n") << 6 << 0;
    QTest::newRow("too long for a smaller buffer") << "file" << QByteArray("A=12\r\n") << 6 << -1;
    QTest::newRow("ends at a NUL") << "file" << QByteArray("A=1\r\n\0B=2\r\n", 11) << 20480 << 0;
}

void TestSettingsFile::load()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, textSize);
    QFETCH(int, result);

    QTemporaryDir dir;
    const QString path = dir.filePath("SheetDrain.ktz");
    if (kind == "file")
        QVERIFY(writeAll(path, content));
    else if (kind == "folder")
        QVERIFY(QDir(dir.path()).mkdir("SheetDrain.ktz"));

    QByteArray text(textSize + 16, '\0');
    QCOMPARE(LoadSettingsText(text.data(), size_t(textSize), QFile::encodeName(path).constData()),
             result);
    // The text ends at the file's first NUL byte.
    const QByteArray expected = result == 0 ? QByteArray(content.constData()) : QByteArray();
    QCOMPARE(QByteArray(text.constData()), expected);
    // A refused file leaves the buffer as zero-filled as it was.
    QCOMPARE(text.mid(expected.size()), QByteArray(text.size() - expected.size(), '\0'));
    if (kind == "missing")
        QVERIFY(!QFile::exists(path));
}

void TestSettingsFile::setRefused_data()
{
    QTest::addColumn<QString>("kind"); // file, missing, folder, dangling link
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("value");

    const QByteArray lines("SavePath=/out/\r\nSourcePath=/in/\r\n");
    QTest::newRow("missing file is not created")
        << "missing" << QByteArray() << 0644 << QByteArray("/x/");
    QTest::newRow("a folder") << "folder" << QByteArray() << 0755 << QByteArray("/x/");
    QTest::newRow("a dangling link")
        << "dangling link" << QByteArray() << 0644 << QByteArray("/x/");
    // The superuser may write any file, but a file that carries no write
    // permission for anyone counts as read-only here too.
    QTest::newRow("read-only file") << "file" << lines << 0444 << QByteArray("/x/");
    QTest::newRow("file over 20479 bytes")
        << "file"
        << "SourcePath=/in/\r\n" + QByteArray(20480, 'x') << 0644 << QByteArray("/x/");
    QTest::newRow("result over 20479 bytes")
        << "file" << QByteArray(20470, 'x') << 0644 << QByteArray("/x/");
    // Rewriting would lose everything after the NUL.
    QTest::newRow("file holding a NUL")
        << "file" << QByteArray("SavePath=/out/\r\n\0SourcePath=/in/\r\n", 34) << 0644
        << QByteArray("/x/");
    QTest::newRow("value holding CR LF")
        << "file" << lines << 0644 << QByteArray("/x/\r\nSaveAsUTF8=y");
}

void TestSettingsFile::setRefused()
{
    QFETCH(QString, kind);
    QFETCH(QByteArray, content);
    QFETCH(int, mode);
    QFETCH(QByteArray, value);

    QTemporaryDir dir;
    const QString path = dir.filePath("SheetDrain.ktz");
    if (kind == "file")
        QVERIFY(writeAll(path, content, mode_t(mode)));
    else if (kind == "folder")
        QVERIFY(QDir(dir.path()).mkdir("SheetDrain.ktz"));
    else if (kind == "dangling link")
        QVERIFY(QFile::link(dir.filePath("gone"), path));
    const QStringList before = entries(dir.path());

    QCOMPARE(setValue(path, "SourcePath", value), -1);
    QCOMPARE(entries(dir.path()), before);
    if (kind == "file") {
        QCOMPARE(readAll(path), content);
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
    }
}

void TestSettingsFile::setKeepsPermissionsAndFollowsLinks()
{
    QTemporaryDir dir;
    const QString target = dir.filePath("real.ktz");
    const QString link = dir.filePath("SheetDrain.ktz");
    QVERIFY(writeAll(target, "A=1\r\n", 0620));
    QVERIFY(QFile::link(target, link));

    QCOMPARE(setValue(link, "SavePath", "/out/"), 0);
    QCOMPARE(readAll(target), QByteArray("SavePath=/out/\r\nA=1\r\n"));
    QVERIFY(QFileInfo(link).isSymLink());
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &st), 0);
    QCOMPARE(st.st_mode & 07777, mode_t(0620));
    QCOMPARE(entries(dir.path()), (QStringList { "SheetDrain.ktz", "real.ktz" }));
}

void TestSettingsFile::nonAsciiRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("SheetDrain.ktz");
    QVERIFY(writeAll(path, "SaveAsUTF8=n\r\n"));
    // UTF-8 Chinese folder names and bytes that are no valid UTF-8 at all.
    const QByteArray values[]
        = { QByteArray("/home/\xe5\xbc\xa0\xe4\xb8\x89/\xe8\xa1\xa8\xe6\xa0\xbc/"),
            QByteArray("/data/\xb1\xed\xb8\xf1\xff\x80/") };
    for (const QByteArray &value : values) {
        QCOMPARE(setValue(path, "SourcePath", value), 0);
        char text[SettingsTextSize] = {};
        QCOMPARE(LoadSettingsText(text, sizeof text, QFile::encodeName(path).constData()), 0);
        char read[1024];
        QCOMPARE(GetSettingsValue(read, sizeof read, text, "SourcePath"), 1);
        QCOMPARE(QByteArray(read), value);
    }
    QCOMPARE(readAll(path), "SourcePath=" + values[1] + "\r\nSaveAsUTF8=n\r\n");
}

// Without the superuser's privileges, the permissions decide: a read-only
// file, or a file in a folder where the replacement cannot be made, stays as
// it is. Runs in a child that drops to the nobody account.
void TestSettingsFile::asOrdinaryUser_data()
{
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode");
    QTest::addColumn<int>("result");

    QTest::newRow("writable file and folder") << 0777 << 0666 << 0;
    QTest::newRow("read-only file") << 0777 << 0444 << -1;
    QTest::newRow("read-only folder") << 0555 << 0666 << -1;
}

void TestSettingsFile::asOrdinaryUser()
{
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    QFETCH(int, result);

    QTemporaryDir dir;
    const QString path = dir.filePath("SheetDrain.ktz");
    const QByteArray old("SourcePath=/in/\r\n");
    QVERIFY(writeAll(path, old, mode_t(fileMode)));
    QCOMPARE(::chmod(QFile::encodeName(dir.path()).constData(), mode_t(folderMode)), 0);
    const QByteArray encoded = QFile::encodeName(path);

    int got;
    if (geteuid() != 0) {
        got = SetSettingsValue(encoded.constData(), "SavePath", "/out/");
    } else {
        const pid_t child = fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            if (setgid(65534) != 0 || setuid(65534) != 0)
                _exit(100);
            _exit(SetSettingsValue(encoded.constData(), "SavePath", "/out/") + 1);
        }
        int status = 0;
        QCOMPARE(waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QVERIFY2(WEXITSTATUS(status) != 100, "could not become nobody");
        got = WEXITSTATUS(status) - 1;
    }
    ::chmod(QFile::encodeName(dir.path()).constData(), 0700);
    QCOMPARE(got, result);
    QCOMPARE(readAll(path), result == 0 ? "SavePath=/out/\r\n" + old : old);
    QCOMPARE(entries(dir.path()), QStringList { "SheetDrain.ktz" });
}

void TestSettingsFile::readOnlyMount()
{
    if (!m_privateMounts)
        QSKIP("needs the superuser and a private mount namespace to mount a file system");
    QTemporaryDir dir;
    MountGuard tmpfs(dir.path());
    QVERIFY(tmpfs.mount("size=64k"));
    const QString path = dir.filePath("SheetDrain.ktz");
    const QByteArray old("SourcePath=/in/\r\n");
    QVERIFY(writeAll(path, old, 0666));
    QVERIFY(tmpfs.remountReadOnly());

    QCOMPARE(setValue(path, "SavePath", "/out/"), -1);
    QCOMPARE(readAll(path), old);
}

// A disk too full for the new text: the old file must survive whole.
void TestSettingsFile::fullDisk()
{
    if (!m_privateMounts)
        QSKIP("needs the superuser and a private mount namespace to mount a small tmpfs");
    QTemporaryDir dir;
    MountGuard tmpfs(dir.path());
    QVERIFY(tmpfs.mount("size=16k"));
    const QString path = dir.filePath("SheetDrain.ktz");
    const QByteArray old("SavePath=/out/\r\nSourcePath=/in/\r\n");
    QVERIFY(writeAll(path, old));

    // Fill the rest of the file system.
    QFile filler(dir.filePath("filler"));
    QVERIFY(filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    const QByteArray block(4096, 'f');
    while (filler.write(block) > 0) { }
    filler.close();

    QCOMPARE(setValue(path, "SourcePath", "/a/longer/folder/than/before/"), -1);
    QCOMPARE(readAll(path), old);
    QCOMPARE(entries(dir.path()), (QStringList { "SheetDrain.ktz", "filler" }));
}

void TestSettingsFile::failedWrite_data()
{
    QTest::addColumn<void *>("write");
    QTest::addColumn<int>("result");

    QTest::newRow("no space at once") << reinterpret_cast<void *>(&failAtOnce) << -1;
    QTest::newRow("short write, then no space") << reinterpret_cast<void *>(&shortThenFail) << -1;
    QTest::newRow("write makes no progress") << reinterpret_cast<void *>(&writesNothing) << -1;
    QTest::newRow("short writes are carried on") << reinterpret_cast<void *>(&twoBytesAtATime) << 0;
}

void TestSettingsFile::failedWrite()
{
    QFETCH(void *, write);
    QFETCH(int, result);

    QTemporaryDir dir;
    const QString path = dir.filePath("SheetDrain.ktz");
    const QByteArray old("SavePath=/out/\r\nSourcePath=/in/\r\n");
    QVERIFY(writeAll(path, old));
    g_writeCalls = 0;
    SetSettingsWriteFunction(reinterpret_cast<SettingsWriteFunction>(write));

    QCOMPARE(setValue(path, "SourcePath", "/new/"), result);
    QCOMPARE(readAll(path),
             result == 0 ? QByteArray("SavePath=/out/\r\nSourcePath=/new/\r\n") : old);
    QCOMPARE(entries(dir.path()), QStringList { "SheetDrain.ktz" });
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
