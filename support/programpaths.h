#pragma once

#include "pathstrings.h"

// The folder the program was started from, up to and including its last '/',
// or empty; set once at start-up.
extern char ProgramDirectory[PathBufferSize];

// ProgramDirectory followed by SettingsFileName, or empty; set once at start-up.
extern char SettingsFilePath[PathBufferSize];

// Name of the settings file beside the executable.
constexpr char SettingsFileName[] = "SheetDrain.ktz";

// Sets both paths from the program's first argument; 0 set, -1 refused (null, or a path too
// long for the buffers), both then left empty, which reads as a missing settings file.
int SetProgramPaths(const char *argv0);
