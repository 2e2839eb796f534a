#include "parallelbatch.h"

#include "axobject.h"

#include "core/csvcommit.h"
#include "io/lockspin.h"

#include <QDir>
#include <QHash>
#include <QThread>
#include <QVector>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// How far the job threads may run ahead of the workbook reported last: a
// slow workbook at the head keeps at most this many finished ones waiting.
constexpr int kLookahead = 512;
// How often the calling thread looks for a stop request while it waits.
constexpr std::chrono::milliseconds kStopPoll(50);

struct Slot
{
    bool started = false;
    bool finished = false;
    WorkbookReport report;
};

struct NameKey
{
    QString folder;
    QString base;
    QString folderKey; // the folder case-folded: names can meet only there
};

// The shared state of one parallel batch: which workbook comes next, what
// the job threads have done and not yet been reported, and the batch's
// name claims.
class Dispatch final : public NameClaims
{
public:
    Dispatch(const QStringList &workbooks, const BatchSetting &setting)
        : m_workbooks(workbooks)
        , m_setting(setting)
    {
    }

    sd::CsvCommitGroup commits;

    // The next workbook for a job thread; -1 when there is none (or the
    // batch halts).
    int take()
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
        NameKey key { OutputFolderFor(m_setting.sourceRoot, m_setting.saveRoot,
                                      entry.absolutePath()),
                      WorkbookBaseName(entry.fileName()), QString() };
        key.folderKey = key.folder.toCaseFolded();
        m_inFolder[key.folderKey].push_back(index); // in order: indexes only grow
        m_inFlight[index] = std::move(key);
        return index;
    }

    void markStarted(int index)
    {
        auto lock = sd::lockSoon(m_mutex);
        m_slots[index].started = true;
        const bool atHead = index == m_head;
        lock.unlock();
        if (atHead) // notified unlocked, as all notifications here
            m_headChanged.notify_one();
    }

    void finish(int index, WorkbookReport &&report)
    {
        auto lock = sd::lockSoon(m_mutex);
        Slot &slot = m_slots[index];
        slot.finished = true;
        slot.report = std::move(report);
        const bool atHead = index == m_head;
        lock.unlock();
        if (atHead)
            m_headChanged.notify_one();
    }

    // A claim waits for every earlier workbook whose names could meet this
    // one's: names are then given exactly as one thread would give them.
    // Such a workbook never waits for a later one, so the earliest workbook
    // at work never waits at all.
    QString claim(int workbook, const QString &folder, const QString &workbookFileName,
                  bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal) override
    {
        // The first choice is nearly always free. It is made, and the disk
        // asked about it, without the lock, which a lookup there could hold
        // for a disk's time: once no earlier workbook is in the way, no other
        // workbook can claim or write a name that could meet this one's
        // until this one is reported.
        const QString first = OutputClaims::firstChoice(folder, workbookFileName, onlyFirstSheet,
                                                        sheetName, refusal);
        if (first.isEmpty())
            return {};
        auto lock = sd::lockSoon(m_mutex);
        m_headMoved.wait(lock, [&] { return !waitsForEarlier(workbook); });
        lock.unlock();
        // The name itself is looked up only where a file this batch wrote
        // could have it (another spelling on a file system that ignores
        // letter case, or a folder reached through a link): a new name is
        // not in the folder's cache, and its lookup waited for the folder's
        // blocks whenever they were being written to disk.
        OutputClaims::FileId folderId, onDisk;
        QString folded;
        const bool folderExists = OutputClaims::placeOf(first, &folderId, &folded);
        sd::lockSoon(lock);
        bool exists = false;
        if (folderExists && m_claims.mayHaveWritten(folderId, folded)) {
            lock.unlock();
            exists = OutputClaims::identityOf(first, &onDisk);
            sd::lockSoon(lock);
        }
        if (m_claims.claimIfFree(folder, first, exists ? &onDisk : nullptr))
            return first;
        return m_claims.claim(folder, workbookFileName, onlyFirstSheet, sheetName, refusal);
    }

    void recordWritten(int, const QString &path, const sd::CommittedFile *committed) override
    {
        OutputClaims::Written written;
        if (!OutputClaims::probeWritten(path, &written, committed))
            return;
        auto lock = sd::lockSoon(m_mutex);
        m_claims.recordProbed(written);
    }

    // The job threads end their work under the lock, so that what they did
    // is seen to happen before the batch goes on (a wait for a QThread alone
    // shows no order to ThreadSanitizer, which cannot look inside Qt).
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

    void halt()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_halt = true;
        }
        m_headMoved.notify_all();
    }

    WorkbookResult::End collect(const ParallelEvents &events);
    void reportCutShort(const ParallelEvents &events);
    void settle(int index, WorkbookReport *report);

