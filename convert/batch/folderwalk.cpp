#include "folderwalk.h"

#include "walkchecks.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Entries read between two questions whether to stop (a folder of a million
// files must not hold a stop request up).
constexpr int kEntriesPerStopCheck = 256;

using FolderId = std::pair<dev_t, ino_t>;

struct Listing
{
    QStringList files; // regular files, hidden ones included
    QStringList folders; // folders and links to folders, hidden ones left out
    bool undecodable = false; // names left out: not valid in the locale's encoding
};

// Sorts names by their lower-cased form, code unit by code unit; names that
// differ only in case keep a fixed order by their exact spelling.
void sortByLowerName(QStringList &names)
{
    std::vector<std::pair<QString, QString>> keys;
    keys.reserve(size_t(names.size()));
    for (const QString &name : qAsConst(names))
        keys.emplace_back(name.toLower(), name);
    std::sort(keys.begin(), keys.end());
    names.clear();
    for (auto &key : keys)
        names.append(std::move(key.second));
}

// Reads the folder open at `fd` (and takes it over) in one pass. False when
// the walk is to stop.
bool listFolder(int fd, Listing &out, const std::function<bool()> &stopRequested)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return true;
    }
    int sinceCheck = 0;
    while (const dirent *entry = ::readdir(dir)) {
        if (++sinceCheck == kEntriesPerStopCheck) {
            sinceCheck = 0;
            if (stopRequested && stopRequested()) {
                ::closedir(dir);
                return false;
            }
        }
        const char *name = entry->d_name;
        if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
            continue;
        unsigned char type = entry->d_type;
        struct stat info;
        if (type == DT_UNKNOWN) {
            if (::fstatat(::dirfd(dir), name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(info.st_mode) ? DT_REG
                : S_ISDIR(info.st_mode)  ? DT_DIR
                : S_ISLNK(info.st_mode)  ? DT_LNK
                                         : DT_UNKNOWN;
        }
        const bool hidden = name[0] == '.';
        if (type != DT_REG && (hidden || (type != DT_DIR && type != DT_LNK)))
            continue;
        // A name the locale cannot decode would be opened under another name.
        const QByteArray bytes(name);
        QString decoded = QFile::decodeName(bytes);
        if (QFile::encodeName(decoded) != bytes) {
            out.undecodable = true;
            continue;
        }
        if (type == DT_REG) {
            out.files.append(std::move(decoded));
        } else if (type == DT_DIR) {
            out.folders.append(std::move(decoded));
        } else if (::fstatat(::dirfd(dir), name, &info, 0) == 0 && S_ISDIR(info.st_mode)) {
            out.folders.append(std::move(decoded));
        }
    }
    ::closedir(dir);
    return true;
}

QString childPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

} // namespace

QFileInfoList WalkFolderTree(const QString &root, const std::function<bool()> &stopRequested,
                             bool *stopped, QList<WalkProblem> *problems)
{
    QFileInfoList result;
    WalkFolderPaths(
        root, [&result](QString &&path) { result.append(QFileInfo(path)); }, stopRequested, stopped,
        problems);
    return result;
}

void WalkFolderPaths(const QString &root, const std::function<void(QString &&)> &found,
                     const std::function<bool()> &stopRequested, bool *stopped,
                     QList<WalkProblem> *problems)
{
    if (stopped)
        *stopped = false;
    if (root.isEmpty())
        return;

    // Folders still to walk, the next one last; a frame with `leave` set
    // marks the end of a folder's subtree, where it leaves the descent.
    struct Frame
    {
        QString path;
        bool leave = false;
        FolderId id {};
    };
    std::vector<Frame> pending;
    pending.push_back({ QDir(root).absolutePath() });
    std::set<FolderId> descent;
    std::map<FolderId, int> visits;

    while (!pending.empty()) {
        Frame frame = std::move(pending.back());
        pending.pop_back();
        if (frame.leave) {
            descent.erase(frame.id);
            continue;
        }
        if (stopRequested && stopRequested()) {
            if (stopped)
                *stopped = true;
            return;
        }
        // A folder that cannot be read (no right, path too long) is reported;
        // one that has gone meanwhile is not.
        auto reportedUnreadable = [&]() {
            const QString reason = problems ? UnreadableFolderReason(frame.path) : QString();
            if (!reason.isEmpty())
                problems->append({ WalkProblem::UnreadableFolder, frame.path, reason });
            return !reason.isEmpty();
        };
        const int fd
            = ::open(QFile::encodeName(frame.path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            if (errno != ENOENT)
                reportedUnreadable();
            continue;
        }
        struct stat info;
        if (::fstat(fd, &info) != 0) {
            ::close(fd);
            continue;
        }
        const FolderId id { info.st_dev, info.st_ino };
        if (descent.count(id) || ++visits[id] > kMaxFolderVisits) {
            ::close(fd); // a link back to a folder on the way down
            continue;
        }
        // Listed but not searchable (no x right): its files cannot be opened.
        if (reportedUnreadable()) {
            ::close(fd);
            continue;
        }
        Listing listing;
        if (!listFolder(fd, listing, stopRequested)) {
            if (stopped)
                *stopped = true;
            return;
        }
        if (problems && listing.undecodable)
            *problems += UndecodableEntries(frame.path);
        sortByLowerName(listing.files);
        sortByLowerName(listing.folders);
        for (const QString &name : qAsConst(listing.files))
            found(childPath(frame.path, name));
        descent.insert(id);
        pending.push_back({ QString(), true, id });
        for (int i = listing.folders.size() - 1; i >= 0; --i)
            pending.push_back({ childPath(frame.path, listing.folders[i]) });
    }
}
