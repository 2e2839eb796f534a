#include "outputfolder.h"

#include "folderchain.h"
#include "pathstrings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <climits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isFolder(const QByteArray &path)
{
    struct stat st;
    return ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Makes the levels of a folder that the chain did not make, one by one, to
// learn what stops it: empty once every level is a folder, otherwise the
// level that could not be made and why.
QString creationFailure(const QString &folder)
{
    QString level;
    for (const QString &part : folder.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        level += QLatin1Char('/') + part;
        const QByteArray encoded = QFile::encodeName(level);
        if (isFolder(encoded) || ::mkdir(encoded.constData(), 0777) == 0)
            continue;
        const int err = errno;
        if (err == EEXIST)
            return QStringLiteral("cannot create the folder %1: a file of that name is in the way")
                .arg(level);
        return QStringLiteral("cannot create the folder %1: %2")
            .arg(level, QString::fromLocal8Bit(std::strerror(err)));
    }
    return {};
}

bool insideRoot(const QString &canonicalRoot, const QString &canonicalPath)
{
    if (canonicalPath.isEmpty() || canonicalRoot.isEmpty())
        return false;
    if (canonicalPath == canonicalRoot)
        return true;
    const QString prefix = canonicalRoot.endsWith(QLatin1Char('/'))
        ? canonicalRoot
        : canonicalRoot + QLatin1Char('/');
    return canonicalPath.startsWith(prefix);
}

// The folder's path with every link resolved, as realpath() gives it, from
// one lookup: the descriptor's own path in /proc. realpath() looks every
// level up again, and on a tree of small workbooks that was a good part of
// each CSV file's system calls.
QString canonicalFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        char target[PATH_MAX];
        // The thread's own entry: /proc/self/fd is one directory for all the
        // threads, whose lookups then contend for it.
        const QByteArray number = QByteArray::number(fd);
        ssize_t n
            = ::readlink(("/proc/thread-self/fd/" + number).constData(), target, sizeof target);
        if (n < 0 && errno == ENOENT) // before Linux 3.17
            n = ::readlink(("/proc/self/fd/" + number).constData(), target, sizeof target);
        ::close(fd);
        const QByteArray path(target, n > 0 ? int(n) : 0);
        if (n > 0 && size_t(n) < sizeof target && path.startsWith('/')
            && !path.endsWith(" (deleted)"))
            return QFile::decodeName(path);
    }
    return QFileInfo(folder).canonicalFilePath();
}

} // namespace

QString PrepareOutputFolder(const QString &canonicalSaveRoot, const QString &folder)
{
    const QByteArray encoded = QFile::encodeName(folder);
    // A folder that exists already needs no chain, however long its path.
    if (!isFolder(encoded)) {
        if (CreateFolderChain(encoded.constData()) != 0)
            return QStringLiteral("the path of the output folder %1 is too long "
                                  "(%2 bytes; folders are made up to %3 bytes)")
                .arg(folder)
                .arg(encoded.size())
                .arg(PathBufferSize - 2);
        if (!isFolder(encoded)) {
            const QString failure = creationFailure(folder);
            if (!failure.isEmpty())
                return failure;
        }
    }
    if (!insideRoot(canonicalSaveRoot, canonicalFolder(folder)))
        return QStringLiteral("the output folder %1 is a link that leads out of the output "
                              "folder; nothing is written there")
            .arg(folder);
    return {};
}

bool IsFileInsideOutputTree(const QString &canonicalSaveRoot, const QString &path)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return insideRoot(canonicalSaveRoot,
                      QFileInfo(QFileInfo(path).absolutePath()).canonicalFilePath());
}
