#include "host/packages/package_installer.h"

#include "host/packages/package_files.h"
#include "host/packages/signal_guard_p.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Packages {

namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

bool lstatPath(const QString &path, struct stat &st)
{
    return ::lstat(nativePath(path).constData(), &st) == 0;
}

// Two names of one file, or two files with the same bytes: either way nothing was changed.
bool sameContent(const QString &a, const QString &b)
{
    struct stat sa, sb;
    if (!lstatPath(a, sa) || !lstatPath(b, sb) || !S_ISREG(sa.st_mode) || !S_ISREG(sb.st_mode))
        return false;
    if (sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino)
        return true;
    if (sa.st_size != sb.st_size)
        return false;
    QFile fa(a), fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly))
        return false;
    while (!fa.atEnd()) {
        const QByteArray block = fa.read(1 << 20);
        if (block.isEmpty() || fb.read(block.size()) != block)
            return false;
    }
    return true;
}

quint32 randomTag()
{
    return QRandomGenerator::global()->generate();
}

// Pieces in which an entry is written, so that a signal is seen within one of them.
constexpr qint64 kWriteBlock = 1 << 20;

} // namespace

PackageInstaller::PackageInstaller(const QString &workDir, IPluginHost *host, Log log)
    : m_workDir(workDir), m_canonicalWorkDir(QFileInfo(workDir).canonicalFilePath()),
      m_host(host), m_log(std::move(log))
{
}

void PackageInstaller::log(int level, const char *key, const QVariant &arg)
{
    if (!m_log)
        return;
    PackageMessage message{level, QLatin1String(key), {}};
    if (arg.isValid())
        message.args.push_back(arg);
    m_log(message);
}

void PackageInstaller::reset()
{
    m_steps.clear();
    m_unloaded.clear();
    m_stepCount = 0;
    m_interrupted = false;
}

bool PackageInstaller::installPackage(const QString &packagePath)
{
    if (!recover())
        return false;
    QByteArray package;
    PackageMessage error;
    if (!readPackageFile(packagePath, package, &error)) {
        if (m_log)
            m_log(error);
        return false;
    }
    return install(package);
}

bool PackageInstaller::installBytes(const QByteArray &package)
{
    return recover() && install(package);
}

bool PackageInstaller::recover()
{
    if (m_canonicalWorkDir.isEmpty())
        return true; // no folder, no journal
    Internal::SignalGuard guard;
    reset();
    switch (m_journal.leftover(m_canonicalWorkDir, m_steps)) {
    case InstallJournal::None:
        return true;
    case InstallJournal::Busy:
        log(PackageMessage::Error, "importPkg/installRunningFmt", m_workDir);
        return false;
    case InstallJournal::Damaged:
    case InstallJournal::Failed:
        m_steps.clear();
        log(PackageMessage::Error, "importPkg/journalDamagedFmt", m_journal.path());
        return false;
    case InstallJournal::Ok:
        break;
    }
    bool done = false;
    for (const InstallStep &s : qAsConst(m_steps))
        done = done || s.kind == InstallStep::Done;
    if (done) {
        dropBackups();
        log(PackageMessage::Info, "importPkg/leftoverClearedFmt", m_workDir);
    } else {
        undo();
        log(PackageMessage::Info, "importPkg/recoveredFmt", m_workDir);
    }
    m_journal.remove();
    reset();
    return true;
}

