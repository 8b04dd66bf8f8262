// Installs a plug-in package into a working folder. The whole package is read and checked
// before the first byte is written; a failed installation puts back every file it replaced,
// removes every file and folder it created and loads again the plug-ins it unloaded.
#pragma once

#include "host/packages/package_format.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace Packages {

// What a running host offers the installer. Keys are library base names.
class IPluginHost
{
public:
    virtual ~IPluginHost() = default;
    // The name the loaded plug-in reports and its library file; false when none is loaded.
    virtual bool findPlugin(const QString &key, QString &name, QString &libraryPath) = 0;
    // Unloads the plug-in; the host may delete its library file. False on failure.
    virtual bool unloadPlugin(const QString &key) = 0;
    // Loads the libraries below "plugins" that are not loaded yet.
    virtual void loadNewPlugins() = 0;
};

class PackageInstaller
{
public:
    using Log = std::function<void(const PackageMessage &)>;

    // `host` may be null (no plug-ins are running); it is not owned.
    PackageInstaller(const QString &workDir, IPluginHost *host, Log log);

    // Reads the package file and installs it.
    bool installPackage(const QString &packagePath);
    // Installs a package held in memory.
    bool installBytes(const QByteArray &package);

private:
    struct Change {
        QString path;
        QString backup;  // old content, renamed back on failure; empty: the file was created
    };

    // Destination of an entry after resolving existing folders and links; false when it
    // leaves the working folder.
    bool resolve(const QString &relative, QString &target) const;
    bool installEntry(const QByteArray &package, const PackageEntry &entry, const QString &target);
    bool backupOnce(const QString &path);
    bool makeFolders(const QString &folder);
    void undo();
    void dropBackups();
    void log(int level, const char *key, const QVariant &arg = QVariant());

    QString m_workDir;
    QString m_canonicalWorkDir;
    IPluginHost *m_host;
    Log m_log;
    // State of one installation.
    QVector<Change> m_changes;
    QStringList m_createdFolders;
    QStringList m_unloaded;  // keys
};

} // namespace Packages
