#include "folderchain.h"

#include "pathstrings.h"

#include <cerrno>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// Mode of the folders made; the umask applies.
constexpr mode_t kFolderMode = 0777;

// mkdir() of the first `end` bytes of `work`: 0 or errno.
int makeLevel(char *work, int end)
{
    const char kept = work[end];
    work[end] = '\0';
    const int err = mkdir(work, kFolderMode) == 0 ? 0 : errno;
    work[end] = kept;
    return err;
}

// Makes the missing levels of `work` (which ends in '/') upwards from the
// last until one is made or exists, then the rest downwards: a new folder in
// an existing one takes one mkdir(), and the folders above, which every job
// of a batch shares, are not locked by a mkdir() that finds them there.
// False when a level fails for another reason than a missing parent.
bool createFromDeepest(char *work, int separators)
{
    int k = separators;
    for (; k >= 1; --k) {
        const int end = FindNthChar(work, '/', k);
        if (end <= 0)
            break; // the root, or an empty level
        const int err = makeLevel(work, end);
        if (err == 0 || err == EEXIST)
            break;
        if (err != ENOENT)
            return false;
    }
    for (++k; k <= separators; ++k) {
        const int err = makeLevel(work, FindNthChar(work, '/', k));
        if (err != 0 && err != EEXIST)
            return false;
    }
    return true;
}

} // namespace

int CreateFolderChain(const char *path)
{
    if (!path)
        return -1;
    char work[PathBufferSize];
    // Room for the path, a separator that may be appended and the NUL.
    const std::size_t length = std::strlen(path);
    if (length + 2 > sizeof work)
        return -1;
    std::memcpy(work, path, length + 1);
    if (length == 0 || work[length - 1] != '/') {
        work[length] = '/';
        work[length + 1] = '\0';
    }

    // Every sheet of a folder asks for the same chain: when the whole path is
    // a folder already, every level exists and there is nothing to create.
    struct stat info;
    if (stat(work, &info) == 0 && S_ISDIR(info.st_mode))
        return 0;

    const int separators = CountChar(work, '/');
    if (createFromDeepest(work, separators))
        return 0;
    // Shortest first, passing over what fails, as a level that cannot be made
    // (a name too long, no right) must not keep the ones above it from being
    // made.
    char level[PathBufferSize];
    for (int k = 1; k <= separators; ++k) {
        const int end = FindNthChar(work, '/', k);
        if (CopyRange(level, sizeof level, work, 0, end) != 0 || level[0] == '\0')
            continue;
        mkdir(level, kFolderMode); // exists already, or no right: ignored
    }
    return 0;
}
