// Installs a plug-in package into a working folder. The whole package is read and checked
// before the first byte is written; a failed installation puts back every file it replaced
// (with its bytes and mode), removes every file and folder it created and loads again the
// plug-ins it unloaded. Every change is listed in a journal in the working folder before it is
// made (install_journal.h): SIGINT, SIGTERM and SIGHUP during an installation undo it before the
// process ends as the signal says, and an installation that ended otherwise (kill -9, a crash)
// is undone by the next installation, or by the host at start. No backup outlives an
// installation.
#pragma once

#include "host/packages/install_journal.h"
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
    using StepHook = std::function<void(int step)>;

    // `host` may be null (no plug-ins are running); it is not owned.
    PackageInstaller(const QString &workDir, IPluginHost *host, Log log);

    // Undoes what an interrupted installation left in the working folder, then reads the
    // package file and installs it.
    bool installPackage(const QString &packagePath);
    // The same with a package held in memory.
    bool installBytes(const QByteArray &package);
    // Undoes an installation in the working folder that ended before its last entry, or
    // removes the backups of one that ended after it. True when there was none or it is
    // cleared; false, with a message, when one is running there or its journal is damaged.
    bool recover();
    // Called after every change on disk with its running number from 1 (tests end the
    // process there).
    void setStepHook(StepHook hook) { m_stepHook = std::move(hook); }

private:
    bool install(const QByteArray &package);
    // Destination of an entry after resolving existing folders and links; false when it
    // leaves the working folder.
    bool resolve(const QString &relative, QString &target) const;
    bool inside(const QString &path) const;
    bool parentInside(const QString &path) const;
    bool installEntry(const QByteArray &package, const PackageEntry &entry, const QString &target);
    bool unloadFor(const QString &destination);
    bool keepOnce(const QString &path);
    bool makeFolders(const QString &folder);
    bool writeFile(const QByteArray &package, const PackageEntry &entry, const QString &target);
    bool record(const InstallStep &step);
    InstallStep *keptStep(const QString &path);
    bool known(const QString &path) const;
    void step();
    bool interrupted();
    void undo();
    void dropBackups();
    void reloadUnloaded();
    void reset();
    void log(int level, const char *key, const QVariant &arg = QVariant());

    QString m_workDir;
    QString m_canonicalWorkDir;
    IPluginHost *m_host;
    Log m_log;
    StepHook m_stepHook;
    // State of one installation.
    InstallJournal m_journal;
    QVector<InstallStep> m_steps;
    QStringList m_unloaded;  // keys
    int m_stepCount = 0;
    bool m_interrupted = false;
};

} // namespace Packages
