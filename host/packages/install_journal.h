// The journal of an installation: a file in the working folder that lists every change before
// it is made, so that an installation that ended before its end (killed, power cut) can be
// undone by the next one. The running installation holds a lock on it, which ends with its
// process: a journal nobody holds is a leftover.
//   tessel-install 1            first line
//   folder<TAB>PATH             a folder is about to be created
//   created<TAB>PATH            a file that did not exist is about to be written
//   kept<TAB>PATH<TAB>BACKUP    the existing file is about to get a second name, BACKUP
//   temp<TAB>TEMP               a temporary file is about to be written
//   done                        every entry is in place; what is left is removing backups
// Paths are UTF-8, relative to the working folder. A line is written whole before its change
// starts; a last line without its line end was never acted on.
#pragma once

#include <QString>
#include <QVector>

namespace Packages {

// Name of the journal in the working folder.
extern const char kJournalName[];

// One change, in the order made; undone in the reverse order.
struct InstallStep {
    enum Kind { Folder, Created, Kept, Temp, Done };
    Kind kind = Done;
    QString path;    // absolute; for Temp the temporary file
    QString backup;  // Kept: the second name of the old file
    // Kept: whether `path` may no longer name the old file. Unknown after a crash: true.
    bool replaced = true;
    // Kept: the old file's mode, owner and group, for its successor (not in the journal).
    uint mode = 0;
    uint owner = 0, group = 0;
};

// Second names beside `path`: "<path>.tessel-old-<8 hex>" and "<path>.tessel-new-<8 hex>".
QString backupName(const QString &path, quint32 tag);
QString tempName(const QString &path, quint32 tag);

class InstallJournal
{
public:
    enum Status {
        Ok,
        None,     // no journal (leftover() only)
        Busy,     // an installation is running in the folder
        Damaged,  // a journal that cannot be read, or names paths outside the folder
        Failed,   // the journal cannot be written
    };

    InstallJournal() = default;
    ~InstallJournal();
    InstallJournal(const InstallJournal &) = delete;
    InstallJournal &operator=(const InstallJournal &) = delete;

    // Creates and locks the journal of a new installation in `workDir` (canonical).
    Status create(const QString &workDir);
    // Locks the journal left by an installation that ended before its end and reads its steps.
    Status leftover(const QString &workDir, QVector<InstallStep> &steps);
    // Adds a step before it is made. False when the line cannot be written.
    bool append(const InstallStep &step);
    // Ends the installation: removes the journal and gives up the lock.
    void remove();

    QString path() const { return m_path; }

private:
    bool lockFresh(int fd);
    void close();

    QString m_workDir;
    QString m_path;
    int m_fd = -1;
};

} // namespace Packages
