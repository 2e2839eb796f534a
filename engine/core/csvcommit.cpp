#include "core/csvcommit.h"
#include "core/csvwriterfile_p.h"
#include "lockspin.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sd {

namespace {

// How long the group gathers files after the first one came before it
// commits them.
constexpr std::chrono::milliseconds kGather(20);
// Groups smaller than this are flushed file by file (see commitAll).
constexpr size_t kFewFiles = 4;

thread_local CsvCommitGroup *t_group = nullptr;

Error failure(const QByteArray &target, const char *what, int err)
{
    std::string detail = what ? std::string(what) + ": " : std::string();
    detail += std::strerror(err);
    return Error(ErrorCode::WriteFailed, target.toStdString(), detail);
}

} // namespace

size_t CsvCommitGroup::maxPendingFor(quint64 descriptorLimit)
{
    // Three groups where the descriptors allow it; under a low limit, half
    // of what is left beside a reserve for the rest of the program.
    constexpr size_t kMost = 3 * kGroupFiles;
    constexpr quint64 kReserve = 128;
    const quint64 spare = descriptorLimit > 2 * kReserve ? (descriptorLimit - kReserve) / 2 : 0;
    return size_t(std::max<quint64>(8, std::min<quint64>(kMost, spare)));
}

size_t CsvCommitGroup::maxPending()
{
    static const size_t most = [] {
        struct rlimit limit;
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
            return maxPendingFor(std::numeric_limits<quint64>::max());
        return maxPendingFor(quint64(limit.rlim_cur));
    }();
    return most;
}

CsvCommitGroup::CsvCommitGroup()
{
    // The coarse clock, which change times come from: a file changed from
    // now on has a time not before it.
    ::clock_gettime(CLOCK_REALTIME_COARSE, &m_began);
    m_thread = std::thread([this] { run(); });
}

CsvCommitGroup::~CsvCommitGroup()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_work.notify_one();
    }
    m_thread.join();
    // Files whose names were taken and that nobody renamed.
    for (auto &[target, outcome] : m_outcomes) {
        if (outcome.outcome == CommitOutcome::NameTaken)
            release(outcome.file, true);
    }
    // The names go with the descriptors that hold them.
    for (auto &[id, folder] : m_folders)
        ::close(folder.lockFd);
}

CsvCommitGroup::Scope::Scope(CsvCommitGroup *group)
    : m_previous(t_group)
{
    t_group = group;
}

CsvCommitGroup::Scope::~Scope()
{
    t_group = m_previous;
}

CsvCommitGroup *CsvCommitGroup::current()
{
    return t_group;
}

void CsvCommitGroup::handIn(const QByteArray &target, int folderFd, const QByteArray &tempName,
                            const QByteArray &name, int fd, quint64 serial)
{
    auto lock = lockSoon(m_mutex);
    m_room.wait(lock, [this] { return m_pending.size() < maxPending(); });
    m_pending.push_back(Pending { target, folderFd, tempName, name, fd, serial });
    m_outcomes[target] = Outcome();
    // The group's thread waits for a first file, then for the gathering
    // time to pass unless the group fills up or is told to hurry.
    const bool wake = m_pending.size() == 1 || m_pending.size() == kGroupFiles || m_hurry;
    lock.unlock();
    // Woken after the unlock, a thread finds the lock free: woken under it,
    // it would only sleep again until the lock came free.
    if (wake)
        m_work.notify_one();
}

bool CsvCommitGroup::isHandedIn(const QByteArray &target) const
{
    auto lock = lockSoon(m_mutex);
    const auto outcome = m_outcomes.find(target);
    return outcome != m_outcomes.end() && !(outcome->second.done && outcome->second.asked);
}

bool CsvCommitGroup::isSettled(const QByteArray &target) const
{
    auto lock = lockSoon(m_mutex);
    const auto outcome = m_outcomes.find(target);
    return outcome == m_outcomes.end() || outcome->second.done;
}

