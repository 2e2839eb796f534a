#include "outputnames.h"

#include <QDir>
#include <QFile>

#include <climits>

#include <sys/stat.h>

namespace {

// Longest file name (one path component) in bytes.
#ifdef NAME_MAX
constexpr int kMaxFileNameBytes = NAME_MAX;
#else
constexpr int kMaxFileNameBytes = 255;
#endif
// How far the counter of a name taken in the batch goes before giving up.
constexpr int kMaxNameCounter = 100000;
QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

bool IsWorkbookToConvert(const QString &nativePath)
{
    const QString key = nativePath.toLower();
    if (key.contains(QLatin1String("~$")))
        return false;
    return key.endsWith(QLatin1String(".xls")) || key.endsWith(QLatin1String(".xlsx"))
        || key.endsWith(QLatin1String(".xlsm"));
}

QString WorkbookBaseName(const QString &fileName)
{
    const int from = fileName.startsWith(QLatin1Char('.')) ? 1 : 0;
    const int dot = fileName.indexOf(QLatin1Char('.'), from);
    return dot < 0 ? fileName : fileName.left(dot);
}

QString AbsoluteFolder(const QString &path)
{
    if (path.isEmpty())
        return {};
    return QDir::cleanPath(QDir(QDir::fromNativeSeparators(path)).absolutePath());
}

QString OutputFolderFor(const QString &sourceRoot, const QString &saveRoot,
                        const QString &workbookFolder)
{
    if (sourceRoot.isEmpty() || saveRoot.isEmpty())
        return {};
    const QString folder = QDir::cleanPath(workbookFolder);
    if (folder == sourceRoot)
        return saveRoot;
    // The folder must lie below the source folder, textually: the walk reaches
    // it through the source folder's own path.
    const QString prefix
        = sourceRoot.endsWith(QLatin1Char('/')) ? sourceRoot : sourceRoot + QLatin1Char('/');
    if (!folder.startsWith(prefix))
        return {};
    const QString relative = folder.mid(prefix.size());
    if (saveRoot.endsWith(QLatin1Char('/')))
        return saveRoot + relative;
    return saveRoot + QLatin1Char('/') + relative;
}

bool SafeSheetName(const QString &sheetName, QString *safeName)
{
    QString name = sheetName;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    name.replace(QChar(0), QLatin1Char('_'));
    if (name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    *safeName = name;
    return true;
}

bool FitsFileNameLimit(const QString &fileName)
{
    return QFile::encodeName(fileName).size() <= kMaxFileNameBytes;
}

bool OutputClaims::taken(const QString &folder, const QString &path,
                         const TakenOnDisk &takenOnDisk) const
{
    const auto claimed = m_claimed.constFind(folder);
    if (claimed != m_claimed.constEnd() && claimed->contains(path))
        return true;
    return takenOnDisk && takenOnDisk(path);
}

QString OutputClaims::claim(const QString &folder, const QString &workbookFileName,
                            bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal,
                            const TakenOnDisk &takenOnDisk)
{
    *refusal = NameRefusal::None;
    QString suffix = QStringLiteral(".csv");
    if (!onlyFirstSheet) {
        QString safe;
        if (!SafeSheetName(sheetName, &safe)) {
            *refusal = NameRefusal::DotName;
            return {};
        }
        suffix = QLatin1Char('(') + safe + QStringLiteral(").csv");
    }
    const QString base = WorkbookBaseName(workbookFileName);
    if (!FitsFileNameLimit(base + suffix)) {
        *refusal = NameRefusal::TooLong;
        return {};
    }
    QString path = joined(folder, base + suffix);
    if (taken(folder, path, takenOnDisk)) {
        // The name up to the last dot tells the workbooks of one base name
        // apart; where it does not (report.xls, report.xlsx), a counter does.
        const int lastDot = workbookFileName.lastIndexOf(QLatin1Char('.'));
        QString stem = lastDot > 0 ? workbookFileName.left(lastDot) : base;
        if (!FitsFileNameLimit(stem + suffix))
            stem = base;
        path = joined(folder, stem + suffix);
        for (int n = 2; taken(folder, path, takenOnDisk); ++n) {
            const QString name = stem + QStringLiteral(" (%1)").arg(n) + suffix;
            if (n > kMaxNameCounter || !FitsFileNameLimit(name)) {
                *refusal = NameRefusal::TooLong;
                return {};
            }
            path = joined(folder, name);
        }
    }
    m_claimed[folder].insert(path);
    return path;
}

bool FileMadeSince(const QString &path, const struct timespec &since)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    return st.st_ctim.tv_sec > since.tv_sec
        || (st.st_ctim.tv_sec == since.tv_sec && st.st_ctim.tv_nsec >= since.tv_nsec);
}
