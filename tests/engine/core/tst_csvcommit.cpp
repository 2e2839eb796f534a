// CSV files committed in groups: while a group is set for the thread, a
// complete file keeps its temporary name until the group has made it durable;
// then it replaces its target, and a file that cannot take its name leaves
// the target as it was and says why. Without a group, nothing changes.

#include "core/csvcommit.h"
#include "core/csvwriterfile_p.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>

#include <sys/stat.h>

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

// Writes `text` to `target` through the writer's temporary file.
sd::Error writeCsv(const QString &target, const QByteArray &text)
{
    sd::CsvTemporaryFile file(target);
    sd::Error error = file.open();
    if (!error)
        error = file.write(text.constData(), size_t(text.size()));
    if (!error)
        error = file.commit();
    return error;
}

int modeOf(const QString &path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
}

// The names in `folder` that are not the expected CSV files.
QStringList temporaryFiles(const QString &folder)
{
    return QDir(folder).entryList({ "*.tmp" }, QDir::Files | QDir::Hidden);
}

} // namespace

class TestCsvCommit : public QObject
{
    Q_OBJECT

private slots:
    void groupRenamesAfterItCommits()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath("a.csv"), b = dir.filePath("b.csv");
        QVERIFY(QFile(a).open(QIODevice::WriteOnly)); // an older, empty a.csv, private
        QVERIFY(QFile::setPermissions(a, QFile::ReadOwner | QFile::WriteOwner));
        sd::CsvCommitGroup group;
        {
            const sd::CsvCommitGroup::Scope scope(&group);
            QVERIFY(!writeCsv(a, "1,2\r\n"));
            QVERIFY(!writeCsv(b, "3,4\r\n"));
        }
        QVERIFY(group.isHandedIn(QFile::encodeName(a)));
        QVERIFY(!group.isHandedIn(QFile::encodeName(dir.filePath("c.csv"))));
        sd::Error error;
        sd::CommittedFile committed;
        QVERIFY(group.wait(QFile::encodeName(a), &error, &committed));
        // Where it lies, for the batch's records, without another lookup.
        struct stat file, folder;
        QVERIFY(::stat(QFile::encodeName(a).constData(), &file) == 0);
        QVERIFY(::stat(QFile::encodeName(dir.path()).constData(), &folder) == 0);
        QCOMPARE(committed.inode, quint64(file.st_ino));
        QCOMPARE(committed.folderInode, quint64(folder.st_ino));
        QCOMPARE(committed.device, quint64(file.st_dev));
        QVERIFY(group.wait(QFile::encodeName(b), &error));
        QCOMPARE(contentOf(a), QByteArray("1,2\r\n"));
        QCOMPARE(contentOf(b), QByteArray("3,4\r\n"));
        // The replaced file's permissions pass on; a new file gets a new file's.
        QCOMPARE(modeOf(a), 0600);
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(modeOf(b), int(0666 & ~mask));
        QCOMPARE(temporaryFiles(dir.path()), QStringList());
        QVERIFY(!group.isHandedIn(QFile::encodeName(a))); // asked for once
    }

    // A folder in the target's place: the rename fails, the folder stays, the
    // temporary file goes, and the reason reaches the one who waits.
    void fileThatCannotTakeItsName()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("x.csv");
        QVERIFY(QDir().mkpath(target + "/inside"));
        sd::CsvCommitGroup group;
        {
            const sd::CsvCommitGroup::Scope scope(&group);
            QVERIFY(!writeCsv(target, "5\r\n"));
        }
        sd::Error error;
        QVERIFY(!group.wait(QFile::encodeName(target), &error));
        QVERIFY(error);
        QVERIFY(QFileInfo(target + "/inside").isDir());
        QCOMPARE(temporaryFiles(dir.path()), QStringList());
    }

    // Writers may run a few groups ahead, but the files waiting never hold
    // more descriptors (two each) than the limit leaves to the program.
    void roomWithinDescriptorLimit()
    {
        const size_t group = sd::CsvCommitGroup::kGroupFiles;
        QCOMPARE(sd::CsvCommitGroup::maxPendingFor(std::numeric_limits<quint64>::max()), 3 * group);
        QCOMPARE(sd::CsvCommitGroup::maxPendingFor(20000), 3 * group);
        for (const quint64 limit : { 1024, 512, 300, 256, 64, 0 }) {
            const size_t room = sd::CsvCommitGroup::maxPendingFor(limit);
            QVERIFY2(room >= 8 && room <= 3 * group, qPrintable(QString::number(limit)));
            if (limit >= 256)
                QVERIFY2(2 * room + 128 <= limit, qPrintable(QString::number(limit)));
        }
        QVERIFY(sd::CsvCommitGroup::maxPending() >= 8);
    }

    // Files nobody waited for are committed when the group ends; a thread
    // without a group commits each file at once.
    void endingCommitsTheRest()
    {
        QTemporaryDir dir;
        {
            sd::CsvCommitGroup group;
            const sd::CsvCommitGroup::Scope scope(&group);
            for (int i = 0; i < int(sd::CsvCommitGroup::maxPending()) + 5; ++i)
                QVERIFY(!writeCsv(dir.filePath(QStringLiteral("f%1.csv").arg(i)), "x\r\n"));
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(),
                 int(sd::CsvCommitGroup::maxPending()) + 5);
        QCOMPARE(temporaryFiles(dir.path()), QStringList());
        QVERIFY(!sd::CsvCommitGroup::current());
        QVERIFY(!writeCsv(dir.filePath("now.csv"), "y\r\n"));
        QCOMPARE(contentOf(dir.filePath("now.csv")), QByteArray("y\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestCsvCommit)
#include "tst_csvcommit.moc"
