// Instance control: the walk over a process table laid out like /proc, and
// the real routines against real processes that this test starts under a
// name of its own (never the program's), so that only they can be signalled.

#include "instancecontrol.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>
#include <unistd.h>

#include <memory>
#include <vector>

namespace {

// The name the test's copies run under; see tests/app/CMakeLists.txt.
const QByteArray kName = SHEETDRAIN_TEST_INSTANCE_NAME;

// Our own environment block, as /proc/PID/environ holds it.
QByteArray ownEnvironment()
{
    QByteArray block;
    for (const QString &entry : QProcess::systemEnvironment())
        block += entry.toLocal8Bit() + '\0';
    return block;
}

// A /proc/PID/stat line for a process named `comm` started at `start`; the
// name holds a space and a parenthesis, as names may.
QByteArray statLine(qint64 pid, qint64 start)
{
    QByteArray line = QByteArray::number(pid) + " (Sheet) Drain) S";
    for (int field = 4; field < 22; ++field)
        line += " " + QByteArray::number(field);
    return line + " " + QByteArray::number(start) + " 123 456\n";
}

} // namespace

class tst_InstanceControl : public QObject
{
    Q_OBJECT

private slots:
    void countInTable_data();
    void countInTable();
    void unreadableTable();
    void failedSignalStillCountsAsFound();
    void oldestOtherCopy_data();
    void oldestOtherCopy();

    void realProcesses();
    void otherNamesNeverMatch();
    void otherDisplayOrUserIsLeftAlone();

private:
    using ProcessList = std::vector<std::unique_ptr<QProcess>>;
    QProcess *startCopy(ProcessList &list, const QString &name,
                        const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment(),
                        const QStringList &wrapper = {});
    static QList<qint64> pidsNamedInListingOrder(const QByteArray &name);
    static qint64 nonexistentPid();

    QTemporaryDir m_dir;
};

// One table row: entries of a fake process table, each "pid=comm" ("pid"
// alone for an entry without a comm file), optionally followed by
// "|user=other", "|env=NAME=value" (added to our own environment) or
// "|nostatus"; the name looked for; the count expected.
void tst_InstanceControl::countInTable_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("exeName");
    QTest::addColumn<int>("count");

    const QString n = QStringLiteral("SheetDrain");
    QTest::newRow("empty table") << QStringList {} << n << 0;
    QTest::newRow("one") << QStringList { "17=SheetDrain\n" } << n << 1;
    QTest::newRow("three among others")
        << QStringList { "1=systemd\n", "20=SheetDrain\n", "21=bash\n", "300=SheetDrain\n",
                         "4000=SheetDrain\n" }
        << n << 3;
    QTest::newRow("other case") << QStringList { "5=sheetdrain\n", "6=SHEETDRAIN\n" } << n << 0;
    QTest::newRow("windows name") << QStringList { "5=SheetDrain.exe\n" } << n << 0;
    QTest::newRow("prefix and suffix")
        << QStringList { "5=SheetDrai\n", "6=SheetDrainX\n", "7= SheetDrain\n" } << n << 0;
    QTest::newRow("no newline") << QStringList { "9=SheetDrain" } << n << 1;
    QTest::newRow("two newlines") << QStringList { "9=SheetDrain\n\n" } << n << 0;
    QTest::newRow("not a process")
        << QStringList { "self=SheetDrain\n", "12a=SheetDrain\n", "sys=SheetDrain\n",
                         "0=SheetDrain\n", "99999999999=SheetDrain\n" }
        << n << 0;
    QTest::newRow("process gone (no comm)") << QStringList { "44", "45=SheetDrain\n" } << n << 1;
    QTest::newRow("empty name looked for") << QStringList { "9=\n" } << QString() << 1;
    // Only our own copies on our own display count.
    QTest::newRow("another user's copy")
        << QStringList { "10=SheetDrain\n|user=other", "11=SheetDrain\n" } << n << 1;
    QTest::newRow("owner unknown") << QStringList { "10=SheetDrain\n|nostatus" } << n << 0;
    QTest::newRow("another display")
        << QStringList { "10=SheetDrain\n|env=DISPLAY=:77", "11=SheetDrain\n" } << n << 1;
    QTest::newRow("another Wayland display")
        << QStringList { "10=SheetDrain\n|env=WAYLAND_DISPLAY=wayland-9" } << n << 0;
    QTest::newRow("headless copy")
        << QStringList { "10=SheetDrain\n|env=QT_QPA_PLATFORM=minimal" } << n << 0;
    QTest::newRow("other variables do not matter")
        << QStringList { "10=SheetDrain\n|env=SHEETDRAIN_TEST_OTHER=1" } << n << 1;
}

