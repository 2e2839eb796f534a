// The folder walk on trees that used to take minutes or never end: a chain
// of folders deeper than any path, a stop request part-way, and links that
// fan out level after level. Order and link cycles are covered by tst_mergeobject.

#include "folderwalk.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Makes `depth` nested folders "d" below `root` and an empty file `name`
// in the folders at the given depths (1 = root/d). Works below PATH_MAX,
// where paths no longer can: each level is reached from the one above.
bool makeChain(const QString &root, int depth, const QList<int> &fileDepths, const char *name)
{
    int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (int level = 1; fd >= 0 && level <= depth; ++level) {
        if (::mkdirat(fd, "d", 0755) != 0) {
            ::close(fd);
            return false;
        }
        const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::close(fd);
        fd = next;
        if (fd >= 0 && fileDepths.contains(level)) {
            const int file = ::openat(fd, name, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
            if (file < 0) {
                ::close(fd);
                return false;
            }
            ::close(file);
        }
    }
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

// Removes such a chain from the bottom, each folder through the one above
// it (paths would be too long): one descriptor a level, so the limit on open
// files is raised for the while.
void removeChain(const QString &root, int depth, const char *name)
{
    rlimit files;
    getrlimit(RLIMIT_NOFILE, &files);
    const rlimit saved = files;
    files.rlim_cur = std::min<rlim_t>(files.rlim_max, rlim_t(depth) + 64);
    setrlimit(RLIMIT_NOFILE, &files);
    std::vector<int> fds;
    fds.push_back(::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    while (fds.back() >= 0)
        fds.push_back(::openat(fds.back(), "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    fds.pop_back();
    // A folder is empty once its file and the folder below it are gone.
    for (size_t i = fds.size(); i-- > 0;) {
        ::unlinkat(fds[i], name, 0);
        ::unlinkat(fds[i], "d", AT_REMOVEDIR);
        ::close(fds[i]);
    }
    setrlimit(RLIMIT_NOFILE, &saved);
}

} // namespace

class TestFolderWalk : public QObject
{
    Q_OBJECT

private slots:
    void deepChain();
    void stopPartWay();
    void linksThatFanOut();
};

// Deeper than the longest path (PATH_MAX, 4,096 bytes) of two-byte levels;
// bench/bounds.sh walks 4,000 levels. (Removing each level of a deep chain
// costs the file system time in proportion to its depth.)
constexpr int kDepth = 2100;

void TestFolderWalk::deepChain()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.filePath("tree");
    QVERIFY(QDir().mkpath(root));
    QVERIFY(makeChain(root, kDepth, { 1, 50, kDepth }, "x.xlsx"));
    int asked = 0;
    bool stopped = true;
    const QFileInfoList files = WalkFolderTree(
        root,
        [&] {
            ++asked;
            return false;
        },
        &stopped);
    removeChain(root, kDepth, "x.xlsx");
    QVERIFY(!stopped);
    // The file at the bottom lies past the longest path the system
    // opens: like any folder that cannot be read, that part contributes
    // nothing. Each folder that could be read was asked about once.
    QCOMPARE(files.size(), 2);
    QCOMPARE(files[0].absoluteFilePath(), root + "/d/x.xlsx");
    QCOMPARE(files[1].absoluteFilePath(), root + QString("/d").repeated(50) + "/x.xlsx");
    QVERIFY2(asked > 1000 && asked <= kDepth + 1, qPrintable(QString::number(asked)));
}

void TestFolderWalk::stopPartWay()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (int i = 0; i < 40; ++i) {
        const QString folder = dir.filePath(QString("f%1").arg(i, 2, 10, QChar('0')));
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + "/a.xlsx");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QFileInfoList all = WalkFolderTree(dir.path());
    QCOMPARE(all.size(), 40);

    // Asked before every folder: the walk ends at the first yes, with what
    // it found before.
    int asked = 0;
    bool stopped = false;
    const QFileInfoList part = WalkFolderTree(
        dir.path(), [&] { return ++asked > 10; }, &stopped);
    QVERIFY(stopped);
    QCOMPARE(asked, 11);
    QCOMPARE(part.size(), 9); // the root and nine folders were walked
    for (int i = 0; i < part.size(); ++i)
        QCOMPARE(part[i].absoluteFilePath(), all[i].absoluteFilePath());
}

void TestFolderWalk::linksThatFanOut()
{
    // L0 .. L14, each with a file and two links to the next: 2^14 paths
    // lead to the last one.
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const int levels = 15;
    for (int i = 0; i < levels; ++i) {
        const QString folder = dir.filePath(QString("L%1").arg(i));
        QVERIFY(QDir().mkpath(folder));
        QFile file(folder + "/a.xlsx");
        QVERIFY(file.open(QIODevice::WriteOnly));
        if (i + 1 < levels) {
            QVERIFY(QFile::link(dir.filePath(QString("L%1").arg(i + 1)), folder + "/x"));
            QVERIFY(QFile::link(dir.filePath(QString("L%1").arg(i + 1)), folder + "/y"));
        }
    }
    const QFileInfoList files = WalkFolderTree(dir.filePath("L0"));
    // Each folder is walked at most kMaxFolderVisits times.
    QVERIFY2(files.size() <= levels * kMaxFolderVisits, qPrintable(QString::number(files.size())));
    QCOMPARE(files.first().absoluteFilePath(), dir.filePath("L0/a.xlsx"));
    QCOMPARE(files[1].absoluteFilePath(), dir.filePath("L0/x/a.xlsx"));
    QVERIFY(files.last().absoluteFilePath().endsWith("/y/a.xlsx"));
}

QTEST_GUILESS_MAIN(TestFolderWalk)
#include "tst_folderwalk.moc"
