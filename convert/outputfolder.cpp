#include "outputfolder.h"

#include "folderchain.h"
#include "pathstrings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

#include <sys/stat.h>

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
    if (!insideRoot(canonicalSaveRoot, QFileInfo(folder).canonicalFilePath()))
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
