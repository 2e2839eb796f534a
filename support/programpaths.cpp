#include "programpaths.h"

#include "settingsfile.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

char ProgramDirectory[PathBufferSize] = {};
char SettingsFilePath[PathBufferSize] = {};

namespace {

// The per-user configuration folder when ChooseSettingsFile chose a per-user
// file that is still to be made; empty otherwise.
char g_pendingConfigHome[PathBufferSize] = {};

constexpr char kExecutableLink[] = "/proc/self/exe";
// The per-user folders are private to their user.
constexpr mode_t kUserFolderMode = 0700;
constexpr mode_t kUserFileMode = 0600;

// a + b + c into out (PathBufferSize bytes); false when it does not fit.
bool join(char *out, const char *a, const char *b, const char *c = "")
{
    const std::size_t la = std::strlen(a), lb = std::strlen(b), lc = std::strlen(c);
    if (la + lb + lc >= PathBufferSize)
        return false;
    std::memcpy(out, a, la);
    std::memcpy(out + la, b, lb);
    std::memcpy(out + la + lb, c, lc + 1);
    return true;
}

bool writeAll(int fd, const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Makes the per-user settings file at path holding text; never replaces a
// file that is there already. False (and nothing left) on any failure.
bool createUserFile(const char *configHome, const char *folder, const char *path, const char *text)
{
    ::mkdir(configHome, kUserFolderMode); // exists already, usually
    ::mkdir(folder, kUserFolderMode);
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kUserFileMode);
    if (fd < 0)
        return false;
    bool ok = writeAll(fd, text, std::strlen(text));
    ok = ::close(fd) == 0 && ok;
    if (!ok)
        ::unlink(path);
    return ok;
}

} // namespace

int SetProgramPaths(const char *argv0)
{
    ProgramDirectory[0] = '\0';
    SettingsFilePath[0] = '\0';
    // argv[0] is null when the program is started with an empty argument list.
    if (!argv0)
        return -1;
    const std::size_t length = strnlen(argv0, PathBufferSize);
    if (length >= PathBufferSize)
        return -1;
    const char *lastSlash = std::strrchr(argv0, '/');
    const std::size_t directoryLength
        = lastSlash ? static_cast<std::size_t>(lastSlash - argv0) + 1 : 0;
    const std::size_t nameLength = sizeof SettingsFileName - 1;
    if (directoryLength + nameLength >= PathBufferSize)
        return -1;
    std::memcpy(ProgramDirectory, argv0, directoryLength);
    ProgramDirectory[directoryLength] = '\0';
    std::memcpy(SettingsFilePath, argv0, directoryLength);
    std::memcpy(SettingsFilePath + directoryLength, SettingsFileName, nameLength + 1);
    return 0;
}

// The link names the executable's absolute path. An executable replaced on
// disk while it runs reads as "PATH (deleted)", which still ends in the
// executable's own name, so its folder is right.
int SetProgramPathsFromExecutable(const char *argv0)
{
    char executable[PathBufferSize];
    const ssize_t n = ::readlink(kExecutableLink, executable, sizeof executable);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof executable || executable[0] != '/')
        return SetProgramPaths(argv0);
    executable[n] = '\0';
    return SetProgramPaths(executable);
}

int UserConfigHome(char *out, std::size_t outSize)
{
    if (!out || outSize == 0)
        return -1;
    out[0] = '\0';
    const char *xdg = std::getenv("XDG_CONFIG_HOME");
    const char *home = std::getenv("HOME");
    const char *base = nullptr;
    const char *suffix = "";
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG rules say.
    if (xdg && xdg[0] == '/') {
        base = xdg;
    } else if (home && home[0] == '/') {
        base = home;
        suffix = "/.config";
    } else {
        return -1;
    }
    const std::size_t lb = std::strlen(base), ls = std::strlen(suffix);
    if (lb + ls >= outSize)
        return -1;
    std::memcpy(out, base, lb);
    std::memcpy(out + lb, suffix, ls + 1);
    return 0;
}

int ChooseSettingsFile(const char *configHome)
{
    g_pendingConfigHome[0] = '\0';
    if (SettingsFileWritable(SettingsFilePath))
        return 0;
    char folder[PathBufferSize];
    char userPath[PathBufferSize];
    if (!configHome || configHome[0] != '/'
        || !join(folder, configHome, "/", UserSettingsFolderName)
        || !join(userPath, folder, "/", SettingsFileName))
        return 0;

    struct stat info;
    if (::stat(userPath, &info) != 0) {
        // Without a file beside the program, the per-user file is made when
        // the settings are first written; with one, its settings move to the
        // per-user file now.
        if (SettingsFilePath[0] == '\0' || ::stat(SettingsFilePath, &info) != 0
            || !S_ISREG(info.st_mode)) {
            std::memcpy(g_pendingConfigHome, configHome, std::strlen(configHome) + 1);
            std::memcpy(SettingsFilePath, userPath, std::strlen(userPath) + 1);
            return 1;
        }
        char text[SettingsTextSize] = {};
        LoadSettingsText(text, sizeof text, SettingsFilePath);
        if (!createUserFile(configHome, folder, userPath, text))
            return 0;
    }
    std::memcpy(SettingsFilePath, userPath, std::strlen(userPath) + 1);
    return 1;
}

int CreateChosenSettingsFile()
{
    if (g_pendingConfigHome[0] == '\0')
        return 0;
    char folder[PathBufferSize];
    struct stat info;
    if (!join(folder, g_pendingConfigHome, "/", UserSettingsFolderName))
        return -1;
    if (::stat(SettingsFilePath, &info) != 0
        && !createUserFile(g_pendingConfigHome, folder, SettingsFilePath, ""))
        return -1;
    g_pendingConfigHome[0] = '\0';
    return 0;
}
