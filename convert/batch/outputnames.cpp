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
// The written names' Bloom filter: 4 Mbit (512 KB) and three bits a name.
// At 40,000 CSV files a new name is taken for a written one about once in
// 40,000 (and is then only looked up on disk); at a million, once in ten.
constexpr size_t kNameFilterWords = (size_t(1) << 22) / 64;
constexpr int kNameFilterProbes = 3;

quint64 nameFilterBit(quint64 digest, int probe)
{
    const quint64 step = (digest >> 32) | 1;
    return ((digest & 0xFFFFFFFF) + quint64(probe) * step) % (kNameFilterWords * 64);
}

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

bool OutputClaims::identityOf(const QString &path, FileId *identity)
{
    struct stat st;
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    *identity = qMakePair(quint64(st.st_dev), quint64(st.st_ino));
    return true;
}

bool OutputClaims::placeOf(const QString &path, FileId *folder, QString *folded)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    *folded = foldedName(path.mid(slash + 1));
    return folderIdentityOf(slash > 0 ? path.left(slash) : QStringLiteral("/"), folder);
}

bool OutputClaims::isClaimed(const QString &folder, const QString &path) const
{
    const auto claimed = m_claimed.constFind(folder);
    return claimed != m_claimed.constEnd() && claimed->contains(path);
}

bool OutputClaims::taken(const QString &folder, const QString &path) const
{
    if (isClaimed(folder, path))
        return true;
    FileId identity;
    return !m_written.isEmpty() && identityOf(path, &identity) && m_written.contains(identity);
}

bool OutputClaims::nameParts(const QString &workbookFileName, bool onlyFirstSheet,
                             const QString &sheetName, QString *base, QString *suffix,
                             NameRefusal *refusal)
{
    *refusal = NameRefusal::None;
    *suffix = QStringLiteral(".csv");
    if (!onlyFirstSheet) {
        QString safe;
        if (!SafeSheetName(sheetName, &safe)) {
            *refusal = NameRefusal::DotName;
            return false;
        }
        *suffix = QLatin1Char('(') + safe + QStringLiteral(").csv");
    }
    *base = WorkbookBaseName(workbookFileName);
    if (!FitsFileNameLimit(*base + *suffix)) {
        *refusal = NameRefusal::TooLong;
        return false;
    }
    return true;
}

QString OutputClaims::firstChoice(const QString &folder, const QString &workbookFileName,
                                  bool onlyFirstSheet, const QString &sheetName,
                                  NameRefusal *refusal)
{
    QString base;
    QString suffix;
    if (!nameParts(workbookFileName, onlyFirstSheet, sheetName, &base, &suffix, refusal))
        return {};
    return joined(folder, base + suffix);
}

bool OutputClaims::claimIfFree(const QString &folder, const QString &path, const FileId *onDisk)
{
    if (isClaimed(folder, path) || (onDisk && m_written.contains(*onDisk)))
        return false;
    m_claimed[folder].insert(path);
    return true;
}

QString OutputClaims::claim(const QString &folder, const QString &workbookFileName,
                            bool onlyFirstSheet, const QString &sheetName, NameRefusal *refusal)
{
    QString base;
    QString suffix;
    if (!nameParts(workbookFileName, onlyFirstSheet, sheetName, &base, &suffix, refusal))
        return {};
    QString path = joined(folder, base + suffix);
    if (taken(folder, path)) {
        // The name up to the last dot tells the workbooks of one base name
        // apart; where it does not (report.xls, report.xlsx), a counter does.
        const int lastDot = workbookFileName.lastIndexOf(QLatin1Char('.'));
        QString stem = lastDot > 0 ? workbookFileName.left(lastDot) : base;
        if (!FitsFileNameLimit(stem + suffix))
            stem = base;
        path = joined(folder, stem + suffix);
        for (int n = 2; taken(folder, path); ++n) {
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

void OutputClaims::recordWritten(const QString &path, const sd::CommittedFile *committed)
{
    Written written;
    if (probeWritten(path, &written, committed))
        recordProbed(written);
}

bool OutputClaims::folderIdentityOf(const QString &folder, FileId *identity)
{
    struct stat st;
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    *identity = qMakePair(quint64(st.st_dev), quint64(st.st_ino));
    return true;
}

QString OutputClaims::foldedName(const QString &name)
{
    for (const QChar c : name) {
        if (c.unicode() >= 0x80)
            return name.normalized(QString::NormalizationForm_KD).toCaseFolded();
    }
    return name.toLower(); // ASCII: the same, without the tables
}

bool OutputClaims::probeWritten(const QString &path, Written *written,
                                const sd::CommittedFile *committed)
{
    if (committed && committed->inode && committed->folderInode) {
        written->file = qMakePair(committed->device, committed->inode);
        written->folder = qMakePair(committed->folderDevice, committed->folderInode);
        written->foldedName = foldedName(path.mid(path.lastIndexOf(QLatin1Char('/')) + 1));
        return true;
    }
    if (!identityOf(path, &written->file))
        return false;
    if (!placeOf(path, &written->folder, &written->foldedName))
        written->folder = FileId(); // asked about every name
    return true;
}

void OutputClaims::recordProbed(const Written &written)
{
    m_written.insert(written.file);
    if (written.folder == FileId())
        m_unknownFolder = true;
    if (m_writtenNames.empty())
        m_writtenNames.assign(kNameFilterWords, 0);
    const quint64 digest = nameDigest(written.folder, written.foldedName);
    for (int i = 0; i < kNameFilterProbes; ++i) {
        const quint64 bit = nameFilterBit(digest, i);
        m_writtenNames[bit / 64] |= quint64(1) << (bit % 64);
    }
}

bool OutputClaims::mayHaveWritten(const FileId &folder, const QString &foldedName) const
{
    // A "~" may make a short name that a FAT file system takes for a long
    // one; a folder not known by identity could be any.
    if (foldedName.contains(QLatin1Char('~')) || m_unknownFolder)
        return !m_written.isEmpty();
    if (m_writtenNames.empty())
        return false;
    const quint64 digest = nameDigest(folder, foldedName);
    for (int i = 0; i < kNameFilterProbes; ++i) {
        const quint64 bit = nameFilterBit(digest, i);
        if (!(m_writtenNames[bit / 64] & (quint64(1) << (bit % 64))))
            return false;
    }
    return true;
}

// FNV-1a over the folder's identity and the name's UTF-16 code units.
quint64 OutputClaims::nameDigest(const FileId &folder, const QString &foldedName)
{
    quint64 h = 14695981039346656037ULL;
    auto mix = [&h](quint64 value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            h ^= (value >> (8 * i)) & 0xFF;
            h *= 1099511628211ULL;
        }
    };
    mix(folder.first, 8);
    mix(folder.second, 8);
    for (const QChar c : foldedName)
        mix(c.unicode(), 2);
    return h;
}
