#include "batchloop.h"

#include "automationnames.h"
#include "axcommitgroup.h"
#include "axobject.h"
#include "lockspin.h"

#include <QDir>
#include <QHash>
#include <QThread>
#include <QVector>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// How far the jobs may run ahead of the workbook reported last: a slow
// workbook at the head keeps at most this many finished ones waiting.
constexpr int kLookahead = 512;
// How often the reporting thread looks for a stop request while it waits.
constexpr std::chrono::milliseconds kStopPoll(50);
// With one job, a workbook at least this large is announced before it is
// converted, its earlier workbooks reported first, so that its progress
// report stands while it takes its time; smaller ones go on while the files
// before them wait to be committed.
constexpr qint64 kLargeWorkbookBytes = 1 << 20;

bool stopRequested()
{
    return QThread::currentThread()->isInterruptionRequested();
}

struct Slot
{
    bool started = false;
    bool finished = false;
    WorkbookResult result;
};

struct NameKey
{
    QString folder;
    QString base;
    QString folderKey; // the folder case-folded: names can meet only there
};

// The shared state of one run of the loop: which workbook comes next, what
// the jobs have done and not yet been reported, and the batch's name claims.
// The job side (take, markStarted, claim, finish) runs on the jobs' threads;
// the reporting side (reportHead and what calls it) on the loop's thread,
// which is also the only job's when there is one.
class LoopState final : public NameClaims
{
public:
    enum class Head { Reported, NotReady, NoApplication, Stopped };

    LoopState(const QStringList &workbooks, const BatchSetting &setting, AxCommitGroup *commits,
              const struct timespec &began, const BatchEvents &events, bool inlineJob)
        : m_workbooks(workbooks)
        , m_setting(setting)
        , m_commits(commits)
        , m_began(began)
        , m_events(events)
        , m_inline(inlineJob)
    {
    }

    int take();
    void markStarted(int index);
    void finish(int index, WorkbookResult &&result);
    QString claim(int workbook, const QString &folder, const QString &workbookFileName,
                  bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal) override;
    void halt();

    Head reportHead(bool wait);
    bool hasRoom();
    bool allReported();
    void pump();
    void reportBefore(int index);
    void reportCutShort();

    // The jobs end their work under the lock, so that what they did is seen
    // to happen before the loop goes on (a wait for a QThread alone shows no
    // order to ThreadSanitizer, which cannot look inside Qt).
    void jobEnded()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_jobsEnded;
    }
    int jobsEnded()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_jobsEnded;
    }

private:
    void settle(int index, WorkbookResult *result);
    bool isSettled(const WorkbookResult &result) const;
    void retire(int index);
    QString nextFolder(int index) const;
    bool waitsForEarlier(int workbook) const;

    const QStringList &m_workbooks;
    const BatchSetting &m_setting;
    AxCommitGroup *m_commits;
    const struct timespec m_began;
    const BatchEvents &m_events;
    const bool m_inline;
    std::mutex m_mutex;
    // The jobs wait for the head to move on (lookahead, claims); the
    // reporting thread waits for news of the head alone, so that a workbook
    // finished ahead of it wakes no one.
    std::condition_variable m_headMoved;
    std::condition_variable m_headChanged;
    int m_next = 0; // the next workbook to take
    int m_head = 0; // the next workbook to report
    bool m_announced = false; // whether `started` went out for the head
    bool m_halt = false;
    int m_jobsEnded = 0;
    std::map<int, Slot> m_slots; // taken and not yet reported
    std::map<int, NameKey> m_inFlight; // taken and not yet reported
    QHash<QString, QVector<int>> m_inFolder; // the same, by NameKey::folderKey
    OutputClaims m_claims;
};

// The next workbook for a job; -1 when there is none (or the batch halts).
// The only job makes room itself before it takes (hasRoom).
int LoopState::take()
{
    auto lock = sd::lockSoon(m_mutex);
    m_headMoved.wait(lock, [this] {
        return m_halt || m_next >= m_workbooks.size() || m_next < m_head + kLookahead;
    });
    if (m_halt || m_next >= m_workbooks.size())
        return -1;
    const int index = m_next++;
    m_slots[index];
    const QFileInfo entry(m_workbooks.at(index));
    NameKey key { OutputFolderFor(m_setting.sourceRoot, m_setting.saveRoot, entry.absolutePath()),
                  WorkbookBaseName(entry.fileName()), QString() };
    key.folderKey = key.folder.toCaseFolded();
    m_inFolder[key.folderKey].push_back(index); // in order: indexes only grow
    m_inFlight[index] = std::move(key);
    return index;
}

void LoopState::markStarted(int index)
{
    auto lock = sd::lockSoon(m_mutex);
    m_slots[index].started = true;
    const bool atHead = index == m_head;
    lock.unlock();
    if (atHead) // notified unlocked, as all notifications here
        m_headChanged.notify_one();
}