void tst_InstanceControl::countInTable()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, exeName);
    QFETCH(int, count);

    QTemporaryDir table;
    QVERIFY(table.isValid());
    auto write = [&](const QString &name, const QByteArray &content) {
        QFile file(table.filePath(name));
        return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
    };
    for (const QString &entry : entries) {
        const QStringList parts = entry.split(QLatin1Char('|'));
        const QString dirName = parts[0].section(QLatin1Char('='), 0, 0);
        QVERIFY(QDir(table.path()).mkdir(dirName));
        if (parts[0].contains(QLatin1Char('=')))
            QVERIFY(write(dirName + "/comm", parts[0].section(QLatin1Char('='), 1).toUtf8()));
        uint user = ::getuid();
        QByteArray environment = ownEnvironment();
        bool status = true;
        for (const QString &option : parts.mid(1)) {
            if (option == QLatin1String("user=other"))
                user += 1;
            else if (option == QLatin1String("nostatus"))
                status = false;
            else if (option.startsWith(QLatin1String("env=")))
                environment = option.mid(4).toUtf8() + '\0' + environment;
        }
        if (status)
            QVERIFY(write(dirName + "/status",
                          "Name:\tx\nUmask:\t0022\nUid:\t" + QByteArray::number(user)
                              + "\t0\t0\t0\nGid:\t0\t0\t0\t0\n"));
        QVERIFY(write(dirName + "/environ", environment));
    }
    const QByteArray root = QFile::encodeName(table.path());
    const QByteArray name = exeName.toUtf8();
    const sheetdrain::InstanceScope scope = sheetdrain::currentScope();
    QCOMPARE(sheetdrain::countProcessesNamedIn(root.constData(), name.constData(), scope), count);
    QCOMPARE(sheetdrain::countProcessesNamedIn(root.constData(), nullptr, scope), 0);
}

void tst_InstanceControl::unreadableTable()
{
    const sheetdrain::InstanceScope scope = sheetdrain::currentScope();
    QCOMPARE(sheetdrain::countProcessesNamedIn("/nonexistent/proc", "SheetDrain", scope), 0);
    QCOMPARE(sheetdrain::terminateOldestOtherProcessNamedIn("/nonexistent/proc", "SheetDrain",
                                                            scope, ::getpid()),
             0);
    QCOMPARE(CountProcessesNamed(nullptr), 0);
    QCOMPARE(TerminateFirstProcessNamed(nullptr), 0);
}

qint64 tst_InstanceControl::nonexistentPid()
{
    // A process id above the kernel's limit can never exist, so kill() fails
    // on it without touching anybody.
    QFile pidMax(QStringLiteral("/proc/sys/kernel/pid_max"));
    if (!pidMax.open(QIODevice::ReadOnly))
        return 0;
    return pidMax.readAll().trimmed().toLongLong() + 1;
}

void tst_InstanceControl::failedSignalStillCountsAsFound()
{
    const qint64 pid = nonexistentPid();
    if (pid <= 1 || pid > std::numeric_limits<int>::max())
        QSKIP("cannot find a process id that is sure not to exist");
    QTemporaryDir table;
    const QString entry = table.filePath(QString::number(pid));
    QVERIFY(QDir().mkpath(entry));
    const QList<QPair<QString, QByteArray>> files
        = { { "comm", "SheetDrain\n" },
            { "stat", statLine(pid, 100) },
            { "status", "Uid:\t" + QByteArray::number(::getuid()) + "\t0\t0\t0\n" },
            { "environ", ownEnvironment() } };
    for (const auto &file : files) {
        QFile f(entry + "/" + file.first);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file.second);
    }
    const QByteArray root = QFile::encodeName(table.path());
    const sheetdrain::InstanceScope scope = sheetdrain::currentScope();
    QCOMPARE(sheetdrain::terminateOldestOtherProcessNamedIn(root.constData(), "SheetDrain", scope,
                                                            ::getpid()),
             1);
    QCOMPARE(sheetdrain::terminateOldestOtherProcessNamedIn(root.constData(), "Other", scope,
                                                            ::getpid()),
             0);
}

