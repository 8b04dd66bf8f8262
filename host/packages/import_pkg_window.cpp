#include "host/packages/import_pkg_window.h"

#include "common/dialogs.h"
#include "host/packages/package_installer.h"
#include "host/packages/package_window_util_p.h"
#include "host/languages/lang_store.h"
#include "host/plugin_info.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_file_select.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_table.h"

#include <QDir>
#include <QFontMetrics>

#include <cstdio>

namespace {

const char kErrorRow[] = "#fde2e2";

// The main window's plug-in services, as the installer sees them.
class MainWindowPlugins final : public Packages::IPluginHost
{
public:
    explicit MainWindowPlugins(MainWindow *main) : m_main(main) {}
    bool findPlugin(const QString &key, QString &name, QString &library) override
    {
        PluginInfo *info = m_main->plugin(key);
        if (!info)
            return false;
        name = info->pluginName();
        library = info->libraryPath();
        return true;
    }
    // Keeps the plug-in's settings, logs, manuals and languages.
    bool unloadPlugin(const QString &key) override { return m_main->unloadPlugin(key, false); }
    void loadNewPlugins() override { m_main->loadPlugins(); }

private:
    MainWindow *m_main;
};

} // namespace

ImportPkgWindow::ImportPkgWindow(MainWindow *main) : SysDialog(main), m_main(main)
{
    setWindowTitle(text("importPkg/title"));
    resizeRatio(0.75, main);

    // Until a package is chosen or built, the home folder: the working folder of the installed
    // program is a hidden one.
    const Internal::SelectorRow row = Internal::selectorRow(
        m_main, Internal::FileKind::Package, QString(), text("importPkg/action/title"),
        text("importPkg/action/openPlugin"), text("importPkg/action/startInstall"), "#32de84",
        text("importPkg/action/clearLog"), "#DEB887");
    m_file = row.select;
    m_install = row.first;
    m_clear = row.second;

    auto *logGroup = Internal::packageGroup(text("importPkg/procLog/title"));
    auto *logLayout = new SysVLayout(logGroup);
    m_log = new SysTable(logGroup, {text("importPkg/procLog/table/header/time"),
                                    text("importPkg/procLog/table/header/level"),
                                    text("importPkg/procLog/table/header/content")});
    m_log->setEditable(false);
    // At least 180 and 80 pixels, and wide enough for a whole time stamp and level.
    m_log->ensurePolished();
    const QFontMetrics metrics = m_log->fontMetrics();
    m_log->setColumnWidth(0, qMax(180, metrics.horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) + 32));
    m_log->setColumnWidth(1, qMax(80, metrics.horizontalAdvance(QStringLiteral("ERROR")) + 32));
    m_log->enableExportMenu(true);
    logLayout->addWidget(m_log);

    Internal::layOutPackageDialog(this, row.group, logGroup);

    connect(m_install, &QPushButton::clicked, this, &ImportPkgWindow::startInstall);
    connect(m_clear, &QPushButton::clicked, this, &ImportPkgWindow::clearLog);
}

QString ImportPkgWindow::text(const char *key) const
{
    return Internal::hostText(m_main, key);
}

void ImportPkgWindow::log(int level, const QString &message)
{
    m_log->appendLogLine(level, message);
    // Long paths are cut in the cell; the whole line is its tool tip.
    m_log->ensureItem(m_log->nextLogRow() - 1, 2)->setToolTip(message);
    if (level == Packages::PackageMessage::Error)
        m_log->setRowBackground(m_log->nextLogRow() - 1, QLatin1String(kErrorRow));
}

void ImportPkgWindow::startInstall()
{
    const QString path = m_file->path();
    if (path.isEmpty())
        return;
    log(Packages::PackageMessage::Info,
        formatPattern(text("importPkg/plugin/startInstallFmt"), {path}));
    const QString title = m_install->text();
    if (installPackage(path)) {
        const QString done = text("importPkg/plugin/install/success");
        log(Packages::PackageMessage::Info, done);
        m_main->loadPlugins();
        showInfoText(title, done);
    } else {
        const QString failed = text("importPkg/plugin/install/failed");
        log(Packages::PackageMessage::Error, failed);
        showErrorText(title, failed);
    }
}

bool ImportPkgWindow::installPackage(const QString &packagePath)
{
    MainWindowPlugins plugins(m_main);
    Packages::PackageInstaller installer(QDir::currentPath(), &plugins,
                                         [this](const Packages::PackageMessage &message) {
                                             log(message.level, Internal::messageText(m_main, message));
                                         });
    return installer.installPackage(packagePath);
}

void ImportPkgWindow::clearLog()
{
    m_log->clearContents();
}

void ImportPkgWindow::recoverInterruptedInstall()
{
    LangStore texts;
    Packages::PackageInstaller installer(
        QDir::currentPath(), nullptr, [&texts](const Packages::PackageMessage &message) {
            QString pattern = texts.find(QStringLiteral("Tessel"), message.key);
            if (pattern.isEmpty())
                pattern = message.key + QStringLiteral(" %s");
            std::fprintf(stderr, "Tessel: %s\n",
                         formatPattern(pattern, message.args).toLocal8Bit().constData());
        });
    installer.recover();
}