void LoopState::finish(int index, WorkbookResult &&result)
{
    auto lock = sd::lockSoon(m_mutex);
    Slot &slot = m_slots[index];
    slot.finished = true;
    slot.result = std::move(result);
    // A workbook that did not end normally ends the batch: no job takes
    // another.
    const bool halt = slot.result.end != WorkbookEnd::Done;
    m_halt = m_halt || halt;
    const bool atHead = index == m_head;
    lock.unlock();
    if (halt)
        m_headMoved.notify_all();
    if (atHead)
        m_headChanged.notify_one();
}

void LoopState::halt()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_halt = true;
    }
    m_headMoved.notify_all();
}

// A claim waits for every earlier workbook whose names could meet this
// one's: names are then given exactly as one job would give them. Such a
// workbook never waits for a later one, so the earliest workbook at work
// never waits at all; a halted batch waits for nothing. Without a commit
// group, a name that a file made since the batch began has counts as taken
// (the group tells that when it commits).
QString LoopState::claim(int workbook, const QString &folder, const QString &workbookFileName,
                         bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal)
{
    auto lock = sd::lockSoon(m_mutex);
    if (m_inline) {
        // The earlier workbooks are converted; they wait only for their
        // files' names.
        while (waitsForEarlier(workbook)) {
            lock.unlock();
            reportBefore(workbook);
            sd::lockSoon(lock);
        }
    } else {
        m_headMoved.wait(lock, [&] { return m_halt || !waitsForEarlier(workbook); });
        if (m_halt && waitsForEarlier(workbook)) {
            *refusal = NameRefusal::Stopped;
            return {};
        }
    }
    OutputClaims::TakenOnDisk takenOnDisk;
    if (!m_commits)
        takenOnDisk = [this](const QString &path) { return FileMadeSince(path, m_began); };
    return m_claims.claim(folder, workbookFileName, onlyFirstSheet, sheetName, refusal,
                          takenOnDisk);
}

bool LoopState::hasRoom()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_next < m_head + kLookahead;
}

bool LoopState::allReported()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_head >= m_workbooks.size();
}

// Reports the workbook at the head once it is ready: announced once it has
// started, reported once it is finished and its files have their names.
// With `wait`, waits for that (a while at most, for the caller to look for a
// stop request); otherwise reports only what is ready now.
LoopState::Head LoopState::reportHead(bool wait)
{
    auto lock = sd::lockSoon(m_mutex);
    for (;;) {
        if (m_head >= m_workbooks.size())
            return Head::NotReady;
        const auto it = m_slots.find(m_head);
        const bool started = it != m_slots.end() && it->second.started;
        const bool finished = it != m_slots.end() && it->second.finished;
        if (finished && it->second.result.end == WorkbookEnd::NoApplication)
            return Head::NoApplication;
        if (finished && it->second.result.end == WorkbookEnd::Stopped)
            return Head::Stopped;
        if (started && !m_announced) {
            m_announced = true;
            const int index = m_head;
            lock.unlock();
            m_events.started(index);
            sd::lockSoon(lock);
            continue;
        }
        if (finished && (wait || isSettled(it->second.result))) {
            WorkbookResult result = std::move(it->second.result);
            const int index = m_head;
            m_slots.erase(it);
            ++m_head;
            m_announced = false;
            lock.unlock();
            settle(index, &result);
            sd::lockSoon(lock);
            retire(index);
            lock.unlock();
            m_headMoved.notify_all();
            m_events.finished(index, result);
            return Head::Reported;
        }
        if (!wait || stopRequested())
            return Head::NotReady;
        m_headChanged.wait_for(lock, kStopPoll);
        return Head::NotReady;
    }
}

// Reports what is ready, without waiting.
void LoopState::pump()
{
    while (reportHead(false) == Head::Reported) { }
}

// Reports every workbook before `index`, waiting for their files' names
// (the only job converted them already).
void LoopState::reportBefore(int index)
{
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_head >= index)
                return;
        }
        // Its files are about to be waited for: no point in gathering more.
        if (m_commits)
            m_commits->commitSoon();
        const Head head = reportHead(true);
        if (head != Head::Reported && (head != Head::NotReady || stopRequested()))
            return;
    }
}

// After the jobs have ended on a stop: every workbook they started, in
// order, the finished ones in full.
void LoopState::reportCutShort()
{
    if (m_commits)
        m_commits->commitSoon();
    for (auto &[index, slot] : m_slots) {
        if (!slot.started)
            continue;
        settle(index, &slot.result);
        if (!(index == m_head && m_announced))
            m_events.started(index);
        m_events.finished(index, slot.result);
    }
    m_slots.clear();
}

