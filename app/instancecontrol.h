#pragma once

// Instance control over the process table in /proc.
//
// A process's name is the content of /proc/PID/comm without its newline: the
// file name of its executable, cut to 15 bytes by the kernel. Processes are
// taken in the order in which the /proc directory lists them, every user's
// processes included. A /proc that cannot be read counts as "no process".

/// The executable name that instance control looks for.
inline constexpr const char kProgramExeName[] = "SheetDrain";

/// Number of running processes whose name equals `exeName` byte for byte
/// (case-sensitive); 0 if `exeName` is null or /proc cannot be read.
int CountProcessesNamed(const char *exeName);

/// Sends SIGTERM to the first listed process whose name equals `exeName`.
/// Returns 1 if such a process was found, whether or not the signal could be
/// delivered, and 0 if none was found, `exeName` is null or /proc cannot be
/// read. The calling process is not skipped.
int TerminateFirstProcessNamed(const char *exeName);

namespace sheetdrain {

/// The same walks over another process-table root (tests use a folder laid
/// out like /proc). Only entries whose names are decimal numbers in the range
/// of a process id count.
int countProcessesNamedIn(const char *procRoot, const char *exeName);
int terminateFirstProcessNamedIn(const char *procRoot, const char *exeName);

} // namespace sheetdrain
