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

// Takes the process-wide exclusive lock called `name` and keeps it until the process ends.
// Returns false when another process holds it already (or the lock file cannot be used).
bool acquireInstanceLock(const std::string &name);

// Starts `program` with `arguments`, detached, in `workingDirectory`. True when it started.
bool startDetached(const QString &program, const QStringList &arguments,
                   const QString &workingDirectory);

// Asks the desktop to open a file with its default application.
bool shellOpen(const QString &path);

} // namespace Platform
