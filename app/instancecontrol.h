#pragma once

#include <sys/types.h>

#include <string>

// Instance control over the process table in /proc.
//
// A process's name is the content of /proc/PID/comm without its newline: the
// file name of its executable, cut to 15 bytes by the kernel. Processes are
// taken in the order in which the /proc directory lists them. Only the
// copies in the caller's own scope count: processes of the same user (the
// real user id in /proc/PID/status) that show their windows in the same
// place, that is, that were started with the same DISPLAY, WAYLAND_DISPLAY
// and QT_QPA_PLATFORM (from /proc/PID/environ). So a copy never closes
// another user's window, one on another display or seat, or a headless copy
// (offscreen platform) that a test started, and the reverse. A process whose
// owner or environment cannot be read does not count. A /proc that cannot be
// read counts as "no process".
//
// The copy that a new one closes is the oldest other copy, by the start time
// in /proc/PID/stat: /proc lists processes by id, and once ids have wrapped
// (pid_max) a new copy can have a lower id than the running one, so "the
// first listed" could be the new copy itself.

/// The executable name that instance control looks for.
inline constexpr const char kProgramExeName[] = "SheetDrain";

/// Number of running processes in the caller's scope whose name equals
/// `exeName` byte for byte (case-sensitive); 0 if `exeName` is null or /proc
/// cannot be read. The calling process counts when its name matches.
int CountProcessesNamed(const char *exeName);

/// Sends SIGTERM to the oldest other process in the caller's scope whose
/// name equals `exeName` (never to the caller). Returns 1 if such a process
/// was found, whether or not the signal could be delivered, and 0 if none was
/// found, `exeName` is null or /proc cannot be read.
int TerminateFirstProcessNamed(const char *exeName);

namespace sheetdrain {

/// Whose copies count: a user and the place where windows are shown.
struct InstanceScope
{
    uid_t user = 0;
    // "NAME=value" of each of DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM
    // that is set, each followed by a NUL, in that order.
    std::string display;
};

/// The calling process's scope: its real user and its environment.
InstanceScope currentScope();

/// The display part of a scope taken from an environment block (entries
/// ended by NUL bytes, as in /proc/PID/environ).
std::string displayOfEnvironment(const std::string &environment);

/// The same walks over another process-table root (tests use a folder laid
/// out like /proc) and scope. Only entries whose names are decimal numbers in
/// the range of a process id count.
int countProcessesNamedIn(const char *procRoot, const char *exeName, const InstanceScope &scope);
/// The oldest process other than `self` (by start time; the lower id when
/// two started in the same clock tick) in `scope` named `exeName`, or 0.
/// A process whose start time cannot be read is never chosen.
pid_t oldestOtherProcessNamedIn(const char *procRoot, const char *exeName,
                                const InstanceScope &scope, pid_t self);
int terminateOldestOtherProcessNamedIn(const char *procRoot, const char *exeName,
                                       const InstanceScope &scope, pid_t self);

} // namespace sheetdrain