CommitOutcome CsvCommitGroup::wait(const QByteArray &target, Error *error)
{
    auto lock = lockSoon(m_mutex);
    const auto outcome = m_outcomes.find(target); // map entries stay put until erased here
    if (outcome == m_outcomes.end()) {
        if (error)
            *error = failure(target, "not handed in", ENOENT);
        return CommitOutcome::Failed;
    }
    m_committed.wait(lock, [&] { return outcome->second.done; });
    const CommitOutcome result = outcome->second.outcome;
    if (error)
        *error = outcome->second.error;
    if (result == CommitOutcome::NameTaken)
        outcome->second.asked = true; // the file waits for rename()
    else
        m_outcomes.erase(outcome);
    return result;
}

CommitOutcome CsvCommitGroup::rename(const QByteArray &target, const QByteArray &newTarget,
                                     Error *error)
{
    auto lock = lockSoon(m_mutex);
    const auto held = m_outcomes.find(target);
    if (held == m_outcomes.end() || !held->second.done
        || held->second.outcome != CommitOutcome::NameTaken) {
        if (error)
            *error = failure(newTarget, "no file waits for another name", ENOENT);
        return CommitOutcome::Failed;
    }
    Pending file = held->second.file;
    m_outcomes.erase(held);
    lock.unlock();
    file.target = newTarget;
    file.name = newTarget.mid(newTarget.lastIndexOf('/') + 1);
    Error failed;
    const CommitOutcome outcome = name(file, &failed);
    if (error)
        *error = failed;
    if (outcome == CommitOutcome::NameTaken) {
        lockSoon(lock);
        Outcome &again = m_outcomes[newTarget];
        again = Outcome { true, CommitOutcome::NameTaken, Error(), file };
        again.asked = true;
    }
    return outcome;
}

void CsvCommitGroup::commitSoon()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_soon = true;
    }
    m_work.notify_one();
}

void CsvCommitGroup::hurry()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_hurry = true;
    }
    m_work.notify_one();
}

void CsvCommitGroup::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_ending || !m_pending.empty(); });
        if (m_pending.empty())
            return; // ending, nothing left
        m_work.wait_for(lock, kGather, [this] {
            return m_ending || m_hurry || m_soon || m_pending.size() >= kGroupFiles;
        });
        m_soon = false;
        std::vector<Pending> files;
        files.swap(m_pending);
        lock.unlock();
        m_room.notify_all();
        std::vector<Outcome> outcomes;
        commitAll(files, &outcomes);
        lockSoon(lock);
        for (size_t i = 0; i < files.size(); ++i) {
            const auto outcome = m_outcomes.find(files[i].target);
            if (outcome != m_outcomes.end())
                outcome->second = std::move(outcomes[i]);
            else if (outcomes[i].outcome == CommitOutcome::NameTaken)
                release(outcomes[i].file, true); // nobody will ask (cannot happen)
        }
        lock.unlock();
        m_committed.notify_all();
        lockSoon(lock);
    }
}

// Durable first, named after: one syncfs() per file system, through the
// file of that file system opened first (see the header), or for a small
// group one fdatasync() per file; then each file closed and named, as the
// writer does on its own, unless a newer file has the name.
void CsvCommitGroup::commitAll(std::vector<Pending> &files, std::vector<Outcome> *outcomes)
{
    outcomes->assign(files.size(), Outcome());
    std::map<dev_t, size_t> first; // file system → the file opened first
    std::vector<dev_t> devices(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        struct stat st;
        if (::fstat(files[i].fd, &st) != 0) {
            (*outcomes)[i].error = failure(files[i].target, nullptr, errno);
            continue;
        }
        devices[i] = st.st_dev;
        const auto it = first.find(st.st_dev);
        if (it == first.end() || files[i].serial < files[it->second].serial)
            first[st.st_dev] = i;
    }
    // A group of a few files is flushed file by file: syncfs() also writes
    // what other programs left in the cache of that file system, which costs
    // more than it saves when there are only a few files to share it.
    const bool eachOnItsOwn = files.size() < kFewFiles;
    std::map<dev_t, int> synced; // file system → errno of its syncfs
    for (const auto &[device, index] : first)
        synced[device] = eachOnItsOwn || ::syncfs(files[index].fd) == 0 ? 0 : errno;
    for (size_t i = 0; i < files.size(); ++i) {
        Pending &file = files[i];
        Outcome &outcome = (*outcomes)[i];
        Error &error = outcome.error;
        outcome.done = true;
        if (!error && synced[devices[i]] != 0)
            error = failure(file.target, nullptr, synced[devices[i]]);
        if (!error && eachOnItsOwn && ::fdatasync(file.fd) != 0)
            error = failure(file.target, nullptr, errno);
        if (!error && !file.tempName.isEmpty()) {
            // Closed before the rename, so that an error that only the close
            // reports (a network file system) keeps the old file; a copy of
            // the descriptor keeps the lock until then (see
            // CsvTemporaryFile::commit).
            const int lock = ::dup(file.fd);
            if (::close(file.fd) != 0)
                error = failure(file.target, nullptr, errno);
            file.fd = lock;
        }
        if (!error)
            outcome.outcome = name(file, &error);
        if (error) {
            outcome.outcome = CommitOutcome::Failed;
            release(file, true);
        } else if (outcome.outcome == CommitOutcome::NameTaken) {
            outcome.file = file;
        } else {
            const bool unnamed = file.tempName.isEmpty();
            file.tempName.clear(); // it has its name
            if (::close(file.fd) != 0 && unnamed)
                error = failure(file.target, nullptr, errno);
            file.fd = -1;
            release(file, false);
            if (error)
                outcome.outcome = CommitOutcome::Failed;
        }
    }
}