bool PackageInstaller::install(const QByteArray &package)
{
    reset();
    QVector<PackageEntry> entries;
    PackageMessage error;
    if (m_canonicalWorkDir.isEmpty()) {
        log(PackageMessage::Error, "importPkg/plugin/canNotOpen");
        return false;
    }
    if (!parsePackage(package, entries, error)) {
        if (m_log)
            m_log(error);
        return false;
    }
    QStringList targets;
    for (const PackageEntry &entry : entries) {
        QString target;
        if (!resolve(entry.path, target)) {
            log(PackageMessage::Error, "importPkg/unsafePathFmt", entry.path);
            return false;
        }
        targets << target;
    }

    Internal::SignalGuard guard;
    switch (m_journal.create(m_canonicalWorkDir)) {
    case InstallJournal::Ok:
        break;
    case InstallJournal::Busy:
        log(PackageMessage::Error, "importPkg/installRunningFmt", m_workDir);
        return false;
    default:
        log(PackageMessage::Error, "importPkg/journalFailFmt", m_journal.path());
        return false;
    }
    bool ok = true;
    for (int i = 0; ok && i < entries.size(); ++i)
        ok = !interrupted() && installEntry(package, entries[i], targets[i]);
    if (ok && !interrupted())
        ok = record(InstallStep{InstallStep::Done, QString(), QString()});
    if (!ok || interrupted()) {
        if (interrupted())
            log(PackageMessage::Error, "importPkg/interrupted");
        undo();
        reloadUnloaded();
        m_journal.remove();
        reset();
        return false;
    }
    step();
    dropBackups();
    m_journal.remove();
    reset();
    return true;
}

bool PackageInstaller::resolve(const QString &relative, QString &target) const
{
    const QString destination = QStringLiteral("%1/%2").arg(m_workDir, relative);
    // Walk up to the deepest path that exists (a dangling link counts: it must not be written
    // through).
    QString existing = destination;
    QString rest;
    for (;;) {
        const QFileInfo fi(existing);
        if (fi.exists() || fi.isSymLink())
            break;
        rest = rest.isEmpty() ? fi.fileName() : fi.fileName() + QLatin1Char('/') + rest;
        const QString parent = fi.path();
        if (parent == existing)
            return false;
        existing = parent;
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    target = rest.isEmpty() ? canonical : canonical + QLatin1Char('/') + rest;
    // The journal is the installer's own.
    return inside(target) && target != m_canonicalWorkDir + QLatin1Char('/') + QLatin1String(kJournalName);
}

bool PackageInstaller::inside(const QString &path) const
{
    return path.startsWith(m_canonicalWorkDir + QLatin1Char('/'));
}

bool PackageInstaller::parentInside(const QString &path) const
{
    const QString parent = QFileInfo(QFileInfo(path).path()).canonicalFilePath();
    return parent == m_canonicalWorkDir || inside(parent);
}

bool PackageInstaller::interrupted()
{
    m_interrupted = m_interrupted || Internal::SignalGuard::caught();
    return m_interrupted;
}

void PackageInstaller::step()
{
    ++m_stepCount;
    if (m_stepHook)
        m_stepHook(m_stepCount);
}

bool PackageInstaller::record(const InstallStep &s)
{
    if (!m_journal.append(s)) {
        log(PackageMessage::Error, "importPkg/journalFailFmt", m_journal.path());
        return false;
    }
    m_steps.push_back(s);
    return true;
}

InstallStep *PackageInstaller::keptStep(const QString &path)
{
    for (InstallStep &s : m_steps) {
        if (s.kind == InstallStep::Kept && s.path == path)
            return &s;
    }
    return nullptr;
}

bool PackageInstaller::known(const QString &path) const
{
    for (const InstallStep &s : m_steps) {
        if ((s.kind == InstallStep::Kept || s.kind == InstallStep::Created) && s.path == path)
            return true;
    }
    return false;
}

bool PackageInstaller::installEntry(const QByteArray &package, const PackageEntry &entry,
                                    const QString &target)
{
    log(PackageMessage::Info, "importPkg/findFileFmt", entry.path);
    const QString destination = QStringLiteral("%1/%2").arg(m_workDir, entry.path);
    if (!unloadFor(destination) || interrupted())
        return false;
    if (!keepOnce(target) || interrupted())
        return false;
    if (!makeFolders(QFileInfo(target).absolutePath())) {
        log(PackageMessage::Error, "importPkg/createFileFailFmt", destination);
        return false;
    }
    if (interrupted() || !writeFile(package, entry, target))
        return false;
    log(PackageMessage::Info, "importPkg/releaseFileSuccessFmt", destination);
    return true;
}

bool PackageInstaller::unloadFor(const QString &destination)
{
    const QString pluginFolder = QStringLiteral("%1/%2/").arg(m_workDir, QStringLiteral("plugins"));
    if (!m_host || !destination.startsWith(pluginFolder))
        return true;
    const QString key = QFileInfo(destination).baseName();
    QString name, library;
    if (!m_host->findPlugin(key, name, library))
        return true;
    // The host deletes the library it unloads; keep its bytes for an undo.
    const QString canonicalLibrary = QFileInfo(library).canonicalFilePath();
    if (!canonicalLibrary.isEmpty() && !keepOnce(canonicalLibrary))
        return false;
    if (!m_host->unloadPlugin(key)) {
        log(PackageMessage::Error, "importPkg/plugin/uninstall/failFmt", name);
        return false;
    }
    if (InstallStep *kept = keptStep(canonicalLibrary))
        kept->replaced = true;
    m_unloaded << key;
    log(PackageMessage::Info, "importPkg/plugin/uninstall/successFmt", name);
    step();
    return true;
}

bool PackageInstaller::keepOnce(const QString &path)
{
    if (known(path))
        return true;
    struct stat st;
    if (!lstatPath(path, st) || !S_ISREG(st.st_mode))
        return true; // nothing to keep; a folder in the way fails the write
    if (!inside(path)) {
        log(PackageMessage::Error, "importPkg/backupFailFmt", path);
        return false;
    }
    // A second name for the old file (its bytes, mode and owner); a copy where links fail.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString backup = backupName(path, randomTag());
        if (QFileInfo::exists(backup) || QFileInfo(backup).isSymLink())
            continue;
        InstallStep kept{InstallStep::Kept, path, backup};
        kept.replaced = false;
        kept.mode = st.st_mode & 07777;
        kept.owner = st.st_uid;
        kept.group = st.st_gid;
        if (!record(kept))
            return false;
        const bool linked = ::link(nativePath(path).constData(), nativePath(backup).constData()) == 0;
        const int error = linked ? 0 : errno;
        if (linked || (error != EEXIST && QFile::copy(path, backup))) {
            step();
            return true;
        }
        // Not made, or the name was taken meanwhile: nothing of it is to be undone.
        m_steps.removeLast();
        if (error != EEXIST)
            break;
    }
    log(PackageMessage::Error, "importPkg/backupFailFmt", path);
    return false;
}