bool LoopState::isSettled(const WorkbookResult &result) const
{
    for (const WorkbookResult::Pending &pending : result.pending) {
        if (!m_commits->isSettled(pending.path))
            return false;
    }
    return true;
}

// The workbook's CSV files that wait for the commit group take their names:
// a name that a running batch's file has is claimed again (the
// next free one), and a file that takes no name is taken out of the result,
// which then counts as failed, with a failure for the file.
void LoopState::settle(int index, WorkbookResult *result)
{
    const QString workbook = QDir::toNativeSeparators(m_workbooks.at(index));
    for (const WorkbookResult::Pending &pending : qAsConst(result->pending)) {
        QString path = pending.path, reason;
        AxCommitGroup::Outcome outcome = m_commits->wait(path, &reason);
        while (outcome == AxCommitGroup::Outcome::NameTaken) {
            NameRefusal refusal = NameRefusal::None;
            const QString folder = QFileInfo(QDir::fromNativeSeparators(path)).absolutePath();
            const QString next = QDir::toNativeSeparators(
                claim(index, folder, QFileInfo(workbook).fileName(), m_setting.onlyFirstSheet,
                      pending.sheetName, &refusal));
            if (next.isEmpty()) {
                reason = QStringLiteral("no free name for the CSV file");
                outcome = AxCommitGroup::Outcome::Failed;
                break;
            }
            outcome = m_commits->rename(path, next, &reason);
            result->csvFiles.replace(result->csvFiles.indexOf(path), next);
            path = next;
        }
        if (outcome == AxCommitGroup::Outcome::Failed) {
            result->failed = true;
            result->csvFiles.removeAll(path);
            result->failures.append(qMakePair(workbook, path + QStringLiteral(": ") + reason));
        }
    }
    result->pending.clear();
}

// A reported workbook's names are final: a later workbook whose names could
// meet its own may claim. The last workbook of a folder takes the folder's
// claims with it. Under the lock.
void LoopState::retire(int index)
{
    const auto self = m_inFlight.find(index);
    if (self == m_inFlight.end())
        return;
    if (index + 1 == m_workbooks.size() || nextFolder(index) != self->second.folder)
        m_claims.forgetFolder(self->second.folder);
    const auto same = m_inFolder.find(self->second.folderKey);
    if (same != m_inFolder.end()) {
        same->removeOne(index); // the first, as reports go in order
        if (same->isEmpty())
            m_inFolder.erase(same);
    }
    m_inFlight.erase(self);
}

// The output folder of the workbook after `index`: as taken, when it is.
QString LoopState::nextFolder(int index) const
{
    const auto next = m_inFlight.find(index + 1);
    return next != m_inFlight.end() ? next->second.folder
                                    : OutputFolderOf(m_setting, m_workbooks.at(index + 1));
}

bool LoopState::waitsForEarlier(int workbook) const
{
    const auto self = m_inFlight.find(workbook);
    if (self == m_inFlight.end())
        return false;
    const NameKey &key = self->second;
    const auto same = m_inFolder.constFind(key.folderKey);
    if (same == m_inFolder.constEnd())
        return false;
    for (const int other : *same) {
        if (other >= workbook)
            break;
        const NameKey &earlier = m_inFlight.at(other);
        if (OutputNamesMayMeet(earlier.folder, earlier.base, key.folder, key.base))
            return true;
    }
    return false;
}

// One workbook on the calling thread; a workbook that reaches no
// application has the application quit, as after every workbook.
WorkbookResult convertOne(LoopState *state, WorkbookConverter *converter, AxObject *app,
                          const QStringList &workbooks, int index,
                          const std::function<void()> &started)
{
    WorkbookResult result;
    if (stopRequested()) {
        result.end = WorkbookEnd::Stopped;
        return result;
    }
    result = converter->convert(index, QFileInfo(workbooks.at(index)), [&] {
        state->markStarted(index);
        if (started)
            started();
    });
    if (result.end == WorkbookEnd::NoApplication)
        app->dynamicCall(AxNames::kQuit);
    return result;
}

// A job on a thread of its own.
void runJob(LoopState *state, const QStringList &workbooks, const BatchSetting &setting,
            AxCommitGroup *commits)
{
    AxInitializeThread();
    AxObject app;
    app.setCommitGroup(commits);
    WorkbookConverter converter(&app, setting, state, commits);
    for (int index = state->take(); index >= 0; index = state->take()) {
        WorkbookResult result = convertOne(state, &converter, &app, workbooks, index, {});
        const bool goOn = result.end == WorkbookEnd::Done;
        state->finish(index, std::move(result));
        if (!goOn)
            return;
    }
    // Every workbook is handed out: at most one per other job is still to
    // come, and the batch ends once they are committed.
    if (commits)
        commits->hurry();
}

