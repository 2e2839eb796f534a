#pragma once

// Files for the tests that run batches: writing inputs, reading what a batch
// wrote, and listing the trees it leaves.

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <QStringList>

#include <cstdio>

#include <ftw.h>

namespace sdtest {

// Writes `bytes` to `path`, making its folders; false when it cannot.
inline bool writeFile(const QString &path, const QByteArray &bytes = {})
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The bytes of `path`, or `missing` when it cannot be read.
inline QByteArray readFile(const QString &path, const QByteArray &missing = {})
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : missing;
}

// Every file under `root` (hidden ones included; links listed, not
// followed), as sorted paths relative to it.
inline QStringList filesUnder(const QString &root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

// The same, with each file's bytes.
inline QMap<QString, QByteArray> contentsUnder(const QString &root)
{
    QMap<QString, QByteArray> files;
    for (const QString &file : filesUnder(root))
        files.insert(file, readFile(root + QLatin1Char('/') + file, "<unreadable>"));
    return files;
}

// Removes a tree by its bytes: names that the locale's encoding cannot hold
// are out of QDir's reach.
inline void removeTree(const QString &root)
{
    ::nftw(
        QFile::encodeName(root).constData(),
        [](const char *path, const struct stat *, int, struct FTW *) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

// Whether a name is one of the CSV writer's temporary files.
inline bool isTemporaryName(const QString &name)
{
    return name.contains(QLatin1String(".sheetdrain-")) || name.endsWith(QLatin1String(".tmp"));
}

} // namespace sdtest
