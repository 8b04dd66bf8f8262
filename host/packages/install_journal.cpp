#include "host/packages/install_journal.h"

#include "host/packages/package_format.h"

#include <QFile>
#include <QRegularExpression>
#include <QStringList>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Packages {

const char kJournalName[] = ".tessel-install.journal";

namespace {

const QByteArray kHeader = "tessel-install 1";
// Longest line taken from a journal: three fields of a path each, with room to spare.
constexpr qint64 kMaxLine = 64 * 1024;

QString secondName(const QString &path, const char *kind, quint32 tag)
{
    return QStringLiteral("%1.tessel-%2-%3").arg(path, QLatin1String(kind)).arg(tag, 8, 16, QLatin1Char('0'));
}

bool sameFile(int fd, const QString &path)
{
    struct stat a, b;
    return ::fstat(fd, &a) == 0 && ::lstat(QFile::encodeName(path).constData(), &b) == 0
           && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A journal path: plain, relative, and for second names of the expected shape.
bool parseLine(const QByteArray &line, const QString &workDir, InstallStep &step)
{
    static const QRegularExpression oldName(QStringLiteral("\\.tessel-old-[0-9a-f]{8}$"));
    static const QRegularExpression newName(QStringLiteral("\\.tessel-new-[0-9a-f]{8}$"));
    const QList<QByteArray> fields = line.split('\t');
    const QByteArray kind = fields[0];
    QStringList paths;
    for (int i = 1; i < fields.size(); ++i) {
        const QString path = QString::fromUtf8(fields[i]);
        if (path.toUtf8() != fields[i] || !isPlainRelativePath(path)
            || path == QLatin1String(kJournalName))
            return false;
        paths << workDir + QLatin1Char('/') + path;
    }
    if (kind == "done" && paths.isEmpty()) {
        step.kind = InstallStep::Done;
    } else if (kind == "folder" && paths.size() == 1) {
        step.kind = InstallStep::Folder;
    } else if (kind == "created" && paths.size() == 1) {
        step.kind = InstallStep::Created;
    } else if (kind == "temp" && paths.size() == 1 && newName.match(paths[0]).hasMatch()) {
        step.kind = InstallStep::Temp;
    } else if (kind == "kept" && paths.size() == 2 && paths[1].startsWith(paths[0])
               && paths[1].size() == paths[0].size() + 20 && oldName.match(paths[1]).hasMatch()) {
        step.kind = InstallStep::Kept;
        step.backup = paths[1];
    } else {
        return false;
    }
    step.path = paths.value(0);
    step.replaced = true;
    return true;
}

} // namespace

QString backupName(const QString &path, quint32 tag)
{
    return secondName(path, "old", tag);
}

QString tempName(const QString &path, quint32 tag)
{
    return secondName(path, "new", tag);
}

InstallJournal::~InstallJournal()
{
    close();
}

void InstallJournal::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool InstallJournal::lockFresh(int fd)
{
    // Whoever held the lock before may have removed the file in the meantime: then this one is
    // no longer the journal.
    return ::flock(fd, LOCK_EX) == 0 && sameFile(fd, m_path);
}

InstallJournal::Status InstallJournal::create(const QString &workDir)
{
    close();
    m_workDir = workDir;
    m_path = workDir + QLatin1Char('/') + QLatin1String(kJournalName);
    const QByteArray native = QFile::encodeName(m_path);
    for (int attempt = 0; attempt < 8; ++attempt) {
        const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC, 0644);
        if (fd < 0)
            return errno == EEXIST ? Busy : Failed;
        if (!lockFresh(fd)) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        const QByteArray header = kHeader + '\n';
        if (::write(fd, header.constData(), size_t(header.size())) != header.size()) {
            remove();
            return Failed;
        }
        return Ok;
    }
    return Busy;
}

InstallJournal::Status InstallJournal::leftover(const QString &workDir, QVector<InstallStep> &steps)
{
    close();
    steps.clear();
    m_workDir = workDir;
    m_path = workDir + QLatin1Char('/') + QLatin1String(kJournalName);
    const QByteArray native = QFile::encodeName(m_path);
    for (int attempt = 0;; ++attempt) {
        if (attempt == 8)
            return Busy;
        // A link or anything but a regular file is no journal of ours.
        const int fd = ::open(native.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            return errno == ENOENT ? None : Damaged;
        struct stat st;
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return Damaged;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            if (errno == EWOULDBLOCK)
                return Busy;
            return Damaged;
        }
        if (!sameFile(fd, m_path)) {
            ::close(fd); // it ended and went while this one waited; look again
            continue;
        }
        m_fd = fd;
        break;
    }

    QFile file;
    if (!file.open(m_fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        return Damaged;
    bool first = true;
    while (!file.atEnd()) {
        QByteArray line = file.readLine(kMaxLine);
        if (!line.endsWith('\n')) {
            // The last line, cut short by the end of its process: its change never started. A
            // longer line is none of ours.
            if (!file.atEnd())
                return Damaged;
            break;
        }
        line.chop(1);
        if (first) {
            if (line != kHeader)
                return Damaged;
            first = false;
            continue;
        }
        InstallStep step;
        if (!parseLine(line, m_workDir, step))
            return Damaged;
        steps.push_back(step);
    }
    return file.error() == QFileDevice::NoError ? Ok : Damaged;
}

bool InstallJournal::append(const InstallStep &step)
{
    if (m_fd < 0)
        return false;
    // Only plain paths inside the folder are written: a name with a line end or a tab (an
    // existing folder a link leads to may have one) would make the journal unreadable.
    bool plain = true;
    auto relative = [this, &plain](const QString &path) {
        const QString rel = path.mid(m_workDir.size() + 1);
        plain = plain && path.startsWith(m_workDir + QLatin1Char('/')) && isPlainRelativePath(rel);
        return rel.toUtf8();
    };
    QByteArray line;
    switch (step.kind) {
    case InstallStep::Folder:
        line = "folder\t" + relative(step.path);
        break;
    case InstallStep::Created:
        line = "created\t" + relative(step.path);
        break;
    case InstallStep::Kept:
        line = "kept\t" + relative(step.path) + '\t' + relative(step.backup);
        break;
    case InstallStep::Temp:
        line = "temp\t" + relative(step.path);
        break;
    case InstallStep::Done:
        line = "done";
        break;
    }
    if (!plain)
        return false;
    line += '\n';
    // One write per line: a process that ends leaves the line whole or not at all.
    ssize_t written;
    do {
        written = ::write(m_fd, line.constData(), size_t(line.size()));
    } while (written < 0 && errno == EINTR);
    return written == line.size();
}

void InstallJournal::remove()
{
    if (m_fd >= 0)
        ::unlink(QFile::encodeName(m_path).constData());
    close();
}

} // namespace Packages
