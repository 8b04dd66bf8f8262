#include "host/main_window.h"

#include "common/critical_lock.h"
#include "common/dialogs.h"
#include "common/platform/platform.h"
#include "common/utils.h"
#include "common/text_format.h"
#include "host/packages/gen_pkg_window.h"
#include "host/packages/import_pkg_window.h"
#include "host/history_window.h"
#include "host/languages/fixed_texts.h"
#include "host/languages/lang_mgr_window.h"
#include "host/plugin_info.h"
#include "host/settings/setting_window.h"
#include "widgetkit/sys_xml_document.h"
#include "widgetkit/sys_button.h"
#include "widgetkit/sys_group_box.h"
#include "widgetkit/sys_label.h"
#include "widgetkit/sys_layouts.h"
#include "widgetkit/sys_line.h"
#include "widgetkit/sys_list.h"
#include "widgetkit/sys_menu.h"
#include "widgetkit/sys_dialog.h"
#include "widgetkit/sys_progress_bar.h"
#include "widgetkit/sys_splitter.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>
#include <QPointer>
#include <QStatusBar>

namespace {
const QString kContext = QStringLiteral("Tessel");

MainWindow *g_instance = nullptr;

CriticalLock &instanceLock()
{
    static CriticalLock lock;
    return lock;
}
} // namespace

MainWindow *MainWindow::instance()
{
    CriticalLocker guard(instanceLock());
    if (!g_instance)
        g_instance = new MainWindow;
    return g_instance;
}

bool MainWindow::exists()
{
    CriticalLocker guard(instanceLock());
    return g_instance != nullptr;
}

MainWindow::MainWindow(QWidget *parent)
    : SysMainWindow(parent), m_title(QStringLiteral("Tessel V1.0.21")),
      m_relaunch([](const std::string &options) { return relaunch(options); })
{
    setWindowTitle(m_title);
}

MainWindow::~MainWindow()
{
    // Plug-in windows are released by their plug-ins, before Qt would delete them as children.
    for (auto &entry : m_plugins) {
        PluginInfo *info = entry.second.get();
        if (info->window())
            info->release();
    }
    m_plugins.clear();
    m_shown = nullptr;
}

QString MainWindow::tr_(const QString &key)
{
    return m_langs.text(kContext, key);
}

void MainWindow::errorText(const QString &text)
{
    showErrorText(windowTitle(), text);
}

void MainWindow::infoText(const QString &text)
{
    showInfoText(windowTitle(), text);
}

SysButton *MainWindow::iconButton(const QString &icon, const QString &tipKey)
{
    auto *button = new SysButton(nullptr, QString());
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(36, 36));
    button->setFlatLook();
    button->setToolTip(tr_(tipKey));
    return button;
}

void MainWindow::buildLeftPanel(QWidget *panelWidget)
{
    auto *panel = static_cast<SysGroupBox *>(panelWidget);
    auto *layout = new SysVLayout(panel);
    panel->setFontWeight(700);
    panel->setFontSize(20);
    panel->setBackgroundColor(QStringLiteral("#FFF"));
    panel->setTitleColor(QStringLiteral("#FFF"));

    m_list = new SysList(panel);
    m_list->setItemPadding(0.75, 0.75);
    m_list->setBorderless();
    m_list->setItemRadius(0.25);
    m_list->setThemeColor(QStringLiteral("#409eff"));
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    layout->addWidget(m_list);
    layout->addWidget(new SysLine(panel, true));

    auto *buttons = new SysHLayout;
    m_installButton = iconButton(QStringLiteral("./images/plugin/add.png"),
                                 QStringLiteral("main/menu/installPkg"));
    m_languageButton = iconButton(QStringLiteral("./images/plugin/language.png"),
                                  QStringLiteral("main/menu/langManager"));
    m_generatorButton = iconButton(QStringLiteral("./images/plugin/genPkg.png"),
                                   QStringLiteral("main/menu/genPkg"));
    buttons->addWidget(m_installButton);
    buttons->addWidget(m_languageButton);
    buttons->addWidget(m_generatorButton);
    layout->addLayout(buttons);
    connectPackageButtons();

    connect(m_list, &QListWidget::itemClicked, this,
            [this](QListWidgetItem *item) { showPluginByName(item->whatsThis()); });
    connect(m_list, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &) { onListContextMenu(); });
    connect(m_languageButton, &QPushButton::clicked, this, [this] { makeLangManager()->exec(); });
    // The installer and generator dialogs attach to their buttons.
}

