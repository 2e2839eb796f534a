#include "core/csvcommit.h"
#include "core/csvwriterfile_p.h"
#include "io/lockspin.h"

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
    : m_thread([this] { run(); })
{
}

CsvCommitGroup::~CsvCommitGroup()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_ending = true;
        m_work.notify_one();
    }
    m_thread.join();
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
    return m_outcomes.count(target) != 0;
}

bool CsvCommitGroup::wait(const QByteArray &target, Error *error, CommittedFile *committed)
{
    auto lock = lockSoon(m_mutex);
    const auto outcome = m_outcomes.find(target); // map entries stay put until erased here
    if (outcome == m_outcomes.end())
        return false;
    m_committed.wait(lock, [&] { return outcome->second.done; });
    const Error result = outcome->second.error;
    if (committed)
        *committed = outcome->second.file;
    m_outcomes.erase(outcome);
    if (error)
        *error = result;
    return !result;
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
        m_work.wait_for(lock, kGather,
                        [this] { return m_ending || m_hurry || m_pending.size() >= kGroupFiles; });
        std::vector<Pending> files;
        files.swap(m_pending);
        lock.unlock();
        m_room.notify_all();
        std::vector<Error> errors;
        std::vector<CommittedFile> committed;
        commitAll(files, &errors, &committed);
        lockSoon(lock);
        for (size_t i = 0; i < files.size(); ++i) {
            const auto outcome = m_outcomes.find(files[i].target);
            if (outcome != m_outcomes.end())
                outcome->second = Outcome { true, errors[i], committed[i] };
        }
        lock.unlock();
        m_committed.notify_all();
        lockSoon(lock);
    }
}

// Durable first, named after: one syncfs() per file system, through the
// file of that file system opened first (see the header), or for a small
// group one fdatasync() per file; then each file closed and renamed, as the
// writer does on its own.
void CsvCommitGroup::commitAll(std::vector<Pending> &files, std::vector<Error> *errors,
                               std::vector<CommittedFile> *committed)
{
    errors->assign(files.size(), Error());
    committed->assign(files.size(), CommittedFile());
    std::map<dev_t, size_t> first; // file system → the file opened first
    std::vector<dev_t> devices(files.size());
    for (size_t i = 0; i < files.size(); ++i) {
        struct stat st;
        if (::fstat(files[i].fd, &st) != 0) {
            (*errors)[i] = failure(files[i].target, nullptr, errno);
            continue;
        }
        devices[i] = st.st_dev;
        (*committed)[i].device = quint64(st.st_dev);
        (*committed)[i].inode = quint64(st.st_ino);
        struct stat folder;
        if (::fstat(files[i].folderFd, &folder) == 0) {
            (*committed)[i].folderDevice = quint64(folder.st_dev);
            (*committed)[i].folderInode = quint64(folder.st_ino);
        }
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
        Error &error = (*errors)[i];
        if (!error && synced[devices[i]] != 0)
            error = failure(file.target, nullptr, synced[devices[i]]);
        if (!error && eachOnItsOwn && ::fdatasync(file.fd) != 0)
            error = failure(file.target, nullptr, errno);
        if (file.tempName.isEmpty()) { // unnamed until now (O_TMPFILE)
            const int err = error ? 0 : nameUnnamedCsv(file.folderFd, file.fd, file.name, true);
            if (err)
                error = failure(file.target, nullptr, err);
            if (::close(file.fd) != 0 && !error)
                error = failure(file.target, nullptr, errno);
            ::close(file.folderFd);
            continue;
        }
        // The lock lives until the rename (see CsvTemporaryFile::commit).
        const int lock = ::dup(file.fd);
        if (::close(file.fd) != 0 && !error)
            error = failure(file.target, nullptr, errno);
        if (!error
            && ::renameat(file.folderFd, file.tempName.constData(), file.folderFd,
                          file.name.constData())
                != 0)
            error = failure(file.target, nullptr, errno);
        if (error)
            ::unlinkat(file.folderFd, file.tempName.constData(), 0);
        if (lock >= 0)
            ::close(lock);
        ::close(file.folderFd);
    }
}

} // namespace sd
