#include "host/packages/package_installer.h"

#include "host/packages/package_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace Packages {

namespace {

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

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

bool PackageInstaller::installPackage(const QString &packagePath)
{
    QByteArray package;
    PackageMessage error;
    if (!readPackageFile(packagePath, package, &error)) {
        if (m_log)
            m_log(error);
        return false;
    }
    return installBytes(package);
}

bool PackageInstaller::installBytes(const QByteArray &package)
{
    m_changes.clear();
    m_createdFolders.clear();
    m_unloaded.clear();

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
    for (int i = 0; i < entries.size(); ++i) {
        if (!installEntry(package, entries[i], targets[i])) {
            undo();
            return false;
        }
    }
    dropBackups();
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
    return target.startsWith(m_canonicalWorkDir + QLatin1Char('/'));
}

bool PackageInstaller::installEntry(const QByteArray &package, const PackageEntry &entry,
                                    const QString &target)
{
    log(PackageMessage::Info, "importPkg/findFileFmt", entry.path);
    const QString destination = QStringLiteral("%1/%2").arg(m_workDir, entry.path);

    const QString pluginFolder = QStringLiteral("%1/%2/").arg(m_workDir, QStringLiteral("plugins"));
    if (m_host && destination.startsWith(pluginFolder)) {
        const QString key = QFileInfo(destination).baseName();
        QString name, library;
        if (m_host->findPlugin(key, name, library)) {
            // The host deletes the library it unloads; keep its bytes for an undo.
            const QString canonicalLibrary = QFileInfo(library).canonicalFilePath();
            if (!canonicalLibrary.isEmpty() && !backupOnce(canonicalLibrary))
                return false;
            if (!m_host->unloadPlugin(key)) {
                log(PackageMessage::Error, "importPkg/plugin/uninstall/failFmt", name);
                return false;
            }
            m_unloaded << key;
            log(PackageMessage::Info, "importPkg/plugin/uninstall/successFmt", name);
        }
    }

    if (!backupOnce(target))
        return false;
    if (!makeFolders(QFileInfo(target).absolutePath())) {
        log(PackageMessage::Error, "importPkg/createFileFailFmt", destination);
        return false;
    }
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        log(PackageMessage::Error, "importPkg/createFileFailFmt", destination);
        return false;
    }
    if (file.write(package.constData() + entry.dataOffset, entry.dataSize) != entry.dataSize
        || !file.commit()) {
        file.cancelWriting();
        log(PackageMessage::Error, "importPkg/writeFileFailFmt", destination);
        return false;
    }
    bool known = false;
    for (const Change &change : qAsConst(m_changes))
        known = known || change.path == target;
    if (!known)
        m_changes.push_back({target, QString()});
    log(PackageMessage::Info, "importPkg/releaseFileSuccessFmt", destination);
    return true;
}

bool PackageInstaller::backupOnce(const QString &path)
{
    for (const Change &change : qAsConst(m_changes)) {
        if (change.path == path)
            return true;
    }
    const QFileInfo fi(path);
    if (!fi.isFile())
        return true; // nothing to keep; a folder in the way fails the write
    // A second name for the old file (its bytes, mode and owner); a copy where links fail.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const QString backup = QStringLiteral("%1.tessel-old-%2")
                                   .arg(path)
                                   .arg(QRandomGenerator::global()->generate(), 8, 16,
                                        QLatin1Char('0'));
        if (::link(nativePath(path).constData(), nativePath(backup).constData()) == 0
            || (errno != EEXIST && QFile::copy(path, backup))) {
            m_changes.push_back({path, backup});
            return true;
        }
        if (errno != EEXIST && !QFileInfo::exists(backup))
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
        if (!QDir().mkdir(p))
            return false;
        m_createdFolders << p;
    }
    return true;
}

void PackageInstaller::undo()
{
    for (int i = m_changes.size() - 1; i >= 0; --i) {
        const Change &change = m_changes[i];
        if (change.backup.isEmpty()) {
            QFile::remove(change.path);
            log(PackageMessage::Info, "importPkg/clearInstalledFileFmt", change.path);
        } else if (std::rename(nativePath(change.backup).constData(),
                               nativePath(change.path).constData()) == 0) {
            // Renaming a link onto another link of the same file does nothing: the file was
            // never replaced, and the spare name goes.
            if (QFileInfo::exists(change.backup))
                QFile::remove(change.backup);
            log(PackageMessage::Info, "importPkg/restoreFileFmt", change.path);
        } else {
            log(PackageMessage::Error, "importPkg/restoreFileFailFmt", change.path);
        }
    }
    for (int i = m_createdFolders.size() - 1; i >= 0; --i)
        QDir().rmdir(m_createdFolders[i]);
    if (m_host && !m_unloaded.isEmpty()) {
        m_host->loadNewPlugins();
        for (const QString &key : qAsConst(m_unloaded)) {
            QString name, library;
            if (m_host->findPlugin(key, name, library))
                log(PackageMessage::Info, "importPkg/plugin/reloadFmt", name);
        }
    }
    m_changes.clear();
    m_createdFolders.clear();
    m_unloaded.clear();
}

void PackageInstaller::dropBackups()
{
    for (const Change &change : qAsConst(m_changes)) {
        if (!change.backup.isEmpty())
            QFile::remove(change.backup);
    }
    m_changes.clear();
    m_createdFolders.clear();
    m_unloaded.clear();
}

} // namespace Packages