// Which copy a starting one closes: the oldest other one by start time,
// whatever the order of the ids (they wrap at pid_max), never itself. Each
// entry is "pid:start" ("pid:-" without a readable stat file); `self` is the
// starting copy.
void tst_InstanceControl::oldestOtherCopy_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<int>("self");
    QTest::addColumn<int>("chosen");

    QTest::newRow("new copy has the higher id") << QStringList { "100:50", "200:90" } << 200 << 100;
    QTest::newRow("ids wrapped: new copy has the lower id")
        << QStringList { "100:90", "200:50" } << 100 << 200;
    QTest::newRow("alone") << QStringList { "300:10" } << 300 << 0;
    QTest::newRow("three copies, oldest in the middle")
        << QStringList { "5:70", "6000:20", "31000:40", "7:99" } << 7 << 6000;
    QTest::newRow("same tick: the lower id") << QStringList { "9:5", "8:5", "10:6" } << 10 << 8;
    QTest::newRow("start time unreadable") << QStringList { "4:-", "5:60", "6:70" } << 6 << 5;
    QTest::newRow("only unreadable others") << QStringList { "4:-", "6:70" } << 6 << 0;
}

void tst_InstanceControl::oldestOtherCopy()
{
    QFETCH(QStringList, entries);
    QFETCH(int, self);
    QFETCH(int, chosen);

    QTemporaryDir table;
    QVERIFY(table.isValid());
    for (const QString &entry : entries) {
        const qint64 pid = entry.section(QLatin1Char(':'), 0, 0).toLongLong();
        const QString start = entry.section(QLatin1Char(':'), 1);
        const QString folder = table.filePath(QString::number(pid));
        QVERIFY(QDir().mkpath(folder));
        QList<QPair<QString, QByteArray>> files
            = { { "comm", "SheetDrain\n" },
                { "status", "Uid:\t" + QByteArray::number(::getuid()) + "\t0\t0\t0\n" },
                { "environ", ownEnvironment() } };
        if (start != QLatin1String("-"))
            files.append({ "stat", statLine(pid, start.toLongLong()) });
        for (const auto &file : files) {
            QFile f(folder + "/" + file.first);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(file.second);
        }
    }
    const QByteArray root = QFile::encodeName(table.path());
    QCOMPARE(int(sheetdrain::oldestOtherProcessNamedIn(root.constData(), "SheetDrain",
                                                       sheetdrain::currentScope(), pid_t(self))),
             chosen);
}

// Starts a copy of the sleeper under `name`, through `wrapper` (a command
// that runs the program given after it) when one is given.
QProcess *tst_InstanceControl::startCopy(ProcessList &list, const QString &name,
                                         const QProcessEnvironment &env, const QStringList &wrapper)
{
    if (!m_dir.isValid())
        return nullptr;
    const QString path = m_dir.filePath(name);
    if (!QFile::exists(path) && !QFile::copy(QStringLiteral(SHEETDRAIN_SLEEPER), path))
        return nullptr;
    QFile::setPermissions(path,
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                              | QFile::ExeOther);
    auto process = std::make_unique<QProcess>();
    process->setProcessEnvironment(env);
    if (wrapper.isEmpty())
        process->start(path, QStringList());
    else
        process->start(wrapper.first(), wrapper.mid(1) + QStringList { path });
    if (!process->waitForStarted(5000))
        return nullptr;
    list.push_back(std::move(process));
    return list.back().get();
}

// The processes named `name`, in the order in which /proc lists them.
QList<qint64> tst_InstanceControl::pidsNamedInListingOrder(const QByteArray &name)
{
    QList<qint64> pids;
    QDirIterator it(QStringLiteral("/proc"), QDir::Dirs | QDir::NoDotAndDotDot);
    while (it.hasNext()) {
        it.next();
        bool ok = false;
        const qint64 pid = it.fileName().toLongLong(&ok);
        if (!ok)
            continue;
        QFile comm(it.filePath() + QStringLiteral("/comm"));
        if (comm.open(QIODevice::ReadOnly) && comm.readAll() == name + '\n')
            pids << pid;
    }
    return pids;
}