bool PackageInstaller::makeFolders(const QString &folder)
{
    QStringList missing;
    for (QString p = folder; !QFileInfo(p).exists() && !QFileInfo(p).isSymLink();
         p = QFileInfo(p).path())
        missing.prepend(p);
    for (const QString &p : qAsConst(missing)) {
        if (interrupted() || !record(InstallStep{InstallStep::Folder, p, QString()}))
            return false;
        if (!QDir().mkdir(p))
            return false;
        step();
    }
    return true;
}

bool PackageInstaller::writeFile(const QByteArray &package, const PackageEntry &entry,
                                 const QString &target)
{
    const QString destination = QStringLiteral("%1/%2").arg(m_workDir, entry.path);
    struct stat st;
    if (lstatPath(target, st) && S_ISDIR(st.st_mode)) {
        log(PackageMessage::Error, "importPkg/createFileFailFmt", destination);
        return false;
    }
    if (!known(target) && !record(InstallStep{InstallStep::Created, target, QString()}))
        return false;
    // The new bytes go to a temporary file beside the target, which replaces it only whole.
    QString temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 16; ++attempt) {
        temp = tempName(target, randomTag());
        if (!record(InstallStep{InstallStep::Temp, temp, QString()}))
            return false;
        fd = ::open(nativePath(temp).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        log(PackageMessage::Error, "importPkg/createFileFailFmt", destination);
        return false;
    }
    step();
    const char *data = package.constData() + entry.dataOffset;
    qint64 left = entry.dataSize;
    bool ok = true;
    while (ok && left > 0 && !interrupted()) {
        const ssize_t n = ::write(fd, data, size_t(qMin(left, kWriteBlock)));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            data += n;
            left -= n;
        }
    }
    // The file that is replaced hands on its mode (and owner, where that may be given).
    if (const InstallStep *kept = keptStep(target)) {
        if (::fstat(fd, &st) == 0 && (st.st_uid != kept->owner || st.st_gid != kept->group))
            (void)::fchown(fd, kept->owner, kept->group);
        ok = ok && ::fchmod(fd, kept->mode) == 0;
    }
    ok = ::close(fd) == 0 && ok;
    if (interrupted())
        return false;
    if (!ok) {
        log(PackageMessage::Error, "importPkg/writeFileFailFmt", destination);
        return false;
    }
    step();
    if (::rename(nativePath(temp).constData(), nativePath(target).constData()) != 0) {
        log(PackageMessage::Error, "importPkg/writeFileFailFmt", destination);
        return false;
    }
    if (InstallStep *kept = keptStep(target))
        kept->replaced = true;
    step();
    return true;
}