void MainWindow::buildRightPane(QWidget *paneWidget)
{
    auto *pane = static_cast<SysGroupBox *>(paneWidget);
    m_rightLayout = new SysVLayout(pane);
    pane->setBackgroundColor(QStringLiteral("#FFF"));
    pane->setTitleColor(QStringLiteral("#FFF"));
    m_placeholder = new SysLabel(pane, tr_(QStringLiteral("main/slashScreen/hereShowContent")));
    m_placeholder->setAlignment(Qt::AlignCenter);
    m_rightLayout->addWidget(m_placeholder);
}

// Qt's own texts (file dialogs, standard buttons) in the host's current language, from Qt's
// translations; the translator belongs to the window and leaves with it.
void MainWindow::loadQtTranslations()
{
    QString lang;
    if (!m_langs.currentLang(kContext, lang) || lang.trimmed().isEmpty())
        return;
    auto *translator = new QTranslator(this);
    if (translator->load(QLocale(lang.trimmed()), QStringLiteral("qt"), QStringLiteral("_"),
                         QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

bool MainWindow::init(const AppArgs &args)
{
    m_args = args;
    loadQtTranslations();
    applyDialogButtonTexts(m_langs);

    m_splitter = new SysSplitter;
    auto *left = new SysGroupBox(m_splitter, QString());
    buildLeftPanel(left);
    auto *right = new SysGroupBox(m_splitter, QString());
    buildRightPane(right);
    m_splitter->addWidget(left);
    m_splitter->addWidget(right);

    resizeRatio(0.75);

    auto *central = new SysGroupBox(this, QString());
    central->setBorderColor(QStringLiteral("transparent"));
    central->setBorderRadius(0);
    central->setBorderWidth(0);
    auto *centralLayout = new SysHLayout(central);
    centralLayout->addWidget(m_splitter);
    setCentralWidget(central);
    setBackgroundColor(QStringLiteral("#409eff"));
    m_splitter->setOpaqueResize(true);
    m_splitter->setHorizontal(true);
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);

    loadPlugins();
    // Started from the wrong folder: say where the plug-ins were looked for.
    const QString pluginsDir = QStringLiteral("%1/%2").arg(QDir::currentPath(), QStringLiteral("plugins"));
    if (!QFileInfo(pluginsDir).isDir()) {
        m_placeholder->setWordWrap(true);
        m_placeholder->setText(formatPattern(tr_(QStringLiteral("main/slashScreen/noPluginsFmt")),
                                             {QDir::toNativeSeparators(pluginsDir)}));
    }

    std::string start;
    if (m_args.getString("c", start) && !start.empty())
        selectPluginByName(QString::fromUtf8(start.c_str()));
    return true;
}

QStringList MainWindow::scanPluginFiles() const
{
    QStringList paths;
    const QString root = QStringLiteral("%1/%2").arg(QDir::currentPath(), QStringLiteral("plugins"));
    // Name filters of QDir match without regard to case.
    QDirIterator it(root, QStringList{Platform::libraryFilter()},
                    QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo fi = it.fileInfo();
        if (fi.isFile())
            paths << fi.absoluteFilePath();
    }
    return paths;
}

void MainWindow::loadPlugins()
{
    for (const QString &path : scanPluginFiles()) {
        const QString base = QFileInfo(path).baseName();
        if (m_plugins.count(base))
            continue; // the first library under a base name wins
        auto *library = new QLibrary(path);
        if (!library->load()) {
            delete library;
            continue;
        }
        auto info = std::make_unique<PluginInfo>(path, library, &m_langs);
        // A library without both entries, or whose Create gives no window, is released as far
        // as it got and unloaded (by the record's destructor); the scan goes on.
        if (!info->resolveEntries())
            continue;
        if (!info->create(this)) {
            info->release();
            continue;
        }
        auto *item = new QListWidgetItem(info->displayName());
        item->setWhatsThis(base);
        item->setTextAlignment(Qt::AlignCenter);
        m_list->addItem(item);
        m_plugins[base] = std::move(info);
    }
    // The left panel is as wide as the longest plug-in name, in any language.
    m_list->setMinimumWidth(m_list->sizeHintForColumn(0) + 2 * m_list->frameWidth());
    // A plug-in the installer replaced comes back where it was.
    if (!m_reshow.isEmpty() && plugin(m_reshow)) {
        const QString base = m_reshow;
        m_reshow.clear();
        selectPluginByName(base);
    }
}

PluginInfo *MainWindow::plugin(const QString &baseName) const
{
    const auto it = m_plugins.find(baseName);
    return it == m_plugins.end() ? nullptr : it->second.get();
}

int MainWindow::indexOfPlugin(const QString &baseName) const
{
    for (int row = 0; row < m_list->count(); ++row)
        if (m_list->item(row)->whatsThis() == baseName)
            return row;
    return -1;
}

void MainWindow::selectPluginByName(const QString &baseName)
{
    const int row = indexOfPlugin(baseName);
    if (row < 0)
        return;
    m_list->clearSelection();
    m_list->setCurrentRow(row);
    showPluginByName(baseName);
}

void MainWindow::showPluginByName(const QString &baseName)
{
    PluginInfo *info = plugin(baseName);
    if (!info) {
        infoText(formatPattern(tr_(QStringLiteral("main/plugin/canNotFindFmt")), {baseName}));
        return;
    }
    showPlugin(info);
}

bool MainWindow::placeholderShown() const
{
    return m_placeholder && m_rightLayout->indexOf(m_placeholder) >= 0;
}

void MainWindow::showPlaceholder()
{
    if (!m_shown)
        return;
    m_shown->hide();
    delete m_rightLayout->replaceWidget(m_shown, m_placeholder, Qt::FindChildrenRecursively);
    m_shown = nullptr;
    m_placeholder->show();
    // The title names the plug-in shown, and none is.
    setWindowTitle(m_title);
}

void MainWindow::showPlugin(PluginInfo *info)
{
    statusBar()->showMessage(tr_(QStringLiteral("main/plugin/loading")));
    PluginUIBase *window = info->window();
    if (window && window != m_shown) {
        showPlaceholder();
        if (!window->initialised) {
            window->setParent(this);
            window->tools = info;
            window->initUi();
            window->initialised = true;
        }
        m_placeholder->hide();
        delete m_rightLayout->replaceWidget(m_placeholder, window, Qt::FindChildrenRecursively);
        window->show();
        m_shown = window;
        updateTitle(info);
    }
    statusBar()->clearMessage();
}

void MainWindow::updateTitle(PluginInfo *info)
{
    QString title = QStringLiteral("%1 - %2").arg(m_title, info->displayName());
    const QString html = info->historyHtml();
    const QString marker = QStringLiteral("versionTitle");
    const int p = html.lastIndexOf(marker);
    if (p >= 0) {
        const int start = p + marker.size() + 2;
        const int end = html.indexOf(QStringLiteral("</span><ol"), start);
        if (end >= 0)
            title = QStringLiteral("%1 %2").arg(title, html.mid(start, end - start));
    }
    setWindowTitle(title);
}

bool MainWindow::findManual(const QString &baseName, QString &path)
{
    const QString docs = QStringLiteral("%1/%2").arg(QDir::currentPath(), QStringLiteral("docs"));
    QString lang;
    if (m_langs.currentLang(baseName, lang)) {
        const QString specific = QStringLiteral("%1/%2/%3.doc").arg(docs, baseName, lang);
        if (QFileInfo::exists(specific)) {
            path = specific;
            return true;
        }
    }
    const QString general = QStringLiteral("%1/%2.doc").arg(docs, baseName);
    if (QFileInfo::exists(general)) {
        path = general;
        return true;
    }
    return false;
}

void MainWindow::onListContextMenu()
{
    QListWidgetItem *item = m_list->currentItem();
    if (!item)
        return;
    PluginInfo *info = plugin(item->whatsThis());
    if (!info) {
        infoText(formatPattern(tr_(QStringLiteral("main/plugin/canNotFindFmt")), {item->whatsThis()}));
        return;
    }
    showPlugin(info);
    showPluginMenu(info);
}

SysMenu *MainWindow::buildPluginMenu(PluginInfo *info)
{
    auto *menu = new SysMenu(this);
    menu->setThemeColor(QStringLiteral("#FF0000"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QString base = info->baseName();

    connect(menu->addAction(tr_(QStringLiteral("main/plugin/rightMenu/updateHistory"))),
            &QAction::triggered, this, [this, base] {
                if (PluginInfo *p = plugin(base))
                    makeHistoryWindow(p)->exec();
            });
    QString manual;
    if (findManual(base, manual)) {
        connect(menu->addAction(tr_(QStringLiteral("main/plugin/rightMenu/userManual"))),
                &QAction::triggered, this, [this, manual] { openFile(manual); });
    }
    if (info->isUnloadable()) {
        if (info->hasConfigFile()) {
            connect(menu->addAction(tr_(QStringLiteral("main/plugin/rightMenu/updateSetting"))),
                    &QAction::triggered, this, [this, base] {
                        if (PluginInfo *p = plugin(base))
                            editSettings(p);
                    });
        } else {
            connect(menu->addAction(tr_(QStringLiteral("main/plugin/rightMenu/createSetting"))),
                    &QAction::triggered, this, [this, base] {
                        if (PluginInfo *p = plugin(base))
                            createSettingFile(p);
                    });
        }
        // This unload deletes the settings, logs, manual and languages too: ask first.
        connect(menu->addAction(tr_(QStringLiteral("main/plugin/rightMenu/unloadPlugin"))),
                &QAction::triggered, this, [this, base] {
                    PluginInfo *p = plugin(base);
                    const QString question = formatPattern(tr_(QStringLiteral("main/plugin/unloadConfirmFmt")),
                                                           {p ? p->displayName() : base});
                    if (questionBox(windowTitle(), "%s", question.toUtf8().constData()))
                        unloadPlugin(base, true);
                });
    }
    return menu;
}

void MainWindow::showPluginMenu(PluginInfo *info)
{
    buildPluginMenu(info)->popup(QCursor::pos());
}

bool MainWindow::editSettings(PluginInfo *info)
{
    QString lang;
    m_langs.currentLang(kContext, lang);
    SettingWindow dialog(info, [this](const QString &key) { return tr_(key); }, lang, this);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    PluginUIBase *window = info->window();
    if (window && window->isBusy()) {
        // The running build keeps the settings it started with; the plug-in takes the new
        // ones once it has ended.
        const QString base = info->baseName();
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(window, &PluginUIBase::busyChanged, this, [this, base, connection](bool busy) {
            if (busy)
                return;
            disconnect(*connection);
            PluginInfo *p = plugin(base);
            if (p && p->window() && !p->window()->reloadConfig())
                errorText(tr_(QStringLiteral("main/plugin/reloadFail")));
        });
        return true;
    }
    if (!window || !window->reloadConfig()) {
        errorText(tr_(QStringLiteral("main/plugin/reloadFail")));
        return false;
    }
    return true;
}

std::unique_ptr<LangMgrWindow> MainWindow::makeLangManager()
{
    auto window = std::make_unique<LangMgrWindow>(m_langs, kContext, this);
    window->setWindowTitle(
        tr_(QStringLiteral("langMgr/titleFmt")).replace(QLatin1String("%1"), m_title));
    window->setSwitchGuard([this] { return settleBusy(nullptr, "main/busy/restartFmt"); });
    window->setSwitchFunction([this](const LANG_INFO &lang) {
        const bool ok = switchLanguage(lang);
        return m_restarting ? LangMgrWindow::SwitchRestarting : int(ok);
    });
    return window;
}

std::unique_ptr<HistoryWindow> MainWindow::makeHistoryWindow(PluginInfo *info)
{
    return std::make_unique<HistoryWindow>(info, m_langs, this);
}

bool MainWindow::createSettingFile(PluginInfo *info)
{
    SysXmlDocument doc;
    doc.addDeclaration(QStringLiteral("GBK"));
    // An empty tree of the normal kind, in the layout the setting editor writes.
    QDomElement root = doc.createElement(QStringLiteral("Root"));
    root.setAttribute(QStringLiteral("type"), QStringLiteral("0"));
    doc.appendChild(root);
    const QString path = info->configFilePath();
    if (makePath(QFileInfo(path).absolutePath()) && doc.save(path)) {
        infoText(tr_(QStringLiteral("setting/createSuccess")));
        return true;
    }
    errorText(tr_(QStringLiteral("setting/createFailed")));
    return false;
}

bool MainWindow::unloadPlugin(const QString &baseName, bool removeFiles)
{
    int row = indexOfPlugin(baseName);
    if (row < 0) {
        errorText(formatPattern(tr_(QStringLiteral("main/plugin/canNotFindFmt")), {baseName}));
        return false;
    }
    PluginInfo *info = plugin(baseName);
    if (!info) {
        // A row left behind by a library that could not be deleted.
        errorText(formatPattern(tr_(QStringLiteral("main/plugin/canNotFindFmt")), {baseName}));
        return false;
    }
    if (!info->isUnloadable()) {
        errorText(tr_(QStringLiteral("main/plugin/inUseAndCanNotUnload")));
        return false;
    }
    // A running build would be cut off: wait for it, or leave the plug-in loaded.
    if (!settleBusy(info, removeFiles ? "main/busy/unloadFmt" : "main/busy/replaceFmt"))
        return false;
    // The wait ran the event loop: look everything up again.
    info = plugin(baseName);
    row = indexOfPlugin(baseName);
    if (!info || row < 0)
        return false;
    if (!removeFiles && m_shown && m_shown == info->window())
        m_reshow = baseName;

    const int rows = m_list->count();
    if (rows > 1)
        selectPluginByName(m_list->item((row + 1) % rows)->whatsThis());
    // Whatever the next row did, this plug-in's window must not stay in the right pane.
    if (m_shown && m_shown == info->window())
        showPlaceholder();

    const QString libraryPath = info->libraryPath();
    QStringList folders;
    if (removeFiles)
        folders << info->configDir() << info->logDir() << info->docsDir() << info->langFolder();

    std::unique_ptr<PluginInfo> record = std::move(m_plugins[baseName]);
    m_plugins.erase(baseName);
    record->release();
    record.reset(); // frees the library

    if (QFileInfo::exists(libraryPath) && !QFile::remove(libraryPath)) {
        errorText(tr_(QStringLiteral("main/plugin/removeDllFailed")));
        return false;
    }
    if (removeFiles)
        removeEmptyPluginFolders(libraryPath);
    for (const QString &folder : folders) {
        const QFileInfo fi(folder);
        if (fi.isDir())
            QDir(folder).removeRecursively();
        else if (fi.exists() || fi.isSymLink())
            QFile::remove(folder);
    }
    delete m_list->takeItem(row);
    return true;
}

bool MainWindow::switchLanguage(const LANG_INFO &lang)
{
    for (auto &entry : m_plugins) {
        PluginInfo *info = entry.second.get();
        const QString file = QStringLiteral("%1/%2.lang").arg(info->langFolder(), lang.name);
        if (!QFileInfo::exists(file))
            continue;
        if (!m_langs.switchLang(info->baseName(), lang.name, false)) {
            const QString folder = QFileInfo(lang.path).absoluteDir().dirName();
            errorText(formatPattern(tr_(QStringLiteral("langMgr/switchLang/failedFmt")),
                                    {folder, lang.name}));
            return false;
        }
    }
    restart();
    return true;
}

bool MainWindow::restart()
{
    m_args.setInt("mutex", 0);
    if (m_shown) {
        for (const auto &entry : m_plugins) {
            if (entry.second->window() == m_shown) {
                m_args.setString("c", entry.first.toUtf8().toStdString());
                break;
            }
        }
    }
    if (m_relaunch && m_relaunch(m_args.toCommandLine())) {
        m_restarting = true;
        // Every loop, the language manager's too, returns; the process then ends as on close.
        QCoreApplication::exit(0);
        return true;
    }
    errorText(tr_(QStringLiteral("main/restartFailed")));
    return false;
}

bool MainWindow::settleBusy(PluginInfo *only, const char *questionKey)
{
    for (;;) {
        PluginInfo *busy = nullptr;
        for (const auto &entry : m_plugins) {
            PluginInfo *info = entry.second.get();
            if ((!only || info == only) && info->window() && info->window()->isBusy()) {
                busy = info;
                break;
            }
        }
        if (!busy)
            return true;
        const QString name = busy->displayName();
        if (!askQuestionText(windowTitle(), formatPattern(tr_(QLatin1String(questionKey)), {name})))
            return false;
        waitWhileBusy(busy->window(), name);
        // Another plug-in may have started meanwhile: look again.
    }
}

void MainWindow::waitWhileBusy(PluginUIBase *window, const QString &name)
{
    if (!window || !window->isBusy())
        return;
    SysDialog note(this);
    note.setWindowTitle(windowTitle());
    // Only the end of the work closes it.
    note.setWindowFlag(Qt::WindowCloseButtonHint, false);
    auto *layout = new SysVLayout(&note);
    layout->setContentsMargins(24, 20, 24, 20);
    auto *label = new SysLabel(&note, formatPattern(tr_(QStringLiteral("main/busy/waitingFmt")), {name}));
    label->setWordWrap(true);
    layout->addWidget(label);
    auto *bar = new SysProgressBar(&note);
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    layout->addWidget(bar);
    QPointer<PluginUIBase> watched(window);
    connect(window, &PluginUIBase::busyChanged, &note, [&note](bool busy) {
        if (!busy)
            note.accept();
    });
    connect(window, &QObject::destroyed, &note, &QDialog::accept);
    // Escape would reject: run again until the work has ended.
    while (watched && watched->isBusy())
        note.exec();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (!m_restarting && !settleBusy(nullptr, "main/busy/closeFmt")) {
        event->ignore();
        return;
    }
    SysMainWindow::closeEvent(event);
}

void MainWindow::openFile(const QString &path)
{
    if (!Platform::shellOpen(path))
        errorText(formatPattern(tr_(QStringLiteral("main/openFileFailedFmt")),
                                {QDir::toNativeSeparators(path)}));
}

void MainWindow::removeEmptyPluginFolders(const QString &libraryPath)
{
    const QString root = QDir(QStringLiteral("%1/%2").arg(QDir::currentPath(), QStringLiteral("plugins")))
                             .absolutePath();
    QDir dir = QFileInfo(libraryPath).absoluteDir();
    // rmdir removes only an empty folder: one that still holds anything stops the climb.
    while (dir.absolutePath().startsWith(root + QLatin1Char('/'))) {
        const QString name = dir.dirName();
        if (!dir.cdUp() || !dir.rmdir(name))
            break;
    }
}

void MainWindow::connectPackageButtons()
{
    connect(m_installButton, &QPushButton::clicked, this, [this] { ImportPkgWindow(this).exec(); });
    connect(m_generatorButton, &QPushButton::clicked, this, [this] { GenPkgWindow(this).exec(); });
}
