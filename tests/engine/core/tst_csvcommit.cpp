// CSV files committed in groups: while a group is set for the thread, a
// complete file stays unnamed (or under its temporary name) until the group
// has made it durable; then it replaces an earlier run's file, waits for
// another name where a running batch's file has the target's name (another
// run's, side by side), and a file that cannot take its name leaves the
// target as it was and says why. Without a group, nothing changes.

#include "core/csvcommit.h"
#include "core/csvwriterfile_p.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <limits>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Lets the coarse clock of change times pass a tick: what was made before
// is an earlier run's to the groups made after.
void nextClockTick()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
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
        nextClockTick();
        sd::CsvCommitGroup group;
        {
            const sd::CsvCommitGroup::Scope scope(&group);
            QVERIFY(!writeCsv(a, "1,2\r\n"));
            QVERIFY(!writeCsv(b, "3,4\r\n"));
        }
        QVERIFY(group.isHandedIn(QFile::encodeName(a)));
        QVERIFY(!group.isHandedIn(QFile::encodeName(dir.filePath("c.csv"))));
        sd::Error error;
        QCOMPARE(group.wait(QFile::encodeName(a), &error), sd::CommitOutcome::Named);
        QCOMPARE(group.wait(QFile::encodeName(b), &error), sd::CommitOutcome::Named);
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
        QCOMPARE(group.wait(QFile::encodeName(target), &error), sd::CommitOutcome::Failed);
        QVERIFY(error);
        QVERIFY(QFileInfo(target + "/inside").isDir());
        QCOMPARE(temporaryFiles(dir.path()), QStringList());
    }

    // Two groups side by side (two runs into one folder): the first to
    // commit takes the name, the other's file waits for another one, and
    // neither replaces the other's file; a file nobody renames goes with its
    // group. Once a group has ended, its files are an earlier run's, which
    // a group begun later replaces; a file that was there before any group,
    // too.
    void groupsSideBySide()
    {
        QTemporaryDir dir;
        const QString x = dir.filePath("x.csv"), y = dir.filePath("y.csv");
        QVERIFY(writeFile(y, "earlier run\r\n"));
        nextClockTick();
        sd::Error error;
        {
            sd::CsvCommitGroup first, second;
            {
                const sd::CsvCommitGroup::Scope scope(&first);
                QVERIFY(!writeCsv(x, "first\r\n"));
                QVERIFY(!writeCsv(y, "first y\r\n"));
            }
            QCOMPARE(first.wait(QFile::encodeName(x), &error), sd::CommitOutcome::Named);
            QCOMPARE(first.wait(QFile::encodeName(y), &error), sd::CommitOutcome::Named);
            {
                const sd::CsvCommitGroup::Scope scope(&second);
                QVERIFY(!writeCsv(x, "second\r\n"));
                QVERIFY(!writeCsv(y, "second y\r\n"));
            }
            QCOMPARE(second.wait(QFile::encodeName(x), &error), sd::CommitOutcome::NameTaken);
            QCOMPARE(second.wait(QFile::encodeName(y), &error), sd::CommitOutcome::NameTaken);
            QCOMPARE(contentOf(x), QByteArray("first\r\n"));
            QCOMPARE(contentOf(y), QByteArray("first y\r\n"));
            const QString x2 = dir.filePath("x (2).csv");
            QCOMPARE(second.rename(QFile::encodeName(x), QFile::encodeName(x2), &error),
                     sd::CommitOutcome::Named);
            QCOMPARE(contentOf(x2), QByteArray("second\r\n"));
            // Asked for a name that is taken too, it waits again.
            QCOMPARE(second.rename(QFile::encodeName(y), QFile::encodeName(x), &error),
                     sd::CommitOutcome::NameTaken);
            QCOMPARE(contentOf(x), QByteArray("first\r\n"));
            // Another spelling of a name a running batch gave (a second link
            // stands in for a file system that ignores letter case) stays.
            const QString alias = dir.filePath("X (2).csv");
            {
                const sd::CsvCommitGroup::Scope scope(&first);
                QVERIFY(!writeCsv(alias, "first again\r\n"));
            }
            QCOMPARE(
                ::link(QFile::encodeName(x2).constData(), QFile::encodeName(alias).constData()), 0);
            QCOMPARE(first.wait(QFile::encodeName(alias), &error), sd::CommitOutcome::NameTaken);
            QCOMPARE(contentOf(alias), QByteArray("second\r\n"));
        }
        QStringList files = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        files.sort();
        QCOMPARE(files, QStringList({ "X (2).csv", "x (2).csv", "x.csv", "y.csv" }));
        nextClockTick();
        sd::CsvCommitGroup third;
        {
            const sd::CsvCommitGroup::Scope scope(&third);
            QVERIFY(!writeCsv(x, "third\r\n"));
        }
        QCOMPARE(third.wait(QFile::encodeName(x), &error), sd::CommitOutcome::Named);
        QCOMPARE(contentOf(x), QByteArray("third\r\n"));
    }

    // How a group names a file, unnamed (O_TMPFILE) or under a temporary
    // name, against what has the name: nothing, an earlier run's file
    // (replaced, its permissions passed on), a file whose name a running
    // batch holds (left alone), or a folder (the naming fails, the folder
    // stays).
    void nameUnlessTaken_data()
    {
        QTest::addColumn<bool>("unnamed");
        QTest::addColumn<QString>("inTheWay"); // "", "earlier", "held", "folder"
        QTest::addColumn<bool>("taken");
        QTest::addColumn<bool>("fails");
        QTest::addColumn<QByteArray>("content");
        for (const bool unnamed : { true, false }) {
            const char *kind = unnamed ? "unnamed" : "temporary name";
            QTest::addRow("%s, free name", kind)
                << unnamed << "" << false << false << QByteArray("new");
            QTest::addRow("%s, earlier run's file", kind)
                << unnamed << "earlier" << false << false << QByteArray("new");
            QTest::addRow("%s, file of a running batch", kind)
                << unnamed << "held" << true << false << QByteArray("held");
            QTest::addRow("%s, folder", kind)
                << unnamed << "folder" << false << true << QByteArray("<none>");
        }
    }

    void nameUnlessTaken()
    {
        QFETCH(bool, unnamed);
        QFETCH(QString, inTheWay);
        QFETCH(bool, taken);
        QFETCH(bool, fails);
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString target = dir.filePath("t.csv");
        const QByteArray folderPath = QFile::encodeName(dir.path());
        // Another batch's hold on the name, through a descriptor of its own.
        const int other = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(other >= 0);
        if (inTheWay == "earlier" || inTheWay == "held") {
            QVERIFY(writeFile(target, inTheWay.toLatin1()));
            QVERIFY(QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner));
        } else if (inTheWay == "folder") {
            QVERIFY(QDir().mkpath(target + "/inside"));
        }
        const quint64 hash = sd::csvNameHash("T.CSV"); // folded: the same name
        QCOMPARE(hash, sd::csvNameHash("t.csv"));
        if (inTheWay == "held")
            QVERIFY(sd::holdCsvName(other, hash));
        const int folder = ::open(folderPath.constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(folder >= 0);
        QCOMPARE(sd::csvNameHeldElsewhere(folder, hash), inTheWay == "held");
        QByteArray tempName;
        int fd = -1;
        if (unnamed) {
            fd = ::openat(folder, ".", O_TMPFILE | O_WRONLY, 0666);
            if (fd < 0)
                QSKIP("no O_TMPFILE here");
        } else {
            tempName = sd::csvTemporaryName("t.csv");
            fd = ::openat(folder, tempName.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        }
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "new", 3), ssize_t(3));
        bool wasTaken = false;
        const int err = sd::nameUnlessTaken(
            folder, fd, tempName, "t.csv",
            [&](const struct stat &) { return sd::csvNameHeldElsewhere(folder, hash); }, &wasTaken);
        QCOMPARE(err != 0, fails);
        QCOMPARE(wasTaken, taken);
        if (inTheWay == "folder")
            QVERIFY(QFileInfo(target + "/inside").isDir());
        else
            QCOMPARE(contentOf(target), content);
        if (inTheWay == "earlier")
            QCOMPARE(modeOf(target), 0600);
        if (!tempName.isEmpty() && (taken || fails))
            ::unlinkat(folder, tempName.constData(), 0);
        ::close(fd);
        ::close(folder);
        sd::releaseCsvName(other, hash);
        ::close(other);
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