void PackageInstaller::undo()
{
    for (int i = m_steps.size() - 1; i >= 0; --i) {
        const InstallStep &s = m_steps[i];
        struct stat st;
        const QByteArray path = nativePath(s.path);
        // A leftover journal may name paths below links made since: nothing outside is touched.
        if (!parentInside(s.path))
            continue;
        switch (s.kind) {
        case InstallStep::Temp:
            if (lstatPath(s.path, st) && !S_ISDIR(st.st_mode))
                ::unlink(path.constData());
            break;
        case InstallStep::Created:
            if (lstatPath(s.path, st) && !S_ISDIR(st.st_mode) && ::unlink(path.constData()) == 0)
                log(PackageMessage::Info, "importPkg/clearInstalledFileFmt", s.path);
            break;
        case InstallStep::Kept: {
            const QByteArray backup = nativePath(s.backup);
            if (!lstatPath(s.backup, st) || !S_ISREG(st.st_mode))
                break; // never made, or already put back
            if (!s.replaced) {
                ::unlink(backup.constData());
            } else if (::rename(backup.constData(), path.constData()) == 0) {
                // Renaming a name onto another name of the same file does nothing: the file
                // was never replaced, and the spare name goes.
                if (lstatPath(s.backup, st))
                    ::unlink(backup.constData());
                log(PackageMessage::Info, "importPkg/restoreFileFmt", s.path);
            } else if (sameContent(s.backup, s.path)) {
                ::unlink(backup.constData()); // the file in place was never changed
            } else {
                log(PackageMessage::Error, "importPkg/restoreFileFailFmt", s.path);
            }
            break;
        }
        case InstallStep::Folder:
            ::rmdir(path.constData());
            break;
        case InstallStep::Done:
            break;
        }
    }
}

void PackageInstaller::reloadUnloaded()
{
    if (!m_host || m_unloaded.isEmpty())
        return;
    m_host->loadNewPlugins();
    for (const QString &key : qAsConst(m_unloaded)) {
        QString name, library;
        if (m_host->findPlugin(key, name, library))
            log(PackageMessage::Info, "importPkg/plugin/reloadFmt", name);
    }
}

void PackageInstaller::dropBackups()
{
    for (const InstallStep &s : qAsConst(m_steps)) {
        struct stat st;
        const QString &spare = s.kind == InstallStep::Kept ? s.backup : s.path;
        if ((s.kind == InstallStep::Kept || s.kind == InstallStep::Temp) && lstatPath(spare, st)
            && S_ISREG(st.st_mode) && inside(spare)) {
            ::unlink(nativePath(spare).constData());
            step();
        }
    }
}

} // namespace Packages
