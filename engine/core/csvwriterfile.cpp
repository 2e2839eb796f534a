#include "core/csvcommit.h"
#include "core/csvoutput_p.h"
#include "core/csvwriter.h"
#include "core/csvwriter_p.h"
#include "core/csvwriterfile_p.h"

#include <QFile>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QString>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sd {

namespace {

// Attempts at a fresh temporary name before giving up.
constexpr int kTempNameAttempts = 100;
// Bytes of the target's name kept in the temporary name: with the dot, the
// marker, the random part and ".tmp" it stays within the 255-byte limit of a
// file name even when the target's name is near that limit itself.
constexpr int kTempStemBytes = 200;
// What tells the writer's temporary files from anybody else's.
constexpr char kTempMarker[] = ".sheetdrain-";
constexpr char kTempSuffix[] = ".tmp";
// Longest base-36 form of a 64-bit number.
constexpr int kTagDigits = 13;
// Permission bits a replaced file passes on (no set-id or sticky bits).
constexpr mode_t kPermissionBits = 0777;

CsvWriteFunction g_write = nullptr;
std::atomic<quint64> g_openSerial { 0 };

ssize_t writeBytes(int fd, const void *data, size_t size)
{
    return g_write ? g_write(fd, data, size) : ::write(fd, data, size);
}

bool isBase36(const QByteArray &digits)
{
    if (digits.isEmpty() || digits.size() > kTagDigits)
        return false;
    for (char c : digits) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z')))
            return false;
    }
    return true;
}

qint64 millisecondsOf(const struct timespec &t)
{
    return qint64(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// Gives the unnamed file `fd` the name `name` in `folder`: 0, or errno
// (EEXIST when something has that name). By the descriptor where the
// kernel allows it to the file's opener, else through /proc.
int linkUnnamed(int fd, int folder, const QByteArray &name)
{
    if (::linkat(fd, "", folder, name.constData(), AT_EMPTY_PATH) == 0)
        return 0;
    if (errno == EEXIST)
        return EEXIST;
    const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
    if (::linkat(AT_FDCWD, self.constData(), folder, name.constData(), AT_SYMLINK_FOLLOW) == 0)
        return 0;
    return errno;
}

// Whether an unnamed file can be given a name later: /proc is there (the
// way that works on every kernel).
bool unnamedFilesWork()
{
    static const bool works = ::access("/proc/self/fd", X_OK) == 0;
    return works;
}

// The umask, without changing it (umask() would, for a moment, for every
// thread); -1 when /proc does not say.
int processUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (!line.startsWith("Umask:"))
            continue;
        bool ok = false;
        const int mask = line.mid(6).trimmed().toInt(&ok, 8);
        return ok ? mask & 0777 : -1;
    }
    return -1;
}

} // namespace

void setCsvWriteFunction(CsvWriteFunction function)
{
    g_write = function;
}

bool isCsvTemporaryName(const QByteArray &name)
{
    if (!name.startsWith('.') || !name.endsWith(kTempSuffix))
        return false;
    const QByteArray rest = name.left(name.size() - int(sizeof kTempSuffix - 1));
    const int marker = rest.lastIndexOf(kTempMarker);
    return marker > 1 && isBase36(rest.mid(marker + int(sizeof kTempMarker - 1)));
}

CsvTemporaryFile::CsvTemporaryFile(const QString &target)
    : m_target(QFile::encodeName(target))
{
}

CsvTemporaryFile::~CsvTemporaryFile()
{
    discard();
    if (m_folder >= 0)
        ::close(m_folder);
}

Error CsvTemporaryFile::failure(const char *what, int err) const
{
    std::string detail = what ? std::string(what) + ": " : std::string();
    detail += std::strerror(err);
    return Error(ErrorCode::WriteFailed, m_target.toStdString(), detail);
}

