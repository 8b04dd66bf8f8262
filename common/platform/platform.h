// The few operating-system services the workbench needs, behind one small interface.
// Linux implementation in platform_linux.cpp.
#pragma once

#include <QString>
#include <QStringList>

#include <string>

namespace Platform {

struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

// Local wall-clock time with millisecond resolution.
LocalTime localTime();

// The process's current directory, as 8-bit text (empty when it cannot be read).
std::string currentDirectory();

// Full path of the running executable (empty when unknown).
std::string executablePath();

// Name filter that matches loadable libraries of this platform ("*.so").
QString libraryFilter();

enum class InstanceLock {
    Acquired,     // this process holds the lock until it ends
    HeldElsewhere, // a running process holds it
    Unavailable,  // the lock file cannot be opened; nothing is known about other copies
};

// Takes the process-wide exclusive lock called `name` and keeps it until the process ends.
// The lock file is per user: in $XDG_RUNTIME_DIR when that is the user's own folder,
// otherwise in the temporary folder with the user id in its name.
InstanceLock acquireInstanceLock(const std::string &name);
// Where the lock called `name` lives.
std::string instanceLockPath(const std::string &name);

// Takes the lock called `name` as soon as the process holding it lets it go, on a thread of its
// own, and keeps it until this process ends. For a copy started while its parent still holds it.
void acquireInstanceLockWhenFree(const std::string &name);

// Starts `program` with `arguments`, detached, in `workingDirectory`. True when it started.
bool startDetached(const QString &program, const QStringList &arguments,
                   const QString &workingDirectory);

enum class StartResult {
    Reported,   // the new process said it runs
    Ended,      // it could not be started, or ended before it said so
    Silent,     // it runs but has not said so within the time allowed
};

// Starts `program` detached in `workingDirectory` with this process's environment plus the
// variable `notifyVariable`, which names a descriptor the new process writes one byte to once
// it runs (reportStarted), and waits up to `timeoutMs` for that byte.
StartResult startDetachedAndWait(const QString &program, const QStringList &arguments,
                                 const QString &workingDirectory, const char *notifyVariable,
                                 int timeoutMs);
// In a process started that way: whether it was (the variable is set).
bool startedWithNotify(const char *notifyVariable);
// Writes the byte to the descriptor the variable names and closes it; once, later calls and
// processes started otherwise do nothing.
void reportStarted(const char *notifyVariable);

// Asks the desktop to open a file with its default application.
bool shellOpen(const QString &path);

// Whether the Qt platform this process would start on can show a window. The platform is the
// one "-platform" names among `argv`, else QT_QPA_PLATFORM, else Qt's default (xcb). xcb and
// wayland draw on a display server and need DISPLAY or WAYLAND_DISPLAY; offscreen, vnc and the
// rest need none. A list ("wayland;xcb") can show a window when any of its platforms can.
bool displayReachable(int argc, const char *const *argv);

// What a GUI program prints, instead of Qt's abort, when `displayReachable` is false: that there
// is no display, then how to get the window. Several lines, each ending in '\n'.
const char *noDisplayMessage();

} // namespace Platform
