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

// Starts `program` with `arguments`, detached, in `workingDirectory`. True when it started.
bool startDetached(const QString &program, const QStringList &arguments,
                   const QString &workingDirectory);

// Asks the desktop to open a file with its default application.
bool shellOpen(const QString &path);

} // namespace Platform