// The folder is opened once and every later step names files in it, so the
// temporary file and the file that it replaces are always in the same
// folder. The temporary file is made afresh (never through a link) and locked
// while it is written, which tells it from one that a killed run left.
Error CsvTemporaryFile::openFolder()
{
    if (m_folder >= 0)
        return {}; // opened by an adoption that could not link the spool
    const int slash = m_target.lastIndexOf('/');
    const QByteArray folder = slash < 0 ? QByteArray(".") : m_target.left(qMax(slash, 1));
    m_name = m_target.mid(slash + 1);
    if (m_name.isEmpty() || m_name == "." || m_name == "..")
        return failure("not a file name", EINVAL);
    m_folder = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_folder < 0)
        return failure("cannot open the folder", errno);
    return {};
}

namespace {

// The part of the target's name that a temporary name keeps.
QByteArray temporaryStem(const QByteArray &name)
{
    QByteArray stem = name;
    if (stem.size() > kTempStemBytes) {
        int cut = kTempStemBytes;
        while (cut > 0 && (uchar(stem[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        stem.truncate(cut);
    }
    return stem;
}

// What the temporary name `stem` + tag of the file with the inode `inode`
// carries (FNV-1a over the stem, the inode and the attempt): a file whose
// name has the form but whose tag is not its own was not named by this
// writer, whatever its name says.
quint64 temporaryTag(const QByteArray &stem, quint64 inode, int attempt)
{
    quint64 h = 14695981039346656037ULL;
    auto mix = [&h](quint8 byte) {
        h ^= byte;
        h *= 1099511628211ULL;
    };
    for (const char c : QByteArray(kTempMarker) + stem)
        mix(quint8(c));
    for (int i = 0; i < 8; ++i)
        mix(quint8(inode >> (8 * i)));
    mix(quint8(attempt));
    return h;
}

QByteArray temporaryNameOf(const QByteArray &stem, quint64 tag)
{
    return '.' + stem + kTempMarker + QByteArray::number(tag, 36) + kTempSuffix;
}

} // namespace

QByteArray csvTemporaryName(const QByteArray &name)
{
    return temporaryNameOf(temporaryStem(name), QRandomGenerator::global()->generate64());
}

QByteArray csvTemporaryNameFor(const QByteArray &name, quint64 inode, int attempt)
{
    const QByteArray stem = temporaryStem(name);
    return temporaryNameOf(stem, temporaryTag(stem, inode, attempt));
}

bool isOwnCsvTemporary(const QByteArray &fileName, const struct stat &st)
{
    if (!isCsvTemporaryName(fileName))
        return false;
    const QByteArray rest = fileName.left(fileName.size() - int(sizeof kTempSuffix - 1));
    const int marker = rest.lastIndexOf(kTempMarker);
    const QByteArray stem = rest.mid(1, marker - 1);
    bool ok = false;
    const quint64 tag = rest.mid(marker + int(sizeof kTempMarker - 1)).toULongLong(&ok, 36);
    for (int attempt = 0; ok && attempt < kTempNameAttempts; ++attempt) {
        if (tag == temporaryTag(stem, quint64(st.st_ino), attempt))
            return true;
    }
    return false;
}

// Links the unnamed file `fd` into `folder` under a temporary name for
// `name` made from its own inode (*temporary): 0, or errno.
int linkUnderTemporaryName(int fd, int folder, const QByteArray &name, QByteArray *temporary)
{
    struct stat st;
    if (::fstat(fd, &st) != 0)
        return errno;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        *temporary = csvTemporaryNameFor(name, quint64(st.st_ino), attempt);
        const int err = linkUnnamed(fd, folder, *temporary);
        if (err != EEXIST) {
            if (err)
                temporary->clear();
            return err;
        }
    }
    temporary->clear();
    return EEXIST;
}

int nameUnnamedCsv(int folder, int fd, const QByteArray &name, bool keepPermissions)
{
    int err = linkUnnamed(fd, folder, name);
    if (err != EEXIST)
        return err;
    // An older file has that name: it is replaced in one step, by a rename,
    // as a named temporary file replaces it, and passes its permissions on
    // when asked to. Locked before it is named, so that a run sweeping the
    // folder meanwhile never takes it for one that a killed run left.
    struct stat old;
    if (keepPermissions && ::fstatat(folder, name.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0
        && S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & kPermissionBits) != 0)
        return errno;
    ::flock(fd, LOCK_EX | LOCK_NB);
    QByteArray temporary;
    if ((err = linkUnderTemporaryName(fd, folder, name, &temporary)) != 0)
        return err;
    if (::renameat(folder, temporary.constData(), folder, name.constData()) == 0)
        return 0;
    err = errno;
    ::unlinkat(folder, temporary.constData(), 0);
    return err;
}

namespace {

// Names the file without replacing anything: 0, EEXIST when something has
// the name, or another errno (EINVAL: the file system cannot rename so).
int nameWithoutReplacing(int folder, int fd, const QByteArray &tempName, const QByteArray &name)
{
    if (tempName.isEmpty())
        return linkUnnamed(fd, folder, name);
    if (::renameat2(folder, tempName.constData(), folder, name.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    return errno;
}

// An exclusive flock() of a folder while it lives: the naming steps of every
// commit group in this process and in others take turns.
class FolderLock
{
public:
    explicit FolderLock(int folder)
        : m_folder(folder)
    {
        while (::flock(m_folder, LOCK_EX) != 0 && errno == EINTR) { }
    }
    ~FolderLock() { ::flock(m_folder, LOCK_UN); }
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int m_folder;
};

// Replaces `old`, the file named `name`, by `fd` at once.
int replaceOlder(int folder, int fd, const QByteArray &tempName, const QByteArray &name,
                 const struct stat &old)
{
    if (S_ISREG(old.st_mode) && ::fchmod(fd, old.st_mode & kPermissionBits) != 0)
        return errno;
    if (!tempName.isEmpty())
        return ::renameat(folder, tempName.constData(), folder, name.constData()) == 0 ? 0 : errno;
    return nameUnnamedCsv(folder, fd, name, false);
}

} // namespace

quint64 csvNameHash(const QByteArray &name)
{
    const QString text = QFile::decodeName(name);
    bool ascii = true;
    for (const QChar c : text)
        ascii = ascii && c.unicode() < 0x80;
    const QByteArray folded
        = (ascii ? text.toLower() : text.normalized(QString::NormalizationForm_KD).toCaseFolded())
              .toUtf8();
    quint64 h = 14695981039346656037ULL; // FNV-1a
    for (const char c : folded) {
        h ^= quint8(c);
        h *= 1099511628211ULL;
    }
    // A byte offset that the lock's end (offset + 1) cannot take past off_t.
    return h & 0x3FFFFFFFFFFFFFFFULL;
}

namespace {

bool lockByte(int fd, int command, short type, quint64 hash, struct flock *lock)
{
    *lock = {};
    lock->l_type = type;
    lock->l_whence = SEEK_SET;
    lock->l_start = off_t(hash);
    lock->l_len = 1;
    return ::fcntl(fd, command, lock) == 0;
}

} // namespace

bool holdCsvName(int fd, quint64 hash)
{
    struct flock lock;
    return lockByte(fd, F_OFD_SETLK, F_RDLCK, hash, &lock);
}

void releaseCsvName(int fd, quint64 hash)
{
    struct flock lock;
    lockByte(fd, F_OFD_SETLK, F_UNLCK, hash, &lock);
}

bool csvNameHeldElsewhere(int fd, quint64 hash)
{
    struct flock lock;
    return lockByte(fd, F_OFD_GETLK, F_WRLCK, hash, &lock) && lock.l_type != F_UNLCK;
}

bool changedSince(const struct stat &st, const struct timespec &since)
{
    return st.st_ctim.tv_sec > since.tv_sec
        || (st.st_ctim.tv_sec == since.tv_sec && st.st_ctim.tv_nsec >= since.tv_nsec);
}

int nameUnlessTaken(int folder, int fd, const QByteArray &tempName, const QByteArray &name,
                    const std::function<bool(const struct stat &)> &isTaken, bool *taken)
{
    *taken = false;
    int err = nameWithoutReplacing(folder, fd, tempName, name);
    // A file system that cannot rename without replacing decides every
    // name under the lock.
    const bool underLockOnly = err == EINVAL && !tempName.isEmpty();
    if (err != EEXIST && !underLockOnly)
        return err;
    const FolderLock lock(folder);
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        struct stat old;
        if (::fstatat(folder, name.constData(), &old, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT)
                return errno;
            // Gone meanwhile.
            if (underLockOnly)
                return ::renameat(folder, tempName.constData(), folder, name.constData()) == 0
                    ? 0
                    : errno;
            if ((err = nameWithoutReplacing(folder, fd, tempName, name)) != EEXIST)
                return err;
            continue;
        }
        if (S_ISREG(old.st_mode) && isTaken(old)) {
            *taken = true;
            return 0;
        }
        return replaceOlder(folder, fd, tempName, name, old);
    }
    return EEXIST;
}

Error CsvTemporaryFile::open()
{
    if (Error e = openFolder())
        return e;
    // Unnamed until it is complete: nothing in the folder changes while it
    // is written, and a crash leaves nothing behind. Named temporary files
    // where the file system cannot do that.
    if (unnamedFilesWork()) {
        m_fd = ::openat(m_folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_unnamed = true;
            m_serial = ++g_openSerial;
            // Nobody can open an unnamed file: a commit group gives it the
            // permissions of the file it replaces when it names it, and the
            // thread that writes it never looks the new name up.
            return CsvCommitGroup::current() ? Error() : keepPermissions();
        }
    }
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        m_tempName = csvTemporaryName(m_name);
        // 0666 less the umask, as for any file the user creates.
        m_fd = ::openat(m_folder, m_tempName.constData(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0) {
            m_serial = ++g_openSerial;
            ::flock(m_fd, LOCK_EX | LOCK_NB); // a fresh file: nobody else holds it
            takeOwnTemporaryName();
            return keepPermissions();
        }
        if (errno != EEXIST)
            break;
    }
    const int err = errno;
    m_tempName.clear();
    return failure("cannot create a temporary file", err);
}

// Renames the fresh temporary file to the name made from its own inode, by
// which a later batch knows it for the writer's should a killed run leave
// it (removeStaleCsvTemporaryFiles); where that fails it keeps its name,
// which nothing will take for the writer's.
void CsvTemporaryFile::takeOwnTemporaryName()
{
    struct stat st;
    if (::fstat(m_fd, &st) != 0)
        return;
    for (int attempt = 0; attempt < kTempNameAttempts; ++attempt) {
        const QByteArray own = csvTemporaryNameFor(m_name, quint64(st.st_ino), attempt);
        int err = ::renameat2(m_folder, m_tempName.constData(), m_folder, own.constData(),
                              RENAME_NOREPLACE)
                == 0
            ? 0
            : errno;
        if (err == EINVAL) // cannot rename without replacing: a name no other file has
            err = ::renameat(m_folder, m_tempName.constData(), m_folder, own.constData()) == 0
                ? 0
                : errno;
        if (err == 0)
            m_tempName = own;
        if (err != EEXIST)
            return;
    }
}

Error CsvTemporaryFile::adopt(int fd, bool *adopted)
{
    *adopted = false;
    const int mask = processUmask();
    if (mask < 0)
        return {};
    if (Error e = openFolder())
        return e;
    // Locked before it has a name (the lock is the open file's, which the
    // descriptor taken below shares): see nameUnnamedCsv.
    ::flock(fd, LOCK_EX | LOCK_NB);
    if (linkUnderTemporaryName(fd, m_folder, m_name, &m_tempName) != 0)
        return {}; // another file system, no /proc, ...: written the usual way
    m_fd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (m_fd < 0) {
        const int err = errno;
        discard();
        return failure(nullptr, err);
    }
    *adopted = true;
    m_serial = ++g_openSerial;
    // The spool was private (0600); the CSV file gets what open() gives.
    if (::fchmod(m_fd, 0666 & ~mode_t(mask)) != 0) {
        const int err = errno;
        discard();
        return failure("cannot set the permissions", err);
    }
    return keepPermissions();
}

// A file that is replaced keeps its permissions, as when it is overwritten in
// place: a private (0600) file must not turn readable. Set before anything is
// written. A link in the target's place passes nothing on: it is replaced by
// the new file, and what it points to is left alone.
Error CsvTemporaryFile::keepPermissions()
{
    struct stat old;
    if (::fstatat(m_folder, m_name.constData(), &old, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(old.st_mode))
        return {};
    if (::fchmod(m_fd, old.st_mode & kPermissionBits) == 0)
        return {};
    const int err = errno;
    discard();
    return failure("cannot set the permissions", err);
}

int writeAllBytes(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t n = writeBytes(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) // a write of 0 bytes makes no progress: a full disk
            return n < 0 ? errno : ENOSPC;
        data += n;
        size -= size_t(n);
    }
    return 0;
}

void CsvWriteback::wrote(int fd, size_t bytes)
{
    m_written += bytes;
    if (m_written - m_started < kCsvWritebackBytes)
        return;
    // Only starts the writing; errors are the final flush's to report.
    ::sync_file_range(fd, off_t(m_started), off_t(m_written - m_started), SYNC_FILE_RANGE_WRITE);
    m_started = m_written;
}

Error CsvTemporaryFile::write(const char *data, size_t size)
{
    if (const int err = writeAllBytes(m_fd, data, size))
        return failure(nullptr, err);
    m_writeback.wrote(m_fd, size);
    return {};
}

Error CsvTemporaryFile::commit()
{
    const int fd = m_fd;
    m_fd = -1;
    // A batch that commits its files in groups takes the complete file as it
    // is, locked, under its temporary name (csvcommit.h).
    if (CsvCommitGroup *group = CsvCommitGroup::current()) {
        const int folder = m_folder; // the group's from now on
        m_folder = -1;
        // An unnamed file is handed in without a temporary name.
        group->handIn(m_target, folder, m_tempName, m_name, fd, m_serial);
        m_tempName.clear();
        m_unnamed = false;
        return {};
    }
    // On disk before it takes the final name: a crash right after the rename
    // must not leave an empty or partial file under that name. Closed before
    // the rename, so that an error that only the close reports (a network
    // file system) keeps the old file.
    if (::fdatasync(fd) != 0) {
        const int err = errno;
        ::close(fd);
        return failure(nullptr, err);
    }
    if (m_unnamed) {
        m_unnamed = false;
        const int err = nameUnnamedCsv(m_folder, fd, m_name, false);
        if (::close(fd) != 0 && !err)
            return failure(nullptr, errno);
        return err ? failure(nullptr, err) : Error();
    }
    // The lock lives as long as a descriptor of the file is open: a copy
    // keeps it until the rename, or a run sweeping the folder meanwhile (one
    // started side by side into the same output folder) would take the
    // closed file for one that a killed run left, and remove it.
    const int lock = ::dup(fd);
    const auto unlock = qScopeGuard([lock] {
        if (lock >= 0)
            ::close(lock);
    });
    if (::close(fd) != 0)
        return failure(nullptr, errno);
    if (::renameat(m_folder, m_tempName.constData(), m_folder, m_name.constData()) != 0)
        return failure(nullptr, errno);
    m_tempName.clear();
    return {};
}

void CsvTemporaryFile::discard()
{
    if (m_fd >= 0)
        ::close(m_fd); // an unnamed file goes with its last descriptor
    m_fd = -1;
    m_unnamed = false;
    if (!m_tempName.isEmpty() && m_folder >= 0)
        ::unlinkat(m_folder, m_tempName.constData(), 0);
    m_tempName.clear();
}

int removeStaleCsvTemporaryFiles(const QString &folder, qint64 before)
{
    const int dirFd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (!isCsvTemporaryName(QByteArray(entry->d_name)))
            continue;
        struct stat st;
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
            || st.st_uid != ::geteuid() || millisecondsOf(st.st_mtim) >= before
            || !isOwnCsvTemporary(QByteArray(entry->d_name), st))
            continue;
        const int fd
            = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A writer at work holds its lock; a killed one holds none.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

} // namespace sd
