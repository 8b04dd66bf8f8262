// The host's record of one loaded plug-in; it is the plug-in's ITestTools.
#pragma once

#include "host/contract/i_test_tools.h"
#include "host/contract/plugin_ui_base.h"

#include <QString>

#include <memory>

class LangStore;
class PluginConfig;
class QLibrary;

class PluginInfo final : public ITestTools
{
public:
    // `library` is loaded and owned from now on; `langs` answers text() (not owned).
    PluginInfo(const QString &libraryPath, QLibrary *library, LangStore *langs);
    // Frees the configuration object and unloads the library; Release must have run before.
    virtual ~PluginInfo();
    PluginInfo(const PluginInfo &) = delete;
    PluginInfo &operator=(const PluginInfo &) = delete;

    QString pluginName() override;
    QString baseName() override;
    QString libraryPath() override;
    QString configDir() override;
    QString logDir() override;
    QString configFilePath() override;
    QString historyHtml() override;
    bool hasConfigFile() override;
    IConfigFile *config(bool reload) override;
    QString text(const QString &key) override;
    QMainWindow *mainWindow() override;
    void setUnloadable(bool unloadable) override;
    bool isUnloadable() override;

    // The name the plug-in reports, or its base name when it reports none (no language files).
    QString displayName();

    // Working directory, "docs" / "lang", base name.
    QString docsDir();
    QString langFolder();

    // Looks up "Create" and "Release"; false when either is missing.
    bool resolveEntries();
    // Calls Create and stores the window with `tools` set to this record; false on null.
    bool create(QMainWindow *host);
    // Detaches the window, clears it and the host, calls Release (delivering the window's
    // deferred deletion), clears both entries and destroys the configuration object. Safe to
    // call twice.
    void release();

    PluginUIBase *window() const { return m_window; }
    QLibrary *library() const { return m_library.get(); }

private:
    QString folder(const char *name);

    QString m_libraryPath;
    std::unique_ptr<QLibrary> m_library;
    PluginCreateFn m_create = nullptr;
    PluginReleaseFn m_release = nullptr;
    PluginUIBase *m_window = nullptr;          // owned by the plug-in until Release
    QMainWindow *m_host = nullptr;             // not owned
    std::unique_ptr<PluginConfig> m_config;    // null until first requested
    bool m_unloadable = true;
    bool m_leftover = false;                   // the window survived Release: keep the library
    LangStore *m_langs = nullptr;              // not owned
};
