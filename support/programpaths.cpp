#include "programpaths.h"

#include <cstring>

char ProgramDirectory[PathBufferSize] = {};
char SettingsFilePath[PathBufferSize] = {};

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