WorkbookEnd runInline(LoopState *state, const QStringList &workbooks, const BatchSetting &setting,
                      AxCommitGroup *commits)
{
    AxInitializeThread();
    AxObject app;
    app.setCommitGroup(commits);
    WorkbookConverter converter(&app, setting, state, commits);
    for (;;) {
        while (!state->hasRoom() && !stopRequested())
            state->reportHead(true);
        const int index = stopRequested() ? -1 : state->take();
        if (index < 0)
            break;
        const QString path = workbooks.at(index);
        WorkbookResult result = convertOne(state, &converter, &app, workbooks, index, [&] {
            if (QFileInfo(path).size() >= kLargeWorkbookBytes)
                state->reportBefore(index);
            state->pump();
        });
        const WorkbookEnd end = result.end;
        state->finish(index, std::move(result));
        if (end == WorkbookEnd::NoApplication) {
            state->reportBefore(index);
            return WorkbookEnd::NoApplication;
        }
        if (end == WorkbookEnd::Stopped)
            break;
        state->pump();
    }
    if (commits)
        commits->hurry();
    while (!stopRequested() && !state->allReported()) {
        if (state->reportHead(true) == LoopState::Head::Stopped)
            break;
    }
    if (!state->allReported()) {
        state->reportCutShort();
        return WorkbookEnd::Stopped;
    }
    return stopRequested() ? WorkbookEnd::Stopped : WorkbookEnd::Done;
}

// The calling thread reports until every workbook is, the application is
// missing or it is asked to stop.
WorkbookEnd collect(LoopState *state)
{
    while (!state->allReported()) {
        switch (state->reportHead(true)) {
        case LoopState::Head::Reported:
            continue;
        case LoopState::Head::NoApplication:
            return WorkbookEnd::NoApplication;
        case LoopState::Head::Stopped:
            return WorkbookEnd::Stopped;
        case LoopState::Head::NotReady:
            if (stopRequested())
                return WorkbookEnd::Stopped;
            continue;
        }
    }
    return WorkbookEnd::Done;
}

WorkbookEnd runThreads(LoopState *state, const QStringList &workbooks, int jobs,
                       const BatchSetting &setting, AxCommitGroup *commits)
{
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < jobs; ++i) {
        threads.emplace_back(QThread::create([=] {
            runJob(state, workbooks, setting, commits);
            state->jobEnded();
        }));
        threads.back()->start();
    }
    const WorkbookEnd end = collect(state);
    state->halt();
    for (const auto &thread : threads) {
        if (end != WorkbookEnd::Done)
            thread->requestInterruption();
    }
    for (const auto &thread : threads)
        thread->wait();
    const int ended = state->jobsEnded();
    Q_ASSERT(ended == int(threads.size()));
    Q_UNUSED(ended)
    if (end == WorkbookEnd::Stopped)
        state->reportCutShort();
    return end;
}

} // namespace

BatchLoop::BatchLoop(const QString &applicationId)
    : m_commits(AxRegistry::createCommitGroup(applicationId))
{
    // The clock that file change times come from (see FileMadeSince).
    ::clock_gettime(CLOCK_REALTIME_COARSE, &m_began);
}

BatchLoop::~BatchLoop() = default;

WorkbookEnd BatchLoop::run(const QStringList &workbooks, const BatchSetting &setting, int jobs,
                           const BatchEvents &events)
{
    if (workbooks.isEmpty())
        return stopRequested() ? WorkbookEnd::Stopped : WorkbookEnd::Done;
    jobs = qBound(1, jobs, int(workbooks.size()));
    LoopState state(workbooks, setting, m_commits.get(), m_began, events, jobs == 1);
    if (jobs == 1)
        return runInline(&state, workbooks, setting, m_commits.get());
    return runThreads(&state, workbooks, jobs, setting, m_commits.get());
}

void ReserveDescriptorTable()
{
    constexpr int kDescriptors = 1024;
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur < kDescriptors)
        return;
    // Taking a high descriptor grows the table; it does not shrink when the
    // descriptor is closed.
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null < 0)
        return;
    const int high = ::fcntl(null, F_DUPFD_CLOEXEC, kDescriptors - 1);
    ::close(null);
    if (high >= 0)
        ::close(high);
}

bool OutputNamesMayMeet(const QString &folderA, const QString &baseA, const QString &folderB,
                        const QString &baseB)
{
    if (folderA != folderB && folderA.compare(folderB, Qt::CaseInsensitive) != 0)
        return false;
    const QString &shorter = baseA.size() <= baseB.size() ? baseA : baseB;
    const QString &longer = baseA.size() <= baseB.size() ? baseB : baseA;
    if (!longer.startsWith(shorter, Qt::CaseInsensitive))
        return false;
    if (longer.size() == shorter.size())
        return true;
    const QChar next = longer.at(shorter.size());
    return next == QLatin1Char('(') || next == QLatin1Char(' ');
}