// The folder's names, a descriptor of it made to hold them the first time;
// nullptr when it cannot be told or held (its files are then named without
// the locks, as a single write names them). Under m_namesMutex.
CsvCommitGroup::FolderNames *CsvCommitGroup::namesOf(int folderFd)
{
    struct stat st;
    if (::fstat(folderFd, &st) != 0)
        return nullptr;
    const FolderId id(quint64(st.st_dev), quint64(st.st_ino));
    const auto known = m_folders.find(id);
    if (known != m_folders.end())
        return &known->second;
    if (m_folderOrder.size() >= kHeldFolders) {
        const auto oldest = m_folders.find(m_folderOrder.front());
        ::close(oldest->second.lockFd);
        m_folders.erase(oldest);
        m_folderOrder.pop_front();
    }
    // A descriptor of its own: the locks belong to its open file
    // description, which the writer's descriptor of the folder shares until
    // it is closed.
    const int lockFd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (lockFd < 0)
        return nullptr;
    m_folderOrder.push_back(id);
    FolderNames &names = m_folders[id];
    names.lockFd = lockFd;
    return &names;
}

CommitOutcome CsvCommitGroup::name(Pending &file, Error *error)
{
    std::lock_guard<std::mutex> lock(m_namesMutex);
    FolderNames *folder = namesOf(file.folderFd);
    const quint64 hash = csvNameHash(file.name);
    // Held before the name can appear, so that another group that finds the
    // file sees the hold too.
    const bool held = folder && holdCsvName(folder->lockFd, hash);
    const auto isTaken = [&](const struct stat &old) {
        return changedSince(old, m_began) || (folder && folder->named.count(hash) != 0)
            || (held && csvNameHeldElsewhere(folder->lockFd, hash));
    };
    bool taken = false;
    const int err
        = nameUnlessTaken(file.folderFd, file.fd, file.tempName, file.name, isTaken, &taken);
    if (!err && !taken) {
        if (held)
            folder->named.insert(hash);
        return CommitOutcome::Named;
    }
    if (held && folder->named.count(hash) == 0)
        releaseCsvName(folder->lockFd, hash);
    if (err) {
        *error = failure(file.target, nullptr, err);
        return CommitOutcome::Failed;
    }
    return CommitOutcome::NameTaken;
}

// Closes what a file still holds; with `unlinkTemporary`, its temporary
// name goes too.
void CsvCommitGroup::release(Pending &file, bool unlinkTemporary)
{
    if (unlinkTemporary && !file.tempName.isEmpty() && file.folderFd >= 0)
        ::unlinkat(file.folderFd, file.tempName.constData(), 0);
    if (file.fd >= 0)
        ::close(file.fd);
    if (file.folderFd >= 0)
        ::close(file.folderFd);
    file.fd = file.folderFd = -1;
    file.tempName.clear();
}

} // namespace sd
