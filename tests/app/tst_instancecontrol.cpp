// Instance control: the walk over a process table laid out like /proc, and
// the real routines against real processes started by this test under the
// program's name. Only processes that this test started are ever signalled:
// before each termination the test makes sure every match is its own.

#include "instancecontrol.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

class tst_InstanceControl : public QObject
{
    Q_OBJECT

private slots:
    void countInTable_data();
    void countInTable();
    void unreadableTable();
    void failedSignalStillCountsAsFound();

    void realProcesses();
    void otherNamesNeverMatch();

private:
    using ProcessList = std::vector<std::unique_ptr<QProcess>>;
    QProcess *startCopy(ProcessList &list, const QString &name);
    static QList<qint64> pidsNamedInListingOrder(const QByteArray &name);
    static qint64 nonexistentPid();

    QTemporaryDir m_dir;
};

// One table row: entries of a fake process table as "name=comm" ("name" alone
// for an entry without a comm file), the name looked for, the count expected.
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
}

void tst_InstanceControl::countInTable()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, exeName);
    QFETCH(int, count);

    QTemporaryDir table;
    QVERIFY(table.isValid());
    for (const QString &entry : entries) {
        const QString dirName = entry.section(QLatin1Char('='), 0, 0);
        QVERIFY(QDir(table.path()).mkdir(dirName));
        if (!entry.contains(QLatin1Char('=')))
            continue;
        QFile comm(table.filePath(dirName + QStringLiteral("/comm")));
        QVERIFY(comm.open(QIODevice::WriteOnly));
        comm.write(entry.section(QLatin1Char('='), 1).toUtf8());
    }
    const QByteArray root = QFile::encodeName(table.path());
    const QByteArray name = exeName.toUtf8();
    QCOMPARE(sheetdrain::countProcessesNamedIn(root.constData(), name.constData()), count);
    QCOMPARE(sheetdrain::countProcessesNamedIn(root.constData(), nullptr), 0);
}

void tst_InstanceControl::unreadableTable()
{
    QCOMPARE(sheetdrain::countProcessesNamedIn("/nonexistent/proc", "SheetDrain"), 0);
    QCOMPARE(sheetdrain::terminateFirstProcessNamedIn("/nonexistent/proc", "SheetDrain"), 0);
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
    QVERIFY(QDir(table.path()).mkpath(QString::number(pid)));
    QFile comm(table.filePath(QString::number(pid) + QStringLiteral("/comm")));
    QVERIFY(comm.open(QIODevice::WriteOnly));
    comm.write("SheetDrain\n");
    comm.close();
    const QByteArray root = QFile::encodeName(table.path());
    QCOMPARE(sheetdrain::terminateFirstProcessNamedIn(root.constData(), "SheetDrain"), 1);
    QCOMPARE(sheetdrain::terminateFirstProcessNamedIn(root.constData(), "Other"), 0);
}

QProcess *tst_InstanceControl::startCopy(ProcessList &list, const QString &name)
{
    if (!m_dir.isValid())
        return nullptr;
    const QString path = m_dir.filePath(name);
    if (!QFile::exists(path) && !QFile::copy(QStringLiteral(SHEETDRAIN_SLEEPER), path))
        return nullptr;
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    auto process = std::make_unique<QProcess>();
    process->start(path, QStringList());
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
    if (CountProcessesNamed(kProgramExeName) != 0)
        QSKIP("a SheetDrain process not started by this test is running");
    QVERIFY(m_dir.isValid());

    ProcessList started;
    QList<qint64> ours;
    for (int i = 0; i < 3; ++i) {
        QProcess *p = startCopy(started, QStringLiteral("SheetDrain"));
        QVERIFY(p);
        ours << p->processId();
    }
    QCOMPARE(CountProcessesNamed(kProgramExeName), 3);

    // Each call ends exactly one process: the first that /proc lists.
    for (int remaining = 3; remaining > 0; --remaining) {
        const QList<qint64> listed = pidsNamedInListingOrder(kProgramExeName);
        QCOMPARE(listed.size(), remaining);
        for (qint64 pid : listed)
            QVERIFY2(ours.contains(pid), "a foreign SheetDrain process appeared");
        QCOMPARE(TerminateFirstProcessNamed(kProgramExeName), 1);

        QProcess *victim = nullptr;
        for (auto &p : started) {
            if (p->processId() == listed.first())
                victim = p.get();
        }
        QVERIFY(victim);
        QVERIFY(victim->waitForFinished(5000));
        QCOMPARE(victim->exitStatus(), QProcess::CrashExit); // ended by SIGTERM
        for (auto &p : started) {
            if (p.get() != victim && listed.contains(p->processId()))
                QCOMPARE(p->state(), QProcess::Running);
        }
        QCOMPARE(CountProcessesNamed(kProgramExeName), remaining - 1);
    }
    QCOMPARE(TerminateFirstProcessNamed(kProgramExeName), 0);
}

void tst_InstanceControl::otherNamesNeverMatch()
{
    if (CountProcessesNamed(kProgramExeName) != 0)
        QSKIP("a SheetDrain process not started by this test is running");
    ProcessList started;
    for (const char *name : { "sheetdrain", "SHEETDRAIN", "SheetDrain.exe", "SheetDrain2" })
        QVERIFY(startCopy(started, QString::fromLatin1(name)));

    QCOMPARE(CountProcessesNamed(kProgramExeName), 0);
    QCOMPARE(TerminateFirstProcessNamed(kProgramExeName), 0);
    QTest::qWait(100);
    for (auto &p : started)
        QCOMPARE(p->state(), QProcess::Running);
    // Each is found under its own name, so the walk did see them.
    QCOMPARE(CountProcessesNamed("sheetdrain"), 1);
    QCOMPARE(CountProcessesNamed("SheetDrain.exe"), 1);

    for (auto &p : started) {
        p->kill();
        p->waitForFinished(5000);
    }
}

QTEST_GUILESS_MAIN(tst_InstanceControl)
#include "tst_instancecontrol.moc"