void tst_InstanceControl::realProcesses()
{
    QCOMPARE(CountProcessesNamed(kName), 0);
    QVERIFY(m_dir.isValid());

    ProcessList started;
    QList<qint64> ours;
    for (int i = 0; i < 3; ++i) {
        QProcess *p = startCopy(started, QString::fromLatin1(kName));
        QVERIFY(p);
        ours << p->processId();
    }
    QCOMPARE(CountProcessesNamed(kName), 3);

    // Each call ends exactly one process: the oldest, whatever /proc's order.
    for (int remaining = 3; remaining > 0; --remaining) {
        const QList<qint64> listed = pidsNamedInListingOrder(kName);
        QCOMPARE(listed.size(), remaining);
        for (qint64 pid : listed)
            QVERIFY2(ours.contains(pid), "a foreign process took the test's name");
        QCOMPARE(TerminateFirstProcessNamed(kName), 1);

        QProcess *victim = started[size_t(3 - remaining)].get();
        QVERIFY(victim->waitForFinished(5000));
        QCOMPARE(victim->exitStatus(), QProcess::CrashExit); // ended by SIGTERM
        for (auto &p : started) {
            if (p.get() != victim && listed.contains(p->processId()))
                QCOMPARE(p->state(), QProcess::Running);
        }
        QCOMPARE(CountProcessesNamed(kName), remaining - 1);
    }
    QCOMPARE(TerminateFirstProcessNamed(kName), 0);
}

void tst_InstanceControl::otherNamesNeverMatch()
{
    ProcessList started;
    const QString name = QString::fromLatin1(kName);
    for (const QString &other :
         { name.toUpper(), name + ".exe", name + "2", name.left(1).toUpper() + name.mid(1) })
        QVERIFY(startCopy(started, other));

    QCOMPARE(CountProcessesNamed(kName), 0);
    QCOMPARE(TerminateFirstProcessNamed(kName), 0);
    QTest::qWait(100);
    for (auto &p : started)
        QCOMPARE(p->state(), QProcess::Running);
    // Each is found under its own name, so the walk did see them.
    QCOMPARE(CountProcessesNamed((name + ".exe").toLatin1().constData()), 1);
    QCOMPARE(CountProcessesNamed(name.toUpper().toLatin1().constData()), 1);

    for (auto &p : started) {
        p->kill();
        p->waitForFinished(5000);
    }
}

// A copy on another display, and, when the test may start processes as
// another user, a copy of another user, are neither counted nor signalled.
void tst_InstanceControl::otherDisplayOrUserIsLeftAlone()
{
    ProcessList started;
    const QString name = QString::fromLatin1(kName);
    // Another user must reach the copy of the sleeper.
    QVERIFY(QFile::setPermissions(m_dir.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                      | QFile::ReadOther | QFile::ExeOther));
    QProcessEnvironment otherDisplay = QProcessEnvironment::systemEnvironment();
    otherDisplay.insert(QStringLiteral("DISPLAY"), QStringLiteral(":4711"));
    QVERIFY(startCopy(started, name, otherDisplay));
    const bool otherUser = ::geteuid() == 0 && QFile::exists(QStringLiteral("/usr/bin/setpriv"));
    if (otherUser) {
        QVERIFY(
            startCopy(started, name, QProcessEnvironment::systemEnvironment(),
                      { "/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups" }));
    }
    QTRY_COMPARE(pidsNamedInListingOrder(kName).size(), int(started.size()));

    QCOMPARE(CountProcessesNamed(kName), 0);
    QCOMPARE(TerminateFirstProcessNamed(kName), 0);
    QTest::qWait(100);
    for (auto &p : started)
        QCOMPARE(p->state(), QProcess::Running);

    // Our own copy on our display is still found among them.
    QVERIFY(startCopy(started, name));
    QCOMPARE(CountProcessesNamed(kName), 1);
    for (auto &p : started) {
        ::kill(pid_t(p->processId()), SIGKILL);
        p->waitForFinished(5000);
    }
    if (!otherUser)
        qInfo("another user's copy needs the superuser and setpriv; only the other display was "
              "tried");
}

QTEST_GUILESS_MAIN(tst_InstanceControl)
#include "tst_instancecontrol.moc"
