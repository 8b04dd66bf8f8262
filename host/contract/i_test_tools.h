// What the host offers one plug-in: its folders, its texts, its settings and the host window.
#pragma once

#include <QString>

class IConfigFile;
class QMainWindow;

class ITestTools
{
public:
    virtual QString pluginName() = 0;
    virtual QString baseName() = 0;
    virtual QString libraryPath() = 0;
    virtual QString configDir() = 0;
    virtual QString logDir() = 0;
    virtual QString configFilePath() = 0;
    virtual QString historyHtml() = 0;
    virtual bool hasConfigFile() = 0;
    // The plug-in's setting file, or null when it is missing or cannot be loaded.
    // Owned by the host.
    virtual IConfigFile *config(bool reload) = 0;
    // The key's text in the plug-in's own language context; empty when there is none.
    virtual QString text(const QString &key) = 0;
    virtual QMainWindow *mainWindow() = 0;
    virtual void setUnloadable(bool unloadable) = 0;
    virtual bool isUnloadable() = 0;

protected:
    // The host owns every implementation; a plug-in never deletes one.
    ~ITestTools() = default;
};
