#include "folderchain.h"

#include "pathstrings.h"

#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>

namespace {

// Mode of the folders made; the umask applies.
constexpr mode_t kFolderMode = 0777;

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

    char level[PathBufferSize];
    const int separators = CountChar(work, '/');
    for (int k = 1; k <= separators; ++k) {
        const int end = FindNthChar(work, '/', k);
        if (CopyRange(level, sizeof level, work, 0, end) != 0 || level[0] == '\0')
            continue;
        mkdir(level, kFolderMode); // exists already, or no right: ignored
    }
    return 0;
}