private:
    // The output folder of the workbook after `index`: as taken, when it is.
    QString nextFolder(int index) const
    {
        const auto next = m_inFlight.find(index + 1);
        return next != m_inFlight.end() ? next->second.folder
                                        : OutputFolderOf(m_setting, m_workbooks.at(index + 1));
    }

    bool waitsForEarlier(int workbook) const
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

    const QStringList &m_workbooks;
    const BatchSetting &m_setting;
    std::mutex m_mutex;
    // The job threads wait for the head to move on (lookahead, claims); the
    // calling thread waits for news of the head alone, so that a workbook
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

// Reports the workbooks in order as they allow, until all are reported, the
// application is missing or the calling thread is asked to stop.
WorkbookResult::End Dispatch::collect(const ParallelEvents &events)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_head < m_workbooks.size()) {
        const auto it = m_slots.find(m_head);
        if (it != m_slots.end() && it->second.finished
            && it->second.report.result.end == WorkbookResult::NoApplication)
            return WorkbookResult::NoApplication;
        if (it != m_slots.end() && it->second.started && !m_announced) {
            m_announced = true;
            lock.unlock();
            events.started(m_head);
            sd::lockSoon(lock);
            continue;
        }
        if (it != m_slots.end() && it->second.finished) {
            WorkbookReport report = std::move(it->second.report);
            const int index = m_head;
            m_slots.erase(it);
            ++m_head;
            m_announced = false;
            lock.unlock();
            settle(index, &report);
            sd::lockSoon(lock);
            // Its names are final now: a later workbook whose names could
            // meet its own may claim. The last workbook of a folder takes the
            // folder's claims with it.
            const auto self = m_inFlight.find(index);
            if (self != m_inFlight.end()) {
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
            lock.unlock();
            m_headMoved.notify_all();
            events.finished(index, report);
            sd::lockSoon(lock);
            continue;
        }
        if (QThread::currentThread()->isInterruptionRequested())
            return WorkbookResult::Stopped;
        m_headChanged.wait_for(lock, kStopPoll);
    }
    return WorkbookResult::Done;
}

// After the job threads have ended on a stop: every workbook they started,
// in order, the finished ones in full.
void Dispatch::reportCutShort(const ParallelEvents &events)
{
    for (auto &[index, slot] : m_slots) {
        if (!slot.started)
            continue;
        settle(index, &slot.report);
        if (!(index == m_head && m_announced))
            events.started(index);
        events.finished(index, slot.report);
    }
    m_slots.clear();
}

// The workbook's CSV files that wait for the commit group take their names.
void Dispatch::settle(int index, WorkbookReport *report)
{
    WorkbookConverter::settle(&report->result, QDir::toNativeSeparators(m_workbooks.at(index)),
                              index, &commits, this,
                              [report](const QString &path, const QString &reason) {
                                  report->failures.append(qMakePair(path, reason));
                              });
}

void runJob(Dispatch *dispatch, const QStringList &workbooks, const BatchSetting &setting)
{
    AxInitializeThread();
    AxObject app;
    const sd::CsvCommitGroup::Scope commitScope(&dispatch->commits);
    WorkbookConverter converter(&app, setting, dispatch, &dispatch->commits);
    for (int index = dispatch->take(); index >= 0; index = dispatch->take()) {
        WorkbookReport report;
        if (QThread::currentThread()->isInterruptionRequested()) {
            report.result.end = WorkbookResult::Stopped;
        } else {
            report.result = converter.convert(
                index, QFileInfo(workbooks.at(index)),
                [dispatch, index] { dispatch->markStarted(index); },
                [&report](const QString &path, const QString &reason) {
                    report.failures.append(qMakePair(path, reason));
                });
        }
        const bool goOn = report.result.end == WorkbookResult::Done;
        dispatch->finish(index, std::move(report));
        if (!goOn)
            return;
    }
    // Every workbook is handed out: at most one per other job is still to
    // come, and the batch ends once they are committed.
    dispatch->commits.hurry();
}

} // namespace

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

WorkbookResult::End ConvertInParallel(const QStringList &workbooks, const BatchSetting &setting,
                                      int jobs, const ParallelEvents &events)
{
    Dispatch dispatch(workbooks, setting);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < qMax(jobs, 1); ++i) {
        threads.emplace_back(QThread::create([&dispatch, &workbooks, &setting] {
            runJob(&dispatch, workbooks, setting);
            dispatch.jobEnded();
        }));
        threads.back()->start();
    }
    const WorkbookResult::End end = dispatch.collect(events);
    dispatch.halt();
    for (const auto &thread : threads) {
        if (end != WorkbookResult::Done)
            thread->requestInterruption();
    }
    for (const auto &thread : threads)
        thread->wait();
    const int ended = dispatch.jobsEnded();
    Q_ASSERT(ended == int(threads.size()));
    Q_UNUSED(ended)
    if (end == WorkbookResult::Stopped)
        dispatch.reportCutShort(events);
    return end;
}
