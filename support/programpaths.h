#pragma once

#include "pathstrings.h"

// The program's folder, up to and including its last '/', or empty; set once
// at start-up.
extern char ProgramDirectory[PathBufferSize];

// ProgramDirectory followed by SettingsFileName, or empty, or the per-user
// settings file (ChooseSettingsFile); set once at start-up.
extern char SettingsFilePath[PathBufferSize];

// Name of the settings file beside the executable.
constexpr char SettingsFileName[] = "SheetDrain.ktz";

// Sets both paths from the program's first argument; 0 set, -1 refused (null, or a path too
// long for the buffers), both then left empty, which reads as a missing settings file.
int SetProgramPaths(const char *argv0);

// Sets both paths from the running executable's real location (/proc/self/exe),
// so that a program started by name from PATH finds its own folder; when that
// cannot be read, from argv0 as SetProgramPaths does. 0 set, -1 refused.
int SetProgramPathsFromExecutable(const char *argv0);

// The per-user configuration folder into out: $XDG_CONFIG_HOME when it is an
// absolute path, otherwise $HOME/.config. 0 set, -1 none (out empty).
int UserConfigHome(char *out, std::size_t outSize);

// Name of the per-user settings folder inside the configuration folder.
constexpr char UserSettingsFolderName[] = "SheetDrain";

// Moves SettingsFilePath to the per-user file configHome/SheetDrain/SheetDrain.ktz
// when the file beside the program cannot be written (a system install, or a
// program copied or built without one): the per-user file is used when it
// exists; otherwise it is made from the one beside the program (its text, or
// empty when it cannot be read) when that exists, and left to be made at the
// first write (CreateChosenSettingsFile) when there is none. configHome must
// be absolute (null or relative: no per-user file). 1 moved, 0 kept as it was.
int ChooseSettingsFile(const char *configHome);

// Makes the per-user settings file, empty and private to the user, when
// ChooseSettingsFile chose it and it does not exist yet; call it before the
// first write. 0 the file is there (or was never to be made here), -1 it
// could not be made.
int CreateChosenSettingsFile();
