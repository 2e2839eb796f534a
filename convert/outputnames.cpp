#include "outputnames.h"

#include <QDir>
#include <QFile>

#include <climits>

namespace {

// Longest file name (one path component) in bytes.
#ifdef NAME_MAX
constexpr int kMaxFileNameBytes = NAME_MAX;
#else
constexpr int kMaxFileNameBytes = 255;
#endif

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

QString CsvFileName(const QString &baseName, bool onlyFirstSheet, const QString &sheetName)
{
    QString name;
    if (onlyFirstSheet) {
        name = baseName + QLatin1String(".csv");
    } else {
        QString safe;
        if (!SafeSheetName(sheetName, &safe))
            return {};
        name = baseName + QLatin1Char('(') + safe + QLatin1String(").csv");
    }
    return FitsFileNameLimit(name) ? name : QString();
}
