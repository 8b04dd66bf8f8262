// The host's one main window: plug-in list on the left, the chosen plug-in's window on the
// right. It owns the text store and the plug-in registry.
#pragma once

#include "host/app_args.h"
#include "host/languages/lang_store.h"
#include "widgetkit/sys_main_window.h"

#include <QStringList>

#include <functional>
#include <map>
#include <memory>

class HistoryWindow;
class LangMgrWindow;
class PluginInfo;
class PluginUIBase;
class QListWidgetItem;
class QVBoxLayout;
class SysButton;
class SysLabel;
class SysList;
class SysMenu;
class SysSplitter;

class MainWindow : public SysMainWindow
{
    Q_OBJECT
public:
    // The program uses the one window instance() creates; tests may build their own.
    explicit MainWindow(QWidget *parent = nullptr);
    // Releases every plug-in still loaded, in base-name order.
    ~MainWindow() override;

    // The process's one main window, created on the first call under a process-wide lock.
    static MainWindow *instance();
    // True once instance() has created the window.
    static bool exists();

    // Builds the window, loads the plug-ins and honours option "c". Always true.
    bool init(const AppArgs &args);

    const AppArgs &args() const { return m_args; }
    LangStore &langStore() { return m_langs; }
    // A text of the host's own context ("Tessel").
    QString tr_(const QString &key);

    // Loads every library below "plugins" whose base name is not loaded yet.
    void loadPlugins();
    // Absolute paths of the library files below "plugins", in directory-walk order.
    QStringList scanPluginFiles() const;

    // The record of a loaded plug-in, or null.
    PluginInfo *plugin(const QString &baseName) const;
    const std::map<QString, std::unique_ptr<PluginInfo>> &plugins() const { return m_plugins; }
    // Row of the plug-in in the list, or -1.
    int indexOfPlugin(const QString &baseName) const;
    void selectPluginByName(const QString &baseName);
    void showPluginByName(const QString &baseName);
    void showPlugin(PluginInfo *info);
    void updateTitle(PluginInfo *info);
    // The plug-in window shown on the right, or null.
    PluginUIBase *shownPlugin() const { return m_shown; }
    bool placeholderShown() const;

    // The right-click menu for a plug-in, not yet shown (deleted when it closes).
    SysMenu *buildPluginMenu(PluginInfo *info);
    void showPluginMenu(PluginInfo *info);
    // The plug-in's manual: lang-specific docs/<base>/<lang>.doc first, then docs/<base>.doc.
    bool findManual(const QString &baseName, QString &path);

    // Runs the setting editor for the plug-in modally; once it is accepted the plug-in reloads
    // its settings. True when both succeeded.
    bool editSettings(PluginInfo *info);

    // The language manager for the host's context, titled and wired to switchLanguage; the
    // language button runs it modally.
    std::unique_ptr<LangMgrWindow> makeLangManager();
    // The plug-in's history dialog; its menu entry runs it modally.
    std::unique_ptr<HistoryWindow> makeHistoryWindow(PluginInfo *info);

    // Writes an empty setting file for the plug-in, creating its folder.
    bool createSettingFile(PluginInfo *info);
    // Unloads the plug-in and deletes its library; with removeFiles also its config, logs,
    // docs and lang folders.
    bool unloadPlugin(const QString &baseName, bool removeFiles);
    // Makes the language current in every plug-in that has it, then restarts.
    bool switchLanguage(const LANG_INFO &lang);
    // Relaunches the host with "mutex" 0 and "c" set to the plug-in shown now. Once the new
    // copy has started, this one leaves its event loops (plug-ins see aboutToQuit) and true is
    // returned; when it could not be started the user is told and false is returned.
    bool restart();
    // True once restart() has started the new copy.
    bool restarting() const { return m_restarting; }

    // Before an action that would unload, replace or restart the plug-in `only` (every
    // plug-in when null) or end the host: while such a plug-in is busy, asks the user with the
    // question `questionKey` (a pattern taking the plug-in's name) whether to wait for it.
    // True once none is busy, at once or after waiting; false when the user said no.
    bool settleBusy(PluginInfo *only, const char *questionKey);
    // Shows a modal note until the window is no longer busy; the window's own work goes on.
    void waitWhileBusy(PluginUIBase *window, const QString &name);

    // The relaunch used by restart(): true once the new copy runs. Replaceable so that tests
    // keep their process.
    using RelaunchFn = std::function<bool(const std::string &options)>;
    void setRelaunch(RelaunchFn fn) { m_relaunch = std::move(fn); }

    SysList *pluginList() const { return m_list; }
    SysButton *installButton() const { return m_installButton; }
    SysButton *languageButton() const { return m_languageButton; }
    SysButton *generatorButton() const { return m_generatorButton; }
    SysLabel *placeholder() const { return m_placeholder; }

protected:
    // A close while a plug-in is busy asks first (settleBusy).
    void closeEvent(QCloseEvent *event) override;

private:
    void loadQtTranslations();
    void buildLeftPanel(QWidget *panel);
    void buildRightPane(QWidget *pane);
    // The package installer and generator dialogs, each run modally.
    void connectPackageButtons();
    SysButton *iconButton(const QString &icon, const QString &tipKey);
    void onListContextMenu();
    // Puts the placeholder back in place of the shown plug-in window.
    void showPlaceholder();
    void errorText(const QString &text);
    void infoText(const QString &text);
    // Opens the file with the desktop's program for it, or tells the user what is missing.
    void openFile(const QString &path);
    // Removes the folders between the deleted library and "plugins" that are empty now.
    void removeEmptyPluginFolders(const QString &libraryPath);

    LangStore m_langs;
    SysSplitter *m_splitter = nullptr;
    std::map<QString, std::unique_ptr<PluginInfo>> m_plugins;
    PluginUIBase *m_shown = nullptr;   // owned by its plug-in
    QVBoxLayout *m_rightLayout = nullptr;
    SysLabel *m_placeholder = nullptr;
    SysList *m_list = nullptr;
    SysButton *m_installButton = nullptr;
    SysButton *m_languageButton = nullptr;
    SysButton *m_generatorButton = nullptr;
    QString m_title;
    AppArgs m_args;
    RelaunchFn m_relaunch;
    bool m_restarting = false;
    // The plug-in shown when the package installer unloaded it, shown again once it is back.
    QString m_reshow;
};
