// What the window remembers between runs for the user: each row's path and the folder its
// dialog last opened, the export folder, and the process log. Kept in a file of its own beside
// the plug-in's setting file, written through a temporary file renamed into place. The file may
// have been edited or cut short: whatever cannot be read is left out.
#pragma once

#include "deltamaker/window/build_plan.h"

#include <QString>
#include <QVector>

namespace Deltamaker {

struct SessionLogRow {
    QString time;   // "yyyy-MM-dd hh:mm:ss.zzz" as shown
    int level = 3;  // 0..3
    QString text;
};

struct SessionState {
    QString paths[RowCount];
    QString folders[RowCount];
    QString exportFolder;
    QVector<SessionLogRow> log;   // oldest first, at most kSessionLogRows
};

// Newest log rows kept; older ones are dropped when the state is saved.
constexpr int kSessionLogRows = 1000;
// Larger files are not read.
constexpr qint64 kSessionMaxBytes = 4 * 1024 * 1024;

// The file's name in the plug-in's setting folder.
QString sessionFileName();
// False (and `state` empty) when the file is missing, too large or not a session.
bool loadSession(const QString &file, SessionState &state);
bool saveSession(const QString &file, const SessionState &state);

} // namespace Deltamaker
