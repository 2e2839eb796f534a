#include "instancecontrol.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr const char kProcRoot[] = "/proc";
// comm holds at most 15 bytes and a newline; anything longer cannot match a
// name the kernel would store, but read a little more so such a file is seen
// as "longer" rather than cut to a false match.
constexpr size_t kCommBufferSize = 64;
constexpr size_t kPathBufferSize = 4096;

// The process id an entry of the process table names, or 0 when the entry is
// not a process (not all digits, or out of range). Zero and negative values
// must never reach kill(): 0 and -1 address whole process groups.
pid_t processIdOf(const char *entryName)
{
    if (entryName[0] == '\0')
        return 0;
    for (const char *p = entryName; *p; ++p) {
        if (*p < '0' || *p > '9')
            return 0;
    }
    errno = 0;
    char *end = nullptr;
    const long value = std::strtol(entryName, &end, 10);
    if (errno != 0 || *end != '\0' || value <= 0 || value > INT_MAX)
        return 0;
    return static_cast<pid_t>(value);
}

// Whether the process `entryName` under `procRoot` is called `exeName`. A
// process that ended since the directory was read simply does not match.
bool processHasName(const char *procRoot, const char *entryName, const char *exeName)
{
    char path[kPathBufferSize];
    const int n = std::snprintf(path, sizeof path, "%s/%s/comm", procRoot, entryName);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path)
        return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char comm[kCommBufferSize];
    ssize_t got = 0;
    for (;;) {
        const ssize_t r = ::read(fd, comm + got, sizeof comm - 1 - static_cast<size_t>(got));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        got += r;
        if (static_cast<size_t>(got) >= sizeof comm - 1)
            break;
    }
    ::close(fd);
    if (got <= 0)
        return false;
    comm[got] = '\0';
    if (comm[got - 1] == '\n')
        comm[got - 1] = '\0';
    return std::strcmp(comm, exeName) == 0;
}

// Walks the process table in listing order and calls `visit` with the pid of
// each process named `exeName`; stops when `visit` returns false. Returns
// false when the table cannot be read.
template<typename Visit>
bool walkProcessesNamed(const char *procRoot, const char *exeName, Visit visit)
{
    DIR *dir = ::opendir(procRoot);
    if (!dir)
        return false;
    while (const dirent *entry = ::readdir(dir)) {
        const pid_t pid = processIdOf(entry->d_name);
        if (pid == 0)
            continue;
        if (processHasName(procRoot, entry->d_name, exeName) && !visit(pid))
            break;
    }
    ::closedir(dir);
    return true;
}

} // namespace

namespace sheetdrain {

int countProcessesNamedIn(const char *procRoot, const char *exeName)
{
    if (!procRoot || !exeName)
        return 0;
    int count = 0;
    walkProcessesNamed(procRoot, exeName, [&count](pid_t) {
        ++count;
        return true;
    });
    return count;
}

int terminateFirstProcessNamedIn(const char *procRoot, const char *exeName)
{
    if (!procRoot || !exeName)
        return 0;
    int found = 0;
    walkProcessesNamed(procRoot, exeName, [&found](pid_t pid) {
        // The result is not examined: a process that has gone or that belongs
        // to someone we may not signal is left as it is.
        ::kill(pid, SIGTERM);
        found = 1;
        return false;
    });
    return found;
}

} // namespace sheetdrain

int CountProcessesNamed(const char *exeName)
{
    return sheetdrain::countProcessesNamedIn(kProcRoot, exeName);
}

int TerminateFirstProcessNamed(const char *exeName)
{
    return sheetdrain::terminateFirstProcessNamedIn(kProcRoot, exeName);
}
