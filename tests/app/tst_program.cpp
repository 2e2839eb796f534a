// The program as a whole, started as a process: a second copy leaves exactly
// one running, and SIGTERM, SIGINT and SIGHUP end a running copy cleanly with
// exit code 0. Runs copies of a test build of the program from a temporary
// folder, so the settings file beside them is the test's own; that build
// looks for copies under a name of its own (tests/app/CMakeLists.txt), so
// nothing here can see or close a copy of the program that someone uses.

#include "instancecontrol.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <signal.h>

#include <memory>

namespace {
const QByteArray kName = SHEETDRAIN_TEST_INSTANCE_NAME;
const QByteArray kSettings("SourcePath=/nowhere/in/\r\nSavePath=/nowhere/out/\r\nSaveAsUTF8=y\r\n");
}

class tst_Program : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void quitSignalsEndCleanly_data();
    void quitSignalsEndCleanly();
    void secondCopyLeavesOne();
    void settingsFoundFromPath();

private:
    std::unique_ptr<QProcess> start();
    static bool catchesSigterm(qint64 pid);
    static bool waitUntilReady(QProcess &p);

    QTemporaryDir m_dir;
    QString m_program;
};

void tst_Program::initTestCase()
{
    // The copies run headless; instance control compares this process's
    // display with theirs.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QVERIFY(m_dir.isValid());
    m_program = m_dir.filePath(QString::fromLatin1(kName));
    QVERIFY(QFile::copy(QStringLiteral(SHEETDRAIN_PROGRAM), m_program));
    QFile ktz(m_dir.filePath(QStringLiteral("SheetDrain.ktz")));
    QVERIFY(ktz.open(QIODevice::WriteOnly));
    ktz.write(kSettings);
}

std::unique_ptr<QProcess> tst_Program::start()
{
    auto p = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    p->setProcessEnvironment(env);
    p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p->start(m_program, QStringList());
    if (!p->waitForStarted(5000))
        return nullptr;
    return p;
}

// Whether the process has its quit-signal handler in place (the SigCgt mask
// of /proc/PID/status names the signals that a process catches).
bool tst_Program::catchesSigterm(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            return ok && (mask & (1ULL << (SIGTERM - 1)));
        }
    }
    return false;
}

bool tst_Program::waitUntilReady(QProcess &p)
{
    QDeadlineTimer deadline(15000);
    while (!deadline.hasExpired()) {
        if (p.state() != QProcess::Running)
            return false;
        if (catchesSigterm(p.processId()))
            return true;
        QTest::qWait(20);
    }
    return false;
}

void tst_Program::quitSignalsEndCleanly_data()
{
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("SIGTERM") << int(SIGTERM);
    QTest::newRow("SIGINT") << int(SIGINT);
    QTest::newRow("SIGHUP") << int(SIGHUP);
}

void tst_Program::quitSignalsEndCleanly()
{
    QFETCH(int, signalNumber);
    QCOMPARE(CountProcessesNamed(kName), 0);
    auto p = start();
    QVERIFY(p);
    QVERIFY(waitUntilReady(*p));
    QCOMPARE(::kill(static_cast<pid_t>(p->processId()), signalNumber), 0);
    QVERIFY(p->waitForFinished(15000));
    QCOMPARE(p->exitStatus(), QProcess::NormalExit);
    QCOMPARE(p->exitCode(), 0);
    // Starting and leaving write no settings.
    QFile ktz(m_dir.filePath(QStringLiteral("SheetDrain.ktz")));
    QVERIFY(ktz.open(QIODevice::ReadOnly));
    QCOMPARE(ktz.readAll(), kSettings);
}

void tst_Program::secondCopyLeavesOne()
{
    QCOMPARE(CountProcessesNamed(kName), 0);
    auto first = start();
    QVERIFY(first);
    QVERIFY(waitUntilReady(*first));

    auto second = start();
    QVERIFY(second);
    // The second copy tells the first one that /proc lists to go: normally
    // the older copy, which then leaves cleanly; if process ids have wrapped
    // round it is the new copy, which then ends before it shows a window.
    QDeadlineTimer deadline(15000);
    while (first->state() == QProcess::Running && second->state() == QProcess::Running
           && !deadline.hasExpired())
        QTest::qWait(20);
    QTest::qWait(300);
    const bool firstRuns = first->state() == QProcess::Running;
    const bool secondRuns = second->state() == QProcess::Running;
    QVERIFY2(firstRuns != secondRuns, "exactly one copy must be left");
    QCOMPARE(CountProcessesNamed(kName), 1);

    QProcess *gone = firstRuns ? second.get() : first.get();
    QProcess *left = firstRuns ? first.get() : second.get();
    if (gone == first.get()) {
        QCOMPARE(gone->exitStatus(), QProcess::NormalExit);
        QCOMPARE(gone->exitCode(), 0);
    }
    QVERIFY(waitUntilReady(*left));
    QCOMPARE(::kill(static_cast<pid_t>(left->processId()), SIGTERM), 0);
    QVERIFY(left->waitForFinished(15000));
    QCOMPARE(left->exitCode(), 0);
}

// Started by name through PATH from another folder, the program finds the
// settings file beside its executable; as that one is read-only (a system
// install), it makes the user's own copy under $XDG_CONFIG_HOME.
void tst_Program::settingsFoundFromPath()
{
    QTemporaryDir dir;
    const QString bin = dir.filePath(QStringLiteral("bin"));
    const QString elsewhere = dir.filePath(QStringLiteral("elsewhere"));
    const QString config = dir.filePath(QStringLiteral("config"));
    QVERIFY(QDir().mkpath(bin) && QDir().mkpath(elsewhere) && QDir().mkpath(config));
    QVERIFY(QFile::copy(m_program, bin + QLatin1Char('/') + QString::fromLatin1(kName)));
    QFile ktz(bin + QStringLiteral("/SheetDrain.ktz"));
    QVERIFY(ktz.open(QIODevice::WriteOnly));
    ktz.write(kSettings);
    ktz.close();
    QVERIFY(ktz.setPermissions(QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), bin + QStringLiteral(":/usr/bin:/bin"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(elsewhere);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // The shell starts it the way a user does: by its bare name.
    p.start(QStringLiteral("/bin/sh"),
            { QStringLiteral("-c"), QStringLiteral("exec ") + QString::fromLatin1(kName) });
    QVERIFY(p.waitForStarted(5000));
    QVERIFY(waitUntilReady(p));
    QCOMPARE(::kill(static_cast<pid_t>(p.processId()), SIGTERM), 0);
    QVERIFY(p.waitForFinished(15000));
    QCOMPARE(p.exitCode(), 0);

    QFile user(config + QStringLiteral("/SheetDrain/SheetDrain.ktz"));
    QVERIFY2(user.open(QIODevice::ReadOnly), "no per-user settings file was made");
    QCOMPARE(user.readAll(), kSettings);
    QVERIFY(QDir(elsewhere).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

QTEST_GUILESS_MAIN(tst_Program)
#include "tst_program.moc"
