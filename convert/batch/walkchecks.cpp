#include "walkchecks.h"

#include <QFile>
#include <QTextCodec>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool isWorkbookName(const QByteArray &name)
{
    const QByteArray lower = name.toLower();
    if (lower.contains("~$"))
        return false;
    return lower.endsWith(".xls") || lower.endsWith(".xlsx") || lower.endsWith(".xlsm");
}

QString locationOf(const QString &folder, const QByteArray &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + ShowableName(name)
                                             : folder + QLatin1Char('/') + ShowableName(name);
}

// The name read as GBK, when it is valid GBK: most such names come from
// Chinese archives, and the user can tell the file by it.
QString gbkHint(const QByteArray &name)
{
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    if (!gbk)
        return {};
    QTextCodec::ConverterState state;
    const QString text = gbk->toUnicode(name.constData(), name.size(), &state);
    if (state.invalidChars || state.remainingChars || text.contains(QChar::ReplacementCharacter))
        return {};
    return QStringLiteral(" (read as GBK: %1)").arg(text);
}

QString encodingName()
{
    QTextCodec *codec = QTextCodec::codecForLocale();
    return codec ? QString::fromLatin1(codec->name()) : QStringLiteral("the locale's");
}

} // namespace

QString ShowableName(const QByteArray &name)
{
    if (QFile::encodeName(QFile::decodeName(name)) == name)
        return QFile::decodeName(name);
    QString shown;
    for (const char c : name) {
        const uchar byte = uchar(c);
        if (byte >= 0x20 && byte < 0x7F)
            shown += QLatin1Char(c);
        else
            shown += QStringLiteral("\\x")
                + QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0'));
    }
    return shown;
}

QString UnreadableFolderReason(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), R_OK | X_OK) == 0)
        return {};
    const int err = errno;
    return QStringLiteral("the folder cannot be read (%1); the workbooks in it were not "
                          "converted")
        .arg(QString::fromLocal8Bit(std::strerror(err)));
}

QList<WalkProblem> UndecodableEntries(const QString &folder)
{
    QList<WalkProblem> problems;
    const int fd
        = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = fd >= 0 ? ::fdopendir(fd) : nullptr;
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return problems;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == ".." || QFile::encodeName(QFile::decodeName(name)) == name)
            continue;
        struct stat st;
        if (::fstatat(fd, entry->d_name, &st, 0) != 0)
            continue;
        const QString where = locationOf(folder, name);
        if (S_ISDIR(st.st_mode) && !name.startsWith('.') && !name.contains("~$")) {
            problems.append({ WalkProblem::UndecodableFolder, where,
                              QStringLiteral("the folder's name is not valid %1 text%2; the "
                                             "workbooks in it were not converted")
                                  .arg(encodingName(), gbkHint(name)) });
        } else if (S_ISREG(st.st_mode) && isWorkbookName(name)) {
            // A link to a file is passed over by the walk, so it is here too.
            struct stat link;
            if (::fstatat(fd, entry->d_name, &link, AT_SYMLINK_NOFOLLOW) == 0
                && S_ISLNK(link.st_mode))
                continue;
            problems.append({ WalkProblem::UndecodableWorkbook, where,
                              QStringLiteral("the file name is not valid %1 text%2; rename the "
                                             "file to convert it")
                                  .arg(encodingName(), gbkHint(name)) });
        }
    }
    ::closedir(dir);
    // In a fixed order, whatever order the folder lists its entries in.
    std::sort(problems.begin(), problems.end(),
              [](const WalkProblem &a, const WalkProblem &b) { return a.path < b.path; });
    return problems;
}
