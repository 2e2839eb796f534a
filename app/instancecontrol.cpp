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

extern char **environ;

namespace {

constexpr const char kProcRoot[] = "/proc";
// comm holds at most 15 bytes and a newline; anything longer cannot match a
// name the kernel would store, but read a little more so such a file is seen
// as "longer" rather than cut to a false match.
constexpr size_t kCommBufferSize = 64;
constexpr size_t kPathBufferSize = 4096;
// The environment variables that say where a copy shows its window.
constexpr const char *kDisplayVariables[] = { "DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM" };

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

// The whole content of procRoot/entryName/file; false when it cannot be read.
bool readProcessFile(const char *procRoot, const char *entryName, const char *file,
                     std::string &content)
{
    char path[kPathBufferSize];
    const int n = std::snprintf(path, sizeof path, "%s/%s/%s", procRoot, entryName, file);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path)
        return false;
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    content.clear();
    char buffer[4096];
    bool ok = true;
    for (;;) {
        const ssize_t r = ::read(fd, buffer, sizeof buffer);
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0)
            ok = false;
        if (r <= 0)
            break;
        content.append(buffer, static_cast<size_t>(r));
    }
    ::close(fd);
    return ok;
}

// The real user id, the first number of the "Uid:" line of a status file.
bool realUserOf(const std::string &status, uid_t &user)
{
    size_t from;
    if (status.compare(0, 4, "Uid:") == 0) {
        from = 4;
    } else {
        from = status.find("\nUid:");
        if (from == std::string::npos)
            return false;
        from += 5;
    }
    errno = 0;
    char *end = nullptr;
    const unsigned long value = std::strtoul(status.c_str() + from, &end, 10);
    if (errno != 0 || end == status.c_str() + from)
        return false;
    user = static_cast<uid_t>(value);
    return static_cast<unsigned long>(user) == value;
}

// Whether the process `entryName` under `procRoot` belongs to `scope`.
bool processInScope(const char *procRoot, const char *entryName,
                    const sheetdrain::InstanceScope &scope)
{
    std::string status, environment;
    uid_t user = 0;
    return readProcessFile(procRoot, entryName, "status", status) && realUserOf(status, user)
        && user == scope.user && readProcessFile(procRoot, entryName, "environ", environment)
        && sheetdrain::displayOfEnvironment(environment) == scope.display;
}

// The start time of a process (clock ticks after boot): field 22 of its
// stat file. The name in field 2 is in parentheses and may itself hold
// spaces and parentheses, so the fields are counted after its last ')'.
bool startTimeOf(const char *procRoot, const char *entryName, unsigned long long &start)
{
    std::string stat;
    if (!readProcessFile(procRoot, entryName, "stat", stat))
        return false;
    const size_t close = stat.rfind(')');
    if (close == std::string::npos)
        return false;
    const char *p = stat.c_str() + close + 1;
    // After the name: state (3), ppid (4), ..., starttime (22).
    for (int field = 3; field < 22; ++field) {
        while (*p == ' ')
            ++p;
        while (*p && *p != ' ')
            ++p;
        if (!*p)
            return false;
    }
    errno = 0;
    char *end = nullptr;
    start = std::strtoull(p, &end, 10);
    return errno == 0 && end != p && (*end == ' ' || *end == '\n' || *end == '\0');
}

// Walks the process table in listing order and calls `visit` with the entry
// name and pid of each process in `scope` named `exeName`; stops when `visit`
// returns false.
// Returns false when the table cannot be read.
template<typename Visit>
bool walkProcessesNamed(const char *procRoot, const char *exeName,
                        const sheetdrain::InstanceScope &scope, Visit visit)
{
    DIR *dir = ::opendir(procRoot);
    if (!dir)
        return false;
    while (const dirent *entry = ::readdir(dir)) {
        const pid_t pid = processIdOf(entry->d_name);
        if (pid == 0)
            continue;
        if (processHasName(procRoot, entry->d_name, exeName)
            && processInScope(procRoot, entry->d_name, scope) && !visit(entry->d_name, pid))
            break;
    }
    ::closedir(dir);
    return true;
}

} // namespace

namespace sheetdrain {

std::string displayOfEnvironment(const std::string &environment)
{
    std::string display;
    for (const char *name : kDisplayVariables) {
        const std::string key = std::string(name) + '=';
        for (size_t at = 0; at < environment.size();) {
            size_t end = environment.find('\0', at);
            if (end == std::string::npos)
                end = environment.size();
            if (environment.compare(at, key.size(), key) == 0) {
                display.append(environment, at, end - at);
                display += '\0';
                break;
            }
            at = end + 1;
        }
    }
    return display;
}

InstanceScope currentScope()
{
    InstanceScope scope;
    scope.user = ::getuid();
    std::string environment;
    for (char **entry = environ; entry && *entry; ++entry) {
        environment += *entry;
        environment += '\0';
    }
    scope.display = displayOfEnvironment(environment);
    return scope;
}

int countProcessesNamedIn(const char *procRoot, const char *exeName, const InstanceScope &scope)
{
    if (!procRoot || !exeName)
        return 0;
    int count = 0;
    walkProcessesNamed(procRoot, exeName, scope, [&count](const char *, pid_t) {
        ++count;
        return true;
    });
    return count;
}

pid_t oldestOtherProcessNamedIn(const char *procRoot, const char *exeName,
                                const InstanceScope &scope, pid_t self)
{
    if (!procRoot || !exeName)
        return 0;
    pid_t oldest = 0;
    unsigned long long oldestStart = 0;
    walkProcessesNamed(procRoot, exeName, scope, [&](const char *entryName, pid_t pid) {
        unsigned long long start = 0;
        if (pid != self && startTimeOf(procRoot, entryName, start)
            && (oldest == 0 || start < oldestStart || (start == oldestStart && pid < oldest))) {
            oldest = pid;
            oldestStart = start;
        }
        return true;
    });
    return oldest;
}

int terminateOldestOtherProcessNamedIn(const char *procRoot, const char *exeName,
                                       const InstanceScope &scope, pid_t self)
{
    const pid_t pid = oldestOtherProcessNamedIn(procRoot, exeName, scope, self);
    if (pid == 0)
        return 0;
    // The result is not examined: a process that has gone is left as it is.
    ::kill(pid, SIGTERM);
    return 1;
}

} // namespace sheetdrain

int CountProcessesNamed(const char *exeName)
{
    return sheetdrain::countProcessesNamedIn(kProcRoot, exeName, sheetdrain::currentScope());
}

int TerminateFirstProcessNamed(const char *exeName)
{
    return sheetdrain::terminateOldestOtherProcessNamedIn(kProcRoot, exeName,
                                                          sheetdrain::currentScope(), ::getpid());
}
